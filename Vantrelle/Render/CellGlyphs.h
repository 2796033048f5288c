#pragma once
// Where the glyphs of one cell go on the grid, on both drawing paths: a character with its
// combining marks, and a character that no font has.
#include <pango/pango.h>

#include <array>
#include <cstdint>

namespace vantrelle {

// Gives each glyph of a shaped text, walked in order, its x from its cell's left edge in points,
// before a wide glyph is fitted into its slot. A cell's first cluster keeps the shaper's layout, as
// does every cluster of several glyphs (a ligature, a syllable of an Indic script). A later cluster
// of the cell (a combining mark) keeps the shaper's place relative to the first when the shaper
// put it over the first cluster's advance: a mark the font attaches to its base. A font without
// anchors for the pair, or whose marks take an advance of their own (the bold and oblique faces of
// common monospaced fonts), has the mark put beside its base, over the next cell; such a mark is
// drawn over its base instead, centred on it, as a monospaced font's marks are made to be.
class CellGlyphPlacer {
 public:
  // `cluster` tells the shaper's clusters apart (their byte offset in the text); `pen` is the
  // shaper's pen before the glyph and `xOffset` its offset of the glyph, in points.
  double place(int glyphCell, int glyphCluster, PangoFont* font, uint32_t glyph, double pen, double xOffset) {
    opened = glyphCell != cell;
    if (opened) {
      cell = glyphCell;
      cluster = glyphCluster;
      startPen = pen;
      baseEnd = -1;
      shift = 0;
      baseFont = font;
      baseGlyph = glyph;
      return xOffset;
    }
    const double shaped = pen + xOffset - startPen;
    if (glyphCluster == cluster) return shaped + shift;
    return placeMark(glyphCluster, font, glyph, pen, shaped, xOffset);
  }
  // Whether the glyph placed last opened its cell.
  bool openedCell() const { return opened; }

 private:
  double placeMark(int glyphCluster, PangoFont* font, uint32_t glyph, double pen, double shaped, double xOffset);
  int cell = -1;
  int cluster = -1;
  double startPen = 0;
  // Where the cell's first cluster ends, from the cell's left edge (negative until known).
  double baseEnd = -1;
  // How far the current cluster was moved from the shaper's place.
  double shift = 0;
  PangoFont* baseFont = nullptr;
  uint32_t baseGlyph = 0;
  bool opened = false;
};

// Whether a character shows no ink in any font: a space (a tab's cells show as spaces) or other
// separator, a control, or a character invisible by default (joiners, format characters, variation
// selectors, fillers).
bool hasNoInk(char32_t character);

// Whether a glyph the shaper gave stands for a character that no font has, to be drawn as a box.
// A character without ink is blank whatever font the shaper put it in: the shaper keeps a space in
// the font of the text around it, and a symbols font (as the Powerline one, which its package's
// rules put before the monospaced fonts) has no space, so a prompt's spaces came back as unknown.
inline bool isMissingGlyph(PangoGlyph glyph) {
  return (glyph & PANGO_GLYPH_UNKNOWN_FLAG) && !hasNoInk(char32_t(glyph & ~PANGO_GLYPH_UNKNOWN_FLAG));
}

// The box drawn in place of a character that no font has: four bars in whole device pixels, each
// {x0, y0, x1, y1} with y growing downward, framing the cells' slot less a margin.
struct MissingGlyphBox {
  std::array<std::array<int, 4>, 4> bars{};
};
// `slotLeft`, `slotTop` and the sizes in points; `lineWidth` in points, at least one device pixel.
MissingGlyphBox missingGlyphBox(double slotLeft, double slotTop, double slotWidth, double cellHeight, double lineWidth,
                                double scale);

}  // namespace vantrelle
