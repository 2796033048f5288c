#include "Vantrelle/Buffer/CellSlabs.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace vantrelle {

namespace {

constexpr size_t targetSlabBytes = 64u << 10;
constexpr int maxBlocksPerSlab = 256;
constexpr int maxSlabbedCols = 1024;

size_t blockBytesFor(int cols) { return size_t(std::max(cols, 1)) * sizeof(CharData); }

const SlabMemory* installedLargeMemory = nullptr;

}  // namespace

// The header at the start of a slab; its blocks follow it. A returned block keeps the link to the
// next free block in its first bytes.
class CellSlab {
 public:
  // Blocks start here, past the header, aligned as the heap aligns.
  static constexpr size_t headerBytes = 96;

  CellSlab(CellSlabs* pool, size_t blockBytes, int capacity, const SlabMemory* memory)
      : pool(pool),
        memory(memory),
        blockBytes(blockBytes),
        capacity(capacity),
        runs(pool->runs()),
        aligned(pool->aligned()) {}

  bool hasRoom() const { return live < capacity; }
  // For runs, whose blocks are cells: whether `cells` more fit after the ones carved.
  bool hasRoomFor(int cells) const { return capacity - carved >= cells; }

  CharData* takeRun(int cells) {
    char* run = blocks() + size_t(carved) * blockBytes;
    carved += cells;
    live++;
    prefetchAhead(run + size_t(cells) * blockBytes);
    return reinterpret_cast<CharData*>(run);
  }

  CharData* take() {
    char* block = freeList;
    if (block) {
      std::memcpy(&freeList, block, sizeof freeList);
    } else {
      block = blocks() + size_t(carved++) * blockBytes;
    }
    live++;
    return reinterpret_cast<CharData*>(block);
  }

  void give(CharData* cells) {
    live--;
    if (runs) return;  // a run's room comes back only with the whole slab
    char* block = reinterpret_cast<char*>(cells);
    std::memcpy(block, &freeList, sizeof freeList);
    freeList = block;
  }

  void reset() {
    freeList = nullptr;
    carved = 0;
    fetched = fetchAhead;
  }

  char* blocks() { return reinterpret_cast<char*>(this) + headerBytes; }

  // A full scrollback carves its runs from memory its oldest lines left long ago, far out of the
  // caches, and a run's copy would wait on every line of it: keep the memory as far ahead of the
  // carving as a few lines of text fetched, so the runs to come find it near. Into the second
  // level, where the row being printed does not wait behind the fetches. Each cache line is asked
  // for once, four at a time.
  static constexpr size_t fetchAhead = 4096;
  void prefetchAhead(const char* carvedEnd) {
    constexpr size_t cacheLine = 64, round = 4 * cacheLine;
    const size_t want = size_t(carvedEnd - blocks()) + fetchAhead;
    if (want <= fetched || want > size_t(capacity) * blockBytes) return;
    const char* at = blocks() + fetched;
    const char* end = blocks() + want;
    for (; at < end; at += round) {
      __builtin_prefetch(at, 1, 2);
      __builtin_prefetch(at + cacheLine, 1, 2);
      __builtin_prefetch(at + 2 * cacheLine, 1, 2);
      __builtin_prefetch(at + 3 * cacheLine, 1, 2);
    }
    fetched = size_t(at - blocks());
  }

  CellSlabs* pool;
  const SlabMemory* const memory;  // where a large slab came from; none for a heap slab
  const size_t blockBytes;
  const int capacity;
  int carved = 0;
  int live = 0;
  size_t fetched = fetchAhead;  // bytes of blocks asked for ahead of the carving, for runs
  char* freeList = nullptr;
  const bool runs;      // carved into runs of cells rather than blocks of one size
  const bool aligned;   // a heap block aligned to its largest size
  bool linked = false;  // in the pool's list of slabs with room
  CellSlab* nextWithRoom = nullptr;
  CellSlab* previousWithRoom = nullptr;
  CellSlab* nextSlab = nullptr;
  CellSlab* previousSlab = nullptr;
};

