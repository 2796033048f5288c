#include <algorithm>
#include <bit>
#include <cstring>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Buffer/CellStore.h"
#include "Vantrelle/Buffer/WideHalves.h"

namespace vantrelle {

namespace {

// Whether a cell's code is the low half of its first machine word, as on little-endian targets.
constexpr bool codeIsLowHalfOfFirstWord() {
  CharData probe;
  probe.code = 0x01020304;
  return (std::bit_cast<CellWords>(probe).low & 0xffffffffu) == 0x01020304u;
}

// Writes one-column cells of the given rendition, one per code, from column `start`. The row's
// bookkeeping happens once per run, not per cell.
template <typename Code>
void storeOneColumnCells(BufferLine& line, int start, const Code* source, int n, const CharData& cell) {
  const CellWords words = cellWords(cell);
  int inside = std::clamp(line.count() - start, 0, n);
  CharData* destination = line.cellsFrom(start) + start;
  if constexpr (codeIsLowHalfOfFirstWord()) {
    // Each cell is built in registers and stored whole: two stores a cell rather than three,
    // and this loop is bound by its stores.
    const uint64_t rest = words.low & ~uint64_t(0xffffffffu);
    for (int i = 0; i < inside; i++) {
      const CellWords built{rest | uint32_t(source[i]), words.high};
      std::memcpy(static_cast<void*>(destination + i), &built, sizeof built);
    }
  } else {
    // Store the whole cell, then its code: patching a copy on the stack and reloading it would
    // stall on store forwarding for every byte.
    for (int i = 0; i < inside; i++) {
      std::memcpy(static_cast<void*>(destination + i), &words, sizeof words);
      destination[i].code = int32_t(source[i]);
    }
  }
  line.storedBelow(start + inside);
  line.touch(uint64_t(inside));
  // Codes that would land past the line's end collapse onto its last cell, as any store past
  // the end does.
  CharData last = cell;
  for (int i = inside; i < n; i++) {
    last.code = int32_t(source[i]);
    line.set(start + i, last);
  }
}

// A cell of the given words with its code, built in registers where the code is a word's half.
CellWords withCode(const CellWords& cell, int32_t code, int width) {
  if constexpr (codeIsLowHalfOfFirstWord()) {
    return {cell.low | uint32_t(code), cell.high};
  } else {
    return cellWordsWithValue(std::bit_cast<CharData>(cell), code, width);
  }
}

// A text cell of one column (`wide` 0) or two (`wide` 1), without a branch where the width is
// a byte of the first word: one more column is one more in that byte.
CellWords withCodeAndWidth(const CellWords& narrow, const CellWords& twoColumns, int32_t code, int wide) {
  if constexpr (codeIsLowHalfOfFirstWord() && codeAndWidthLeadTheFirstWord()) {
    return {(narrow.low | uint32_t(code)) + (uint64_t(wide) << 32), narrow.high};
  } else {
    return withCode(wide ? twoColumns : narrow, code, 1 + wide);
  }
}

// The column printing wraps after. Margins hold text only once it is inside them: from a cursor
// placed right of the right margin text runs on to the screen's edge, as CUF moves there, rather
// than jumping to the next row. Just past the margin after printing up to it, a wrap is pending.
// Crossed margins hold no text anywhere.
int printRightEdge(const Buffer& b) {
  if (!b.marginMode) return b.cols() - 1;
  if (b.x <= b.marginRight || b.marginLeft > b.marginRight) return b.marginRight;
  const bool wrapPendingAtMargin = b.x == b.marginRight + 1 && b.marginWrapRow == b.y;
  return wrapPendingAtMargin ? b.marginRight : b.cols() - 1;
}

}  // namespace

void Buffer::wrapToNextRow() {
  x = marginMode ? marginLeft : 0;
  // The wrap that was pending at a right margin is taken: it must not stay pending for the row
  // the cursor lands on, which is the same row when the region scrolls.
  marginWrapRow = -1;
  if (y == scrollBottom) {
    scroll(true);
  } else if (y < _rows - 1) {
    // Above the region's bottom, or below the region: move down without scrolling the region,
    // which would overwrite the row under the cursor. On the last row the cursor stays.
    y += 1;
    _lines[yBase + y]->setWrapped(true);
  }
}

void Buffer::insertCharacter(CharData charData) {
  int w = charData.width;
  int right = printRightEdge(*this);
  if (right < x + w - 1) {
    if (wraparound) {
      wrapToNextRow();
    } else {
      if (w == 2) return;
      x = right;
    }
  }

  const int row = yBase + y;
  BufferLine& line = *_lines[row];
  if (insertMode) {
    CharData filler(0, 1, curAttr);
    // Where the character goes now: a wrap above took the cursor inside the margins.
    const int edge = printRightEdge(*this);
    // Cells pushed past the edge are lost: a wide character across the column they start falling
    // off at, or across the edge itself, would keep one half. Both of its halves become filler.
    blankWideAcross(line, {edge - w + 1, edge + 1}, filler);
    line.insertCells(x, w, edge, filler);
  }
  int col = x;
  lastBufferStorage = {row, col, _cols, _rows};
  if (col >= _cols) col = _cols - 1;
  const int from = col;
  storeCell(line, col++, cellWords(charData));
  if (w >= 2) {
    mayHoldWideCells = true;
    // Equal bytes are an equal rendition; unequal ones at worst pack the same cell again.
    if (std::memcmp(&continuationAttr, &curAttr, sizeof(Attribute)) != 0) {
      continuationAttr = curAttr;
      continuationCell = CharData(0, 0, curAttr);
    }
    for (int i = 1; i < w && col < _cols; i++) storeCell(line, col++, cellWords(continuationCell));
    // Margins one column wide at the screen's edge leave no room for the second half even after
    // a wrap: the character is blanked rather than left without it.
    if (col < from + w) [[unlikely]]
      blankCutHalf(line, from, cellWords(charData));
  }
  if (mayHoldWideCells) blankCutWideHalves(line, line.cellsBelow(from), from, col, cellWords(charData));
  x = col;
  noteMarginWrap();
}

template <typename Code>
int Buffer::insertOneColumnRun(std::span<const Code> codes, const CharData& rendition) {
  if (insertMode || codes.empty()) return 0;
  int right = printRightEdge(*this);
  size_t written = 0;
  const auto cell = std::bit_cast<CharData>(cellWordsWithValue(rendition, 0, 1));
  while (written < codes.size()) {
    if (x > right) {
      // Crossed margins leave no room on any row: hand the codes back rather than wrap forever.
      if (!wraparound || (marginMode && marginLeft > marginRight)) break;
      wrapToNextRow();
      right = printRightEdge(*this);
    }
    int n = int(std::min<size_t>(size_t(right - x + 1), codes.size() - written));
    int start = x;
    BufferLine& line = *_lines[yBase + y];
    storeOneColumnCells(line, start, codes.data() + written, n, cell);
    if (mayHoldWideCells) blankCutWideHalves(line, line.cellsBelow(start), start, start + n, cellWords(cell));
    x = start + n;
    written += size_t(n);
  }
  if (written > 0) {
    lastBufferStorage = {yBase + y, x - 1, _cols, _rows};
    noteMarginWrap();
  }
  return int(written);
}

int Buffer::insertAsciiRun(std::span<const uint8_t> bytes, const Attribute& attribute) {
  return insertOneColumnRun(bytes, CharData(0, 1, attribute));
}

int Buffer::insertAsciiRun(std::span<const uint8_t> bytes, const CharData& cell) {
  return insertOneColumnRun(bytes, cell);
}

int Buffer::insertTextRun(std::span<const int32_t> codes, const CharData& cell) {
  if (insertMode) return 0;
  mayHoldWideCells = true;
  const int left = marginMode ? marginLeft : 0;
  int right = printRightEdge(*this);
  if (std::memcmp(&continuationAttr, &curAttr, sizeof(Attribute)) != 0) {
    continuationAttr = curAttr;
    continuationCell = CharData(0, 0, curAttr);
  }
  const TextCells cells{cellWordsWithValue(cell, 0, 1), cellWordsWithValue(cell, 0, 2), cellWords(continuationCell)};
  size_t written = 0;
  int lastRow = 0;
  int lastColumn = 0;
  while (written < codes.size()) {
    const int w = codes[written] < kWideCode ? 1 : 2;
    if (x + w - 1 > right) {
      // A character wider than the margins leave, or one that autowrap off drops or squeezes
      // against the margin, goes back to the caller: it takes the single-cell rules.
      if (!wraparound || (marginMode ? marginRight : right) - left + 1 < w) break;
      wrapToNextRow();
      right = printRightEdge(*this);
    }
    const size_t n = storeTextOnRow(codes.subspan(written), right, cells, lastColumn);
    if (n == 0) break;
    written += n;
    lastRow = yBase + y;
  }
  if (written > 0) {
    lastBufferStorage = {lastRow, lastColumn, _cols, _rows};
    noteMarginWrap();
  }
  return int(written);
}

// Writes codes from the cursor on its row while they fit left of `right` and inside the line,
// and moves the cursor past them; returns how many, and where the last began in `lastColumn`.
size_t Buffer::storeTextOnRow(std::span<const int32_t> codes, int right, const TextCells& cells, int& lastColumn) {
  BufferLine& line = *_lines[yBase + y];
  const int end = std::min(right + 1, line.count());
  CharData* const destination = line.cellsFrom(x);
  CharData* const limit = destination + end;
  // Pointers and cells in registers: the stores below may alias anything the compiler cannot see.
  CharData* at = destination + x;
  CharData* last = destination + lastColumn;
  const CellWords narrow = cells.narrow;
  const CellWords twoColumns = cells.wide;
  const CellWords continuation = cells.continuation;
  const size_t n = codes.size();
  size_t k = 0;
  while (k < n) {
    // Two cells a round while four columns are left, so one bound and one test for a widened
    // cell serve both. One- and two-column text mixes at random, so each cell is stored without
    // a branch on its width: its continuation goes first, to the next column or, for one
    // column, under the cell.
    while (k + 2 <= n && at + 4 <= limit) {
      const int32_t first = codes[k];
      const int32_t second = codes[k + 1];
      if ((first | second) & kWidenedCode) break;
      const int firstWide = int(uint32_t(first) >> 30);
      const int secondWide = int(uint32_t(second) >> 30);
      CharData* const middle = at + 1 + firstWide;
      CharData* const after = middle + 1 + secondWide;
      const CellWords firstBuilt = withCodeAndWidth(narrow, twoColumns, first & ~kWideCode, firstWide);
      const CellWords secondBuilt = withCodeAndWidth(narrow, twoColumns, second & ~kWideCode, secondWide);
      std::memcpy(static_cast<void*>(middle - 1), &continuation, sizeof continuation);
      std::memcpy(static_cast<void*>(at), &firstBuilt, sizeof firstBuilt);
      std::memcpy(static_cast<void*>(after - 1), &continuation, sizeof continuation);
      std::memcpy(static_cast<void*>(middle), &secondBuilt, sizeof secondBuilt);
      last = middle;
      at = after;
      k += 2;
    }
    if (k == n) break;
    // One cell: near the row's end, a widened one, or the last of an odd count.
    const int32_t code = codes[k];
    // A widened cell is never wide in the run as well, so one bit tells it.
    if (code & kWidenedCode) {
      const int col = int(at - destination);
      const int width = storeWidenedCell(destination, col, end, right, cells, code - kWidenedCode);
      if (width == 0) break;
      last = at;
      at += width;
      ++k;
      continue;
    }
    const int wide = int(uint32_t(code) >> 30);
    CharData* const after = at + 1 + wide;
    if (after > limit) break;
    const CellWords built = withCodeAndWidth(narrow, twoColumns, code & ~kWideCode, wide);
    std::memcpy(static_cast<void*>(after - 1), &continuation, sizeof continuation);
    std::memcpy(static_cast<void*>(at), &built, sizeof built);
    last = at;
    at = after;
    ++k;
  }
  const int col = int(at - destination);
  line.storedBelow(col);
  blankCutWideHalves(line, destination, x, col, narrow);
  line.touch(uint64_t(col - x));
  x = col;
  lastColumn = int(last - destination);
  return k;
}

// A cell that an emoji selector widened: two columns with room before the row's end, one in the
// last column; none where it would widen past a right margin short of the last column, or end
// on the margin (where the one-column cell before the selector left the margin's wrap state
// untouched), which the single-cell rules take. Returns the columns stored, 0 for none.
int Buffer::storeWidenedCell(CharData* destination, int col, int end, int right, const TextCells& cells, int32_t code) {
  if (col >= end) return 0;
  if (col + 1 < end && !(marginMode && col + 1 == right)) {
    const CellWords built = withCode(cells.wide, code, 2);
    std::memcpy(static_cast<void*>(destination + col), &built, sizeof built);
    std::memcpy(static_cast<void*>(destination + col + 1), &widenedContinuation(cells.narrow),
                sizeof selectorContinuation);
    return 2;
  }
  if (col + 1 != _cols) return 0;
  const CellWords built = withCode(cells.narrow, code, 1);
  std::memcpy(static_cast<void*>(destination + col), &built, sizeof built);
  return 1;
}

const CellWords& Buffer::widenedContinuation(const CellWords& narrow) {
  // The selector's continuation takes the rendition as the cell reads it back, unpacked again
  // only when the rendition changes.
  if (std::memcmp(&selectorRendition, &narrow, sizeof(CellWords)) != 0) {
    selectorRendition = narrow;
    selectorContinuation = cellWords(CharData(0, 0, std::bit_cast<CharData>(narrow).attribute()));
  }
  return selectorContinuation;
}

bool Buffer::openTextRow(const CharData& cell, TextRow& row) {
  if (insertMode || marginMode || !wraparound || _cols < 2) return false;
  const int at = yBase + y;
  if (at >= _lines.count()) return false;
  BufferLine& line = *_lines[at];
  const int end = std::min(_cols, line.count());
  if (x >= end) return false;
  if (std::memcmp(&continuationAttr, &curAttr, sizeof(Attribute)) != 0) {
    continuationAttr = curAttr;
    continuationCell = CharData(0, 0, curAttr);
  }
  mayHoldWideCells = true;
  row.line = &line;
  row.cells = line.cellsFrom(x);
  row.at = row.cells + x;
  row.limit = row.cells + end;
  row.narrow = cellWordsWithValue(cell, 0, 1);
  row.continuation = cellWords(continuationCell);
  return true;
}

void Buffer::closeTextRow(const TextRow& row, const CharData* last) {
  const int col = int(row.at - row.cells);
  row.line->storedBelow(col);
  blankCutWideHalves(*row.line, row.cells, x, col, row.narrow);
  row.line->touch(uint64_t(std::max(col - x, 1)));
  x = col;
  lastBufferStorage = {yBase + y, int(last - row.cells), _cols, _rows};
  noteMarginWrap();
}

}  // namespace vantrelle
