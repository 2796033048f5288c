#include "Vantrelle/Buffer/BufferLine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrelle {

// A scrollback holds one of these per line besides its cells: with its shared holder's counts
// and the heap's header it takes an 80-byte heap block, the next size class up being 96.
static_assert(sizeof(BufferLine) <= 56, "line records must stay compact");

namespace {

// Every caller writes each cell of the new block at once, so the block is taken uninitialised:
// building default cells first would write the whole line twice.
BufferLine::CellBlock allocateCells(int n) {
  void* cells = ::operator new(size_t(std::max(n, 0)) * sizeof(CharData));
  return BufferLine::CellBlock(static_cast<CharData*>(cells), CellBlockDeleter{});
}

// Fills cells with copies of one cell taken whole; compilers otherwise split the fill into six
// narrow stores per cell, one per field. Every new line of output clears its cells, so the fill
// stores a cell at once and four a round where the processor allows.
void fillCells(CharData* destination, ptrdiff_t count, const CharData& value) {
  ptrdiff_t i = 0;
#if defined(__SSE2__)
  const __m128i cell = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&value));
  auto* to = reinterpret_cast<__m128i*>(destination);
  for (; i + 4 <= count; i += 4) {
    _mm_storeu_si128(to + i, cell);
    _mm_storeu_si128(to + i + 1, cell);
    _mm_storeu_si128(to + i + 2, cell);
    _mm_storeu_si128(to + i + 3, cell);
  }
  for (; i < count; i++) _mm_storeu_si128(to + i, cell);
#else
  CellWords words = cellWords(value);
  for (; i < count; i++) std::memcpy(static_cast<void*>(destination + i), &words, sizeof words);
#endif
}

// Writes the low byte of each cell's code to `codes` and says whether the cells pack: every
// byte of each but that one equals the first cell's, its code taken as zero, so every code is
// below 256. Every line that scrolls off the screen comes through here, so the cells are
// compared and their codes gathered eight at a time, without a branch per cell.
bool packCodes(const CharData* cells, int count, uint8_t* codes) {
  CellWords shared = cellWords(cells[0]);
  shared.low &= ~uint64_t(0xffffffff);
  uint64_t differLow = 0, differHigh = 0;
  int i = 0;
#if defined(__SSE2__)
  const __m128i sharedCell = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&shared));
  __m128i differ = _mm_setzero_si128();
  auto gather = [&](const CharData* four) {
    const auto* at = reinterpret_cast<const __m128i*>(four);
    const __m128i c0 = _mm_loadu_si128(at), c1 = _mm_loadu_si128(at + 1);
    const __m128i c2 = _mm_loadu_si128(at + 2), c3 = _mm_loadu_si128(at + 3);
    differ =
        _mm_or_si128(differ, _mm_or_si128(_mm_or_si128(_mm_xor_si128(c0, sharedCell), _mm_xor_si128(c1, sharedCell)),
                                          _mm_or_si128(_mm_xor_si128(c2, sharedCell), _mm_xor_si128(c3, sharedCell))));
    return _mm_unpacklo_epi64(_mm_unpacklo_epi32(c0, c1), _mm_unpacklo_epi32(c2, c3));  // the four codes
  };
  for (; i + 8 <= count; i += 8) {
    const __m128i eight = _mm_packs_epi32(gather(cells + i), gather(cells + i + 4));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(codes + i), _mm_packus_epi16(eight, eight));
  }
  if (i + 4 <= count) {
    const __m128i four = gather(cells + i);
    const __m128i narrow = _mm_packus_epi16(_mm_packs_epi32(four, four), four);
    const int32_t bytes = _mm_cvtsi128_si32(narrow);
    std::memcpy(codes + i, &bytes, sizeof bytes);
    i += 4;
  }
  uint64_t lanes[2];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), differ);
  differLow = lanes[0] & ~uint64_t(0xff);
  differHigh = lanes[1];
#endif
  for (; i < count; i++) {
    const CellWords words = cellWords(cells[i]);
    differLow |= (words.low ^ shared.low) & ~uint64_t(0xff);
    differHigh |= words.high ^ shared.high;
    codes[i] = uint8_t(words.low);
  }
  return (differLow | differHigh) == 0;
}

}  // namespace

