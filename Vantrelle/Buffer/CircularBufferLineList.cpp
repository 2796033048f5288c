#include "Vantrelle/Buffer/CircularBufferLineList.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <numeric>

namespace vantrelle {

namespace {

constexpr int initialStorage = 64;

// The pool the record being made is carved from, for the allocator below, which holds nothing.
thread_local CellSlabs* recordPool = nullptr;

// A record as the standard library lays it out with an allocator that holds nothing: the counts
// and their table, then the line.
constexpr size_t recordBytes = sizeof(BufferLine) + 2 * sizeof(void*);

// Carves a line's record, the line and its shared holder's counts in one block, from the ring's
// pool of records, and gives the block back to the slab its address lies in. Holding no state,
// it takes no room in the record, which is then smaller than a heap block would be. A request of
// any other size goes to the heap, decided by the size alone, alike on both ways.
template <class T>
struct RecordAllocator {
  using value_type = T;

  RecordAllocator() = default;
  template <class U>
  RecordAllocator(const RecordAllocator<U>&) {}

  static constexpr bool fits(size_t n) { return alignof(T) <= 8 && n * sizeof(T) <= recordBytes; }
  T* allocate(size_t n) {
    if (!fits(n)) return static_cast<T*>(::operator new(n * sizeof(T)));
    CellSlab* slab = nullptr;
    return reinterpret_cast<T*>(recordPool->take(slab));
  }
  void deallocate(T* record, size_t n) {
    if (!fits(n)) return ::operator delete(record);
    CellSlabs::give(CellSlabs::slabHolding(record), reinterpret_cast<CharData*>(record));
  }
  template <class U>
  bool operator==(const RecordAllocator<U>&) const {
    return true;
  }
};

}  // namespace

template <class... Arguments>
BufferLinePtr CircularBufferLineList::makeRecord(Arguments&&... arguments) {
  if (!lineRecords) {
    lineRecords = std::make_unique<CellSlabs>(CellSlabs::Blocks{recordBytes});
    lineRecords->setBlockLimit(cellBlockLimit());
  }
  struct Carving {
    explicit Carving(CellSlabs* pool) { recordPool = pool; }
    ~Carving() { recordPool = nullptr; }
  } carving(lineRecords.get());
  return std::allocate_shared<BufferLine>(RecordAllocator<BufferLine>(), std::forward<Arguments>(arguments)...);
}

CircularBufferLineList::CircularBufferLineList(int maxLength) : maxLength_(std::max(maxLength, 1)) {
  relayout(std::min(maxLength_, initialStorage));
}

void CircularBufferLineList::addHomes(HomeBlocks& blocks, size_t from, size_t to) {
  size_t block = from >> homeShift;
  if (const size_t inLast = from & (homesPerBlock - 1); inLast != 0) {
    // The last block is short: a longer one takes its lines.
    auto longer = std::make_unique<BufferLinePtr[]>(std::min(homesPerBlock, to - (block << homeShift)));
    std::move(blocks[block].get(), blocks[block].get() + inLast, longer.get());
    blocks[block++] = std::move(longer);
  }
  for (size_t first = block << homeShift; first < to; first += homesPerBlock) {
    blocks.push_back(std::make_unique<BufferLinePtr[]>(std::min(homesPerBlock, to - first)));
  }
}

void CircularBufferLineList::relayout(int newSize) {
  // Only the lines in use move over; whatever the old slots still held goes with them.
  const size_t size = size_t(std::max(newSize, 1));
  HomeBlocks moved;
  addHomes(moved, 0, size);
  const int keep = std::min(count_, int(size));
  for (int i = 0; i < keep; i++)
    moved[size_t(i) >> homeShift][size_t(i) & (homesPerBlock - 1)] = std::move(at(size_t(slotOf(i))));
  homes = std::move(moved);
  order.resize(size);
  std::iota(order.begin(), order.end(), 0u);
  startIndex_ = 0;
}

void CircularBufferLineList::grow(int newSize) {
  const size_t oldSize = order.size();
  const size_t size = size_t(newSize);
  // Whatever the slots past the count still held goes, as when the ring is laid out anew.
  releaseSlots(count_, int(oldSize));
  std::vector<uint32_t> grown(size);
  for (size_t i = 0; i < oldSize; i++) grown[i] = order[size_t(slotOf(int(i)))];
  std::iota(grown.begin() + std::ptrdiff_t(oldSize), grown.end(), uint32_t(oldSize));
  addHomes(homes, oldSize, size);
  order = std::move(grown);
  startIndex_ = 0;
}

void CircularBufferLineList::releaseSlots(int first, int end) {
  for (int i = first; i < end; i++) at(size_t(slotOf(i))).reset();
}

void CircularBufferLineList::shrinkStorageIfSparse() {
  // A ring that held a long scrollback and was cut down gives its slots back, keeping room to
  // grow again by doubling; the factor between the two thresholds keeps a count that moves back
  // and forth from re-laying the ring each time.
  const int wanted = std::max(count_ * 2, initialStorage);
  if (int64_t(order.size()) > 2 * int64_t(wanted)) relayout(std::min(wanted, maxLength_));
}

CellSlabs* CircularBufferLineList::slabsFor(int cols) {
  if (!CellSlabs::suits(cols)) return nullptr;
  if (!cellSlabs || cellSlabs->cols() != cols) {
    spareCells.reset();
    cellSlabs = std::make_unique<CellSlabs>(cols);
    cellSlabs->setBlockLimit(cellBlockLimit());
  }
  return cellSlabs.get();
}

int64_t CircularBufferLineList::cellBlockLimit() const {
  // The ring's lines, and the few its owner keeps beside them, such as a blank line to copy.
  constexpr int linesBeside = 2;
  return int64_t(maxLength_) + linesBeside;
}

BufferLine::CellBlock CircularBufferLineList::cellsFor(int cols) {
  if (spareCells && cellSlabs && cellSlabs->cols() == cols) return std::move(spareCells);
  if (CellSlabs* slabs = slabsFor(cols)) return BufferLine::cellsFrom(*slabs);
  return nullptr;
}

BufferLinePtr CircularBufferLineList::makeLine(int cols, const CharData& fillData, bool isWrapped) {
  linesMade_++;
  if (auto cells = cellsFor(cols)) return std::make_shared<BufferLine>(std::move(cells), cols, fillData, isWrapped);
  return std::make_shared<BufferLine>(cols, fillData, isWrapped);
}

BufferLinePtr CircularBufferLineList::makeCopy(const BufferLine& source) {
  linesMade_++;
  if (auto cells = cellsFor(source.count())) return makeRecord(std::move(cells), source);
  return makeRecord(source);
}

void CircularBufferLineList::compactCellsIfSparse() {
  if (!cellSlabs || !cellSlabs->isSparse()) return;
  spareCells.reset();
  auto fresh = std::make_unique<CellSlabs>(cellSlabs->cols());
  fresh->setBlockLimit(cellBlockLimit());
  for (int i = 0; i < count_; i++) {
    BufferLine* line = at(size_t(slotOf(i))).get();
    if (line && line->cellSlab() && !line->isCompact() && line->capacity() == fresh->cols()) {
      line->moveCells(BufferLine::cellsFrom(*fresh));
    }
  }
  cellSlabs = std::move(fresh);
}

void CircularBufferLineList::ensureStorage(int lines) {
  lines = std::min(lines, maxLength_);
  if (lines <= int(order.size())) return;
  // Doubling keeps growth amortised constant per line.
  int64_t grown = std::max<int64_t>(int64_t(order.size()) * 2, lines);
  grow(int(std::min<int64_t>(grown, maxLength_)));
}

void CircularBufferLineList::setCount(int value) {
  value = std::clamp(value, 0, maxLength_);
  if (value < count_) {
    releaseSlots(value, count_);
    count_ = value;
    shrinkStorageIfSparse();
    compactCellsIfSparse();
    return;
  }
  ensureStorage(value);
  count_ = value;
}

void CircularBufferLineList::setMaxLength(int value) {
  value = std::max(value, 1);
  if (value == maxLength_) return;
  maxLength_ = value;
  if (cellSlabs) cellSlabs->setBlockLimit(cellBlockLimit());
  if (lineRecords) lineRecords->setBlockLimit(cellBlockLimit());
  count_ = std::min(count_, value);
  relayout(std::min(int(order.size()), value));
  shrinkStorageIfSparse();
  compactCellsIfSparse();
}

BufferLinePtr& CircularBufferLineList::slotRef(int index) {
  // Indices are the caller's to keep inside the ring; clamp rather than touch foreign memory.
  index = std::clamp(index, 0, maxLength_ - 1);
  ensureStorage(index + 1);
  return at(size_t(slotOf(index)));
}

void CircularBufferLineList::store(int index, BufferLinePtr line) { slotRef(index) = std::move(line); }

void CircularBufferLineList::move(int destination, int source) {
  // Take the line first: finding the destination may grow the storage, which would leave a
  // reference to the source slot dangling. The source slot is left empty.
  BufferLinePtr line = std::move((*this)[source]);
  store(destination, std::move(line));
}

void CircularBufferLineList::copy(int destination, int source) {
  BufferLinePtr line = (*this)[source];
  store(destination, std::move(line));
}

BufferLinePtr& CircularBufferLineList::slotOrEmptyLine(int index) {
  BufferLinePtr& slot = slotRef(index);
  if (!slot) {
    int position = slotOf(std::clamp(index, 0, maxLength_ - 1));
    slot = makeEmpty ? makeEmpty(position) : std::make_shared<BufferLine>(0);
  }
  return slot;
}

void CircularBufferLineList::push(BufferLinePtr line) {
  bool hasImages = line && line->images().has_value();
  if (count_ < maxLength_) {
    ensureStorage(count_ + 1);
    at(size_t(slotOf(count_))) = std::move(line);
    count_++;
  } else {
    at(size_t(slotOf(count_))) = std::move(line);
    advanceStart();
  }
  if (onLinePushed) onLinePushed(hasImages);
}

void CircularBufferLineList::recycle(const Attribute& clearAttribute) {
  if (!isFull()) return;  // callers check isFull first; a ring with room has nothing to recycle
  int slot = slotOf(count_);
  advanceStart();
  bool hadImages = false;
  if (auto& line = at(size_t(slot))) {
    hadImages = line->images().has_value();
    if (line->isCompact() || line->inRun()) {
      // Its text is dropped with its run; the block the screen's top row gave back takes its place.
      if (auto cells = cellsFor(line->count())) {
        line->clearInto(std::move(cells), clearAttribute);
      } else {
        line->clear(clearAttribute);
      }
      if (onLineRecycled) onLineRecycled(hadImages);
      return;
    }
    const bool wholeLine = line->clearsEveryColumn();
    line->clear(clearAttribute);
    // Clearing whole lines one after another is a sequential sweep the hardware fetches ahead
    // on its own, and hints would only compete with it; partial clears jump from line to line.
    if (!wholeLine) prefetchOldest();
  }
  if (onLineRecycled) onLineRecycled(hadImages);
}

void CircularBufferLineList::compactLine(int index) {
  if (unsigned(index) >= unsigned(count_)) return;
  BufferLine* line = at(size_t(slotOf(index))).get();
  if (!line || line->isCompact() || line->count() > CellSlabs::maxRunCells) return;
  compact(*line);
}

void CircularBufferLineList::compact(BufferLine& line) {
  if (!textRuns) textRuns = std::make_unique<CellSlabs>(CellSlabs::Runs{});
  const int cols = line.count();
  const bool poolWidth = line.capacity() == cols && cellSlabs && cellSlabs->cols() == cols;
  // Packing the text costs a pass over its cells, and gains more than that back: every byte the
  // runs take is memory the system has to supply and clear. A full ring packs as it did while it
  // grew, so the run a line takes is no larger than the one the oldest line gave up and the ring
  // turns over the memory it holds; runs unpacked there would take ten times the room, fresh.
  BufferLine::CellBlock freed = line.compactInto(*textRuns);
  if (freed && poolWidth && !spareCells) spareCells = std::move(freed);
}

void CircularBufferLineList::prefetchOldest() const {
  // The ring is far larger than the caches, so the next line to come back is cold: start
  // fetching its cells now, and the line record after it, a pointer hop away.
  if (count_ < 8) return;
  if (const auto& next = at(size_t(slotOf(4)))) next->prefetchForClear();
  __builtin_prefetch(at(size_t(slotOf(7))).get());
}

bool CircularBufferLineList::shiftElements(int start, int count, int offset) {
  const char* reason = nullptr;
  if (count < 0) {
    reason = "count < 0";
  } else if (start < 0) {
    reason = "start < 0";
  } else if (start >= count_) {
    reason = "start >= self.count";
  } else if (start + offset <= 0) {
    reason = "start+offset <= 0";
  }
  if (reason) {
    std::printf("Assertion at start=%d count=%d offset=%d: %s\n", start, count, offset, reason);
    return false;
  }
  int64_t end = int64_t(start) + count + offset;
  // The source slots keep their lines until the caller stores fresh ones over them.
  if (offset <= 0) {
    for (int i = 0; i < count; i++) copy(start + i + offset, start + i);
    return true;
  }
  ensureStorage(int(std::min<int64_t>(end, maxLength_)));
  if (end > maxLength_) {
    // Destinations past the capacity wrap onto the oldest slots; take the sources first so a
    // line is never overwritten before it has moved.
    std::vector<BufferLinePtr> moving;
    moving.reserve(size_t(count));
    for (int i = 0; i < count; i++) moving.push_back((*this)[start + i]);
    for (int i = count - 1; i >= 0; i--) {
      size_t slot = (size_t(startIndex_) + size_t(start) + size_t(i) + size_t(offset)) % order.size();
      at(slot) = std::move(moving[size_t(i)]);
    }
  } else {
    for (int i = count - 1; i >= 0; i--) copy(start + i + offset, start + i);
  }
  if (end > count_) {
    if (end <= maxLength_) {
      count_ = int(end);
    } else {
      startIndex_ = int((startIndex_ + (end - maxLength_)) % int64_t(order.size()));
      count_ = maxLength_;
    }
  }
  return true;
}

void CircularBufferLineList::splice(int start, int deleteCount, const std::vector<BufferLinePtr>& items,
                                    const ChangeFunction& change) {
  auto report = [&](int index) {
    if (change) change(index);
  };
  start = std::clamp(start, 0, count_);
  deleteCount = std::clamp(deleteCount, 0, count_ - start);
  if (deleteCount >= 1) {
    for (int i = start; i < count_ - deleteCount; i++) {
      move(i, i + deleteCount);
      report(i);
    }
    // The deleted lines, and the slots the moves left behind, leave the ring.
    releaseSlots(count_ - deleteCount, count_);
    count_ -= deleteCount;
  }
  int n = int(items.size());
  if (int64_t(count_) + n <= maxLength_) {
    ensureStorage(count_ + n);
    for (int i = count_ - 1; i >= start; i--) {
      if (n > 0) move(i + n, i);
      report(i + n);
    }
    for (int i = 0; i < n; i++) {
      store(start + i, items[size_t(i)]);
      report(start + i);
    }
    count_ += n;
    if (n == 0) shrinkStorageIfSparse();
    return;
  }
  // The ring overflows: the result is the newest maxLength lines of the spliced sequence. Build
  // it aside so no line is overwritten before it has moved and each line is kept exactly once.
  ensureStorage(maxLength_);
  int64_t total = int64_t(count_) + n;
  int64_t excess = total - maxLength_;
  std::vector<BufferLinePtr> result;
  result.reserve(size_t(maxLength_));
  for (int64_t k = excess; k < total; k++) {
    if (k < start) {
      result.push_back((*this)[int(k)]);
    } else if (k < int64_t(start) + n) {
      result.push_back(items[size_t(k - start)]);
    } else {
      result.push_back((*this)[int(k - n)]);
    }
  }
  int64_t firstChanged = std::max<int64_t>(int64_t(start) - excess, 0);
  for (int i = 0; i < maxLength_; i++) at(size_t(slotOf(i))) = std::move(result[size_t(i)]);
  count_ = maxLength_;
  for (int64_t i = firstChanged; i < maxLength_; i++) report(int(i));
}

void CircularBufferLineList::trimStart(int count) {
  int n = std::clamp(count, 0, count_);
  releaseSlots(0, n);
  startIndex_ = int((size_t(startIndex_) + size_t(n)) % order.size());
  count_ -= n;
  shrinkStorageIfSparse();
  compactCellsIfSparse();
}

void CircularBufferLineList::rotate(int first, int last, bool up) {
  if (first < 0 || last >= count_ || first >= last) return;
  // Only home numbers move: the one lifted out, then the rest over by one in a block.
  const size_t a = size_t(slotOf(first));
  const size_t b = size_t(slotOf(last));
  if (a < b) {
    auto begin = order.begin() + std::ptrdiff_t(a);
    auto end = order.begin() + std::ptrdiff_t(b) + 1;
    std::rotate(begin, up ? begin + 1 : end - 1, end);
    return;
  }
  // The range wraps around the end of the storage.
  const int from = up ? first : last;
  const int to = up ? last : first;
  const uint32_t lifted = order[size_t(slotOf(from))];
  if (up) {
    for (int i = first; i < last; i++) order[size_t(slotOf(i))] = order[size_t(slotOf(i + 1))];
  } else {
    for (int i = last; i > first; i--) order[size_t(slotOf(i))] = order[size_t(slotOf(i - 1))];
  }
  order[size_t(slotOf(to))] = lifted;
}

}  // namespace vantrelle
