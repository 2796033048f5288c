// Lines leaving a full scrollback ring are reused as new bottom rows; whatever they held before,
// they must come back blank in every column, in the rendition of the erase.
#include <gtest/gtest.h>

#include <string>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

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

// Lines wider than a cache-friendly sequential clear are cleared only as far as they were written,
// so every way of writing a cell must move that mark: each sequence below writes somewhere past
// its text, and every reused line must still read blank across its whole width.
class WideRecycle : public ::testing::TestWithParam<const char*> {};

constexpr int wideCols = 150;

void expectRingBlank(Terminal& t, Attribute::Color bg, const std::string& context) {
  t.feed("\x1b[2;1H");
  cycleRing(t, 3);
  for (int row = 0; row < t.rows; row++) {
    EXPECT_EQ(firstUnclearedColumn(t, row, bg), -1) << context << ", row " << row;
  }
}

TEST_P(WideRecycle, EveryWriterLeavesReusedLinesBlank) {
  TestHost host;
  Terminal t(&host, sized(wideCols, 2, 1));
  t.feed("some text\r\nmore\r\n");
  expectRingBlank(t, Attribute::Color::defaultColor, "warm-up");
  t.feed("\x1b[1;1H");
  t.feed(GetParam());
  t.feed("\x1b[m\x1b[?69l\x1b[4l\x1b[r");
  expectRingBlank(t, Attribute::Color::defaultColor, "default background");
  // The same lines written again, then reused with a coloured erase: full width in colour.
  t.feed("\x1b[1;1H");
  t.feed(GetParam());
  t.feed("\x1b[m\x1b[?69l\x1b[4l\x1b[r\x1b[44m");
  expectRingBlank(t, Attribute::Color::ansi256(4), "blue background");
  t.feed("\x1b[m");
  expectRingBlank(t, Attribute::Color::defaultColor, "back to default");
}

INSTANTIATE_TEST_SUITE_P(
    Writers, WideRecycle,
    ::testing::Values("\x1b[44m\x1b[2K\r\n\x1b[42m\x1b[K",                 // erase in line, coloured
                      "\x1b[43m\x1b[J",                                    // erase in display, coloured
                      "abc\x1b[1G\x1b[140@\r\nxy\x1b[1G\x1b[4h\x1b[45mZ",  // insert characters, insert mode
                      "\x1b[43mabc\x1b[1G\x1b[2P\r\n\x1b[45m\x1b[130X",    // delete, erase characters
                      "x\x1b[148b\r\n\x1b[46my\x1b[200b",                  // repeat past the text and the line
                      "\x1b[88;1;100;2;150$x",                             // fill a rectangle
                      "\x1b[1;140Hcopied\x1b[1;140;1;150;1;2;1;1$v",       // copy a rectangle
                      "\x1b[1;145H\x1b[41m\x1b[1;140;2;150$z",             // erase a rectangle
                      "\x1b[1;150H\xe4\xb8\xad\x1b[2;149H\xe4\xb8\xad\xe4\xb8\xad",  // wide characters at the margin
                      "\x1b[1;140H\x1b]8;;https://example.com\x1b\\link\x1b]8;;\x1b\\",
                      "\x1b[1;147Habcdefgh",                             // text wrapping off the end
                      "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\tx",           // tabs far right
                      "\x1b[?69h\x1b[3;148s\x1b[2;140Hfar\x1b[45m\n"));  // scroll within margins

TEST(ScrollbackRecycle, WideResizedAndReflowedLinesComeBackBlank) {
  TestHost host;
  Terminal t(&host, sized(wideCols, 2, 1));
  t.feed("short\r\n" + std::string(140, 'w') + "\r\n");
  // Narrower: the long line reflows into several; wider again: the new columns are fresh.
  t.resize(60, 2);
  t.feed(std::string(59, 'n') + "\r\n");
  t.resize(wideCols + 50, 2);
  t.feed("\x1b[1;190Hfar\r\n");
  expectRingBlank(t, Attribute::Color::defaultColor, "after widening");
  t.resize(wideCols, 2);
  t.feed("\x1b[1;145Hedge\x1b[44m");
  expectRingBlank(t, Attribute::Color::ansi256(4), "after narrowing");
}

}  // namespace
}  // namespace vantrelle