BufferLine::CellBlock BufferLine::cellsFrom(CellSlabs& pool) {
  CellSlab* slab = nullptr;
  CharData* cells = pool.take(slab);
  return CellBlock(cells, CellBlockDeleter{slab});
}

BufferLine::BufferLine(int cols, std::optional<CharData> fillData, bool isWrapped)
    : BufferLine(allocateCells(std::min(cols, maxColumns)), cols, fillData.value_or(CharData::Null), isWrapped) {}

BufferLine::BufferLine(CellBlock cells, int cols, const CharData& fillData, bool isWrapped)
    : wrapped(isWrapped),
      dataSize(Columns(std::clamp(cols, 0, maxColumns))),
      capacity_(dataSize),
      data(std::move(cells)),
      clearedTo_(fillData),
      generation_(blankTailBit) {}

BufferLine::BufferLine(const BufferLine& from) : BufferLine(allocateCells(from.dataSize), from) {}

BufferLine::BufferLine(CellBlock cells, const BufferLine& from)
    : renderMode(from.renderMode),
      wrapped(from.wrapped),
      dataSize(from.dataSize),
      capacity_(from.dataSize),
      written_(std::min(from.written_, from.dataSize)),
      data(std::move(cells)),
      clearedTo_(from.clearedTo_),
      images_(from.images_),
      generation_(blankTailBit) {
  // Past the written columns the source holds its blank, which the copy keeps in meaning only:
  // a copy of a blank line stores nothing.
  if (from.isPacked()) {
    from.unpackInto(data.get(), from.packedCount());
    written_ = Columns(from.packedCount());
    return;
  }
  std::copy_n(from.data.get(), written_, data.get());
}

void BufferLine::setOutOfRange(const CharData& cell) {
  std::puts("BufferLine: You passed an index out of range, adjusting to prevent crash, but you should debug");
  if (dataSize == 0) return;
  noteWritten(dataSize);
  data[dataSize - 1] = cell;
  generation_++;
}

bool BufferLine::hasContent(int index) const {
  const CharData& cell = (*this)[index];
  return cell.code != 0 || !cell.hasDefaultAttribute();
}

void BufferLine::storeBlank(int from, int end) { fillCells(data.get() + from, end - from, clearedTo_); }

int BufferLine::widenFor(int end) {
  if (isCompact()) widen();
  return std::min<int>(end, capacity_);
}

void BufferLine::widen() { regrow(dataSize, isPacked() ? packedCount() : written_); }

void BufferLine::reserve(int cells, bool dropPast) {
  cells = std::min<int>(cells, dataSize);
  if (!isCompact() || (!isPacked() && cells <= capacity_)) return;
  const int stored = isPacked() ? packedCount() : int(written_);
  if (dropPast) {
    regrow(cells, std::min(cells, stored));
  } else {
    regrow(std::max(cells, stored), stored);
  }
}

// A compact line holds its blank past the written columns in meaning, so only those move.
void BufferLine::regrow(int size, int kept) {
  CellBlock block = allocateCells(size);
  if (isPacked()) {
    unpackInto(block.get(), kept);
  } else if (kept > 0) {
    std::copy_n(data.get(), kept, block.get());
  }
  written_ = Columns(kept);
  holdBlock(std::move(block), size);
}

void BufferLine::unpackInto(CharData* cells, int count) const {
  const CellWords shared = cellWords(data[0]);
  const uint8_t* codes = packedCodes();
  int i = 0;
#if defined(__SSE2__)
  // A reflow unpacks every row it lays out again: sixteen codes a round, widened to the low word
  // of four cells at a time and each cell one store.
  if constexpr (codeAndWidthLeadTheFirstWord()) {
    const __m128i base = _mm_set_epi64x(int64_t(shared.high), int64_t(shared.low & ~uint64_t(0xffffffff)));
    const __m128i lowWord = _mm_set_epi32(0, 0, 0, -1);
    const __m128i zero = _mm_setzero_si128();
    auto* to = reinterpret_cast<__m128i*>(cells);
    for (; i + 16 <= count; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(codes + i));
      const __m128i halves[2] = {_mm_unpacklo_epi8(bytes, zero), _mm_unpackhi_epi8(bytes, zero)};
      for (int h = 0; h < 2; h++) {
        const __m128i fours[2] = {_mm_unpacklo_epi16(halves[h], zero), _mm_unpackhi_epi16(halves[h], zero)};
        for (int f = 0; f < 2; f++) {
          __m128i four = fours[f];
          for (int k = 0; k < 4; k++) {
            _mm_storeu_si128(to + i + h * 8 + f * 4 + k, _mm_or_si128(base, _mm_and_si128(four, lowWord)));
            four = _mm_srli_si128(four, 4);
          }
        }
      }
    }
  }
