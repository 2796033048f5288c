#pragma once
// Where the glyphs of one cell go on the grid, on both drawing paths: a character with its
// combining marks, and a character that no font has.
#include <pango/pango.h>

#include <array>
#include <cstdint>

namespace vantrelle {

// Gives each glyph of a shaped text, walked in order, its x from its cell's left edge in points,
// before a wide glyph is fitted into its slot. A cell's first glyph sits where the shaper offsets
// it. A later one (a combining mark) keeps the shaper's place relative to that first glyph when the
// shaper put it over the first glyph's advance: a mark the font attaches to its base. A font without anchors for
// the pair, or whose marks take an advance of their own (the bold and oblique faces of common
// monospaced fonts), has the mark put beside its base, over the next cell; such a mark is drawn
// over its base instead, centred on it, as a monospaced font's marks are made to be.
class CellGlyphPlacer {
 public:
  // `pen` is the shaper's pen before the glyph and `xOffset` the shaper's offset of it, in points.
  double place(int glyphCell, PangoFont* font, uint32_t glyph, double pen, double xOffset) {
    opened = glyphCell != cell;
    if (!opened) return placeMark(font, glyph, pen, xOffset);
    cell = glyphCell;
    startPen = pen;
    baseFont = font;
    baseGlyph = glyph;
    return xOffset;
  }
  // Whether the glyph placed last opened its cell.
  bool openedCell() const { return opened; }

 private:
  double placeMark(PangoFont* font, uint32_t glyph, double pen, double xOffset) const;
  int cell = -1;
  double startPen = 0;
  PangoFont* baseFont = nullptr;
  uint32_t baseGlyph = 0;
  bool opened = false;
};

// The box drawn in place of a character that no font has: four bars in whole device pixels, each
// {x0, y0, x1, y1} with y growing downward, framing the cells' slot less a margin.
struct MissingGlyphBox {
  std::array<std::array<int, 4>, 4> bars{};
};
// `slotLeft`, `slotTop` and the sizes in points; `lineWidth` in points, at least one device pixel.
MissingGlyphBox missingGlyphBox(double slotLeft, double slotTop, double slotWidth, double cellHeight, double lineWidth,
                                double scale);

}  // namespace vantrelle
