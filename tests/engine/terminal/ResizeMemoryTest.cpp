// A resize leaves the ring holding cells for the width it has now, and while it runs builds no
// more rows than the ring can keep: a long scrollback narrowed to a sliver must not take the
// memory of every piece its lines would make, nor keep the memory of its old width.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ProcessMemory.h"
#include "engine/support/HeapPeak.h"
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

// A reflow lays its rows out one after another: a row takes a block while its text moves in, and
// goes back into a run as soon as it is laid out above the screen, so the whole re-layout holds
// little more than the ring holds before and after it: less than a quarter of what the filled
// ring's rows take stored whole (packed, they take a tenth of that). A line joined over thousands
// of rows took a block of the new width for each at once, and a line split into thousands of
// pieces took a block for every piece before the first went back: as much as the rows stored
// whole, or more.
TEST(ResizeMemory, AReflowHoldsLittleMoreThanTheRingAtItsPeak) {
  constexpr int scrollback = 20'000;
  std::string oneLine;
  for (int i = 0; oneLine.size() < size_t(scrollback) * 80; i++) oneLine += std::to_string(i) + ",";
  struct Case {
    const char* name;
    const std::string& text;
    std::vector<std::pair<int, int>> sizes;
  };
  const std::string lines = numberedLines(scrollback / 2, 150);
  const Case cases[] = {
      {"one line, widened", oneLine, {{2000, 1000}}},
      {"one line, narrowed a column", oneLine, {{79, 24}}},
      {"one line, widened and narrowed", oneLine, {{2000, 1000}, {79, 24}, {2000, 24}}},
      {"wrapped lines, widened and narrowed", lines, {{2000, 24}, {79, 24}}},
      {"wrapped lines, to a sliver and back", lines, {{2, 1}, {80, 24}}},
  };
  for (const Case& c : cases) {
    TestHost host;
    Terminal t(&host, sized(80, 24, scrollback));
    t.feed(c.text);
    const int64_t whole = int64_t(t.buffer->lines().count()) * t.cols * int64_t(sizeof(CharData));
    for (const auto& [cols, rows] : c.sizes) {
      const int64_t start = heapBytesHeld();
      const HeapPeak peak;
      t.resize(cols, rows);
      const int64_t kept = std::max<int64_t>(heapBytesHeld() - start, 0);
      EXPECT_LE(peak.bytes() - kept, whole / 4) << c.name << ", to " << cols << "x" << rows << ": " << peak.bytes()
                                                << " bytes at the peak, " << kept << " kept";
    }
  }
}

// Fills a 50,000-row scrollback with lines of `length` characters, resizes it through a very wide
// screen and a sliver and back, and exits with 0 when the resident memory the process gained is
// then within 1.5 times what the filled scrollback took, or what its rows take stored whole where
// that is more: packed, they take a tenth of that, less than the way through a sliver needs.
[[noreturn]] void stormAndMeasure(int length) {
  constexpr int rows = 50'000;
  const int64_t base = int64_t(process_memory::residentBytes());
  TestHost host;
  Terminal t(&host, sized(80, 24, rows));
  t.feed(numberedLines(rows / ((length + 79) / 80) + 24, length));
  const int64_t before = int64_t(process_memory::residentBytes()) - base;
  for (const auto& [cols, height] : {std::pair{2000, 1000}, {1, 1}, {2000, 1000}, {1, 1}, {80, 24}})
    t.resize(cols, height);
  const int64_t after = int64_t(process_memory::residentBytes()) - base;
  std::fprintf(stderr, "resident memory gained: %lld bytes filled, %lld after the storm\n", (long long)before,
               (long long)after);
  const int64_t whole = int64_t(rows) * 80 * int64_t(sizeof(CharData));
  _exit(after <= std::max(before + before / 2, whole) ? 0 : 1);
}

// A storm of resizes through 2000x1000 and 1x1 left the process holding the memory of its worst
// moment, a block as wide as the screen for every joined line: the heap kept the pages of the
// lines it freed, scattered between those it made.
TEST(ResizeMemory, AStormOfResizesGivesItsMemoryBack) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the sanitizer's allocator keeps freed memory on purpose";
#endif
#endif
  // A fresh process, whose heap holds nothing of the tests before.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(stormAndMeasure(150), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vantrelle