#endif
  for (; i < count; i++) {
    const CellWords words{(shared.low & ~uint64_t(0xffffffff)) | codes[i], shared.high};
    std::memcpy(static_cast<void*>(cells + i), &words, sizeof words);
  }
}

BufferLine::CellBlock BufferLine::packInto(CellSlabs& runs, int kept) const {
  const int runCells = packedRunCells(kept);
  if (!codeAndWidthLeadTheFirstWord() || runCells == 0 || runCells > CellSlabs::maxRunCells) return nullptr;
  // The codes of a row wider than a run are gathered on the heap rather than the stack.
  uint8_t few[CellSlabs::maxRunCells];
  std::unique_ptr<uint8_t[]> many;
  if (kept > CellSlabs::maxRunCells) many = std::make_unique_for_overwrite<uint8_t[]>(size_t(kept));
  uint8_t* codes = many ? many.get() : few;
  if (!packCodes(data.get(), kept, codes)) return nullptr;
  CellSlab* slab = nullptr;
  CharData* cells = runs.takeRun(runCells, slab);
  CharData shared = data[0];
  shared.code = kept;
  cells[0] = shared;
  std::memcpy(static_cast<void*>(cells + 1), codes, size_t(kept));
  return CellBlock(cells, CellBlockDeleter{slab});
}

BufferLine::CellBlock BufferLine::compactInto(CellSlabs& runs, bool pack) {
  if (inRun()) return nullptr;
  const int kept = std::min(written_, dataSize);
  // A run of full cells cannot hold a long line, and saves nothing on a line written to its end
  // unless the line's block is a heap block of its own: the run then spares the heap a block.
  const bool packedOnly = kept > CellSlabs::maxRunCells || (kept >= dataSize && cellSlab());
  CellBlock run;
  bool packed = false;
  if (kept > 0) {
    if (pack) run = packInto(runs, kept);
    packed = run != nullptr;
    if (!packed && packedOnly) return nullptr;
    if (!packed) {
      CellSlab* slab = nullptr;
      CharData* cells = runs.takeRun(kept, slab);
      std::copy_n(data.get(), kept, cells);
      run = CellBlock(cells, CellBlockDeleter{slab});
    }
  }
  // Past the written columns the cells hold the blank, stored or in meaning: in meaning from now.
  std::swap(data, run);
  capacity_ = written_ = Columns(packed ? 0 : kept);
  setBlankTail(true);
  if (data) generation_ |= packed ? packedBit | inRunBit : inRunBit;
  return run;
}

void BufferLine::blankFrom(int col) {
  col = std::max(col, 0);
  if (isPacked() || col >= written_) return;
  if (!blankTail()) fillCells(data.get() + col, written_ - col, clearedTo_);
  written_ = Columns(col);
  generation_++;
}

void BufferLine::dropCells() {
  holdBlock(nullptr, 0);
  written_ = 0;
  setBlankTail(true);
  generation_++;
}

void BufferLine::clearInto(CellBlock block, const Attribute& with) {
  takeWholeBlock(std::move(block));
  written_ = 0;
  setBlankTail(true);  // the block's cells are not stored yet
  clearedTo_ = CharData(0, 1, with);
  images_.reset();
  generation_ += 2;
}

void BufferLine::storeBlankTail() {
  if (!blankTail()) return;
  if (isCompact()) widen();
  storeBlank(written_, capacity_);
  setBlankTail(false);
}

