#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Buffer/CellSlabs.h"
#include "Vantrelle/Buffer/CharData.h"
#include "Vantrelle/Buffer/TerminalImage.h"

namespace vantrelle {

class BufferLine;

// A handle on the line that holds a list of images, for a caller that wants to find that line
// again without walking the ring: it lives exactly as long as the line keeps images, so one that
// has expired says the line holds none any more (it was cleared, recycled or freed).
struct LineImagesAnchor {
  BufferLine* line = nullptr;
};

// The images on a line, if any, read like an optional list. Few lines carry images, so a line
// without them holds one null pointer rather than an empty optional list three times its size.
class LineImages {
 public:
  LineImages() = default;
  LineImages(std::nullopt_t) {}
  LineImages(std::optional<TerminalImageList> images) {
    if (images) held = std::make_unique<Held>(std::move(*images));
  }
  // A copy holds the same images but is nobody's anchor: it is another line's list, or none.
  LineImages(const LineImages& other) : held(other.held ? std::make_unique<Held>(other.held->list) : nullptr) {}
  LineImages(LineImages&&) noexcept = default;
  LineImages& operator=(LineImages other) noexcept {
    held = std::move(other.held);
    return *this;
  }

  bool has_value() const { return held != nullptr; }
  explicit operator bool() const { return has_value(); }
  const TerminalImageList& operator*() const { return held->list; }
  const TerminalImageList* operator->() const { return &held->list; }
  bool operator==(std::nullopt_t) const { return !held; }
  operator std::optional<TerminalImageList>() const {
    return held ? std::optional<TerminalImageList>(held->list) : std::nullopt;
  }
  TerminalImageList& list() { return held->list; }
  TerminalImageList& emplace() {
    held = std::make_unique<Held>();
    return held->list;
  }
  // Takes another list for the same line: the anchor stays while the line still holds images.
  void replace(std::optional<TerminalImageList> images) {
    if (!images) {
      held.reset();
    } else if (held) {
      held->list = std::move(*images);
    } else {
      held = std::make_unique<Held>(std::move(*images));
    }
  }
  void reset() { held.reset(); }
  // The anchor of the list `owner` holds, made on first use; none without images.
  std::weak_ptr<LineImagesAnchor> anchor(BufferLine* owner) {
    if (!held) return {};
    if (!held->anchor) held->anchor = std::make_shared<LineImagesAnchor>(LineImagesAnchor{owner});
    return held->anchor;
  }

 private:
  struct Held {
    Held() = default;
    explicit Held(TerminalImageList list) : list(std::move(list)) {}
    TerminalImageList list;
    std::shared_ptr<LineImagesAnchor> anchor;
  };
  std::unique_ptr<Held> held;
};

// Gives a line's cells back to the slab they came from, or to the heap.
struct CellBlockDeleter {
  CellSlab* slab = nullptr;
  void operator()(CharData* cells) const {
    if (slab) {
      CellSlabs::give(slab, cells);
    } else {
      ::operator delete(cells);
    }
  }
};

// One row of screen or scrollback: a contiguous block of cells whose capacity may exceed the
// columns in use, so rings can recycle lines without allocating. `generation` grows with every
// change so drawing caches can key a row by line identity and generation. A line holds at most
// maxColumns cells, the terminal's own limit; wider requests are cut to it.
class BufferLine {
 public:
  static constexpr int maxColumns = 65535;
  enum class RenderLineMode : uint8_t { single, doubleWidth, doubledTop, doubledDown };

  // Resolves a cell to its text; the terminal passes one that knows its character-map keys.
  using CharacterProvider = std::function<std::string(const CharData&)>;

  // A line's cells: raw storage that the line fills as it takes it.
  using CellBlock = std::unique_ptr<CharData[], CellBlockDeleter>;
  // A block of `cols` cells from a pool of that width.
  static CellBlock cellsFrom(CellSlabs& pool);

