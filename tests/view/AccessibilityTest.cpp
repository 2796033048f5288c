// What a screen reader finds of the view through the desktop's accessibility bus.
#include <gmock/gmock.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <future>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

// Role and name of every accessible object of this process, one "role\tname" a line. The main
// loop keeps running meanwhile: it answers the questions.
std::vector<std::string> accessibleTree() {
  auto lines = std::async(std::launch::async, [] {
    std::string command =
        "/usr/bin/python3 " ZORVEL_SOURCE_DIR "/tests/view/accessible-tree.py " + std::to_string(::getpid());
    std::vector<std::string> found;
    FILE* out = ::popen(command.c_str(), "r");
    if (!out) return found;
    char line[1024];
    while (std::fgets(line, sizeof line, out)) found.emplace_back(line, std::strcspn(line, "\n"));
    ::pclose(out);
    return found;
  });
  testing::pumpUntil([&] { return lines.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
  return lines.get();
}

// The tree once it holds `line`: the application joins the bus, and names change, a moment after.
std::vector<std::string> accessibleTreeWith(const std::string& line) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::vector<std::string> tree = accessibleTree();
  while (std::find(tree.begin(), tree.end(), line) == tree.end() && std::chrono::steady_clock::now() < deadline) {
    testing::pumpFor(std::chrono::milliseconds(50));
    tree = accessibleTree();
  }
  return tree;
}

TEST(AccessibilityTest, TheTerminalIsATerminalNamedByItsTitle) {
  testing::ensureGtk();
  if (!std::getenv("DISPLAY") || !std::getenv("DBUS_SESSION_BUS_ADDRESS") ||
      std::system("/usr/bin/python3 -c \"import gi; gi.require_version('Atspi', '2.0')\" 2>/dev/null") != 0) {
    GTEST_SKIP() << "needs an X display, a session bus and the AT-SPI Python bindings";
  }
  Gtk::Window window;
  window.set_title("AccessibleTerminal");
  TerminalView view;
  window.set_child(view);
  window.present();
  ASSERT_TRUE(testing::pumpUntil([&] { return view.get_mapped(); }));
#if GTK_CHECK_VERSION(4, 14, 0)
  const std::string role = "terminal";
#else
  const std::string role = "text";
#endif
  auto tree = accessibleTreeWith(role + "\tTerminal");
  EXPECT_THAT(tree, ::testing::Contains(role + "\tTerminal"));
  view.feed("\x1b]0;build logs\x07");
  tree = accessibleTreeWith(role + "\tbuild logs");
  EXPECT_THAT(tree, ::testing::Contains(role + "\tbuild logs"));
  // Nothing is named after an implementation class, the scroller shown for scrollback included.
  EXPECT_THAT(tree, ::testing::Not(::testing::Contains(::testing::HasSubstr("gtkmm"))));
  for (int i = 0; i < 100; i++) view.feed("line\r\n");
  ASSERT_TRUE(testing::pumpUntil([&] { return view.scrollerWidget()->get_mapped(); }));
  tree = accessibleTreeWith("scroll bar\tScrollback");
  EXPECT_THAT(tree, ::testing::Contains("scroll bar\tScrollback"));
  EXPECT_THAT(tree, ::testing::Not(::testing::Contains(::testing::HasSubstr("gtkmm"))));
  window.unset_child();
}

}  // namespace
}  // namespace vantrelle