// The readers below read the blank a line holds in meaning only without storing it, so reading
// a compact scrollback line leaves it compact.
bool BufferLine::hasAnyContent() const {
  const int stored = storedCount();
  if (stored < dataSize && (clearedTo_.code != 0 || !clearedTo_.hasDefaultAttribute())) return true;
  for (int i = 0; i < stored; i++) {
    const CharData cell = storedCell(i);
    if (cell.code != 0 || !cell.hasDefaultAttribute()) return true;
  }
  return false;
}

int BufferLine::getTrimmedLength() const {
  const int stored = storedCount();
  if (stored < dataSize && clearedTo_.code != 0) return dataSize - 1 + std::max<int>(clearedTo_.width, 0);
  for (int i = stored - 1; i >= 0; i--) {
    const CharData cell = storedCell(i);
    if (cell.code != 0) return i + std::max<int>(cell.width, 0);
  }
  return 0;
}

std::string BufferLine::translateToString(bool trimRight, int startCol, int endCol, bool skipNullCellsFollowingWide,
                                          const CharacterProvider& characterProvider) const {
  int end = endCol == -1 ? dataSize : std::min<int>(endCol, dataSize);
  startCol = std::max(startCol, 0);
  if (trimRight) end = std::max(startCol, std::min(getTrimmedLength(), end));
  std::string out;
  if (startCol >= end) return out;
  const int stored = storedCount();
  auto append = [&](const CharData& cell) {
    if (characterProvider) {
      out += characterProvider(cell);
    } else {
      appendUtf8(out, cell.getCharacter());
    }
  };
  int col = startCol;
  while (col < end) {
    const CharData cell = cellAt(col, stored);
    if (skipNullCellsFollowingWide) {
      if (col >= 1 && cell.code == 0 && cellAt(col - 1, stored).width == 2) {
        col++;
        continue;
      }
      append(cell);
      col += (cell.width == 2 && col + 1 < end && cellAt(col + 1, stored).code == 0) ? 2 : 1;
    } else {
      append(cell);
      col++;
    }
  }
  return out;
}

std::string BufferLine::debugDescription() const {
  const int stored = storedCount();
  std::string out;
  for (int i = 0; i < dataSize; i++) {
    const CharData cell = cellAt(i, stored);
    appendUtf8(out, isValidScalar(cell.code) ? char32_t(cell.code) : U' ');
  }
  return out;
}

void BufferLine::copyFrom(const BufferLine& line) {
  if (&line == this) {
    setWrapped(wrapped);
    generation_++;
    return;
  }
  const CharData* source = line.cells();
  if (capacity_ < line.dataSize) {
    holdBlock(allocateCells(line.dataSize), line.dataSize);
    setBlankTail(false);  // every cell is copied
  } else {
    storeBlankTail();
  }
  std::copy_n(source, line.dataSize, data.get());
  const int copied = line.dataSize;
  const Columns sourceWritten = std::min<Columns>(line.written_, line.dataSize);
  if (capacity_ == copied) {
    clearedTo_ = line.clearedTo_;
    written_ = sourceWritten;
  } else if (clearedTo_ == line.clearedTo_ && written_ <= copied) {
    written_ = sourceWritten;
  } else {
    written_ = std::max(written_, line.dataSize);
  }
  dataSize = line.dataSize;
  setWrapped(line.wrapped);
  generation_++;
}

void BufferLine::copyFrom(const BufferLine& source, int srcCol, int dstCol, int len) {
  // Bounds are the caller's; clip anyway so a slip never leaves the blocks.
  len = std::min({len, source.dataSize - srcCol, dataSize - dstCol});
  // Cells copied onto themselves stay as they are; a reflow leaves a group's first row so, and
  // writing it would give a compact line full cells.
  if (len > 0 && srcCol >= 0 && dstCol >= 0 && !(&source == this && srcCol == dstCol)) {
    // The destination first: when it is the source, widening it changes what the source reads.
    noteWritten(dstCol + len);
    source.readCells(srcCol, len, data.get() + dstCol);
  }
  generation_++;
}

