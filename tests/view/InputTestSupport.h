#pragma once
// A view with a recording host, and helpers to type keys into it.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "ViewTestSupport.h"

namespace vantrelle::testing {

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureGtk();
    view = makeView();
    view->cellDimension = ViewSize{8, 16};
  }
  // The view under test; a test of a view bound to a process gives its own.
  virtual std::unique_ptr<TerminalView> makeView() {
    auto made = std::make_unique<TerminalView>();
    made->terminalDelegate = &host;
    return made;
  }
  // What the view sends for `action`, with the terminal's own replies to `setup` left out.
  template <typename F>
  std::string sentBy(F&& action) {
    host.sent.clear();
    action();
    return host.sent;
  }
  std::string key(guint keyval, InputModifiers modifiers = {}, guint keycode = 0) {
    return sentBy([&] { view->keyDown(KeyRecord::make(keyval, modifiers, keycode)); });
  }
  std::string keyUp(guint keyval, InputModifiers modifiers = {}, guint keycode = 0) {
    return sentBy([&] { view->keyUp(KeyRecord::make(keyval, modifiers, keycode)); });
  }
  // Through the view's whole key path (shortcuts, held keys), as the key controller calls it.
  std::string press(guint keyval, InputModifiers modifiers = {}, guint keycode = 0) {
    return sentBy([&] { view->keyPressed(KeyRecord::make(keyval, modifiers, keycode)); });
  }
  std::string release(guint keyval, InputModifiers modifiers = {}, guint keycode = 0) {
    return sentBy([&] { view->keyReleased(KeyRecord::make(keyval, modifiers, keycode)); });
  }
  void feed(const std::string& text) {
    view->feed(text);
    host.sent.clear();
  }
  static InputModifiers shift() { return {.shift = true}; }
  static InputModifiers control() { return {.control = true}; }
  static InputModifiers alt() { return {.alt = true}; }

  RecordingHost host;
  std::unique_ptr<TerminalView> view;
};

// The X window of a shown GTK window, as xdotool takes it; empty when GTK drew it elsewhere than
// on an X display. Commands name the window rather than search for it: a search of the window
// tree fails when some other window goes away during it.
std::string xWindowOf(Gtk::Window& window);

// The view in a real window that holds the X focus, for keys and clicks sent with xdotool.
class RealWindowInputTest : public InputTest {
 protected:
  // `tools`: a shell test for the programs the suite needs besides an X display.
  RealWindowInputTest(std::string title, std::string tools) : title(std::move(title)), tools(std::move(tools)) {}
  void SetUp() override {
    InputTest::SetUp();
    if (!std::getenv("DISPLAY") || std::system((tools + " >/dev/null 2>&1").c_str()) != 0) {
      GTEST_SKIP() << "needs an X display and " << tools;
    }
    view->cellDimension = view->computeFontDimensions();
    window = std::make_unique<Gtk::Window>();
    window->set_title(title);
    window->set_default_size(640, 400);
    window->set_child(*view);
    window->present();
    ASSERT_TRUE(pumpUntil([&] { return view->get_mapped() && view->get_width() > 0; }));
    view->grab_focus();
    xWindow = xWindowOf(*window);
    ASSERT_FALSE(xWindow.empty()) << "the window is not on the X display";
    ASSERT_EQ(std::system(("xdotool windowfocus --sync " + xWindow + " >/dev/null 2>&1").c_str()), 0);
    // Keys go where GTK has put the focus once it has seen the window's.
    ASSERT_TRUE(pumpUntil([&] { return view->hasFocus(); }));
  }
  void TearDown() override {
    if (window) {
      window->unset_child();
      window->close();
    }
  }

  // The xdotool command that moves the pointer to the point (x, y) of the view, in the window's
  // own coordinates: past its offset for shadows, as the X server has them.
  std::string pointerAt(double x, double y) {
    double ox = 0, oy = 0, sx = 0, sy = 0;
    EXPECT_TRUE(view->translate_coordinates(*window, x, y, ox, oy));
    gtk_native_get_surface_transform(GTK_NATIVE(window->gobj()), &sx, &sy);
    return "mousemove --window " + xWindow + " " + std::to_string(int(ox + sx)) + " " + std::to_string(int(oy + sy));
  }
  // The same to the middle of a cell.
  std::string pointerAtCell(int col, int row) {
    const ViewSize cell = *view->cellDimension;
    return pointerAt(cell.width * (col + 0.5), cell.height * (row + 0.5));
  }

  std::unique_ptr<Gtk::Window> window;

 private:
  std::string title, tools, xWindow;
};

}  // namespace vantrelle::testing
