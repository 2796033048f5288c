#pragma once

#include <bit>
#include <initializer_list>

#include "Vantrelle/Buffer/Attribute.h"
#include "Vantrelle/Buffer/BufferLine.h"
#include "Vantrelle/Buffer/CharData.h"

namespace vantrelle {

// Text written over one half of a wide character must not leave the other half behind: a lone
// continuation cell, or a wide cell whose glyph would run under the new cell beside it. That half
// becomes a blank, as erasing there leaves it: no character, the background of the rendition being
// written, nothing else. Writers look only at the two ends of what they wrote, never at each cell.

// Blanks the cut-off half at `col`. Rare, so kept out of the loops that print.
[[gnu::cold, gnu::noinline]] inline void blankCutHalf(BufferLine& line, int col, const CellWords& rendition) {
  const Attribute written = std::bit_cast<CharData>(rendition).attribute();
  line.set(col, CharData(0, 1, Attribute(Attribute::Color::defaultColor, written.bg, CharacterStyle::none)));
}

// The second half at `col` of a wide character whose first half was just overwritten.
inline void blankLoneContinuation(BufferLine& line, int col, const CellWords& rendition) {
  if (col < line.count() && line[col].width == 0) [[unlikely]]
    blankCutHalf(line, col, rendition);
}

// Columns [from, to) of `line` were written (or are about to be): blanks the wide character whose
// second half was at `from`, and the second half at `to` of one whose first half was at `to - 1`.
// The write leaves both neighbours alone, so their widths tell before it as well as after. `cells`
// is the line's storage, with every cell below `from` stored, as a writer that took it holds it.
inline void blankCutWideHalves(BufferLine& line, const CharData* cells, int from, int to, const CellWords& rendition) {
  if (from >= to) return;
  if (from > 0 && from <= line.count() && cells[from - 1].width == 2) [[unlikely]]
    blankCutHalf(line, from - 1, rendition);
  blankLoneContinuation(line, to, rendition);
}

// The same away from the caller, for writers of ASCII text, which look only once the buffer may
// hold a wide character: they keep nothing in their own registers for it.
[[gnu::noinline]] inline void blankCutWideHalvesOutOfLine(BufferLine& line, int from, int to, CellWords rendition) {
  blankCutWideHalves(line, line.cellsBelow(from), from, to, rendition);
}

// Edits that move, copy or fill the cells on one side of a column boundary only (the margins, the
// edges of a rectangle, the column where shifted cells fall off) would part a wide character that
// stands across it. Before such an edit, both of its halves become `blank`, so neither is left
// alone on its side and none moves away alone.

// Blanks the wide character whose first half is at `col - 1` and second half at `col`.
inline void blankWideAcross(BufferLine& line, int col, const CharData& blank) {
  if (col > 0 && col < line.count() && line[col].width == 0 && line[col - 1].width == 2) [[unlikely]] {
    line.set(col - 1, blank);
    line.set(col, blank);
  }
}

inline void blankWideAcross(BufferLine& line, std::initializer_list<int> columns, const CharData& blank) {
  for (const int col : columns) blankWideAcross(line, col, blank);
}

}  // namespace vantrelle
