// Lines that leave the scrollback must give their memory back: erased saved lines and lines merged
// or cut by resizes may not stay alive behind the ring, and a ring that was cut down may not keep
// the slots of its longest scrollback.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ProcessMemory.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;
using process_memory::heapBytesInUse;

constexpr int kCols = 200;
constexpr int kRows = 50;
constexpr int kScrollback = 10'000;

// Every line of the ring, weakly: what is still alive later is held by someone. (A watched line
// keeps its record, not its cells, so measure the heap once the watch is over.)
std::vector<std::weak_ptr<BufferLine>> watchLines(Terminal& t) {
  std::vector<std::weak_ptr<BufferLine>> watched;
  auto& lines = t.buffer->lines();
  for (int i = 0; i < lines.count(); i++) watched.push_back(lines[i]);
  return watched;
}

int aliveCount(const std::vector<std::weak_ptr<BufferLine>>& watched) {
  int alive = 0;
  for (const auto& line : watched) alive += !line.expired();
  return alive;
}

// The bytes the ring's lines need: their cells, a generous allowance for each line itself and the
// slots.
size_t ringBytes(Terminal& t) {
  size_t bytes = 0;
  auto& lines = t.buffer->lines();
  for (int i = 0; i < lines.count(); i++) bytes += size_t(lines[i]->capacity()) * sizeof(CharData) + 256;
  return bytes + size_t(lines.storageSize()) * sizeof(BufferLinePtr);
}

constexpr int kTextColumns = 150;

// Long lines, so narrowing and widening reflow them: every line wraps at 80 columns.
void fillScrollback(Terminal& t, int lines) {
  const std::string text(kTextColumns, 'x');
  for (int i = 0; i < lines; i++) t.feed(std::to_string(i) + text + "\r\n");
}

// The least a filled scrollback holds, its text: lines in the scrollback keep only their text,
// plain text packed to a byte a cell, so a full line's worth of cells is more than they take.
size_t filledBytes() { return size_t(kScrollback) * kTextColumns; }

class ScrollbackMemory : public ::testing::Test {
 protected:
  // The heap growth of filling the scrollback, or a skip when the allocator in use (a
  // sanitizer's) does not report to mallinfo2.
  size_t fill(Terminal& t, size_t before) {
    fillScrollback(t, kScrollback + kRows);
    const size_t grown = heapBytesInUse() - before;
    EXPECT_TRUE(t.buffer->lines().isFull());
    return grown;
  }
};

TEST_F(ScrollbackMemory, EraseSavedLinesReleasesThem) {
  TestHost host;
  Terminal t(&host, sized(kCols, kRows, kScrollback));
  const size_t before = heapBytesInUse();
  const size_t grown = fill(t, before);
  auto watched = watchLines(t);

  t.feed("\x1b[3J");
  ASSERT_EQ(t.buffer->lines().count(), kRows);
  EXPECT_EQ(aliveCount(watched), kRows);
  watched.clear();
  EXPECT_LE(t.buffer->lines().storageSize(), 4 * kRows + 128);
  if (grown < filledBytes()) GTEST_SKIP() << "the allocator does not report its use";
  EXPECT_LT(heapBytesInUse() - before, ringBytes(t) + (1u << 20)) << "filled: " << grown;
}

TEST_F(ScrollbackMemory, AFullRingScrollsWithoutGrowing) {
  TestHost host;
  Terminal t(&host, sized(kCols, kRows, 500));
  fillScrollback(t, 600);
  ASSERT_TRUE(t.buffer->lines().isFull());
  // Once more round the ring, so its text runs reach the slabs they keep turning over.
  fillScrollback(t, 600);
  const size_t before = heapBytesInUse();
  fillScrollback(t, 2000);
  // A region under a status line feeds the scrollback; one under a title line scrolls inside.
  t.feed("\x1b[1;49r\x1b[49H");
  fillScrollback(t, 2000);
  t.feed("\x1b[2;49r\x1b[49H");
  fillScrollback(t, 2000);
  EXPECT_LT(heapBytesInUse(), before + (64u << 10));
}

// The text a full ring keeps takes the room of the text it dropped: four more ring-fulls of the
// same output take no more slabs than the ring held when it first filled.
TEST_F(ScrollbackMemory, AFullRingKeepsItsTextInTheRoomItHad) {
  constexpr int ring = 20'000;
  TestHost host;
  Terminal t(&host, sized(80, 24, ring));
  auto& lines = t.buffer->lines();
  std::string output;
  for (int i = 0; i < 1000; i++) output += std::string(10 + i % 60, char('!' + i % 90)) + "\r\n";
  while (!lines.isFull()) t.feed(output);
  const int slabs = lines.textRunSlabCount();
  for (int fed = 0; fed < 4 * ring; fed += 1000) t.feed(output);
  EXPECT_LE(lines.textRunSlabCount(), slabs + slabs / 20 + 1);
}

TEST_F(ScrollbackMemory, ResizeStormKeepsOnlyTheLinesInTheRing) {
  TestHost host;
  Terminal t(&host, sized(kCols, kRows, kScrollback));
  const size_t before = heapBytesInUse();
  const size_t grown = fill(t, before);
  auto watched = watchLines(t);

  // Narrower and wider (reflow splits the long lines and joins them again), taller and shorter
  // (rows come back from the scrollback and go again).
  const int sizes[][2] = {{80, 24}, {300, 80}, {120, 40}, {60, 100}, {200, 10}, {90, 30}, {400, 60}};
  for (int pass = 0; pass < 2; pass++) {
    for (const auto& size : sizes) t.resize(size[0], size[1]);
  }
  t.resize(80, 24);

  auto& lines = t.buffer->lines();
  EXPECT_LE(aliveCount(watched), lines.count());
  watched.clear();
  EXPECT_LE(lines.storageSize(), 4 * lines.count() + 128);
  if (grown < filledBytes()) GTEST_SKIP() << "the allocator does not report its use";
  EXPECT_LT(heapBytesInUse() - before, ringBytes(t) + (1u << 20)) << "filled: " << grown;
}

}  // namespace
}  // namespace vantrelle
