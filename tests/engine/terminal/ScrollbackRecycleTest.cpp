// Lines leaving a full scrollback ring are reused as new bottom rows; whatever they held before,
// they must come back blank in every column, in the rendition of the erase.
#include <gtest/gtest.h>

#include <string>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

// The first column of `row` that is not an empty cell with background `bg`, or -1.
int firstUnclearedColumn(Terminal& t, int row, Attribute::Color bg) {
  for (int col = 0; col < t.cols; col++) {
    const auto cell = t.getCharData(col, row);
    if (!cell || cell->code != 0 || cell->width != 1 || cell->attribute().bg != bg ||
        cell->attribute().fg != Attribute::Color::defaultColor || cell->hasPayload()) {
      return col;
    }
  }
  return -1;
}

// Feeds enough line feeds on the last row that every line of the ring has been reused.
void cycleRing(Terminal& t, int ringLines) {
  for (int i = 0; i < ringLines + 1; i++) t.feed("\n");
}

TEST(ScrollbackRecycle, ReusedLinesReadBlankPastTheirOldText) {
  TestHost host;
  Terminal t(&host, sized(12, 2, 1));
  t.feed("abcdefghijkl\r\nxyz\r\n");  // a full row, then a short one
  t.feed("\x1b]8;;https://example.com\x1b\\linked\x1b]8;;\x1b\\\r\n");
  t.feed("\x1b[7mreverse\x1b[m\r\n");
  for (int i = 0; i < 3; i++) {
    t.feed("\n");
    EXPECT_EQ(firstUnclearedColumn(t, 1, Attribute::Color::defaultColor), -1) << "line feed " << i;
  }
}

TEST(ScrollbackRecycle, ReusedLinesTakeTheEraseBackgroundEverywhere) {
  TestHost host;
  Terminal t(&host, sized(12, 2, 1));
  t.feed("ab\r\ncd\r\n");
  cycleRing(t, 3);
  // A coloured background fills the whole reused row, though the row held only two letters.
  t.feed("\x1b[44m\n");
  EXPECT_EQ(firstUnclearedColumn(t, 1, Attribute::Color::ansi256(4)), -1);
  // Back to the default: rows erased in colour, or written only in part, read default again.
  t.feed("\x1b[41mxy\x1b[K\x1b[m\r\n");
  t.feed("\x1b[42m\x1b[2K\x1b[m\r\n");
  for (int i = 0; i < 4; i++) {
    t.feed("\n");
    EXPECT_EQ(firstUnclearedColumn(t, 1, Attribute::Color::defaultColor), -1) << "line feed " << i;
  }
}

TEST(ScrollbackRecycle, EditedAndResizedLinesComeBackBlank) {
  TestHost host;
  Terminal t(&host, sized(12, 2, 1));
  // Inserted and deleted characters, and a scroll within margins, write past the text.
  t.feed("abc\x1b[1G\x1b[4@\r\n");
  t.feed("\x1b[43mabc\x1b[1G\x1b[2P\x1b[m\r\n");
  t.feed("\x1b[?69h\x1b[3;8s\x1b[5G\x1b[45m\n\x1b[?69l\x1b[m\r\n");
  cycleRing(t, 3);
  EXPECT_EQ(firstUnclearedColumn(t, 0, Attribute::Color::defaultColor), -1);
  EXPECT_EQ(firstUnclearedColumn(t, 1, Attribute::Color::defaultColor), -1);

  // Widened lines are reused at their new width; every new column reads blank too.
  t.feed("0123456789ab\r\nzz\r\n");
  t.resize(20, 2);
  t.feed("\r\nwide line of text!!\r\n");
  for (int i = 0; i < 4; i++) {
    t.feed("\n");
    EXPECT_EQ(firstUnclearedColumn(t, 1, Attribute::Color::defaultColor), -1) << "line feed " << i;
  }
  t.resize(6, 2);
  t.feed("\x1b[46m");
  cycleRing(t, 3);
  EXPECT_EQ(firstUnclearedColumn(t, 1, Attribute::Color::ansi256(6)), -1);
}

}  // namespace
}  // namespace vantrelle