// Reads cells as operator[] would, without storing the source's blank or widening it, so a
// reflow that reads a compact scrollback line leaves it compact.
void BufferLine::readCells(int from, int len, CharData* to) const {
  const int stored = std::clamp(storedCount() - from, 0, len);
  if (isPacked()) {
    for (int i = 0; i < stored; i++) to[i] = packedCell(from + i);
  } else if (stored > 0) {
    // memmove semantics: overlapping ranges of the same line move intact.
    std::memmove(static_cast<void*>(to), data.get() + from, size_t(stored) * sizeof(CharData));
  }
  fillCells(to + stored, len - stored, clearedTo_);
}

void BufferLine::resize(int cols, const CharData& fillData) {
  cols = std::min(cols, maxColumns);
  if (cols == dataSize) return;
  if (resizeInPlace(cols, fillData)) return;
  cells();
  setBlankTail(false);  // the new block is stored whole
  if (cols < 1) {
    holdBlock(allocateCells(0), 0);
    dataSize = written_ = 0;
  } else {
    auto block = allocateCells(cols);
    int kept = std::min<int>(cols, dataSize);
    std::copy_n(data.get(), kept, block.get());
    fillCells(block.get() + kept, cols - kept, fillData);
    holdBlock(std::move(block), cols);
    dataSize = Columns(cols);
    if (kept == cols) {
      written_ = std::min(written_, dataSize);
    } else {
      written_ = Columns(clearedTo_ == fillData ? std::min<int>(written_, kept) : kept);
      clearedTo_ = fillData;
    }
  }
  generation_++;
}

void BufferLine::shrinkBlock(int cols) {
  auto block = allocateCells(cols);
  if (isPacked()) {
    // Only the codes the new width shows come out of the packed run.
    written_ = Columns(std::min(packedCount(), cols));
    unpackInto(block.get(), written_);
    holdBlock(std::move(block), cols);
    return;
  }
  // Past the written columns a line with a blank tail holds the blank in meaning only.
  const int kept = std::min<int>(blankTail() ? written_ : capacity_, cols);
  std::copy_n(data.get(), kept, block.get());
  holdBlock(std::move(block), cols);
  written_ = std::min(written_, capacity_);
  // A line whose every cell was stored keeps that so: the blank past its text is stored too.
  if (!blankTail()) fillCells(data.get() + kept, cols - kept, clearedTo_);
}

// A resize changes only the count where no stored cell is lost and every new column can read as
// the fill: the line keeps its block, a compact scrollback line stays compact, and a resize of a
// whole scrollback allocates and copies nothing.
bool BufferLine::resizeInPlace(int cols, const CharData& fillData) {
  if (cols < 1) return false;
  if (cols < dataSize) {
    // A block far wider than the line now is would hold the memory of its old width for as long
    // as the line lives: a scrollback narrowed once would keep it all. Such a block is cut to
    // size; a block a little wider keeps its cells past the new end, still counted as written,
    // until a wider size clears them, so a window dragged a column at a time copies nothing. A
    // packed run longer than the new width is unpacked as far as the width, not whole.
    if (capacity_ > cols + cols / 2 || (isPacked() && packedCount() > cols)) shrinkBlock(cols);
    dataSize = Columns(cols);
    generation_++;
    return true;
  }
  if (!(clearedTo_ == fillData)) return false;
  if (written_ > dataSize) {
    fillCells(data.get() + dataSize, written_ - dataSize, clearedTo_);
    written_ = dataSize;
  }
  // Past the written columns every cell holds the blank, in memory or in meaning; from now on
  // in meaning, so columns past the block read it too.
  setBlankTail(true);
  dataSize = Columns(cols);
  generation_++;
  return true;
}

void BufferLine::fill(const CharData& with) {
  if (isCompact()) takeWholeBlock(allocateCells(dataSize));  // every cell is stored below
  fillCells(data.get(), capacity_, with);
  setBlankTail(false);
  clearedTo_ = with;
  written_ = 0;
  generation_++;
}

