#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

// Text over one half of a wide character leaves no half of it behind, whichever way the bytes
// arrive: whole (runs straight into the row, staged runs, ASCII runs), in small pieces, or a byte
// at a time (cell by cell).
TEST(WideHalves, TextOverOneHalfBlanksTheOther) {
  const struct {
    const char* stream;
    int row;
    const char* cells;
  } cases[] = {
      // A narrow character over the left half, then over the right half.
      {"中文\ra", 0, "a.文_"},
      {"中文\x1b[1;2Ha", 0, ".a文_"},
      {"中文\x1b[1;2Hé", 0, ".é文_"},
      // ASCII across the middle of two wide characters, and a wide one across their halves.
      {"中文字\x1b[1;2Hab", 0, ".ab.字_"},
      {"中文\x1b[1;2H字", 0, ".字_."},
      {"中文字\x1b[1;2H字ü", 0, ".字_ü字_"},
      // Wide text over wide text shifted by one, ending on a first half.
      {"中文字\x1b[1;2H字字", 0, ".字_字_."},
      // The first cells after a wrap.
      {"\x1b[2;1H中文\x1b[1;9Habc", 1, "c.文_"},
      {"\x1b[2;1H中文\x1b[1;10Haé", 1, "é.文_"},
      // Inside left and right margins, where runs are staged before they reach the row.
      {"\x1b[?69h\x1b[1;8s中文\x1b[1;2Hé", 0, ".é文_"},
      {"\x1b[?69h\x1b[1;8s中文\x1b[1;2Hab", 0, ".ab."},
      // In insert mode the shifted second half is cut from its first as well.
      {"中文\x1b[4h\x1b[1;2Ha", 0, ".a.文_"},
      // Repeating a character over a first half.
      {"中文\rx\x1b[2b", 0, "xxx."},
      // An emoji selector widening a cell over the first half of its neighbour.
      {"x中\r\xe2\x9c\x8c\xef\xb8\x8f", 0, "\xe2\x9c\x8c\xef\xb8\x8f_."},
      // A text selector narrowing a wide cell leaves no second half behind.
      {"\xe2\x8c\x9a\xef\xb8\x8e", 0, "\xe2\x8c\x9a\xef\xb8\x8e.."},
  };
  for (const auto& c : cases) {
    const std::string stream = c.stream;
    TestHost host;
    auto check = [&](const std::vector<size_t>& cuts, const std::string& how) {
      Terminal t(&host, sized(10, 4));
      size_t at = 0;
      for (size_t cut : cuts) {
        t.feed(std::string_view(stream).substr(at, cut - at));
        at = cut;
      }
      t.feed(std::string_view(stream).substr(at));
      const std::string cells = cellsOf(t, c.row, 10);
      EXPECT_EQ(cells.substr(0, std::string_view(c.cells).size()), c.cells) << how << ": " << stream;
    };
    check({}, "whole");
    std::vector<size_t> bytes, pieces;
    for (size_t i = 1; i < stream.size(); ++i) bytes.push_back(i);
    for (size_t i = 3; i < stream.size(); i += 3) pieces.push_back(i);
    check(bytes, "byte by byte");
    check(pieces, "in pieces of three bytes");
  }
}

// Inserting or deleting characters inside a wide character, or shifting one against the margin,
// leaves neither half alone.
TEST(WideHalves, InsertAndDeleteCharactersPartNoHalves) {
  const struct {
    const char* stream;
    const char* cells;
  } cases[] = {
      {"中文字\x1b[1;2H\x1b[@", "...文_字_"},
      {"中文字\x1b[1;2H\x1b[2@", "....文_字_"},
      {"abcdefgh中\r\x1b[@", ".abcdefgh."},
      {"中文字\x1b[1;2H\x1b[P", ".文_字_"},
      {"中文字\x1b[1;3H\x1b[P", "中_.字_"},
      {"中文字\x1b[1;2H\x1b[9P", ".........."},
      // A wide character on the right margin loses its second half to cells pushed past it.
      {"\x1b[?69h\x1b[1;6sab中\x1b[1;5H文\r\x1b[@", ".ab中_."},
      {"\x1b[?69h\x1b[1;5sabcd\x1b[?69l\x1b[1;5H中\x1b[?69h\x1b[1;5s\r\x1b[P", "bcd..."},
  };
  for (const auto& c : cases) {
    TestHost host;
    Terminal t(&host, sized(10, 4));
    t.feed(c.stream);
    const std::string cells = cellsOf(t, 0, 10);
    EXPECT_EQ(cells.substr(0, std::string_view(c.cells).size()), c.cells) << c.stream;
  }
}

// The blank is the one erasing the cut-off half leaves: the background of the rendition, no style.
TEST(WideHalves, TheBlankIsWhatAnEraseLeaves) {
  TestHost host;
  Terminal printed(&host, sized(10, 4));
  printed.feed("\x1b[4;33m中文\x1b[1;2H\x1b[0;1;3;41;32mab");
  Terminal erased(&host, sized(10, 4));
  erased.feed("\x1b[4;33m中文\x1b[1;2H\x1b[0;1;3;41;32m\x1b[2X");
  for (int col : {0, 3}) {
    const CharData& blank = (*printed.getLine(0))[col];
    EXPECT_EQ(blank.width, 1) << col;
    EXPECT_EQ(blank.code, 0) << col;
    EXPECT_EQ(blank.attribute(), (*erased.getLine(0))[col].attribute()) << col;
  }
}

}  // namespace
}  // namespace vantrelle
