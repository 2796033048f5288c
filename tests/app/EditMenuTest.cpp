// The Edit menu's commands on a task terminal that had the keyboard before the menu bar took it:
// they act on the terminal's own selection and program, as its keyboard shortcuts do.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/TerminalFactory.h"
#include "app/ZorvelAppDelegate.h"
#include "tests/MainLoop.h"
#include "tests/app/GtkTestSupport.h"

namespace zorvel {
namespace {

// The clipboard's text as any reader would get it, or nothing when it has none in time.
std::optional<std::string> clipboardText(const Glib::RefPtr<Gdk::Clipboard>& clipboard) {
  auto text = std::make_shared<std::optional<std::string>>();
  auto done = std::make_shared<bool>(false);
  clipboard->read_text_async([clipboard, text, done](Glib::RefPtr<Gio::AsyncResult>& result) {
    try {
      *text = clipboard->read_text_finish(result).raw();
    } catch (const Glib::Error&) {
    }
    *done = true;
  });
  runMainUntil([done] { return *done; });
  return *text;
}

std::string screenText(vantrelle::LocalProcessTerminalView& view) {
  auto data = view.getTerminal().getBufferAsData();
  return data ? std::string(data->begin(), data->end()) : std::string();
}

class EditMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
    delegate = std::make_shared<ZorvelAppDelegate>();
    window = new ZorvelWindow();
    auto edit = Gio::Menu::create();
    edit->append("Copy", "app.copy");
    auto menu = Gio::Menu::create();
    menu->append_submenu("Edit", edit);
    menuBar = Gtk::make_managed<Gtk::PopoverMenuBar>(menu);
    content = std::make_unique<Gtk::Box>(Gtk::Orientation::VERTICAL);
    content->append(*menuBar);
    content->append(delegate->terminalContainer);
    window->set_child(*content);
    delegate->window = window;
    delegate->followEditTarget();
    window->set_default_size(640, 400);
    window->present();
    view = TerminalFactory::make(*delegate);
    delegate->terminalSessions.insert(view, "t", std::nullopt);
    delegate->show(view, "t", true);
  }

  // Gives the keyboard to the menu bar, as opening one of its menus does.
  void openMenu() {
    ASSERT_TRUE(menuBar->get_first_child());
    window->set_focus(*menuBar->get_first_child());
    ASSERT_NE(window->get_focus(), view.get());
  }

  void TearDown() override {
    if (!window) return;
    delegate->stopTerminal("t");
    delegate->window = nullptr;
    window->unset_child();
    delete window;
  }

  std::shared_ptr<ZorvelAppDelegate> delegate;
  std::unique_ptr<Gtk::Box> content;  // made once GTK is up
  Gtk::PopoverMenuBar* menuBar = nullptr;
  ZorvelWindow* window = nullptr;
  std::shared_ptr<vantrelle::LocalProcessTerminalView> view;
};

// Other test programs share the display's clipboard, so each check is tried again when another
// may have taken the clipboard in between; a menu that does nothing fails every try.
TEST_F(EditMenu, CopiesSelectsAllAndPastesInTheFocusedTerminal) {
  ASSERT_EQ(window->get_focus(), view.get());
  auto clipboard = view->get_clipboard();
  view->feed(std::string("copied through the menu\r\n"));
  openMenu();

  delegate->performEdit(ZorvelAppDelegate::EditCommand::selectAll);
  EXPECT_TRUE(view->selectionActive());
  bool copied = false;
  for (int attempt = 0; attempt < 3 && !copied; ++attempt) {
    clipboard->set_text("before the copy");
    delegate->performEdit(ZorvelAppDelegate::EditCommand::copy);
    auto text = clipboardText(clipboard);
    copied = text && text->find("copied through the menu") != std::string::npos;
  }
  EXPECT_TRUE(copied);

  view->startProcess("/bin/cat", {});
  bool pasted = false;
  for (int attempt = 0; attempt < 3 && !pasted; ++attempt) {
    clipboard->set_text("menu-paste");
    delegate->performEdit(ZorvelAppDelegate::EditCommand::paste);
    pasted = runMainUntil([&] { return screenText(*view).find("menu-paste") != std::string::npos; },
                          std::chrono::seconds(5));
  }
  EXPECT_TRUE(pasted) << screenText(*view);
}

}  // namespace
}  // namespace zorvel