  explicit BufferLine(int cols, std::optional<CharData> fillData = std::nullopt, bool isWrapped = false);
  BufferLine(const BufferLine& from);
  // The same, taking a block of at least `cols` (or `from.count()`) cells to fill.
  BufferLine(CellBlock cells, int cols, const CharData& fillData, bool isWrapped);
  BufferLine(CellBlock cells, const BufferLine& from);
  BufferLine& operator=(const BufferLine&) = delete;

  bool isWrapped() const { return wrapped; }
  void setWrapped(bool value) {
    wrapped = value;
    generation_++;
  }
  RenderLineMode renderMode = RenderLineMode::single;
  const LineImages& images() const { return images_; }
  void setImages(std::optional<TerminalImageList> images) {
    images_.replace(std::move(images));
    generation_++;
  }
  // Finds this line again from its images while it holds any (LineImagesAnchor).
  std::weak_ptr<LineImagesAnchor> imagesAnchor() { return images_.anchor(this); }
  uint64_t generation() const { return generation_ & ~flagBits; }

  int count() const { return dataSize; }
  int capacity() const { return capacity_; }

  // Reads at or past the end give the last cell. A cell is read by value: a line kept as
  // packed text has no stored cell to refer to.
  CharData operator[](int index) const {
    if (unsigned(index) >= unsigned(dataSize)) index = dataSize - 1;
    if (index >= written_ && blankTail()) return tailCell(index);
    return index >= 0 ? data[index] : CharData::Null;
  }
  // Stores past the end go to the last cell, with a warning: the caller has a bug.
  void set(int index, const CharData& cell) {
    if (unsigned(index) >= unsigned(dataSize)) return setOutOfRange(cell);
    if (index >= written_) noteWritten(index + 1);  // inside the data, so inside the capacity
    data[index] = cell;
    generation_++;
  }

  int getWidth(int index) const { return (*this)[index].width; }
  std::vector<CharData> getData() const {
    const CharData* first = cells();
    return {first, first + dataSize};
  }
  bool hasContent(int index) const;
  bool hasAnyContent() const;
  int getTrimmedLength() const;
  std::string translateToString(bool trimRight = false, int startCol = 0, int endCol = -1,
                                bool skipNullCellsFollowingWide = false,
                                const CharacterProvider& characterProvider = nullptr) const;
  std::string debugDescription() const;

  void copyFrom(const BufferLine& line);
  void copyFrom(const BufferLine& source, int srcCol, int dstCol, int len);
  void resize(int cols, const CharData& fillData);
  void fill(const CharData& with);
  void fill(const CharData& with, int atCol, int len);
  void replaceCells(int start, int end, const CharData& fillData);
  void clear(const Attribute& with);
  // A line clears only its written columns when the blank stays the same: with the cells of
  // lines due for reuse fetched ahead, that beats a sequential pass from a common 80 columns up,
  // as the blank past a short row's text is then neither stored again nor written back. Very
  // narrow lines are cleared in one pass.
  static constexpr int partialClearWidth = 64;
  // Whether a clear to the same blank rewrites every cell: a narrow or fully written line.
  bool clearsEveryColumn() const { return cellsToClear() == capacity_; }
  // Asks the memory system for the cells a coming partial clear() and the row after it will
  // write; a hint only.
  void prefetchForClear() const;
  void insertCells(int pos, int n, int rightMargin, const CharData& fillData);
  void deleteCells(int pos, int n, int rightMargin, const CharData& fillData);
  void attach(std::shared_ptr<TerminalImage> image);

