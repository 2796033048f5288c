#pragma once
// The view's font in its four faces, the metrics of its normal face, and how a glyph wider than
// its cell fits a slot of several cells. Both drawing paths lay glyphs out with these.
#include <pangomm/fontdescription.h>

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

// Offset and scale that fit one glyph into a slot of several cells.
struct GlyphSlotFit {
  double dx = 0;
  double dy = 0;
  double scale = 1;
  bool operator==(const GlyphSlotFit&) const = default;
};

// `glyphBounds` is the glyph's ink rectangle with y up from the baseline; `cell` the cell's size.
GlyphSlotFit glyphSlotFit(double advance, ViewRect glyphBounds, int columnWidth, ViewSize cell,
                          const FontMetrics& metrics);

}  // namespace vantrelle
