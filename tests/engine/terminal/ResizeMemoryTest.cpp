// A resize leaves the ring holding cells for the width it has now, and while it runs builds no
// more rows than the ring can keep: a long scrollback narrowed to a sliver must not take the
// memory of every piece its lines would make, nor keep the memory of its old width.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

// Numbered lines of `length` characters: each one's text can be told from every other's.
std::string numberedLines(int lines, int length) {
  std::string out;
  for (int i = 0; i < lines; i++) {
    std::string line = std::to_string(i) + ":";
    while (int(line.size()) < length) line += char('a' + (i + int(line.size())) % 26);
    out += line + "\r\n";
  }
  return out;
}

int64_t cellCapacity(Terminal& t) {
  int64_t cells = 0;
  auto& lines = t.buffer->lines();
  for (int i = 0; i < lines.count(); i++) cells += lines[i]->capacity();
  return cells;
}

TEST(ResizeMemory, TheRingHoldsCellsForItsNewWidthOnly) {
  struct Case {
    int cols, rows, length, newCols, newRows;
  };
  const Case cases[] = {
      {200, 50, 150, 80, 24},   // each line cut in two
      {80, 24, 60, 2, 24},      // into thirty pieces
      {2000, 100, 40, 1, 1},    // a very wide screen to a single cell
      {300, 24, 250, 120, 24},  // wider lines than the slabs take
  };
  for (const Case& c : cases) {
    TestHost host;
    Terminal t(&host, sized(c.cols, c.rows, 3000));
    t.feed(numberedLines(3000, c.length));
    t.resize(c.newCols, c.newRows);
    const int64_t shown = int64_t(t.buffer->lines().count()) * c.newCols;
    EXPECT_LE(cellCapacity(t), 2 * shown) << c.cols << " to " << c.newCols;
  }
}

TEST(ResizeMemory, NarrowingBuildsOnlyTheRowsTheRingKeeps) {
  constexpr int scrollback = 2000;
  std::string oneLine;
  for (int i = 0; oneLine.size() < size_t(scrollback) * 100; i++) oneLine += std::to_string(i) + ",";
  const std::string outputs[] = {
      numberedLines(scrollback + 24, 60),  // many lines, each split in thirty
      oneLine + "\r\n",                    // one line wrapped over more rows than the ring holds
  };
  for (const std::string& text : outputs) {
    TestHost host;
    Terminal t(&host, sized(80, 24, scrollback));
    t.feed(text);
    t.feed("$ ");
    auto& lines = t.buffer->lines();
    const int64_t made = lines.linesMade();
    t.resize(2, 24);
    EXPECT_LE(lines.linesMade() - made, lines.maxLength() + 24);
    ASSERT_EQ(lines.count(), lines.maxLength());
    EXPECT_LE(t.buffer->yBase + 24, lines.count());

    // What the ring keeps is the end of the text, in two-column pieces, each line starting a row.
    std::string kept, expected;
    for (int i = 0; i < lines.count(); i++) {
      if (!lines[i]->isWrapped()) kept += '\n';
      EXPECT_LE(lines[i]->count(), 2);
      kept += lines[i]->translateToString(true);
    }
    for (char c : text + "$ ") {
      if (c == '\n') continue;
      expected += c == '\r' ? '\n' : c;
    }
    ASSERT_LT(kept.size(), expected.size());
    EXPECT_EQ(kept, expected.substr(expected.size() - kept.size()));
  }
}

// A ring too short for every piece keeps the rows a long enough one ends with, wide characters
// and the gaps they leave included.
TEST(ResizeMemory, AShortRingKeepsTheEndOfWhatALongOneHolds) {
  std::string wide, mixed;
  for (int i = 0; i < 3000; i++) wide += "\xe6\x97\xa5";  // U+65E5, two columns each
  for (int i = 0; i < 400; i++) mixed += "ab\xe6\x97\xa5" + std::to_string(i) + (i % 7 == 0 ? "\r\n" : "");
  const std::string outputs[] = {wide + "\r\n", mixed + "\r\n", numberedLines(300, 70)};
  for (const std::string& text : outputs) {
    for (int newCols : {1, 2, 3, 5}) {
      TestHost host;
      Terminal shortRing(&host, sized(80, 24, 100));
      Terminal longRing(&host, sized(80, 24, 100'000));
      for (Terminal* t : {&shortRing, &longRing}) {
        t->feed(text);
        t->feed("$ ");
        t->resize(newCols, 24);
      }
      const int kept = shortRing.buffer->lines().count();
      const auto all = ringLinesText(longRing, longRing.buffer->lines().count());
      ASSERT_GE(int(all.size()), kept);
      EXPECT_EQ(ringLinesText(shortRing, kept), std::vector<std::string>(all.end() - kept, all.end()))
          << "at " << newCols << " columns";
    }
  }
}

// Lines joined or split by a reflow take the cells of their text, as lines that scrolled into the
// scrollback do: a row of the scrollback short of the width keeps only its text, and the whole
// ring no more than its text beside the screen's rows. A joined line took a block as wide as the
// new width, 2,000 cells for 150 characters, and a row split from a longer one a block of the
// full width, so a storm of resizes through a very wide screen took a hundred times the memory.
TEST(ResizeMemory, RowsLaidOutByAReflowTakeTheCellsOfTheirText) {
  struct Case {
    const char* name;
    int length;
    std::vector<std::pair<int, int>> sizes;
  };
  const Case cases[] = {
      {"widened far", 150, {{2000, 24}}},
      {"widened a little", 150, {{200, 24}}},
      {"narrowed a column", 150, {{79, 24}}},
      {"widened after a first round", 150, {{200, 24}, {80, 24}, {200, 24}}},
      {"a storm", 150, {{2000, 1000}, {1, 1}, {2000, 1000}, {1, 1}, {80, 24}}},
      {"short lines through a storm", 58, {{2000, 1000}, {1, 1}, {2000, 1000}, {80, 24}}},
  };
  for (const Case& c : cases) {
    TestHost host;
    Terminal t(&host, sized(80, 24, 6000));
    t.feed(numberedLines(3000, c.length));
    for (const auto& [cols, rows] : c.sizes) {
      t.resize(cols, rows);
      const std::string where = std::string(c.name) + ", at " + std::to_string(cols) + "x" + std::to_string(rows);
      auto& lines = t.buffer->lines();
      int64_t text = 0;
      int wholeRows = 0;
      for (int i = 0; i < lines.count(); i++) {
        const BufferLine& line = *lines[i];
        text += line.getTrimmedLength();
        wholeRows += i < t.buffer->yBase && line.getTrimmedLength() < t.cols && !line.isCompact();
      }
      EXPECT_EQ(wholeRows, 0) << where << ": rows of the scrollback with cells past their text";
      EXPECT_LE(cellCapacity(t), text + int64_t(t.rows) * t.cols + lines.count()) << where;
    }
  }
}

}  // namespace
}  // namespace vantrelle
