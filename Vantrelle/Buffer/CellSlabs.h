#pragma once

#include <cstddef>
#include <cstdint>

#include "Vantrelle/Buffer/CharData.h"

namespace vantrelle {

class CellSlab;

// Where large slabs come from: regions of `bytes` each, which a platform may back with large
// pages so that a growing scrollback fills fresh memory with a few page faults instead of one per
// page. `allocate` gives nullptr when it has nothing, and the pool then keeps to the heap.
struct SlabMemory {
  size_t bytes = 0;
  void* (*allocate)(size_t bytes) = nullptr;
  void (*release)(void* region, size_t bytes) = nullptr;
  // Asked, if set, to supply the pages of a new slab on the heap at once: a slab is filled from
  // its start soon after it is made, and one request costs the kernel less than a fault per page.
  void (*supply)(void* memory, size_t bytes) = nullptr;
};

// The cell blocks of lines of one width, carved out of larger slabs: a growing scrollback costs
// one heap allocation per slab instead of one per line, and the blocks need no heap headers. A
// released block is reused by the next line, and a slab goes back to the heap once no line
// uses it, so a scrollback that shrinks does not keep the memory of its longest state.
//
// Lines may outlive the pool that gave them their cells: the pool's slabs then free themselves
// when their last block comes back. Single-threaded, like the lines.
class CellSlabs {
 public:
  explicit CellSlabs(int cols);
  // A pool of runs rather than blocks: runs of any length up to maxRunCells, carved one after
  // another from the newest slab, each slab freed once every run in it is gone. A scrollback
  // keeps the text of its lines in runs; it drops its oldest lines first, so its slabs empty in
  // the order they filled and the pool holds little more than the text it keeps.
  struct Runs {};
  explicit CellSlabs(Runs);
  static constexpr int maxRunCells = 1024;
  // A pool of blocks of `bytes` each (a multiple of 8) rather than of a line's cells, for records
  // that many lines hold beside their cells. Its slabs are heap blocks of alignedSlabBytes at
  // most, aligned to that size, so a block's slab is found from its address alone: a record then
  // needs no pointer to it.
  struct Blocks {
    size_t bytes;
  };
  explicit CellSlabs(Blocks);
  static constexpr size_t alignedSlabBytes = 32u << 10;
  static CellSlab* slabHolding(const void* block) {
    return reinterpret_cast<CellSlab*>(reinterpret_cast<uintptr_t>(block) & ~uintptr_t(alignedSlabBytes - 1));
  }
  ~CellSlabs();
  CellSlabs(const CellSlabs&) = delete;
  CellSlabs& operator=(const CellSlabs&) = delete;

  int cols() const { return cols_; }
  bool runs() const { return cols_ == 0; }
  bool aligned() const { return cols_ < 0; }
  // Whether lines of this width are carved from slabs; very wide ones go straight to the heap.
  static bool suits(int cols);
  // An uninitialised block of `cols` cells and the slab it belongs to.
  CharData* take(CellSlab*& slab);
  // An uninitialised run of `cells` cells (1 to maxRunCells) from a pool of runs, and its slab.
  CharData* takeRun(int cells, CellSlab*& slab);
  // Gives a block or run back to its slab.
  static void give(CellSlab* slab, CharData* cells);
  // Whether the slab is carved into runs rather than blocks of one size.
  static bool carvesRuns(const CellSlab* slab);

  // Lets pools take their further slabs from `memory` (none: the heap only) once their heap slabs
  // hold as much as one of its regions: a small terminal keeps small slabs, and the unused end of
  // a pool's newest region never exceeds what the pool already uses. Every pool made afterwards
  // uses it; `memory` must outlive every line, so it is normally a static, installed at start-up.
  static void useLargeSlabMemory(const SlabMemory* memory);

  // The most blocks the pool's owner holds at once, as a ring does at its longest; none: no
  // bound. A new slab then holds no more blocks than the owner can still need, so the last
  // slab of a full scrollback is not a region mostly unused. Only a guide: past it, the pool
  // takes small slabs as needed.
  void setBlockLimit(int64_t blocks) { blockLimit = blocks; }

  // Whether the blocks in use fill less than half of the slabs held, as after most lines of a
  // long scrollback were dropped: the survivors then pin many slabs each. A pool of runs drops
  // its lines in order and is never counted sparse.
  bool isSparse() const { return !runs() && slabs > 2 && liveBlocks * 2 < heldBlocks; }
  // Slabs held, in use or kept as the one spare, and how many of them are large: for tests and
  // measurements.
  int slabCount() const { return slabs; }
  int largeSlabCount() const { return largeSlabs; }

 private:
  friend class CellSlab;
  void link(CellSlab* slab);
  void unlink(CellSlab* slab);
  void emptied(CellSlab* slab);
  void freeSlab(CellSlab* slab);
  CellSlab* openSlab();
  CellSlab* newSlab();
  int64_t blocksStillNeeded() const;

  int cols_;
  size_t blockBytes;
  int blocksPerSlab;
  const SlabMemory* largeMemory;
  int slabs = 0;
  int largeSlabs = 0;
  int64_t liveBlocks = 0;
  int64_t heldBlocks = 0;  // the capacity of every slab held
  int64_t blockLimit = -1;
  CellSlab* withRoom = nullptr;  // slabs with a free or uncarved block, most recent first; for
                                 // runs, the one slab carved from
  CellSlab* everySlab = nullptr;
  CellSlab* spare = nullptr;  // one empty slab kept so a line freed and made at a slab's edge
                              // does not free and allocate a slab each time
};

}  // namespace vantrelle
