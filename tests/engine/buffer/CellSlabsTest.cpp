#include <gtest/gtest.h>

#include <memory>
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
  BufferLinePtr kept;
  {
    CircularBufferLineList ring(10);
    for (int i = 0; i < 10; i++) ring.push(ring.makeLine(80, CharData::Null));
    kept = ring[3];
    kept->set(5, letterX);
  }
  EXPECT_EQ((*kept)[5], letterX);
  kept->fill(letterX);
  kept.reset();  // gives the block to a slab whose pool is gone
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

}  // namespace
}  // namespace vantrelle
