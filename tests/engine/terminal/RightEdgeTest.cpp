// Printing and moving at the right edge and at the left and right margins: byte sequences against
// the screen and the cursor report, fed whole and a byte at a time.
#include <gtest/gtest.h>

#include <array>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

struct Case {
  const char* name;
  std::string input;
  std::array<std::string, 3> rows;  // the 10x3 screen, right-trimmed
  std::string cursor;               // the cursor report after the input
};

const std::string heart = "\xe2\x9d\xa4";
const std::string emojiSelector = "\xef\xb8\x8f";
const std::string wide = "\xe4\xb8\xad";                     // one character two columns wide
const std::string margins = "0123456789\x1b[?69h\x1b[3;6s";  // columns 3..6, the row filled first

const Case kCases[] = {
    // Margins hold text once it is inside them: right of the right margin, text runs on to the
    // screen's edge and wraps from there to the left margin.
    {"PrintRightOfMargin", "\x1b[?69h\x1b[3;6s\x1b[1;9HZYXW", {"        ZY", "  XW", ""}, "\x1b[2;5R"},
    {"WideRightOfMargin", "\x1b[?69h\x1b[3;6s\x1b[1;8H" + wide + "Z", {"       " + wide + "Z", "", ""}, "\x1b[1;10R"},
    {"WideRightOfMarginWraps", "\x1b[?69h\x1b[3;6s\x1b[1;10H" + wide, {"", "  " + wide, ""}, "\x1b[2;5R"},
    {"InsertRightOfMargin", margins + "\x1b[4h\x1b[1;8HAB", {"0123456AB7", "", ""}, "\x1b[1;10R"},
    {"BackspaceRightOfMargin", "\x1b[?69h\x1b[3;6s\x1b[1;7Ha\bb", {"      b", "", ""}, "\x1b[1;8R"},
    {"TabRightOfMargin", "\x1b[?69h\x1b[3;6s\x1b[1;7H\t\tZ", {"         Z", "", ""}, "\x1b[1;10R"},
    // Printed up to the margin, the wrap is pending there still.
    {"PrintUpToMarginWraps", margins + "\x1b[1;3HabcdE", {"01abcd6789", "  E", ""}, "\x1b[2;4R"},

    // A selector that would widen a cell past the right margin leaves it one column wide, as at the
    // screen's edge: the cell beyond the margin stays.
    {"SelectorAtMargin",
     margins + "\x1b[1;3Habc" + heart + emojiSelector + "Z",
     {"01abc" + heart + emojiSelector + "6789", "  Z", ""},
     "\x1b[2;4R"},
    {"SelectorWidensUpToMargin",
     margins + "\x1b[1;3Hab" + heart + emojiSelector + "Z",
     {"01ab" + heart + emojiSelector + "6789", "  Z", ""},
     "\x1b[2;4R"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class RightEdge : public ::testing::TestWithParam<Case> {};

TEST_P(RightEdge, GivesTheScreenAndCursorWholeAndByteByByte) {
  const Case& c = GetParam();
  for (size_t step : {c.input.size(), size_t(1)}) {
    TestHost host;
    Terminal t(&host, sized(10, 3));
    feedInSteps(t, c.input, step);
    t.feed("\x1b[6n");
    for (int row = 0; row < 3; ++row)
      EXPECT_EQ(rowText(t, row), c.rows[size_t(row)]) << "row " << row << " step " << step;
    EXPECT_EQ(host.sent, c.cursor) << "step " << step;
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, RightEdge, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Rows that line operations move apart no longer continue one another: a row keeps its wrapped
// mark only while it stands under the row it wrapped from. On a 10x4 screen "bbbbbbbbbbcc" wraps
// from row 1 onto row 2, under "aaaa" and over "dd".
struct Apart {
  const char* name;
  std::string operation;
  std::array<bool, 4> wrapped;
};

const Apart kApart[] = {
    {"ScrollUpInRegion", "\x1b[2;3r\x1b[S", {false, false, false, false}},
    {"DeleteLineInRegion", "\x1b[2;3r\x1b[2H\x1b[M", {false, false, false, false}},
    {"LineFeedAtRegionBottom", "\x1b[2;3r\x1b[3H\n", {false, false, false, false}},
    {"ScrollDownKeepsThePairTogether", "\x1b[T", {false, false, false, true}},
    {"InsertLineBetweenThePair", "\x1b[3H\x1b[L", {false, false, false, false}},
    {"ReverseIndexAtRegionTop", "\x1b[3;4r\x1b[3H\x1bM", {false, false, false, false}},
    {"DeleteLineAboveRegionBottom", "\x1b[1;2r\x1b[2H\x1b[M", {false, false, false, false}},
    {"WrapAtRegionBottomAboveOtherRows", "\x1b[1;2r\x1b[2;9Hxyz", {false, true, false, false}},
};

void PrintTo(const Apart& c, std::ostream* os) { *os << c.name; }

class RowsMovedApart : public ::testing::TestWithParam<Apart> {};

TEST_P(RowsMovedApart, NoLongerContinueOneAnother) {
  const Apart& c = GetParam();
  TestHost host;
  Terminal t(&host, sized(10, 4));
  t.feed("aaaa\r\nbbbbbbbbbbcc\r\ndd" + c.operation);
  for (int row = 0; row < 4; ++row) EXPECT_EQ(rowWrapped(t, row), c.wrapped[size_t(row)]) << "row " << row;
}

INSTANTIATE_TEST_SUITE_P(Operations, RowsMovedApart, ::testing::ValuesIn(kApart),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrelle
