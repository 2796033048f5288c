#include <gtest/gtest.h>

#include <string>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

bool operator==(const std::optional<Terminal::UpdateRange>& a, const std::optional<Terminal::UpdateRange>& b) {
  if (!a || !b) return a.has_value() == b.has_value();
  return a->startY == b->startY && a->endY == b->endY;
}

// Every cell, wrap flag and cursor of two terminals, the rows each marked as changed since
// `clearUpdateRange`, and what a cursor report and a joining mark find afterwards.
void expectSameScreens(Terminal& a, Terminal& b, const std::string& what) {
  ASSERT_EQ(cursor(a), cursor(b)) << what;
  EXPECT_TRUE(a.getUpdateRange() == b.getUpdateRange()) << what;
  EXPECT_TRUE(a.getScrollInvariantUpdateRange() == b.getScrollInvariantUpdateRange()) << what;
  auto& linesA = a.buffer->lines();
  auto& linesB = b.buffer->lines();
  ASSERT_EQ(linesA.count(), linesB.count()) << what;
  for (int row = 0; row < linesA.count(); ++row) {
    ASSERT_EQ(linesA[row]->isWrapped(), linesB[row]->isWrapped()) << "row " << row << " of " << what;
    for (int col = 0; col < a.cols; ++col)
      ASSERT_EQ((*linesA[row])[col], (*linesB[row])[col]) << "row " << row << " column " << col << " of " << what;
  }
}

// Characters printed between two control sequences take a path of their own when they fit on
// the cursor's row, one character or a run; the printer's general path must leave the same
// screen, cursor, changed rows and pending wrap whatever the modes, margins, sets and position.
TEST(QuickPath, TextBetweenSequencesLeavesWhatTheGeneralPathLeaves) {
  static const char* const setups[] = {
      "",
      "\x1b[18G",
      "\x1b[20G",
      "\x1b[5;19H",  // the last row: a wrap scrolls
      "\x1b[?7l\x1b[19G",
      "\x1b[4h\x1b[3G",
      "\x1b(0",
      "\x1b[1;31;42m",
      "\x1b[?69h\x1b[3;12s\x1b[10G",
      "\x1b[?69h\x1b[5;5s\x1b[5G",    // a margin one column wide
      "\x1b[?69h\x1b[3;12s\x1b[15G",  // right of the margin
      "\x1b[?6h\x1b[2;4r\x1b[3;18H",
      "\xe2\x82",              // a UTF-8 sequence cut off by what follows
      "abcdefghijklmnopqrst",  // wrap pending
  };
  // Runs of every remainder in fours, stored four cells a round.
  static const char* const texts[] = {
      "x",      "abc",      "abcd", "abcde", "abcdef", "abcdefg", "abcdefgh", "0123456789", "0123456789012345678901234",
      "a\177b", "e\xcc\x81"};
  for (const char* setup : setups) {
    for (const char* text : texts) {
      const std::string bytes = text;
      TestHost hostGeneral, hostRun, hostAlone;
      Terminal general(&hostGeneral, sized(20, 5, 20)), run(&hostRun, sized(20, 5, 20)),
          alone(&hostAlone, sized(20, 5, 20));
      for (Terminal* t : {&general, &run, &alone}) {
        t->feed(setup);
        t->clearUpdateRange();
      }
      general.handlePrint({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
      run.feed(bytes);
      for (char c : bytes) alone.feed(std::string_view(&c, 1));
      // The cursor report reads a wrap pending at a margin; the mark joins the cell printed last.
      const std::string what = std::string("setup ") + setup + " text " + text;
      for (Terminal* t : {&run, &alone}) expectSameScreens(general, *t, what);
      for (Terminal* t : {&general, &run, &alone}) t->feed("\x1b[6n\xcc\x88");
      EXPECT_EQ(hostGeneral.sent, hostRun.sent) << what;
      EXPECT_EQ(hostGeneral.sent, hostAlone.sent) << what;
      for (Terminal* t : {&run, &alone}) expectSameScreens(general, *t, what + " and a mark");
    }
  }
}

// CUP outside origin mode takes a path of its own: the cursor lands clamped to the screen, a
// pending wrap ends, and both the row left and the row reached count as changed.
TEST(QuickPath, CursorPositionClampsEndsAWrapAndMarksBothRows) {
  struct Case {
    const char* setup;
    const char* cup;
    std::pair<int, int> cursor;
    int changedFrom, changedTo;
  };
  static const Case cases[] = {
      {"\x1b[3;4H", "\x1b[1;1H", {0, 0}, 0, 2},
      {"\x1b[3;4H", "\x1b[H", {0, 0}, 0, 2},
      {"\x1b[3;4H", "\x1b[0;0H", {0, 0}, 0, 2},
      {"\x1b[3;4H", "\x1b[99;99H", {9, 4}, 2, 4},
      {"\x1b[3;4H", "\x1b[65535;65535H", {9, 4}, 2, 4},
      {"\x1b[3;4H", "\x1b[5H", {0, 4}, 2, 4},
      {"\x1b[3;4H", "\x1b[;7H", {6, 0}, 0, 2},
      {"\x1b[3;4H", "\x1b[3;4H", {3, 2}, 2, 2},
      {"\x1b[2;4r\x1b[5;1H", "\x1b[1;2H", {1, 0}, 0, 4},              // a scroll region does not bound CUP
      {"\x1b[?69h\x1b[3;5s\x1b[2;3Habc", "\x1b[4;1H", {0, 3}, 1, 3},  // ends the wrap pending at the margin
      {"\x1b[1;1Habcdefghij", "\x1b[2;2H", {1, 1}, 0, 1},             // ends the wrap pending at the edge
      {"\x1b[5;1H\n\n\n\x1b[4;2H", "\x1b[2;1H", {0, 1}, 1, 3},        // with lines scrolled off the top
  };
  for (const Case& c : cases) {
    TestHost host;
    Terminal t(&host, sized(10, 5));
    t.feed(c.setup);
    t.clearUpdateRange();
    t.feed(c.cup);
    const std::string what = std::string(c.setup) + " then " + c.cup;
    EXPECT_EQ(cursor(t), c.cursor) << what;
    ASSERT_TRUE(t.getUpdateRange()) << what;
    EXPECT_EQ(t.getUpdateRange()->startY, c.changedFrom) << what;
    EXPECT_EQ(t.getUpdateRange()->endY, c.changedTo) << what;
    // The same rows counted from the top of the scrollback.
    const int top = t.buffer->yDisp;
    ASSERT_TRUE(t.getScrollInvariantUpdateRange()) << what;
    EXPECT_EQ(t.getScrollInvariantUpdateRange()->startY, c.changedFrom + top) << what;
    EXPECT_EQ(t.getScrollInvariantUpdateRange()->endY, c.changedTo + top) << what;
    // No wrap is left pending: the next character lands where CUP put the cursor.
    t.feed("Z");
    EXPECT_EQ(t.getCharacter(c.cursor.first, c.cursor.second), "Z") << what;
  }
}

// Colourful output prints its cells one at a time, each after a new rendition, and a cell goes
// where the one before it left off without finding its line again. Whatever comes between two
// such cells (moving the cursor, scrolling and recycling lines, erasing the saved lines, another
// screen, a resize, a reset, modes, margins, wide characters, images) must leave the cells where
// the general path puts them, fed whole or a byte at a time.
TEST(QuickPath, CellsAfterAnythingButARenditionLandWhereTheGeneralPathPutsThem) {
  static const char* const between[] = {
      "\n",
      "\r",
      "\b",
      "\t",
      "\x1b[5;18H\n",
      "\x1b[H\x1bM",
      "\x1b[2L",
      "\x1b[2M",
      "\x1b[S",
      "\x1b[2T",
      "\x1b[2;4r\n\n",
      "\x1b[3J",
      "\x1b[2J",
      "\x1b[?1049h",
      "\x1b[?1049l",
      "\x1b[?47h",
      "\033c",
      "\x1b[!p",
      "\x1b[4h",
      "\x1b[?7l",
      "\x1b(0",
      "\x0e",
      "\x1b[3X",
      "\x1b[2@",
      "\x1b[2P",
      "\x1b#8",
      "\x1b#6",
      "\xe4\xb8\xad",
      "\xcc\x81",
      "\xe4\xb8",
      "\x1b]0;t\x07",
      "\x1b[2K",
      "\x1b[3;3H",
      "\x1b[1G",
      "\0337\x1b[4;2H\0338",
      "\x1b[?6h",
      "\x1b[60m",
      "\x1b[>4;2m",
      "\x1b[2b",
      "\x1b[?69h\x1b[3;8s",
      "\x1bPq#0;2;0;0;0#0~~\x1b\\",
      "\x1b_Ga=T,f=24,s=1,v=1;AAAA\x1b\\",
  };
  // Cells from the left, from the middle and up to the right edge, where the next cell wraps.
  static const char* const starts[] = {"\x1b[2;1H", "\x1b[3;9H", "\x1b[5;16H"};
  const auto cells = [](int count, int from) {
    std::string text;
    for (int i = 0; i < count; ++i)
      text += "\x1b[3" + std::to_string((from + i) % 8) + "m" + char('a' + (from + i) % 26);
    return text;
  };
  for (const char* start : starts) {
    for (int moved = 0; moved <= int(std::size(between)) + 1; ++moved) {
      TestHost hostWhole, hostBytes;
      Terminal whole(&hostWhole, sized(20, 5, 3)), bytes(&hostBytes, sized(20, 5, 3));
      const std::string before = std::string(start) + cells(7, 0);
      const std::string after = cells(24, 7);
      std::string what = std::string(start) + " then ";
      if (moved < int(std::size(between))) {
        const std::string stream = before + between[moved] + after;
        whole.feed(stream);
        for (char c : stream) bytes.feed(std::string_view(&c, 1));
        what += between[moved];
      } else {
        // A resize comes between two feeds.
        const auto [cols, rows] = moved == int(std::size(between)) ? std::pair(12, 4) : std::pair(30, 7);
        for (Terminal* t : {&whole, &bytes}) t->feed(before);
        for (Terminal* t : {&whole, &bytes}) t->resize(cols, rows);
        whole.feed(after);
        for (char c : after) bytes.feed(std::string_view(&c, 1));
        what += "a resize to " + std::to_string(cols) + "x" + std::to_string(rows);
      }
      expectSameScreens(bytes, whole, what);
    }
  }
}

}  // namespace
}  // namespace vantrelle
