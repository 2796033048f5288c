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

}  // namespace
}  // namespace vantrelle
