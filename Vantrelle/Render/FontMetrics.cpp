#include "Vantrelle/Render/FontMetrics.h"

#include <algorithm>
#include <cmath>

namespace vantrelle {

FontSet FontSet::from(const Pango::FontDescription& font) {
  FontSet set{font, font, font, font};
  set.bold.set_weight(Pango::Weight::BOLD);
  set.italic.set_style(Pango::Style::ITALIC);
  set.boldItalic.set_weight(Pango::Weight::BOLD);
  set.boldItalic.set_style(Pango::Style::ITALIC);
  return set;
}

const Pango::FontDescription& FontSet::face(FontFace f) const {
  switch (f) {
    case FontFace::bold:
      return bold;
    case FontFace::italic:
      return italic;
    case FontFace::boldItalic:
      return boldItalic;
    case FontFace::normal:
      break;
  }
  return normal;
}

GlyphSlotFit glyphSlotFit(double advance, ViewRect bounds, int columnWidth, ViewSize cell, const FontMetrics& metrics) {
  if (advance <= 0 || (columnWidth < 2 && !glyphOverflowsSlot(advance, columnWidth, cell.width))) return {};
  double slotWidth = cell.width * std::max(columnWidth, 1);
  double cellHeight = cell.height;
  bool fits = bounds.width <= slotWidth && bounds.height <= cellHeight;
  if (fits || bounds.width <= 0 || bounds.height <= 0) return {(slotWidth - advance) * 0.5, 0, 1};
  double s = std::min(slotWidth / bounds.width, cellHeight / bounds.height);
  s = std::clamp(s, 0.1, 1.0);
  GlyphSlotFit fit{(slotWidth - s * advance) * 0.5, 0, s};
  if (s != 1.0 && bounds.height > 0) {
    fit.dy = cellHeight * 0.5 - std::ceil(metrics.descent + metrics.leading) - s * (bounds.y + bounds.height * 0.5);
  }
  return fit;
}

}  // namespace vantrelle
