// A row erased whole no longer continues the row above it: a shell whose edited command line
// needs a row fewer erases the row it no longer uses, and the command's output then starts there.
// Nor does a row whose end was erased or deleted run on into the next one.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

struct Case {
  const char* name;
  std::string input;
  std::array<bool, 3> wrapped;  // rows 0 to 2 of the 10x4 screen
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// 25 characters: rows 0 and 1 full, row 2 continuing them.
const std::string line = std::string(20, 'a') + "bbbbb";

const Case kCases[] = {
    {"EraseFromFirstColumn", line + "\r\x1b[K", {false, true, false}},
    {"EraseWholeRow", line + "\x1b[2K", {false, true, false}},
    {"EraseToCursorAtLastColumn", line + "\x1b[10G\x1b[1K", {false, true, false}},
    {"EraseFromLaterColumnKeepsIt", line + "\x1b[3G\x1b[K", {false, true, true}},
    {"EraseToCursorKeepsIt", line + "\x1b[3G\x1b[1K", {false, true, true}},
    // Deleting characters up to the edge empties a row's end as EL does.
    {"DeleteAtLastColumn", line + "\x1b[2;10H\x1b[P", {false, true, false}},
    {"DeleteAcrossTheEdge", line + "\x1b[2;3H\x1b[20P", {false, true, false}},
    {"DeleteWholeRow", line + "\x1b[2;1H\x1b[10P", {false, false, false}},
    {"DeleteInsideKeepsIt", line + "\x1b[2;3H\x1b[P", {false, true, true}},
    {"DeleteAcrossMarginKeepsIt", line + "\x1b[?69h\x1b[1;8s\x1b[2;3H\x1b[20P", {false, true, true}},
};

class ErasedRow : public ::testing::TestWithParam<Case> {};

TEST_P(ErasedRow, ContinuesTheRowAboveOnlyWhileItKeepsTextFromItsStart) {
  const Case& c = GetParam();
  TestHost host;
  Terminal t(&host, sized(10, 4));
  t.feed(c.input);
  for (int row = 0; row < 3; row++) EXPECT_EQ(rowWrapped(t, row), c.wrapped[size_t(row)]) << "row " << row;
}

INSTANTIATE_TEST_SUITE_P(Sequences, ErasedRow, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// What bash sends when a deletion leaves a three-row command line two rows long and the user
// presses Enter: the output must copy as a line of its own, not as the command's tail.
TEST(ErasedRow, ACommandsOutputCopiesApartFromTheEditedCommand) {
  TestHost host;
  Terminal t(&host, sized(10, 6));
  t.feed("# " + std::string(18, 'c') + "d");         // 21 characters over three rows
  t.feed("\x1b[2;6H\x1b[P\x1b[2;10Hd\r\n\r\x1b[K");  // one deleted, the row left over cleared
  t.feed("\x1b[2;10H\r\nout\r\n");
  EXPECT_EQ(t.getText(Position(0, 0), Position(10, 2)), "# " + std::string(17, 'c') + "d\nout");
}

}  // namespace
}  // namespace vantrelle
