#include <algorithm>
#include <bit>
#include <cstring>

#include "Vantrelle/Buffer/Buffer.h"

namespace vantrelle {

namespace {

// Writes one-column cells of the given rendition, one per byte, from column `start`. The row's
// bookkeeping happens once per run, not per cell.
// Whether a cell's code is the low half of its first machine word, as on little-endian targets.
constexpr bool codeIsLowHalfOfFirstWord() {
  CharData probe;
  probe.code = 0x01020304;
  return (std::bit_cast<CellWords>(probe).low & 0xffffffffu) == 0x01020304u;
}

void storeAsciiCells(BufferLine& line, int start, const uint8_t* source, int n, const CharData& cell) {
  const CellWords words = cellWords(cell);
  int inside = std::clamp(line.count() - start, 0, n);
  CharData* destination = line.cellsBelow(start + inside) + start;
  if constexpr (codeIsLowHalfOfFirstWord()) {
    // Each cell is built in registers and stored whole: two stores a cell rather than three,
    // and this loop is bound by its stores.
    const uint64_t rest = words.low & ~uint64_t(0xffffffffu);
    for (int i = 0; i < inside; i++) {
      const CellWords built{rest | source[i], words.high};
      std::memcpy(static_cast<void*>(destination + i), &built, sizeof built);
    }
  } else {
    // Store the whole cell, then its code: patching a copy on the stack and reloading it would
    // stall on store forwarding for every byte.
    for (int i = 0; i < inside; i++) {
      std::memcpy(static_cast<void*>(destination + i), &words, sizeof words);
      destination[i].code = source[i];
    }
  }
  line.touch(uint64_t(inside));
  // Bytes that would land past the line's end collapse onto its last cell, as any store past
  // the end does.
  CharData last = cell;
  for (int i = inside; i < n; i++) {
    last.code = source[i];
    line.set(start + i, last);
  }
}

}  // namespace

void Buffer::wrapToNextRow() {
  x = marginMode ? marginLeft : 0;
  if (y == scrollBottom) {
    scroll(true);
  } else if (y < _rows - 1) {
    // Above the region's bottom, or below the region: move down without scrolling the region,
    // which would overwrite the row under the cursor. On the last row the cursor stays.
    y += 1;
    _lines[yBase + y]->setWrapped(true);
  }
}

void Buffer::insertCharacter(const CharData& charData) {
  int w = charData.width;
  int right = marginMode ? marginRight : _cols - 1;
  if (right < x + w - 1) {
    if (wraparound) {
      wrapToNextRow();
    } else {
      if (w == 2) return;
      x = right;
    }
  }

  BufferLine& line = *_lines[yBase + y];
  if (insertMode) {
    CharData filler(0, 1, curAttr);
    line.insertCells(x, w, marginMode ? marginRight : _cols - 1, filler);
    // A wide character pushed against the edge has lost its second half: blank it.
    if (line.getWidth(std::min(_cols - 1, line.count() - 1)) == 2) line.set(_cols - 1, filler);
  }
  lastBufferStorage = {yBase + y, x, _cols, _rows};
  if (x >= _cols) x = _cols - 1;
  line.set(x, charData);
  x += 1;
  if (w >= 2) {
    CharData continuation(0, 0, curAttr);
    for (int i = 1; i < w; i++) {
      if (x >= _cols) break;
      line.set(x, continuation);
      x += 1;
    }
  }
  if (marginMode) noteMarginWrap();
}

int Buffer::insertAsciiRun(std::span<const uint8_t> bytes, const Attribute& attribute) {
  if (insertMode || bytes.empty()) return 0;
  int right = marginMode ? marginRight : _cols - 1;
  size_t written = 0;
  const CharData cell(0, 1, attribute);
  while (written < bytes.size()) {
    if (x > right) {
      // Crossed margins leave no room on any row: hand the bytes back rather than wrap forever.
      if (!wraparound || (marginMode ? marginLeft : 0) > right) break;
      wrapToNextRow();
    }
    int n = int(std::min<size_t>(size_t(right - x + 1), bytes.size() - written));
    int start = x;
    storeAsciiCells(*_lines[yBase + y], start, bytes.data() + written, n, cell);
    x = start + n;
    written += size_t(n);
  }
  if (written > 0) {
    lastBufferStorage = {yBase + y, x - 1, _cols, _rows};
    if (x > right) noteMarginWrap();
  }
  return int(written);
}

}  // namespace vantrelle
