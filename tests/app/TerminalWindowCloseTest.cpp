// A terminal window closed after its program wrote to it, as the profile login window closes once
// the login is done: the window and its terminal go without a complaint from GLib.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/TerminalFactory.h"
#include "app/ZorvelAppDelegate.h"
#include "tests/MainLoop.h"
#include "tests/app/GtkTestSupport.h"

namespace zorvel {
namespace {

// Fails the test on every warning or critical message of a log domain while it lives.
struct WarningsFail {
  explicit WarningsFail(const char* domain)
      : domain(domain),
        handler(g_log_set_handler(
            domain, GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
            [](const gchar*, GLogLevelFlags, const gchar* message, gpointer) { ADD_FAILURE() << message; }, nullptr)) {}
  ~WarningsFail() { g_log_remove_handler(domain, handler); }
  const char* domain;
  guint handler;
};

TEST(TerminalWindowClose, AWindowThatDrewOutputClosesQuietly) {
  if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
  auto delegate = std::make_shared<ZorvelAppDelegate>();
  WarningsFail warnings("GLib-GObject");
  {
    auto window = std::make_unique<Gtk::Window>();
    window->set_default_size(640, 400);
    std::shared_ptr<vantrelle::LocalProcessTerminalView> view = TerminalFactory::make(*delegate);
    window->set_child(*view);
    window->present();
    view->startProcess("/bin/sh", {"-c", "for i in 1 2 3 4 5 6 7 8; do echo line $i; sleep 0.05; done; exec cat"});
    auto screen = [&] {
      auto data = view->getTerminal().getBufferAsData();
      return data ? std::string(data->begin(), data->end()) : std::string();
    };
    ASSERT_TRUE(runMainUntil([&] { return screen().find("line 8") != std::string::npos; }, std::chrono::seconds(10)));

    // The window goes first and the terminal, held elsewhere, after it.
    window->set_visible(false);
    view->terminate();
    window.reset();
    view.reset();
  }
}

}  // namespace
}  // namespace zorvel