void BufferLine::fill(const CharData& with, int atCol, int len) {
  if (isPacked()) widen();  // an erase cuts its written columns, and it counts none
  atCol = std::max(atCol, 0);
  len = std::min(len, std::max(capacity_, dataSize) - atCol);
  if (len > 0 && atCol + len >= std::max(capacity_, dataSize) && with == clearedTo_) {
    // Erasing to the end with the line's own blank: the line is written only as far as the erase
    // starts, so a row that programs erase after their text scrolls off keeping just the text.
    if (atCol < written_) {
      if (!blankTail()) fillCells(data.get() + atCol, written_ - atCol, with);
      written_ = Columns(atCol);
    }
  } else if (len > 0) {
    noteWritten(atCol + len);
    fillCells(data.get() + atCol, len, with);
  }
  generation_++;
}

void BufferLine::replaceCells(int start, int end, const CharData& fillData) {
  start = std::max(start, 0);
  end = std::min<int>(end, dataSize);
  if (end > start) {
    noteWritten(end);
    fillCells(data.get() + start, end - start, fillData);
  }
  generation_++;
}

void BufferLine::clear(const Attribute& with) {
  const CharData blank(0, 1, with);
  if (isCompact()) takeWholeBlock(allocateCells(dataSize));  // stored whole below
  // A cleared line is stored whole, even one whose blank was never stored: lines come back
  // cleared as a full scrollback turns over, and a stored blank lets the rows written on
  // them store nothing first.
  fillCells(data.get(), blank == clearedTo_ && !blankTail() ? cellsToClear() : capacity_, blank);
  setBlankTail(false);
  clearedTo_ = blank;
  written_ = 0;
  images_.reset();
  generation_ += 2;
}

void BufferLine::prefetchForClear() const {
  constexpr size_t cacheLine = 64;
  // The row of output that follows the clear mostly writes within the first 80 columns, however
  // little the line held before: fetch those too, or each of its stores past the mark misses.
  constexpr int usualRowWidth = 80;
  // A full pass streams well enough on its own, and a compact line is not cleared in place.
  if (capacity_ < partialClearWidth || isCompact()) return;
  const char* first = reinterpret_cast<const char*>(data.get());
  const size_t bytes = size_t(std::max<int>(written_, usualRowWidth)) * sizeof(CharData);
  // Into the outer caches only: a burst of twenty fetches into the first level holds the
  // buffers its misses go through until memory answers, and the stores of the row being
  // printed wait behind them. The clear that comes a few lines later finds the cells near.
  for (size_t at = 0; at < bytes; at += cacheLine) __builtin_prefetch(first + at, 1, 1);
}

void BufferLine::insertCells(int pos, int n, int rightMargin, const CharData& fillData) {
  rightMargin = std::min(rightMargin, dataSize - 1);
  if (rightMargin < 0 || n < 0 || pos < 0) return;
  pos %= rightMargin + 1;
  noteWritten(rightMargin + 1);
  int len = rightMargin + 1 - pos;
  if (n < len) {
    std::memmove(static_cast<void*>(data.get() + pos + n), data.get() + pos, size_t(len - n) * sizeof(CharData));
    fillCells(data.get() + pos, n, fillData);
  } else {
    fillCells(data.get() + pos, rightMargin + 1 - pos, fillData);
  }
  generation_++;
}

void BufferLine::deleteCells(int pos, int n, int rightMargin, const CharData& fillData) {
  rightMargin = std::min(rightMargin, dataSize - 1);
  if (rightMargin < 0 || n < 0 || pos < 0) return;
  pos %= rightMargin + 1;
  noteWritten(rightMargin + 1);
  int len = rightMargin + 1 - pos;
  if (n < len) {
    std::memmove(static_cast<void*>(data.get() + pos), data.get() + pos + n, size_t(len - n) * sizeof(CharData));
    fillCells(data.get() + rightMargin + 1 - n, n, fillData);
  } else {
    fillCells(data.get() + pos, rightMargin + 1 - pos, fillData);
  }
  generation_++;
}

void BufferLine::moveCells(CellBlock block) {
  std::copy_n(data.get(), blankTail() ? written_ : capacity_, block.get());
  holdBlock(std::move(block), capacity_);
}

void BufferLine::attach(std::shared_ptr<TerminalImage> image) {
  TerminalImageList& list = images_ ? images_.list() : images_.emplace();
  list.push_back(std::move(image));
  generation_++;
}

}  // namespace vantrelle
