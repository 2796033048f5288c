#pragma once
// The view's font in its four faces, the metrics of its normal face, and how a glyph wider than
// its cell fits the cells its character has. Both drawing paths lay glyphs out with these.
#include <pangomm/fontdescription.h>

#include <algorithm>

#include "Vantrelle/Render/AttributedRuns.h"
#include "Vantrelle/Render/ViewGeometry.h"

namespace vantrelle {

// The four faces of the view's font.
struct FontSet {
  Pango::FontDescription normal;
  Pango::FontDescription bold;
  Pango::FontDescription italic;
  Pango::FontDescription boldItalic;
  static FontSet from(const Pango::FontDescription& font);
  const Pango::FontDescription& face(FontFace f) const;
};

// Metrics of the normal face, in points.
struct FontMetrics {
  double ascent = 0;
  double descent = 0;
  double leading = 0;
  double advance = 0;  // of "W"
  double underlinePosition = 0;
  double underlineThickness = 1;
  double strikethroughPosition = 0;
  double xHeight = 0;
};

// Offset and scale that fit one glyph into the cells the buffer gave its character.
struct GlyphSlotFit {
  double dx = 0;
  double dy = 0;
  double scale = 1;
  bool operator==(const GlyphSlotFit&) const = default;
};

// Whether a glyph in a one-cell slot was made for a wider place (a fallback font's wide glyph, a
// colour glyph with no text form) and must be fitted into its cell like a wide character's glyph.
// Glyphs of the view's own font have the cell's advance, to within the rounding of the cell to
// device pixels, and are left as they are, italic overhangs included.
inline bool glyphOverflowsSlot(double advance, int columnWidth, double cellWidth) {
  return columnWidth < 2 && advance > cellWidth + std::max(0.5, cellWidth * 0.125);
}

// `glyphBounds` is the glyph's ink rectangle with y up from the baseline; `cell` the cell's size.
// A one-cell slot is fitted only when the glyph overflows it.
GlyphSlotFit glyphSlotFit(double advance, ViewRect glyphBounds, int columnWidth, ViewSize cell,
                          const FontMetrics& metrics);

}  // namespace vantrelle
