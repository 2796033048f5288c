// The cursor after a character written in the last column (or up to the right margin), text and
// tabs right of the right margin, the rows below a scroll region, and their neighbours (resets,
// origin mode, wide characters cut by an erase, rows that line operations move apart): byte
// sequences against the screens and replies xterm gives, fed whole and a byte at a time.
#include <gtest/gtest.h>

#include <array>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

struct Case {
  const char* name;
  std::string input;
  std::array<std::string, 4> rows;  // the 10x4 screen, right-trimmed
  std::string reply = {};
};

const std::string tenX(10, 'x');
const std::string heart = "\xe2\x9d\xa4";
const std::string emojiSelector = "\xef\xb8\x8f";
const std::string wide = "\xe4\xb8\xad";                     // one character two columns wide
const std::string margins = "0123456789\x1b[?69h\x1b[3;6s";  // columns 3..6, the row filled first

const Case kCases[] = {
    // The saved cursor holds the starting modes until the first save.
    {"RestoreBeforeAnySave",
     "\x1b"
     "8" +
         std::string(12, 'x'),
     {"xxxxxxxxxx", "xx", "", ""}},
    {"RestoreAfterFullReset",
     "\x1b[?7l\x1b"
     "7\x1b"
     "c\x1b"
     "8" +
         std::string(12, 'x'),
     {"xxxxxxxxxx", "xx", "", ""}},
    {"RestoreAfterSoftReset",
     "\x1b[?7l\x1b"
     "7\x1b[!p\x1b"
     "8" +
         std::string(12, 'x'),
     {"xxxxxxxxxx", "xx", "", ""}},
    {"RestoreOnAlternateScreenAfterFullReset",
     "\x1b[?1049h\x1b[?7l\x1b"
     "7\x1b"
     "c\x1b[?1049h\x1b"
     "8" +
         std::string(12, 'x'),
     {"xxxxxxxxxx", "xx", "", ""}},

    // Erasing in the wrap-pending column erases the last column.
    {"EraseInLine", tenX + "\x1b[K", {"xxxxxxxxx", "", "", ""}},
    {"EraseChars", tenX + "\x1b[X", {"xxxxxxxxx", "", "", ""}},
    {"DeleteChars", tenX + "\x1b[P", {"xxxxxxxxx", "", "", ""}},
    {"InsertChars", tenX + "\x1b[@", {"xxxxxxxxx", "", "", ""}},
    {"EraseBelow", tenX + "\x1b[J", {"xxxxxxxxx", "", "", ""}},
    {"EraseInLineThenPrint", tenX + "\x1b[KZ", {"xxxxxxxxxZ", "", "", ""}},

    // Moves start from the last column and end the pending wrap.
    {"CursorBack", tenX + "\x1b[DZ", {"xxxxxxxxZx", "", "", ""}},
    {"CursorUp", "\n" + tenX + "\x1b[AE", {"         E", "xxxxxxxxxx", "", ""}},
    {"LinePositionAbsolute", "\n" + tenX + "\x1b[1dE", {"         E", "xxxxxxxxxx", "", ""}},
    {"CursorForward", tenX + "\x1b[CZ", {"xxxxxxxxxZ", "", "", ""}},
    {"Backspace", tenX + "\bZ", {"xxxxxxxxZx", "", "", ""}},
    {"BackspaceWithReverseWrap", "\x1b[?45h" + tenX + "\bZ", {"xxxxxxxxxZ", "", "", ""}},
    {"BackTab", "\x1b[3g\x1b[1;3H\x1bH\x1b[1;1H" + tenX + "\x1b[ZZ", {"xxZxxxxxxx", "", "", ""}},

    // A tab has nowhere to go: the wrap stays pending.
    {"Tab", tenX + "\tY", {"xxxxxxxxxx", "Y", "", ""}},
    {"TabAfterWideCharacter", "xxxxxxxx\xe4\xb8\xad\tY", {"xxxxxxxx\xe4\xb8\xad", "Y", "", ""}},

    // Reports never name a column past the edge.
    {"PositionReport", "\x1b[1;1H\x1b[9Cx\x1b[6n", {"         x", "", "", ""}, "\x1b[1;10R"},
    {"ExtendedPositionReport", tenX + "\x1b[?6n", {"xxxxxxxxxx", "", "", ""}, "\x1b[?1;10;1R"},
    {"ReportAfterWideCharacter", "xxxxxxxx\xe4\xb8\xad\x1b[6n", {"xxxxxxxx\xe4\xb8\xad", "", "", ""}, "\x1b[1;10R"},
    {"WideCharacterWraps", "xxxxxxxxx\xe4\xb8\xad\x1b[6n", {"xxxxxxxxx", "\xe4\xb8\xad", "", ""}, "\x1b[2;3R"},
    {"AutowrapOffReport", "\x1b[?7l" + std::string(12, 'x') + "\x1b[6n", {"xxxxxxxxxx", "", "", ""}, "\x1b[1;10R"},
    {"AutowrapOffBack", "\x1b[?7l" + std::string(12, 'x') + "\x1b[DZ", {"xxxxxxxxZx", "", "", ""}},

    // Left and right margins: the right margin's column is the pending one.
    {"MarginPrintWraps", margins + "\x1b[1;3HabcdE", {"01abcd6789", "  E", "", ""}},
    {"MarginEraseInLine", margins + "\x1b[1;3Habcd\x1b[K", {"01abc", "", "", ""}},
    {"MarginReport", margins + "\x1b[1;3Habcd\x1b[6n", {"01abcd6789", "", "", ""}, "\x1b[1;6R"},
    {"MarginCursorBack", margins + "\x1b[1;3Habcd\x1b[DZ", {"01abZd6789", "", "", ""}},
    {"MarginLineFeedScrolls", "\x1b[?69h\x1b[3;6s\x1b[4;3Habcd\nZ", {"", "", "  abcd", "     Z"}},
    {"MarginAutowrapOff", "\x1b[?7l" + margins + "\x1b[1;3Habcdefg\x1b[6n", {"01abcg6789", "", "", ""}, "\x1b[1;6R"},
    // A cursor placed right of the margin is not a pending wrap, even where one just was.
    {"PlacedRightOfMargin", margins + "\x1b[1;7H\x1b[K\x1b[6n", {"012345", "", "", ""}, "\x1b[1;7R"},
    {"PlacedWherePrintingStopped", margins + "\x1b[1;3Habcd\x1b[1;7H\x1b[K", {"01abcd", "", "", ""}},
    {"OriginModeReport",
     "\x1b[?69h\x1b[3;6s\x1b[?6h\x1b[Habcd\x1b[6n\x1b[?6n",
     {"  abcd", "", "", ""},
     "\x1b[1;4R\x1b[?1;4;1R"},

    // Index and next line below the scroll region move as a line feed does there.
    {"IndexOnLastRowBelowRegion",
     "ab\x1b[1;2r\x1b[4H\x1b"
     "Dc",
     {"ab", "", "", "c"}},
    {"IndexBelowRegion",
     "ab\x1b[1;2r\x1b[3H\x1b"
     "Dc",
     {"ab", "", "", "c"}},
    {"NextLineBelowRegion",
     "ab\x1b[1;2r\x1b[3;5H\x1b"
     "Ec",
     {"ab", "", "", "c"}},
    {"IndexOnRegionBottomScrolls",
     "ab\r\ncd\x1b[1;2r\x1b[2H\x1b"
     "De",
     {"cd", "e", "", ""}},
    {"IndexBelowRegionInOriginMode",
     "ab\x1b[1;2r\x1b[?6h\x1b[4d\x1b"
     "Dc",
     {"ab", "", "", "c"}},
    {"IndexLeftOfMarginsBelowRegion",
     "ab\x1b[1;2r\x1b[?69h\x1b[3;6s\x1b[3;1H\x1b"
     "Dc",
     {"ab", "", "", "c"}},

    // A full reset leaves the alternate screen with the whole screen as its region.
    {"FullResetOnAlternateScreen",
     "\x1b[?1049h\x1b[2;3r\x1b"
     "c\x1b[?1049h1\r\n2\r\n3\r\n4\r\n5",
     {"2", "3", "4", "5"}},

    // Origin mode on puts the cursor at the region's top and, with margins, the left margin.
    {"OriginModeOnGoesToTheOrigin", "\x1b[?69h\x1b[3;6s\x1b[2;3r\x1b[?6hX", {"", "  X", "", ""}},
    {"OriginModeOnFromAnywhere", "\x1b[?69h\x1b[3;6s\x1b[3;8H\x1b[?6hX\x1b[6n", {"  X", "", "", ""}, "\x1b[1;2R"},
    // Origin mode off puts it at the screen's first cell, wherever it stood in the region.
    {"OriginModeOffGoesHome", "\x1b[2;3r\x1b[?6h\x1b[2;5H\x1b[?6lY\x1b[6n", {"Y", "", "", ""}, "\x1b[1;2R"},
    {"OriginModeOffWithMargins", "\x1b[?69h\x1b[3;6s\x1b[2;3r\x1b[?6h\x1b[2;2H\x1b[?6lY", {"Y", "", "", ""}},

    // An erase that cuts a wide character takes all of it.
    {"EraseInLineFromSecondHalf", "ab" + wide + "cd\x1b[1;4H\x1b[K", {"ab", "", "", ""}},
    {"EraseToCursorEndingOnFirstHalf", "ab" + wide + "cd\x1b[1;3H\x1b[1K", {"    cd", "", "", ""}},
    {"EraseCharsFromSecondHalf", "ab" + wide + "cd\x1b[1;4H\x1b[X", {"ab  cd", "", "", ""}},
    {"EraseCharsEndingOnFirstHalf", "ab" + wide + "cd\x1b[1;2H\x1b[2X", {"a   cd", "", "", ""}},
    {"EraseBelowFromSecondHalf", "ab" + wide + "cd\x1b[1;4H\x1b[J", {"ab", "", "", ""}},
    {"EraseAboveEndingOnFirstHalf", "ab" + wide + "cd\x1b[1;3H\x1b[1J", {"    cd", "", "", ""}},
    {"EraseInLineFromFirstHalf", "ab" + wide + "cd\x1b[1;3H\x1b[K", {"ab", "", "", ""}},

    // Margins hold text once it is inside them: right of the right margin, text runs on to the
    // screen's edge and wraps from there to the left margin.
    {"PrintRightOfMargin", "\x1b[?69h\x1b[3;6s\x1b[1;9HZYXW\x1b[6n", {"        ZY", "  XW", "", ""}, "\x1b[2;5R"},
    {"WideRightOfMargin",
     "\x1b[?69h\x1b[3;6s\x1b[1;8H" + wide + "Z\x1b[6n",
     {"       " + wide + "Z", "", "", ""},
     "\x1b[1;10R"},
    {"WideRightOfMarginWraps",
     "\x1b[?69h\x1b[3;6s\x1b[1;10H" + wide + "\x1b[6n",
     {"", "  " + wide, "", ""},
     "\x1b[2;5R"},
    {"InsertRightOfMargin", margins + "\x1b[4h\x1b[1;8HAB\x1b[6n", {"0123456AB7", "", "", ""}, "\x1b[1;10R"},
    {"BackspaceRightOfMargin", "\x1b[?69h\x1b[3;6s\x1b[1;7Ha\bb\x1b[6n", {"      b", "", "", ""}, "\x1b[1;8R"},
    {"TabRightOfMargin", "\x1b[?69h\x1b[3;6s\x1b[1;7H\t\tZ\x1b[6n", {"         Z", "", "", ""}, "\x1b[1;10R"},
    // Printed up to the margin, the wrap is pending there still.
    {"PrintUpToMarginWraps", margins + "\x1b[1;3HabcdE\x1b[6n", {"01abcd6789", "  E", "", ""}, "\x1b[2;4R"},

    // A selector that would widen a cell past the right margin leaves it one column wide, as at the
    // screen's edge: the cell beyond the margin stays.
    {"SelectorAtMargin",
     margins + "\x1b[1;3Habc" + heart + emojiSelector + "Z\x1b[6n",
     {"01abc" + heart + emojiSelector + "6789", "  Z", "", ""},
     "\x1b[2;4R"},
    {"SelectorWidensUpToMargin",
     margins + "\x1b[1;3Hab" + heart + emojiSelector + "Z\x1b[6n",
     {"01ab" + heart + emojiSelector + "6789", "  Z", "", ""},
     "\x1b[2;4R"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WrapPending : public ::testing::TestWithParam<Case> {};

TEST_P(WrapPending, GivesXtermsScreenAndReplyWholeAndByteByByte) {
  const Case& c = GetParam();
  for (size_t step : {c.input.size(), size_t(1)}) {
    TestHost host;
    Terminal t(&host, sized(10, 4));
    feedInSteps(t, c.input, step);
    for (int row = 0; row < 4; ++row)
      EXPECT_EQ(rowText(t, row), c.rows[size_t(row)]) << "row " << row << " step " << step;
    EXPECT_EQ(host.sent, c.reply) << "step " << step;
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, WrapPending, ::testing::ValuesIn(kCases),
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
