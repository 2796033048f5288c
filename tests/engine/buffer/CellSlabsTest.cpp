#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <vector>

#include "Vantrelle/Buffer/CircularBufferLineList.h"

namespace vantrelle {
namespace {

const CharData letterX('x', 1, Attribute::empty);

TEST(CellSlabs, ReturnedBlocksAreReusedAndEmptySlabsGoBack) {
  CellSlabs pool(80);
  std::vector<BufferLine::CellBlock> blocks;
  while (pool.slabCount() < 3) blocks.push_back(BufferLine::cellsFrom(pool));
  const size_t perSlab = (blocks.size() - 1) / 2;
  blocks.resize(perSlab * 2);  // the third slab is empty again: kept as the spare
  EXPECT_EQ(pool.slabCount(), 3);
  for (size_t i = 0; i < perSlab; i++) blocks.push_back(BufferLine::cellsFrom(pool));
  EXPECT_EQ(pool.slabCount(), 3);  // the spare took them
  blocks.erase(blocks.begin(), blocks.begin() + std::ptrdiff_t(perSlab / 2));
  blocks.push_back(BufferLine::cellsFrom(pool));
  EXPECT_EQ(pool.slabCount(), 3);  // a freed block is taken before any new slab
  blocks.clear();
  EXPECT_EQ(pool.slabCount(), 1);
}

TEST(CellSlabs, LinesOutliveTheRingThatMadeThem) {
  BufferLinePtr kept, scrolledIn;
  {
    CircularBufferLineList ring(10);
    for (int i = 0; i < 5; i++) ring.push(ring.makeLine(80, CharData::Null));
    for (int i = 0; i < 5; i++) ring.push(ring.makeCopy(*ring[0]));
    kept = ring[3];
    kept->set(5, letterX);
    scrolledIn = ring[7];  // its record, too, is carved from the ring's slabs
  }
  EXPECT_EQ((*kept)[5], letterX);
  kept->fill(letterX);
  kept.reset();  // gives the block to a slab whose pool is gone
  scrolledIn->set(79, letterX);
  EXPECT_EQ((*scrolledIn)[79], letterX);
  scrolledIn.reset();
}

TEST(CellSlabs, SurvivorsOfACutRingMoveToFreshSlabs) {
  CircularBufferLineList ring(4000);
  for (int i = 0; i < 4000; i++) {
    ring.push(ring.makeLine(80, CharData::Null));
    ring[i]->set(0, CharData('a' + i % 26, 1, Attribute::empty));
  }
  const int slabsFull = ring.cellSlabCount();
  // Gather one line of every 80 at the end, as inserted and deleted rows scatter a screen.
  std::vector<BufferLine*> survivors;
  for (int i = 0; i < 50; i++) {
    survivors.push_back(ring[i * 80 - i].get());
    ring.rotate(i * 80 - i, ring.count() - 1, true);
  }
  ring.trimStart(ring.count() - 50);
  ASSERT_EQ(ring.count(), 50);
  EXPECT_LT(ring.cellSlabCount(), 4) << "held " << slabsFull << " when full";
  for (int i = 0; i < 50; i++) {
    EXPECT_EQ(ring[i].get(), survivors[size_t(i)]);
    EXPECT_EQ((*ring[i])[0].code, 'a' + (i * 80) % 26);
  }
}

TEST(CellSlabs, RingLinesShareSlabsForTheirRecordsAndGiveThemBack) {
  constexpr int lines = 3000;
  CircularBufferLineList ring(lines);
  const BufferLine blank(80);
  for (int i = 0; i < lines; i++) ring.push(ring.makeCopy(blank));
  // A few hundred records fill a slab; one heap block each would leave the pool none.
  const int slabs = ring.recordSlabCount();
  EXPECT_GE(slabs, 3);
  EXPECT_LE(slabs, 10);
  ring.trimStart(lines - 10);
  EXPECT_LE(ring.recordSlabCount(), 3) << "emptied slabs go back";
  for (int i = 10; i < lines; i++) ring.push(ring.makeCopy(*ring[0]));
  EXPECT_LE(ring.recordSlabCount(), slabs + 1);
  ring.setCount(0);
  EXPECT_EQ(ring.recordSlabCount(), 1) << "only the spare is left";
}

// Large slabs from the ordinary heap, so the sanitizers see them, counted by the test.
struct CountedRegions {
  static inline std::set<void*> live;
  static inline bool exhausted = false;
  static void* allocate(size_t bytes) {
    if (exhausted) return nullptr;
    void* region = ::operator new(bytes, std::align_val_t(4096));
    live.insert(region);
    return region;
  }
  static void release(void* region, size_t) {
    EXPECT_EQ(live.erase(region), 1u) << "released a region it was not given, or twice";
    ::operator delete(region, std::align_val_t(4096));
  }
};

class LargeCellSlabs : public ::testing::Test {
 protected:
  static constexpr size_t regionBytes = 256u << 10;
  const SlabMemory memory{regionBytes, CountedRegions::allocate, CountedRegions::release};
  void SetUp() override {
    CountedRegions::live.clear();
    CountedRegions::exhausted = false;
    CellSlabs::useLargeSlabMemory(&memory);
  }
  void TearDown() override {
    CellSlabs::useLargeSlabMemory(nullptr);
    EXPECT_TRUE(CountedRegions::live.empty()) << "regions left behind";
  }
  // Takes blocks until `done`, writing each whole as a line would.
  template <class Done>
  static void fill(CellSlabs& pool, std::vector<BufferLine::CellBlock>& blocks, Done done) {
    while (!done()) {
      blocks.push_back(BufferLine::cellsFrom(pool));
      std::memset(static_cast<void*>(blocks.back().get()), 0x5a, size_t(pool.cols()) * sizeof(CharData));
    }
  }
};

TEST_F(LargeCellSlabs, AGrowingPoolMovesToRegionsAndGivesThemBack) {
  const size_t blockBytes = 200 * sizeof(CharData);
  const size_t perRegion = (regionBytes - 128) / blockBytes;
  std::vector<BufferLine::CellBlock> blocks;
  {
    CellSlabs pool(200);
    fill(pool, blocks, [&] { return blocks.size() * blockBytes > regionBytes * 3 / 4; });
    EXPECT_EQ(pool.largeSlabCount(), 0) << "a small scrollback stays on heap slabs";
    fill(pool, blocks, [&] { return pool.largeSlabCount() == 3; });
    EXPECT_EQ(CountedRegions::live.size(), 3u);
    EXPECT_GE(blocks.size(), regionBytes / blockBytes + 2 * perRegion) << "regions are filled";
    // Emptying the two newest regions frees one and keeps the other as the spare.
    blocks.resize(blocks.size() - 1 - perRegion);
    EXPECT_EQ(CountedRegions::live.size(), 2u);
    EXPECT_EQ(pool.largeSlabCount(), 2);
  }
  EXPECT_FALSE(CountedRegions::live.empty()) << "blocks still in use keep their region";
  blocks.clear();
}

TEST_F(LargeCellSlabs, WithoutFittingRegionsThePoolKeepsToTheHeap) {
  std::vector<BufferLine::CellBlock> blocks;
  CountedRegions::exhausted = true;
  CellSlabs pool(80);
  fill(pool, blocks, [&] { return blocks.size() * 80 * sizeof(CharData) > 3 * regionBytes; });
  EXPECT_EQ(pool.largeSlabCount(), 0);
  CountedRegions::exhausted = false;
  const SlabMemory small{8u << 10, CountedRegions::allocate, CountedRegions::release};
  CellSlabs::useLargeSlabMemory(&small);
  CellSlabs wide(1024);  // a line larger than a region
  fill(wide, blocks, [&] { return wide.slabCount() == 4; });
  EXPECT_EQ(wide.largeSlabCount(), 0);
  blocks.clear();
}

TEST_F(LargeCellSlabs, AScrollbackOfTheDefaultSizeStaysOnTheHeap) {
  const SlabMemory hugePages{2u << 20, CountedRegions::allocate, CountedRegions::release};
  CellSlabs::useLargeSlabMemory(&hugePages);
  CircularBufferLineList ring(500 + 50);
  for (int i = 0; i < 3000; i++) ring.push(ring.makeLine(200, CharData::Null));
  EXPECT_TRUE(CountedRegions::live.empty()) << "a 2 MiB region for a few hundred lines";
}

TEST_F(LargeCellSlabs, AFullRingTakesNoRegionItCannotFill) {
  // Heap slabs, two regions, then fewer lines than a region holds: those go on a slab of their
  // own size.
  CircularBufferLineList ring(700);
  for (int i = 0; i < 1400; i++) ring.push(ring.makeLine(80, CharData::Null));
  EXPECT_EQ(CountedRegions::live.size(), 2u);
  // Lines held beside the ring's own still get cells of their own.
  std::vector<BufferLinePtr> kept;
  for (int i = 0; i < 100; i++) kept.push_back(ring.makeLine(80, letterX));
  for (const auto& line : kept) EXPECT_EQ((*line)[79], letterX);
  EXPECT_EQ(CountedRegions::live.size(), 2u);
}

TEST_F(LargeCellSlabs, ACutScrollbackReturnsItsRegions) {
  CircularBufferLineList ring(20000);
  for (int i = 0; i < 20000; i++) {
    ring.push(ring.makeLine(80, CharData::Null));
    ring[i]->set(79, CharData('a' + i % 26, 1, Attribute::empty));
  }
  EXPECT_GT(CountedRegions::live.size(), 4u);
  ring.trimStart(ring.count() - 30);
  EXPECT_LE(CountedRegions::live.size(), 1u);
  for (int i = 0; i < 30; i++) EXPECT_EQ((*ring[i])[79].code, 'a' + (19970 + i) % 26);
}

}  // namespace
}  // namespace vantrelle
