#pragma once
// A view with a recording host, and helpers to type keys into it.
#include <gtest/gtest.h>

#include "ViewTestSupport.h"

namespace vantrelle::testing {

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureGtk();
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
    view->cellDimension = ViewSize{8, 16};
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

}  // namespace vantrelle::testing
