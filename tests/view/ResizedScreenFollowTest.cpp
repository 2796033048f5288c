// A view over a screen that a resize left with rows below it keeps following the output.
#include <gtest/gtest.h>
#include <gtkmm/adjustment.h>

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

// Erasing below the cursor takes the rows left below the screen, erasing the saved lines those
// above it: the scrollbar shows what is left, not a knob for rows that are gone.
TEST(ResizedScreen, TheScrollbarFollowsRowsErasedAroundTheScreen) {
  testing::ensureGtk();
  for (const char* erase : {"\x1b[J", "\x1b[3J", "\x1b[2J\x1b[3J"}) {
    TerminalView view;
    view.cellDimension = ViewSize{10, 17};
    view.scaleFactorOverride = 1.0;
    const int strip = testing::scrollerStrip(view);
    view.size_allocate(Gtk::Allocation(0, 0, 800 + strip, 340), -1);
    for (int i = 1; i <= 20; i++) view.feed((i > 1 ? "\r\n" : "") + std::to_string(i));
    view.feed("\x1b[3;1H");
    view.size_allocate(Gtk::Allocation(0, 0, 800 + strip, 85), -1);
    ASSERT_GT(view.getTerminal().buffer->lines().count(), view.getTerminal().buffer->yBase + 5);
    view.feed(erase);
    auto adjustment = view.scrollerWidget()->get_adjustment();
    EXPECT_EQ(view.scrollerWidget()->get_sensitive(), view.canScroll()) << erase;
    if (view.canScroll()) {
      EXPECT_DOUBLE_EQ(adjustment->get_page_size(), view.scrollThumbsize()) << erase;
    }
  }
}

}  // namespace
}  // namespace vantrelle