static_assert(sizeof(CellSlab) <= CellSlab::headerBytes && CellSlab::headerBytes % 16 == 0);

namespace {

CellSlab* allocateSlab(CellSlabs* pool, size_t blockBytes, int capacity, const SlabMemory* large) {
  const size_t bytes = CellSlab::headerBytes + blockBytes * size_t(capacity);
  void* memory =
      pool->aligned() ? ::operator new(bytes, std::align_val_t(CellSlabs::alignedSlabBytes)) : ::operator new(bytes);
  if (large && large->supply) large->supply(memory, bytes);
  return new (memory) CellSlab(pool, blockBytes, capacity, nullptr);
}

// A slab filling a whole region, or none when the region would not hold a block or the memory
// has none to give.
CellSlab* allocateLargeSlab(CellSlabs* pool, size_t blockBytes, const SlabMemory& memory) {
  if (memory.bytes < CellSlab::headerBytes + blockBytes || !memory.allocate || !memory.release) return nullptr;
  void* region = memory.allocate(memory.bytes);
  if (!region) return nullptr;
  const size_t capacity =
      std::min<size_t>((memory.bytes - CellSlab::headerBytes) / blockBytes, size_t(std::numeric_limits<int>::max()));
  return new (region) CellSlab(pool, blockBytes, int(capacity), &memory);
}

void deallocateSlab(CellSlab* slab) {
  const SlabMemory* memory = slab->memory;
  const bool aligned = slab->aligned;
  slab->~CellSlab();
  if (memory) {
    memory->release(static_cast<void*>(slab), memory->bytes);
  } else if (aligned) {
    ::operator delete(static_cast<void*>(slab), std::align_val_t(CellSlabs::alignedSlabBytes));
  } else {
    ::operator delete(static_cast<void*>(slab));
  }
}

}  // namespace

CellSlabs::CellSlabs(int cols)
    : cols_(std::max(cols, 1)),
      blockBytes(blockBytesFor(cols)),
      blocksPerSlab(int(std::clamp<size_t>(targetSlabBytes / blockBytes, 1, maxBlocksPerSlab))),
      largeMemory(installedLargeMemory) {}

// A pool of runs counts its blocks in cells: a heap slab holds the same bytes as a slab of lines.
CellSlabs::CellSlabs(Runs)
    : cols_(0),
      blockBytes(sizeof(CharData)),
      blocksPerSlab(int(targetSlabBytes / sizeof(CharData))),
      largeMemory(installedLargeMemory) {}

// Small blocks fill an aligned slab; they never take large regions, whose slabs are not aligned
// so.
CellSlabs::CellSlabs(Blocks blocks)
    : cols_(-1),
      blockBytes(std::clamp<size_t>((blocks.bytes + 7) & ~size_t(7), 8, alignedSlabBytes / 2)),
      blocksPerSlab(int((alignedSlabBytes - CellSlab::headerBytes) / blockBytes)),
      largeMemory(installedLargeMemory) {}

void CellSlabs::useLargeSlabMemory(const SlabMemory* memory) { installedLargeMemory = memory; }

CellSlabs::~CellSlabs() {
  // Slabs whose blocks are still in use stay until their lines are gone.
  CellSlab* slab = everySlab;
  while (slab) {
    CellSlab* next = slab->nextSlab;
    slab->pool = nullptr;
    if (slab->live == 0) deallocateSlab(slab);
    slab = next;
  }
}

bool CellSlabs::suits(int cols) { return cols >= 1 && cols <= maxSlabbedCols; }

CharData* CellSlabs::take(CellSlab*& slab) {
  CellSlab* from = withRoom ? withRoom : openSlab();
  CharData* cells = from->take();
  liveBlocks++;
  if (!from->hasRoom()) unlink(from);
  slab = from;
  return cells;
}

CharData* CellSlabs::takeRun(int cells, CellSlab*& slab) {
  cells = std::clamp(cells, 1, maxRunCells);
  CellSlab* into = withRoom;
  if (into && !into->hasRoomFor(cells)) {
    // Left to empty as its lines go; one whose runs were all gone was carved again already.
    unlink(into);
    into = nullptr;
  }
  if (!into) into = openSlab();
  liveBlocks++;
  slab = into;
  return into->takeRun(cells);
}

