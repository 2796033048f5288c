// Wide characters at the edges of what an edit moves, copies or fills: the margins, the edges of a
// rectangle, the right edge of the screen. Neither half of a wide character may stay alone.
#include <gtest/gtest.h>

#include <vector>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

struct Case {
  const char* stream;
  int row;
  const char* cells;
};

// Where on the screen a half of a wide character stands alone, as "row:col" items.
std::string loneHalves(Terminal& t) {
  std::string found;
  for (int row = 0; row < t.rows; ++row) {
    const BufferLine& line = *t.getLine(row);
    for (int col = 0; col < line.count(); ++col) {
      const int width = line[col].width;
      const bool lone = width == 2 ? col + 1 >= line.count() || line[col + 1].width != 0
                                   : width == 0 && (col == 0 || line[col - 1].width != 2);
      if (lone) found += std::to_string(row) + ":" + std::to_string(col) + " ";
    }
  }
  return found;
}

// Feeds each case whole, a byte at a time and in pieces of three bytes, on a 10x4 screen, and
// checks the start of the case's row and that no half is left alone anywhere.
void expectCases(std::span<const Case> cases) {
  for (const Case& c : cases) {
    const std::string stream = c.stream;
    TestHost host;
    auto check = [&](size_t step, const char* how) {
      Terminal t(&host, sized(10, 4));
      testing::feedInSteps(t, stream, step);
      const std::string cells = cellsOf(t, c.row);
      EXPECT_EQ(cells.substr(0, std::string_view(c.cells).size()), c.cells) << how << ": " << stream;
      EXPECT_EQ(loneHalves(t), "") << how << ": " << stream;
    };
    check(stream.size(), "whole");
    check(1, "byte by byte");
    check(3, "in pieces of three bytes");
  }
}

// Column insert and delete through a wide character, or shifting one against a margin.
TEST(WideEdges, InsertAndDeleteColumnsPartNoHalves) {
  const Case cases[] = {
      {"中文字\x1b[1;2H\x1b['}", 0, ". .文_字_"},
      {"\x1b[2;1H中文\x1b[1;2H\x1b['}", 1, ". .文_"},
      {"abcdefgh中\r\x1b['}", 0, " abcdefgh."},
      {"中文字\x1b[1;2H\x1b['~", 0, ".文_字_.... "},
      {"中文字\x1b[1;3H\x1b['~", 0, "中_.字_"},
      {"中文字\x1b[1;2H\x1b[9'~", 0, ".         "},
      // A wide character across the right margin, the left margin, or pushed against the right.
      {"abcde中\x1b[?69h\x1b[1;6s\x1b[1;1H\x1b['}", 0, " abcde."},
      {"abcd中\x1b[?69h\x1b[6;10s\x1b[1;6H\x1b['}", 0, "abcd. ."},
      {"abcd中\x1b[?69h\x1b[1;6s\x1b[1;1H\x1b['}", 0, " abcd."},
      {"abcd中文\x1b[?69h\x1b[1;7s\x1b[1;1H\x1b['~", 0, "bcd中_. ."},
      {"abcd中\x1b[?69h\x1b[6;10s\x1b[1;6H\x1b['~", 0, "abcd."},
  };
  expectCases(cases);
}

// Inserting or deleting characters that cut two wide characters at once: the halves left on
// either side of the cut must not close up into one character.
TEST(WideEdges, CharacterInsertAndDeleteJoinNoStrangers) {
  const Case cases[] = {
      {"中文字\x1b[1;2H\x1b[2P", 0, "..字_."},
      {"abc中文\x1b[?69h\x1b[1;6s\x1b[1;1H\x1b[2@", 0, "..abc.."},
  };
  expectCases(cases);
}

// Copying, filling and erasing rectangles whose edges cut wide characters in the source or under
// the destination.
TEST(WideEdges, RectangleEdgesPartNoHalves) {
  const Case cases[] = {
      // The copied columns start on a second half and end on a first half.
      {"中文字\x1b[1;2;1;5;1;2;1;1$v", 1, ".文_."},
      // The destination's edges fall inside wide characters.
      {"abcd\x1b[2;1H中文字\x1b[1;1;1;2;1;2;2;1$v", 1, ".ab.字_"},
      // A wide character cut by the right edge of the screen.
      {"中文\x1b[1;1;1;4;1;2;10;1$v", 1, ".........."},
      // Copying onto itself one column to the right.
      {"中文\x1b[1;1;1;4;1;1;2;1$v", 0, ".中_文_"},
      {"中文字\x1b[88;1;2;1;3$x", 0, ".XX.字_"},
      {"abcdefgh中\x1b[88;1;10;1;10$x", 0, "abcdefgh.X"},
      {"中文字\x1b[1;2;1;3$z", 0, ".  .字_"},
      {"中文字\x1b[1;2;1;3${", 0, ".  .字_"},
  };
  expectCases(cases);
}