  // The slab the cells come from, or none for cells of their own on the heap.
  const CellSlab* cellSlab() const { return data.get_deleter().slab; }
  // Whether the line stores fewer cells than its columns, the rest reading as its blank.
  bool isCompact() const { return capacity_ < dataSize; }
  // Whether the cells are a run of a pool of runs, packed or not, rather than a block: a line
  // written to its end in cells that do not pack may hold a run as long as its columns, and is
  // not compact, but its run must go back to its pool all the same rather than be cleared and
  // reused in place.
  bool inRun() const { return (generation_ & inRunBit) != 0; }
  // Whether the line keeps its text as one byte a cell beside one cell that holds everything
  // else, as a compact line of text in a single rendition does.
  bool isPacked() const { return (generation_ & packedBit) != 0; }
  // Keeps only the cells written, in a run of `runs`, and gives the block back: a line that
  // scrolled into the scrollback is seldom written again, and most lines of output are short.
  // With `pack`, cells that differ only in a code below 256, as most lines of text do, are
  // packed to a byte each, also those of a line written to its end. Content and generation stay.
  // A writer moves a packed line to full cells again, and one past the run a compact one. A
  // compact line with a block of its own, as a reflow leaves, moves into a run too. Returns the
  // block the line held, or none when it stays as it was: in a run already, or written to its
  // end in cells that do not pack and in a block from a pool, which a run as long would not beat.
  CellBlock compactInto(CellSlabs& runs, bool pack = true);
  // The cells a compact line of `kept` cells packs into, one for all but the codes and the
  // rest for the codes a byte each; none when the cells do not pack or packing saves nothing.
  static int packedRunCells(int kept) {
    return kept > 2 ? 1 + (kept + int(sizeof(CharData)) - 1) / int(sizeof(CharData)) : 0;
  }
  // Gives a compact line a block of its own for its first `cells` columns (at most its count),
  // and no more, keeping what it reads: a reflow that copies a row's text into a line made wider
  // then gives it the cells the text takes rather than the width's. A line stored whole, or one
  // with room enough, stays as it is. With `dropPast` the cells stored past `cells` go, and read
  // as the blank, for a caller that has moved them elsewhere already.
  void reserve(int cells, bool dropPast = false);
  // Lets go of every cell, keeping none, so the line reads its blank in every column: for a row
  // whose text a reflow has moved to other rows.
  void dropCells();
  // The cells from `col` on read as the line's blank again, as those past a compact line's
  // stored cells do: a reflow that lays other text out on a row leaves nothing of the old layout
  // past it, whichever way the row holds its cells.
  void blankFrom(int col);
  // clear(), taking `block` (at least count() cells) for a compact line's cells.
  void clearInto(CellBlock block, const Attribute& with);
  // Moves the cells into another block as large as the present one; content and generation stay.
  void moveCells(CellBlock block);

  // Direct access for bulk writers that keep indices inside `count` and call touch() once.
  // A writer that may store anywhere takes cells(); one that stores only below column `end`
  // says so, which keeps the next clear of the line short.
  CharData* cells() {
    storeBlankTail();
    written_ = capacity_;
    return data.get();
  }
  CharData* cellsBelow(int end) {
    noteWritten(end);
    return data.get();
  }
  // For a writer that stores every cell from `start` up to an end it gives storedBelow()
  // afterwards: the blank below `start` is stored first, none past it, and every column has a
  // cell to take the store.
  CharData* cellsFrom(int start) {
    if (isCompact()) [[unlikely]] {
      widen();
    }
    noteWritten(start);
    return data.get();
  }
  void storedBelow(int end) { written_ = Columns(std::max<int>(written_, std::min<int>(end, capacity_))); }
  // Readers of every cell at once; the blank a new line has not stored yet is stored first.
  const CharData* cells() const {
    const_cast<BufferLine*>(this)->storeBlankTail();
    return data.get();
  }
  void touch(uint64_t changes = 1) { generation_ += changes; }

