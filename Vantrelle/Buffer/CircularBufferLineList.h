#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Vantrelle/Buffer/BufferLine.h"

namespace vantrelle {

// The lines of one screen buffer, scrollback and screen together, in a ring: appending to a full
// ring drops the oldest line by moving the start, so scrolling costs the same whatever the
// scrollback size. Storage grows as lines arrive, up to `maxLength`, so a huge scrollback
// limit costs nothing until it is used, and shrinks again when the ring is cut down.
//
// Each line lives in a home that never moves while it is there; the ring itself is an array of
// home numbers. Scrolling a region inside the screen reorders those small numbers with one block
// move rather than moving reference-counted pointers one by one.
class CircularBufferLineList {
 public:
  using ChangeFunction = std::function<void(int)>;

  explicit CircularBufferLineList(int maxLength);

  std::function<BufferLinePtr(int)> makeEmpty;
  std::function<void(bool)> onLineRecycled;
  std::function<void(bool)> onLinePushed;

  int count() const { return count_; }
  void setCount(int value);
  int maxLength() const { return maxLength_; }
  void setMaxLength(int value);
  int startIndex() const { return startIndex_; }
  bool isFull() const { return count_ == maxLength_; }
  bool isEmpty() const { return count_ == 0; }

  // The slot of a logical line; an empty slot gets a line from `makeEmpty` first. Assigning
  // through the reference stores a line without changing `count`.
  BufferLinePtr& operator[](int index) {
    if (unsigned(index) < unsigned(count_)) {
      BufferLinePtr& slot = at(size_t(slotOf(index)));
      if (slot) return slot;
    }
    return slotOrEmptyLine(index);
  }

  // A new line for this ring. Its cells come from the ring's slabs, so a growing scrollback does
  // not take one heap block per line (lines of a width other than the last asked for, and very
  // wide ones, get cells of their own).
  BufferLinePtr makeLine(int cols, const CharData& fillData, bool isWrapped = false);
  // A copy of `source` for the line that scrolling adds at the bottom. Its record also comes from
  // the ring's pool of records, which such lines take in the order they scroll in: a growing
  // scrollback takes no heap block per line, and its records go as its lines go, in order. (Lines
  // made all over the ring at once, as by a reflow, keep records of their own on the heap, where
  // the few that outlive the rest pin no slab.)
  BufferLinePtr makeCopy(const BufferLine& source);

  // Stores a line at a logical index without reading the slot first (no `makeEmpty` for an
  // empty slot that is about to be overwritten); `count` is not changed.
  void store(int index, BufferLinePtr line);
  void push(BufferLinePtr line);
  // Turns the oldest line into the newest, cleared; the ring must be full.
  void recycle(const Attribute& clearAttribute);
  // The line at `index` has scrolled off the screen into the scrollback: it keeps its cells only
  // as far as its text, in the ring's runs, and its block goes to the next new or recycled line.
  // A growing scrollback then takes fresh memory only for the text it keeps; a line written to
  // its end, as every row of a long wrapped line but its last is, packs as a shorter one does.
  void compactLine(int index);
  // The same for a line of the ring or one about to join it, whatever its width, that a reflow
  // has just laid out in the scrollback: it keeps its text in a run as a line that scrolled
  // there does, where the reflow gave it a block for the width or for its text alone.
  void compact(BufferLine& line);
  // After most lines were dropped or compacted, the survivors move their cells into fresh slabs so
  // the old ones, each pinned by a line or two, can go.
  void compactCellsIfSparse();
  bool shiftElements(int start, int count, int offset);
  void splice(int start, int deleteCount, const std::vector<BufferLinePtr>& items,
              const ChangeFunction& change = nullptr);
  void trimStart(int count);
  // Moves the line at `first` to `last` and the lines between up by one (`up`), or the line at
  // `last` to `first` and the lines between down by one: a region scroll that creates and
  // destroys nothing. Both indices must lie inside the ring; otherwise nothing moves.
  void rotate(int first, int last, bool up);

  // Slots currently allocated; grows towards maxLength as lines arrive.
  int storageSize() const { return int(order.size()); }
  // Slabs that the ring's present cell pool holds.
  int cellSlabCount() const { return cellSlabs ? cellSlabs->slabCount() : 0; }
  // Slabs that hold the text of the lines in the scrollback.
  int textRunSlabCount() const { return textRuns ? textRuns->slabCount() : 0; }
  // Slabs that hold the records of the ring's lines.
  int recordSlabCount() const { return lineRecords ? lineRecords->slabCount() : 0; }
  // Lines the ring has made so far, for tests and measurements: a reflow that builds rows only
  // to drop them shows here.
  int64_t linesMade() const { return linesMade_; }

 private:
  // Both terms are normally below the storage size, so one subtraction replaces a division on
  // this hot path; the remainder stays as the fallback.
  int slotOf(int index) const {
    const size_t n = order.size();
    size_t slot = size_t(startIndex_) + size_t(index);
    if (slot >= n) slot -= n;
    return int(slot < n ? slot : slot % n);
  }
  BufferLinePtr& at(size_t slot) { return home(order[slot]); }
  const BufferLinePtr& at(size_t slot) const { return const_cast<CircularBufferLineList*>(this)->home(order[slot]); }
  BufferLinePtr& home(uint32_t number) { return homes[number >> homeShift][number & (homesPerBlock - 1)]; }
  BufferLinePtr& slotRef(int index);
  // The oldest line of a full ring becomes its newest: a compare rather than a division, as
  // every line that scrolls a full scrollback moves the start.
  void advanceStart() { startIndex_ = startIndex_ + 1 < count_ ? startIndex_ + 1 : 0; }
  void prefetchOldest() const;
  BufferLinePtr& slotOrEmptyLine(int index);
  void ensureStorage(int lines);
  void relayout(int newSize);
  // Adds room for lines, keeping every line in its home.
  void grow(int newSize);
  void move(int destination, int source);
  void copy(int destination, int source);
  // Drops the references of the logical lines [first, end): lines that leave the ring are freed
  // as soon as nothing else holds them.
  void releaseSlots(int first, int end);
  void shrinkStorageIfSparse();
  CellSlabs* slabsFor(int cols);
  // A block of `cols` cells: the spare one, or one from the pool of that width, or none when
  // lines that wide take cells of their own.
  BufferLine::CellBlock cellsFor(int cols);
  int64_t cellBlockLimit() const;
  template <class... Arguments>
  BufferLinePtr makeRecord(Arguments&&... arguments);

  // Declared before the lines, so they go after them.
  std::unique_ptr<CellSlabs> lineRecords;
  std::unique_ptr<CellSlabs> cellSlabs;
  std::unique_ptr<CellSlabs> textRuns;
  // The block the last line to scroll off the screen gave up, of the pool's width: the next new
  // or recycled line takes it while its cells are still near.
  BufferLine::CellBlock spareCells;
  // The homes, in blocks of homesPerBlock (the last one, or a small ring's only one, as long as
  // needed), so a growing scrollback adds blocks rather than moving every line to a larger array.
  static constexpr int homeShift = 12;
  static constexpr size_t homesPerBlock = size_t(1) << homeShift;
  using HomeBlocks = std::vector<std::unique_ptr<BufferLinePtr[]>>;
  static void addHomes(HomeBlocks& blocks, size_t from, size_t to);
  HomeBlocks homes;
  std::vector<uint32_t> order;  // slot -> home; a permutation of the homes
  int startIndex_ = 0;
  int count_ = 0;
  int maxLength_ = 0;
  int64_t linesMade_ = 0;
};

}  // namespace vantrelle