// Scrolling inside left and right margins that cut a wide character: by SU, SD, IL, DL, a line
// feed or index at the region's bottom, a reverse index at its top, and column scrolls.
TEST(WideEdges, ScrollingInsideMarginsPartsNoHalves) {
  // Row 0 holds a wide character across column 4|5, row 1 narrow text.
  const std::string right = "abcd中\x1b[2;1HwxyzAB\x1b[?69h\x1b[1;5s";
  const std::string left = "abcd中\x1b[2;1HwxyzABCD\x1b[?69h\x1b[6;10s";
  const std::string cases[][3] = {
      {right + "\x1b[S", "0", "wxyzA."},
      {right + "\x1b[T", "1", "abcd.B"},
      {right + "\x1b[1;1H\x1b[M", "0", "wxyzA."},
      {right + "\x1b[1;1H\x1b[L", "1", "abcd.B"},
      {right + "\x1b[1;2r\x1b[2;1H\n", "0", "wxyzA."},
      {right + "\x1b[1;2r\x1b[2;1H\x1b"
               "D",
       "0", "wxyzA."},
      {right + "\x1b[1;2r\x1b[1;1H\x1bM", "1", "abcd.B"},
      {left + "\x1b[S", "0", "abcd.BCD"},
      {left + "\x1b[T", "0", "abcd......"},
      {left + "\x1b[1;6H\x1b[M", "0", "abcd.BCD"},
      // Back and forward index at the margins scroll the columns between them.
      {right + "\x1b[1;1H\x1b"
               "6",
       "0", " abcd."},
      {right + "\x1b[1;5H\x1b"
               "9",
       "0", "bcd. ."},
      {"中bcdef\x1b[?69h\x1b[1;5s\x1b[1;5H\x1b"
       "9",
       "0", ".bcd ef"},
  };
  std::vector<Case> table;
  for (const auto& c : cases) table.push_back({c[0].c_str(), std::stoi(c[1]), c[2].c_str()});
  expectCases(table);
}

// Printing inside left and right margins. Insert mode pushes cells past the right margin: a wide
// character pushed against it, or one across it, loses both halves. Margins one column wide at
// the screen's edge leave no room for a wide character at all.
TEST(WideEdges, PrintingInsideMarginsLeavesNoHalves) {
  const Case cases[] = {
      {"\x1b[?69h\x1b[10;10s\x1b[1;10H中", 1, ".........."},
      {"\x1b[?69h\x1b[10;10s\x1b[1;10H中文", 2, ".........."},
      {"\x1b[?69h\x1b[1;6sabcd中\r\x1b[4hx", 0, "xabcd."},
      {"abcde中\x1b[?69h\x1b[1;6s\x1b[1;1H\x1b[4hx", 0, "xabcde."},
      {"\x1b[?69h\x1b[1;6sabc中\r\x1b[4h文", 0, "文_abc."},
      {"\x1b[?69h\x1b[1;6sabc中\r\x1b[4h文\x1b[4lz", 0, "文_zbc."},
  };
  expectCases(cases);
}

// A resize cuts lines at the new edge, through a wide character there: the cursor's row when the
// screen narrows (it is not reflowed), and the cells the alternate screen kept past a narrower
// edge when it widens again by less. Erasing whole lines of the narrower screen takes what it
// kept of a wide character along, so widening shows no second half.
TEST(WideEdges, ResizeCutsNoWideCharacterInHalf) {
  const struct {
    const char* stream;
    std::vector<int> widths;
    const char* between;
    const char* row0;
  } cases[] = {
      {"abcdefgh中", {9}, "", "abcdefgh."},
      {"abcdefg中x", {8}, "", "abcdefg."},
      {"\x1b[?1049habcdefgh中", {5, 9}, "", "abcdefgh."},
      {"\x1b[?1049habc中", {4, 5}, "\x1b[2K", "....."},
      {"\x1b[?1049habc中", {4, 5}, "\x1b[2J", "....."},
  };
  for (const auto& c : cases) {
    TestHost host;
    Terminal t(&host, sized(10, 4));
    t.feed(c.stream);
    for (size_t i = 0; i < c.widths.size(); ++i) {
      if (i > 0) t.feed(c.between);
      t.resize(c.widths[i], 4);
    }
    const std::string cells = cellsOf(t, 0);
    EXPECT_EQ(cells.substr(0, std::string_view(c.row0).size()), c.row0) << c.stream << c.between;
    EXPECT_EQ(loneHalves(t), "") << c.stream << c.between;
  }
}

}  // namespace
}  // namespace vantrelle