 private:
  void setOutOfRange(const CharData& cell);
  int cellsToClear() const { return capacity_ >= partialClearWidth ? written_ : capacity_; }
  // Counts the columns below `end` as written, first storing the blank of those a new line
  // left unstored: callers make this note before they write. A packed line counts no column
  // as written, so every writer comes here and widens it first.
  void noteWritten(int end) {
    if (end <= written_) return;
    if (end > capacity_) [[unlikely]] {
      end = widenFor(end);
      if (end <= written_) return;
    }
    if (blankTail()) storeBlank(written_, end);
    written_ = Columns(end);
  }
  void storeBlank(int from, int end);
  bool resizeInPlace(int cols, const CharData& fillData);
  // Moves the first `cols` cells into a block of their own, as wide as that and no wider.
  void shrinkBlock(int cols);
  void readCells(int from, int len, CharData* to) const;
  // Gives a compact line full cells again and returns `end` cut to the capacity.
  int widenFor(int end);
  void widen();
  // Moves the first `kept` stored cells into a heap block of `size` cells, unpacking a packed
  // run; the rest read as the blank.
  void regrow(int size, int kept);
  // The stored cells, past which a line holding its blank only in meaning reads the blank.
  int storedCount() const {
    if (isPacked()) [[unlikely]] {
      return packedCount();
    }
    return blankTail() ? std::min(written_, dataSize) : dataSize;
  }
  CharData storedCell(int index) const { return isPacked() ? packedCell(index) : data[index]; }
  CharData cellAt(int index, int stored) const { return index < stored ? storedCell(index) : clearedTo_; }
  // A packed run: its first cell holds what the cells share, with their count for its code;
  // their codes follow, a byte each.
  int packedCount() const { return data[0].code; }
  const uint8_t* packedCodes() const { return reinterpret_cast<const uint8_t*>(data.get() + 1); }
  CharData packedCell(int index) const {
    CharData cell = data[0];
    cell.code = packedCodes()[index];
    return cell;
  }
  CharData tailCell(int index) const {
    if (isPacked() && index < packedCount()) [[unlikely]] {
      return packedCell(index);
    }
    return clearedTo_;
  }
  // Packs the first `kept` cells into a run of `runs`, if they pack.
  CellBlock packInto(CellSlabs& runs, int kept) const;
  // Writes the first `count` cells of a packed line (at most its count) to `cells`.
  void unpackInto(CharData* cells, int count) const;
  // Takes `block`, of `capacity` cells, in place of whatever held the cells: a block, or a run,
  // packed or not.
  void holdBlock(CellBlock block, int capacity) {
    data = std::move(block);
    capacity_ = Columns(capacity);
    generation_ &= ~(packedBit | inRunBit);
  }
  // Takes a block of every column's cells in place of the present one.
  void takeWholeBlock(CellBlock block) { holdBlock(std::move(block), dataSize); }
  // Stores the whole blank tail, leaving `written_` where it is.
  void storeBlankTail();

  // Column counts fit 16 bits, as the terminal's width does: with the fields ordered to leave
  // no padding, a line's record stays in a smaller heap size class, and lines are many.
  using Columns = uint16_t;
  bool wrapped = false;
  Columns dataSize = 0;
  Columns capacity_ = 0;
  // Every cell from `written_` to the capacity holds `clearedTo_`, so clearing to that same cell
  // rewrites only the columns before it: a recycled scrollback line is wide but mostly blank.
  Columns written_ = 0;
  CellBlock data;
  CharData clearedTo_;
  LineImages images_;
  // Its top bit, which counting never reaches, says that the cells from `written_` on hold
  // `clearedTo_` only in meaning, not yet in memory: a new line stores no blank, and one that
  // scrolls into the scrollback untouched never does. The record has no other room for it.
  uint64_t generation_ = 0;
  static constexpr uint64_t blankTailBit = uint64_t(1) << 63;
  // The bit below it says the line is packed: its cells hold the packed run, with `written_`
  // and the capacity zero, and the blank follows the run's count in meaning.
  static constexpr uint64_t packedBit = uint64_t(1) << 62;
  // And the one below that, that the cells are a run of the ring's runs, packed or not.
  static constexpr uint64_t inRunBit = uint64_t(1) << 61;
  static constexpr uint64_t flagBits = blankTailBit | packedBit | inRunBit;
  bool blankTail() const { return (generation_ & blankTailBit) != 0; }
  void setBlankTail(bool value) { generation_ = value ? generation_ | blankTailBit : generation_ & ~blankTailBit; }
};

using BufferLinePtr = std::shared_ptr<BufferLine>;

}  // namespace vantrelle
