#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "BufferTestSupport.h"

namespace vantrelle {
namespace {

using buffertest::installScroll;
using buffertest::rowTable;
using Rows = std::vector<std::string>;

const Attribute plain = CharData::Null.attribute();

// Loads rows into an emptied buffer: "+" starts a wrapped continuation, "|" a fresh line; the
// rest is printed one cell per character (wide characters take two). The screen shows the last
// `rows` lines, and the cursor sits on the given screen row.
void load(Buffer& buffer, const std::vector<std::u32string>& rows, int cursorY) {
  buffer.clear();
  installScroll(buffer);
  for (const auto& row : rows) {
    auto line = std::make_shared<BufferLine>(buffer.cols(), std::nullopt, row[0] == U'+');
    int col = 0;
    for (char32_t c : row.substr(1)) {
      int width = UnicodeUtil::columnWidth(c);
      line->set(col++, CharData(int32_t(c), int8_t(width), plain));
      if (width == 2) line->set(col++, CharData(0, 0, plain));
    }
    buffer.lines().push(line);
  }
  buffer.yBase = std::max(buffer.lines().count() - buffer.rows(), 0);
  buffer.yDisp = buffer.yBase;
  buffer.y = cursorY;
  buffer.x = 0;
}

void expectValid(Buffer& buffer, const std::string& where) {
  auto& lines = buffer.lines();
  EXPECT_LE(lines.count(), lines.maxLength()) << where;
  EXPECT_GE(buffer.yBase, 0) << where;
  EXPECT_LE(int(buffer.yDisp), buffer.yBase) << where;
  EXPECT_LT(buffer.yBase + buffer.y, lines.count()) << where;
  EXPECT_LE(buffer.yBase + buffer.rows(), lines.count()) << where;
  EXPECT_EQ(int(buffer.scrollBottom), buffer.rows() - 1) << where;
  EXPECT_EQ(int(buffer.tabStops.size()), buffer.cols()) << where;
  for (int i = 0; i < lines.count(); i++) ASSERT_GE(lines[i]->count(), buffer.cols()) << where << " row " << i;
}

TEST(Reflow, WideningJoinsAndNarrowingSplitsBack) {
  Buffer buffer(10, 5, 8, 20);
  load(buffer, {U"|abcdefghij", U"+klmno", U"|x", U"|", U"|"}, 3);
  buffer.savedY = 4;
  const Rows before = rowTable(buffer);

  buffer.resize(20, 5);
  EXPECT_EQ(rowTable(buffer), (Rows{"|abcdefghijklmno", "|x", "|", "|", "|"}));
  EXPECT_EQ(int(buffer.y), 2);  // the rows below moved up one, and the cursor with them
  EXPECT_EQ(buffer.savedY, 3);
  expectValid(buffer, "wider");

  buffer.resize(10, 5);
  EXPECT_EQ(rowTable(buffer), before);
  EXPECT_EQ(int(buffer.y), 3);
  EXPECT_EQ(buffer.savedY, 4);
  expectValid(buffer, "narrower again");
}

TEST(Reflow, PartialWideningKeepsAContinuation) {
  Buffer buffer(8, 4, 8, 20);
  load(buffer, {U"|abcdefgh", U"+ijkl", U"|", U"|"}, 3);
  buffer.resize(10, 4);
  EXPECT_EQ(rowTable(buffer), (Rows{"|abcdefghij", "+kl", "|", "|"}));
  EXPECT_EQ(int(buffer.y), 3);
}

TEST(Reflow, WideningWithScrollbackMovesTheViewUp) {
  Buffer buffer(10, 3, 8, 20);
  load(buffer, {U"|old", U"|abcdefghij", U"+klm", U"|x", U"|y"}, 2);
  ASSERT_EQ(buffer.yBase, 2);
  buffer.resize(20, 3);
  EXPECT_EQ(rowTable(buffer), (Rows{"|old", "|abcdefghijklm", "|x", "|y"}));
  EXPECT_EQ(buffer.yBase, 1);
  EXPECT_EQ(int(buffer.yDisp), 1);
  EXPECT_EQ(int(buffer.y), 2);
  expectValid(buffer, "wider with scrollback");
}

TEST(Reflow, WideCharactersMoveWhole) {
  Buffer buffer(10, 4, 8, 20);
  // Narrowing: the wide character would straddle column 5, so that row is a cell shorter.
  load(buffer, {U"|abcd\u4e00xy", U"|", U"|", U"|"}, 2);
  buffer.resize(5, 4);
  EXPECT_EQ(rowTable(buffer), (Rows{"|abcd", "+\u4e00xy", "|", "|"}));
  EXPECT_EQ((*buffer.lines()[0])[4], CharData::Null);
  EXPECT_EQ(int(buffer.y), 3);
  // Widening back joins the rows without the gap.
  buffer.resize(10, 4);
  EXPECT_EQ(rowTable(buffer), (Rows{"|abcd\u4e00xy", "|", "|", "|"}));
  EXPECT_EQ(int(buffer.y), 2);

  // Widening so a wide character would end on the last column: it starts the next row instead.
  Buffer narrow(4, 3, 8, 20);
  load(narrow, {U"|abcd", U"+\u4e00ef", U"|"}, 2);
  narrow.resize(5, 3);
  EXPECT_EQ(rowTable(narrow), (Rows{"|abcd", "+\u4e00ef", "|"}));
  EXPECT_EQ((*narrow.lines()[0])[4], CharData::Null);
  EXPECT_EQ((*narrow.lines()[1])[0].width, 2);
}

TEST(Reflow, GroupsHoldingTheCursorMoveWithIt) {
  Buffer buffer(10, 4, 8, 20);
  load(buffer, {U"|abcdefghij", U"+klmno", U"|", U"|"}, 1);
  buffer.resize(20, 4);
  EXPECT_EQ(rowTable(buffer), (Rows{"|abcdefghijklmno", "|", "|", "|"}));
  EXPECT_EQ(int(buffer.y), 0);
  EXPECT_EQ(int(buffer.x), 10);  // still on the k
  load(buffer, {U"|abcdefghijklmno", U"|", U"|", U"|"}, 0);
  buffer.resize(10, 4);
  EXPECT_EQ(rowTable(buffer), (Rows{"|abcdefghij", "+klmno", "|", "|"}));
  EXPECT_EQ(int(buffer.y), 0);
  expectValid(buffer, "cursor's group");
}

TEST(Reflow, NarrowingAFullRingDropsOnlyTheOldestLines) {
  Buffer buffer(10, 3, 8, 2);
  load(buffer, {U"|aaaaaaaaaa", U"|bbb", U"|cccccccccc", U"|ddd", U"|e"}, 2);
  ASSERT_TRUE(buffer.lines().isFull());
  buffer.resize(5, 3);
  EXPECT_EQ(rowTable(buffer), (Rows{"|bbb", "|ccccc", "+ccccc", "|ddd", "|e"}));
  EXPECT_EQ(buffer.yBase, 2);
  EXPECT_EQ((*buffer.lines()[buffer.yBase + buffer.y])[0].code, 'e');
  expectValid(buffer, "full ring");

  // The added row lies below the lines that fall off: only the rows under it move.
  Buffer below(10, 3, 8, 2);
  load(below, {U"|aaa", U"|bbb", U"|cccccccccc", U"|ddd", U"|e"}, 2);
  below.resize(5, 3);
  EXPECT_EQ(rowTable(below), (Rows{"|bbb", "|ccccc", "+ccccc", "|ddd", "|e"}));
  EXPECT_EQ(below.yBase, 2);
  expectValid(below, "full ring, added row below the dropped ones");
}

// With no room left in the ring, the rows a narrower screen adds push the oldest lines out; the
// screen must still end on the ring's last line, and the cursor stay on its text.
TEST(Reflow, NarrowingWithoutScrollbackRoomKeepsTheScreenInsideTheRing) {
  Buffer buffer(17, 4, 8, 0);
  load(buffer, {U"|aaaaaaaaaaaaaaaaa", U"+bbbbbbbbbbbbbbbbb", U"+ccccccccccc", U"|cursor"}, 3);
  buffer.resize(10, 5);
  expectValid(buffer, "no room");
  EXPECT_EQ(rowTable(buffer)[size_t(buffer.yBase + buffer.y)], "|cursor");
  EXPECT_EQ(rowTable(buffer), (Rows{"+aaaaaaabbb", "+bbbbbbbbbb", "+bbbbcccccc", "+ccccc", "|cursor"}));
}

// A layout with fewer rows than the group (rows ending in wide-character gaps, an empty last
// row) used to copy from past the group's end.
TEST(Reflow, LayoutShorterThanItsGroupIsLeftAlone) {
  Buffer buffer(4, 4, 8, 20);
  load(buffer, {U"|abc", U"+\u4e00d", U"+", U"|"}, 3);
  // The last row's first cell is an empty wide cell: no text, but the row before ends in a gap.
  buffer.lines()[2]->set(0, CharData(0, 2, plain));
  buffer.resize(3, 4);
  EXPECT_EQ(rowTable(buffer), (Rows{"|abc", "+\u4e00d", "+", "|"}));
  expectValid(buffer, "short layout");
}

TEST(Reflow, AlternateBufferIsNeitherReflowedNorCut) {
  Buffer alternate(10, 3, 8);
  load(alternate, {U"|abcdefghij", U"|klm", U"|"}, 2);
  alternate.resize(4, 3);
  EXPECT_EQ(alternate.lines()[0]->count(), 10);
  alternate.resize(10, 3);
  EXPECT_EQ(rowTable(alternate), (Rows{"|abcdefghij", "|klm", "|"}));
}

std::vector<std::u32string> numberedRows(int n) {
  std::vector<std::u32string> rows;
  for (int i = 0; i < n; i++) {
    std::u32string row = U"|";
    for (char c : std::to_string(i)) row += char32_t(c);
    rows.push_back(row);
  }
  return rows;
}

TEST(Resize, GrowingRowsBringsScrollbackBack) {
  Buffer buffer(10, 24, 8, 100);
  load(buffer, numberedRows(34), 23);
  buffer.resize(10, 30);
  EXPECT_EQ(buffer.yBase, 4);
  EXPECT_EQ(int(buffer.y), 29);
  EXPECT_EQ(buffer.lines().count(), 34);
  EXPECT_EQ(rowTable(buffer)[size_t(buffer.yBase + buffer.y)], "|33");

  Buffer shortHistory(10, 24, 8, 100);
  load(shortHistory, numberedRows(27), 23);
  shortHistory.resize(10, 30);
  EXPECT_EQ(shortHistory.yBase, 0);
  EXPECT_EQ(int(shortHistory.y), 26);
  EXPECT_EQ(shortHistory.lines().count(), 30);  // three blank rows were added at the bottom
  EXPECT_EQ(rowTable(shortHistory)[26], "|26");
  expectValid(shortHistory, "grown");
}

TEST(Resize, ShrinkingRowsKeepsTheCursorLine) {
  Buffer buffer(10, 24, 8, 100);
  load(buffer, numberedRows(24), 23);
  buffer.resize(10, 20);
  EXPECT_EQ(buffer.yBase, 4);  // top rows went into the scrollback
  EXPECT_EQ(rowTable(buffer)[size_t(buffer.yBase + buffer.y)], "|23");

  Buffer above(10, 24, 8, 100);
  std::vector<std::u32string> rows = numberedRows(8);
  rows.resize(24, U"|");
  load(above, rows, 5);
  above.resize(10, 20);
  EXPECT_EQ(above.yBase, 0);  // blank rows below the cursor were removed instead
  EXPECT_EQ(above.lines().count(), 20);
  EXPECT_EQ(int(above.y), 5);

  // Rows of text below the cursor stay: the top rows go into the scrollback instead, and what
  // cannot go there stays below the screen.
  for (const auto& [cursorY, yBase, count] : {std::tuple{5, 4, 24}, std::tuple{2, 2, 24}}) {
    Buffer text(10, 24, 8, 100);
    load(text, numberedRows(24), cursorY);
    text.resize(10, 20);
    EXPECT_EQ(text.yBase, yBase) << cursorY;
    EXPECT_EQ(text.lines().count(), count) << cursorY;
    EXPECT_EQ(rowTable(text)[size_t(text.yBase + text.y)].substr(1), std::to_string(cursorY)) << cursorY;
    expectValid(text, "text below the cursor");
  }
}

TEST(Resize, SmallerCapacityDropsTheOldestLines) {
  Buffer buffer(10, 5, 8, 2);
  load(buffer, numberedRows(7), 4);
  buffer.savedY = 1;
  buffer.resize(10, 3);
  EXPECT_EQ(buffer.lines().maxLength(), 5);
  EXPECT_EQ(rowTable(buffer), (Rows{"|2", "|3", "|4", "|5", "|6"}));
  EXPECT_EQ(buffer.yBase, 2);
  EXPECT_EQ(int(buffer.yDisp), 2);
  EXPECT_EQ(buffer.savedY, 0);
  EXPECT_EQ(rowTable(buffer)[size_t(buffer.yBase + buffer.y)], "|6");
}

TEST(Resize, MarginsFollowANarrowerScreen) {
  Buffer buffer(20, 5, 8, 0);
  buffer.fillViewportRows();
  buffer.marginLeft = 15;
  buffer.marginRight = 18;
  buffer.resize(10, 5);
  EXPECT_EQ(buffer.marginRight, 9);
  EXPECT_EQ(buffer.marginLeft, 9);
  buffer.resize(30, 5);
  EXPECT_EQ(buffer.marginRight, 9);  // never widened
}

// Arbitrary text and resizes must keep the buffer's positions inside its ring and every line
// at least as wide as the screen.
TEST(Resize, RandomResizesKeepTheBufferConsistent) {
  std::mt19937 random(1234);
  const char32_t alphabet[] = {U'a', U'b', U' ', U'\u4e00', U'\u00e9', U'\U0001F600'};
  for (int round = 0; round < 200; round++) {
    int cols = int(random() % 30) + 2;
    int rows = int(random() % 10) + 1;
    std::optional<int> scrollback;
    if (round % 4 != 3) scrollback = int(random() % 20);
    Buffer buffer(cols, rows, 8, scrollback);
    buffertest::prepare(buffer);
    for (int step = 0; step < 30; step++) {
      std::u32string text;
      for (int n = int(random() % 50); n > 0; n--) text += alphabet[random() % std::size(alphabet)];
      buffertest::printCells(buffer, text, plain);
      if (random() % 3 == 0) {
        buffer.x = 0;
        if (buffer.y == buffer.scrollBottom)
          buffer.scroll(false);
        else
          buffer.y += 1;
      }
      int newCols = int(random() % 30) + 2;
      int newRows = int(random() % 10) + 1;
      buffer.resize(newCols, newRows);
      buffer.setupTabStops(-1, 8);
      expectValid(buffer, "round " + std::to_string(round) + " step " + std::to_string(step));
      if (testing::Test::HasFatalFailure()) return;
    }
  }
}

}  // namespace
}  // namespace vantrelle
