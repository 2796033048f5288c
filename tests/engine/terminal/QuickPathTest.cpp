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
  static const char* const texts[] = {"x", "abc", "0123456789", "0123456789012345678901234", "a\177b", "e\xcc\x81"};
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

}  // namespace
}  // namespace vantrelle
