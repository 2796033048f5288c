#include "app/ZorvelApplication.h"

#include <glib-unix.h>
#include <signal.h>

#include "app/ZorvelAppDelegate.h"

namespace zorvel {

ZorvelApplication::ZorvelApplication()
    // Single-instance hand-over is the delegate's own, so GTK's is switched off.
    : Gtk::Application(Glib::ustring(), Gio::Application::Flags::NON_UNIQUE) {}

Glib::RefPtr<ZorvelApplication> ZorvelApplication::create() {
  // A write to a core or child that has gone must fail with EPIPE, not end the application.
  ::signal(SIGPIPE, SIG_IGN);
  return Glib::make_refptr_for_instance(new ZorvelApplication());
}

void ZorvelApplication::setDelegate(std::shared_ptr<ZorvelAppDelegate> newDelegate) {
  delegate = std::move(newDelegate);
  delegate->application = this;
  delegate->terminateApplication = [this] { terminate(); };
}

void ZorvelApplication::terminate() {
  if (delegate && delegate->applicationShouldTerminate() != ZorvelAppDelegate::TerminateReply::terminateNow) {
    return;
  }
  for (auto* window : get_windows()) window->set_visible(false);
  quit();
}

void ZorvelApplication::on_startup() {
  Gtk::Application::on_startup();
  auto onSignal = [](gpointer data) -> gboolean {
    static_cast<ZorvelApplication*>(data)->terminate();
    return G_SOURCE_CONTINUE;
  };
  g_unix_signal_add(SIGTERM, onSignal, this);
  g_unix_signal_add(SIGINT, onSignal, this);
  if (delegate) delegate->applicationWillFinishLaunching();
}

void ZorvelApplication::on_activate() {
  if (activated || !delegate) return;
  activated = true;
  // The hand-over path opens no window; hold the application until the delegate decides.
  hold();
  delegate->applicationDidFinishLaunching();
  release();
}

void ZorvelApplication::on_shutdown() {
  if (delegate) delegate->applicationWillTerminate();
  Gtk::Application::on_shutdown();
}

}  // namespace zorvel
