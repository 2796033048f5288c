// Rows a shorter screen leaves below itself when the cursor sits above them: the cursor reaches
// them as it would on the taller screen, and erasing below it erases them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

std::vector<std::string> ringText(Terminal& t) { return ringLinesText(t, t.buffer->lines().count()); }

struct Case {
  const char* name;
  std::string tail;
  std::vector<std::string> ring;
  std::string screen;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

const Case kCases[] = {
    {"LineFeedsReachThem", "a\r\nb\r\nc\r\nd\r\ne", {"l1", "l2", "a3", "b4", "c5", "d6", "e"}, "c5\nd6\ne"},
    {"WrapReachesThem",
     "a\r\nb\r\n" + std::string(20, 'c') + "Z",
     {"l1", "l2", "a3", "b4", std::string(20, 'c'), "+Z6"},
     "b4\n" + std::string(20, 'c') + "\nZ6"},
    {"EraseBelowErasesThem", "\x1b[Ja\r\nb\r\nc\r\nd", {"l1", "l2", "a", "b", "c", "d"}, "b\nc\nd"},
    {"EraseScreenErasesThem", "\x1b[2J\x1b[Ha\r\nb\r\nc\r\nd", {"l1", "l2", "a", "b", "c", "d"}, "b\nc\nd"},
    {"EraseSavedLinesKeepsTheScreen", "\x1b[3J", {"l3", "l4", "l5", "l6"}, "l3\nl4\nl5"},
};

class RowsBelowScreen : public ::testing::TestWithParam<Case> {};

TEST_P(RowsBelowScreen, AreReachedAndErasedAsTheScreensOwn) {
  const Case& c = GetParam();
  for (size_t step : {c.tail.size(), size_t(1)}) {
    TestHost host;
    Terminal t(&host, sized(20, 6));
    t.feed("l1\r\nl2\r\nl3\r\nl4\r\nl5\r\nl6\x1b[3;1H");
    t.resize(20, 3);  // the cursor's row tops the screen; l6 is left below it
    ASSERT_EQ(t.buffer->lines().count(), 6);
    feedInSteps(t, c.tail, std::max<size_t>(step, 1));
    EXPECT_EQ(ringText(t), c.ring) << "step " << step;
    EXPECT_EQ(screenText(t), c.screen) << "step " << step;
  }
}

// The first row below continues the screen's last row: an edit that parts the two (the last row
// erased to its end, or moved away by a scroll or a deleted line) leaves it a line of its own.
TEST(RowsBelowScreenEdits, PartingTheLastRowFromTheRowBelowEndsTheContinuation) {
  for (const char* edit :
       {"\x1b[3;5H\x1b[K", "\x1b[S", "\x1b[3;1H\x1b[M", "\x1b[3;20H\x1b[1J", "\x1b[2;3r\x1b[3;1H\n"}) {
    TestHost host;
    Terminal t(&host, sized(20, 6));
    t.feed("l1\r\nl2\r\nl3\r\nl4\r\n" + std::string(30, 'x') + "\x1b[3;1H");
    t.resize(20, 3);  // the screen shows l3, l4 and the first row of the x's; their second row is below
    auto& lines = t.buffer->lines();
    ASSERT_EQ(lines.count(), 6);
    ASSERT_TRUE(lines[5]->isWrapped());
    t.feed(edit);
    EXPECT_FALSE(lines[lines.count() - 1]->isWrapped()) << edit;
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, RowsBelowScreen, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrelle
