// A view over a screen that a resize left with rows below it keeps following the output.
#include <gtest/gtest.h>

#include <string>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

TEST(ResizedScreen, OutputStillScrollsTheViewWithRowsLeftBelowTheScreen) {
  testing::ensureGtk();
  TerminalView view;
  view.cellDimension = ViewSize{10, 17};
  view.scaleFactorOverride = 1.0;
  const int strip = testing::scrollerStrip(view);
  view.size_allocate(Gtk::Allocation(0, 0, 800 + strip, 340), -1);
  Terminal& terminal = view.getTerminal();
  ASSERT_EQ(terminal.rows, 20);
  for (int i = 1; i <= 20; i++) view.feed((i > 1 ? "\r\n" : "") + std::to_string(i));
  view.feed("\x1b[3;1H");
  // Five rows: the cursor's row tops the screen and the rows past the fifth below it stay below.
  view.size_allocate(Gtk::Allocation(0, 0, 800 + strip, 85), -1);
  ASSERT_EQ(terminal.rows, 5);
  Buffer& buffer = *terminal.buffer;
  ASSERT_GT(buffer.lines().count(), buffer.yBase + terminal.rows);
  for (int i = 0; i < 40; i++) view.feed("\r\nout " + std::to_string(i));
  EXPECT_EQ(buffer.yDisp, buffer.yBase);
  EXPECT_FALSE(view.userScrolling);
}

}  // namespace
}  // namespace vantrelle
