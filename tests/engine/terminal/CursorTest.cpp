#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

TEST(TerminalCursor, RelativeMovesStopAtTheRegionOrTheScreen) {
  TestHost host;
  Terminal t(&host, sized(80, 25));
  t.feed("\x1b[6;21r");  // region rows 5..20
  t.feed("\x1b[3;1H\x1b[5A");
  EXPECT_EQ(cursor(t).second, 0);  // above the region: the limit is the screen
  t.feed("\x1b[8;1H\x1b[5A");
  EXPECT_EQ(cursor(t).second, 5);
  t.feed("\x1b[23;1H\x1b[9B");
  EXPECT_EQ(cursor(t).second, 24);  // below the region: the limit is the last row
  t.feed("\x1b[10;1H\x1b[0A\x1b[A\x1b[1A");
  EXPECT_EQ(cursor(t).second, 6);
  t.feed("\x1b[1;1H\x1b[200C");
  EXPECT_EQ(cursor(t).first, 79);
  t.feed("\x1b[3D");
  EXPECT_EQ(cursor(t).first, 76);
}

TEST(TerminalCursor, WrapPendingColumnAndMoves) {
  TestHost host;
  Terminal t(&host, sized(10, 5));
  t.feed("\x1b[2;1H0123456789");
  EXPECT_EQ(cursor(t), std::make_pair(10, 1));
  t.feed("\x1b[A");
  EXPECT_EQ(cursor(t), std::make_pair(9, 0));  // a move starts from the last column
  t.feed("\x1b[B");
  EXPECT_EQ(cursor(t), std::make_pair(9, 1));
  t.feed("\x1b[2;1H0123456789\x1b[D");
  EXPECT_EQ(cursor(t).first, 8);
  // DECSC in the pending column restores into the last column.
  t.feed(
      "\x1b[2;1H0123456789\x1b"
      "7\x1b[H\x1b"
      "8");
  EXPECT_EQ(cursor(t), std::make_pair(9, 1));
}

TEST(TerminalCursor, AbsolutePositionsAndOriginMode) {
  TestHost host;
  Terminal t(&host, sized(80, 25));
  t.feed("\x1b[6;11r\x1b[?6h");
  t.feed("\x1b[1;1H");
  EXPECT_EQ(cursor(t), std::make_pair(0, 5));
  t.feed("\x1b[99;1H");
  EXPECT_EQ(cursor(t).second, 10);  // CUP stays in the region
  t.feed("\x1b[99;1f");
  EXPECT_EQ(cursor(t).second, 24);  // HVP only clamps to the screen
  t.feed("\x1b[1d");
  EXPECT_EQ(cursor(t).second, 0);  // VPA ignores origin mode
  t.feed("\x1b[5;200H");
  EXPECT_EQ(cursor(t), std::make_pair(79, 9));
  t.feed("\x1b[200`");
  EXPECT_EQ(cursor(t).first, 79);
  t.feed("\x1b[5a");
  EXPECT_EQ(cursor(t).first, 79);
  t.feed("\x1b[?6l\x1b[r");
}

TEST(TerminalCursor, AbsoluteColumnNeverPassesTheLastColumn) {
  TestHost host;
  Terminal t(&host, sized(80, 5));
  t.feed("\x1b[?6h\x1b[?69h\x1b[11;21s");  // origin mode, margins 10..20
  t.feed("\x1b[5G");
  EXPECT_EQ(cursor(t).first, 14);
  t.feed("\x1b[200G");
  EXPECT_EQ(cursor(t).first, 79);
  t.feed("X");  // and printing there stays on the screen
  EXPECT_LE(cursor(t).first, 80);
}

TEST(TerminalCursor, SaveAndRestoreCarryRenditionModesAndCharset) {
  TestHost host;
  Terminal t(&host, sized(20, 5));
  t.feed(
      "\x1b(0\x1b[1;31m\x1b[3;4H\x1b"
      "7");
  t.feed("\x1b(B\x1b[m\x1b[?7l\x1b[H");
  t.feed(
      "\x1b"
      "8");
  EXPECT_EQ(cursor(t), std::make_pair(3, 2));
  EXPECT_TRUE(t.curAttr.style.contains(CharacterStyle::bold));
  EXPECT_EQ(t.curAttr.fg, Attribute::Color::ansi256(1));
  EXPECT_TRUE(t.wraparound);
  EXPECT_TRUE(t.altBuffer->wraparound);
  t.feed("q");
  EXPECT_EQ(rowText(t, 2), "   \xe2\x94\x80");
  // With an intermediate nothing is saved.
  t.feed(
      "\x1b[1;1H\x1b[?s\x1b[5;5H\x1b"
      "8");
  EXPECT_EQ(cursor(t), std::make_pair(3, 2));
}

TEST(TerminalCursor, TabsStopsAndClears) {
  TestHost host;
  Terminal t(&host, sized(80, 5));
  t.feed("\tA");
  EXPECT_EQ(cursor(t).first, 9);
  t.feed("\r\x1b[3I");
  EXPECT_EQ(cursor(t).first, 24);
  t.feed("\r\x1b[200I");
  EXPECT_EQ(cursor(t).first, 79);
  t.feed("\x1b[2Z");
  EXPECT_EQ(cursor(t).first, 64);
  t.feed("\x1b[3g\r\t");
  EXPECT_EQ(cursor(t).first, 79);
  t.feed("\x1b[1;5H\x1bH\r\t");
  EXPECT_EQ(cursor(t).first, 4);
  t.feed("\x1b[g\r\t");
  EXPECT_EQ(cursor(t).first, 79);
}

TEST(TerminalC0, LineFeedCarriageReturnAndBackspace) {
  TestHost host;
  Terminal t(&host, sized(10, 5));
  t.feed("ab\nc");
  EXPECT_EQ(screenText(t), "ab\n  c");
  EXPECT_EQ(host.linefeeds, 1);

  TerminalOptions eol = sized(10, 5);
  eol.convertEol = true;
  Terminal e(&host, eol);
  e.feed("A\nB");
  EXPECT_EQ(screenText(e), "A\nB");

  t.feed("\x1b[H\b\b");
  EXPECT_EQ(cursor(t).first, 0);
  t.feed("0123456789\n");
  EXPECT_EQ(cursor(t), std::make_pair(9, 1));  // a line feed cancels the pending wrap

  // Reverse wraparound goes back over a soft wrap and undoes it.
  t.feed("\x1b[H\x1b[2J\x1b[?45h\x1b[4;1H\b");
  EXPECT_EQ(cursor(t), std::make_pair(9, 2));

  // Margins: CR goes to the left margin only from inside it.
  t.feed("\x1b[?69h\x1b[3;6s\x1b[1;5H\r");
  EXPECT_EQ(cursor(t).first, 2);
  t.feed("\x1b[1;2H\r");
  EXPECT_EQ(cursor(t).first, 0);
}

TEST(TerminalC0, BellAndUnknownControlsAndTitles) {
  TestHost host;
  Terminal t(&host, sized(10, 3));
  t.feed("\a\x01\x02x");
  EXPECT_EQ(host.bells, 1);
  EXPECT_EQ(rowText(t, 0), "x");
  t.feed("\x1b]0;one\x07\x1b]2;two\x1b\\");
  EXPECT_EQ(host.titles, std::vector<std::string>({"one", "two"}));
}

}  // namespace
}  // namespace vantrelle