void CellSlabs::give(CellSlab* slab, CharData* cells) {
  const bool wasFull = !slab->hasRoom();
  slab->give(cells);
  CellSlabs* pool = slab->pool;
  if (!pool) {
    if (slab->live == 0) deallocateSlab(slab);
    return;
  }
  pool->liveBlocks--;
  if (slab->live == 0) {
    pool->emptied(slab);
  } else if (wasFull && !slab->runs) {
    pool->link(slab);
  }
}

bool CellSlabs::carvesRuns(const CellSlab* slab) { return slab->runs; }

int64_t CellSlabs::blocksStillNeeded() const {
  // A few blocks past the limit come and go with lines in passing; a slab of that many serves
  // them without a slab per line.
  constexpr int64_t fewBlocks = 16;
  if (blockLimit < 0) return std::numeric_limits<int64_t>::max();
  return std::max(blockLimit - heldBlocks, fewBlocks);
}

// The spare if there is one, else a new slab, linked as the one to carve from.
CellSlab* CellSlabs::openSlab() {
  CellSlab* slab = spare ? std::exchange(spare, nullptr) : newSlab();
  link(slab);
  return slab;
}

CellSlab* CellSlabs::newSlab() {
  CellSlab* slab = nullptr;
  const int64_t needed = blocksStillNeeded();
  if (largeMemory && !aligned() && size_t(heldBlocks) * blockBytes >= largeMemory->bytes) {
    const size_t regionBlocks =
        largeMemory->bytes > CellSlab::headerBytes ? (largeMemory->bytes - CellSlab::headerBytes) / blockBytes : 0;
    if (uint64_t(needed) >= regionBlocks) {
      slab = allocateLargeSlab(this, blockBytes, *largeMemory);
      if (slab) largeSlabs++;
    } else {
      // The last slab the owner needs: on the heap, cut to size, rather than a region mostly
      // unused.
      slab = allocateSlab(this, blockBytes, int(needed), largeMemory);
    }
  }
  if (!slab) slab = allocateSlab(this, blockBytes, int(std::min<int64_t>(blocksPerSlab, needed)), largeMemory);
  slabs++;
  heldBlocks += slab->capacity;
  slab->nextSlab = everySlab;
  if (everySlab) everySlab->previousSlab = slab;
  everySlab = slab;
  return slab;
}

void CellSlabs::link(CellSlab* slab) {
  if (slab->linked) return;
  slab->linked = true;
  slab->previousWithRoom = nullptr;
  slab->nextWithRoom = withRoom;
  if (withRoom) withRoom->previousWithRoom = slab;
  withRoom = slab;
}

void CellSlabs::unlink(CellSlab* slab) {
  if (!slab->linked) return;
  slab->linked = false;
  if (slab->previousWithRoom) {
    slab->previousWithRoom->nextWithRoom = slab->nextWithRoom;
  } else {
    withRoom = slab->nextWithRoom;
  }
  if (slab->nextWithRoom) slab->nextWithRoom->previousWithRoom = slab->previousWithRoom;
  slab->nextWithRoom = slab->previousWithRoom = nullptr;
}

void CellSlabs::emptied(CellSlab* slab) {
  if (slab->runs && slab == withRoom) {
    slab->reset();  // the slab being carved starts over
    return;
  }
  unlink(slab);
  if (!spare) {
    slab->reset();
    spare = slab;
    return;
  }
  freeSlab(slab);
}

void CellSlabs::freeSlab(CellSlab* slab) {
  if (slab->previousSlab) {
    slab->previousSlab->nextSlab = slab->nextSlab;
  } else {
    everySlab = slab->nextSlab;
  }
  if (slab->nextSlab) slab->nextSlab->previousSlab = slab->previousSlab;
  slabs--;
  if (slab->memory) largeSlabs--;
  heldBlocks -= slab->capacity;
  deallocateSlab(slab);
}

}  // namespace vantrelle
