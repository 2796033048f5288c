// Glyphs of one cell on the grid: combining marks over their base, and the box of a missing glyph.
#include "Vantrelle/Render/CellGlyphs.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <cmath>

namespace vantrelle {

// Only the first glyph of a cluster after the cell's first gets here: a cell of plain text has one
// glyph, and measures nothing.
double CellGlyphPlacer::placeMark(int glyphCluster, PangoFont* font, uint32_t glyph, double pen, double shaped,
                                  double xOffset) {
  cluster = glyphCluster;
  shift = 0;
  if (baseEnd < 0) baseEnd = pen - startPen;
  if (!font || !baseFont) return shaped;
  PangoRectangle ink, logical, baseLogical;
  pango_font_get_glyph_extents(font, glyph, &ink, &logical);
  if (ink.width <= 0) return shaped;
  const double centre = shaped + (ink.x + ink.width * 0.5) / PANGO_SCALE;
  if (centre >= 0 && centre < baseEnd) return shaped;
  // Centred by the advances the font gives both glyphs, which for a monospaced font's marks are
  // its cell's: such a mark lands where its font drew it, on whole pixels.
  pango_font_get_glyph_extents(baseFont, baseGlyph, nullptr, &baseLogical);
  const double x = double(baseLogical.width - logical.width) / PANGO_SCALE * 0.5 + xOffset;
  shift = x - shaped;
  return x;
}

bool hasNoInk(char32_t character) {
  const auto c = UChar32(character);
  if (c > 0x10ffff) return false;
  switch (u_charType(c)) {
    case U_CONTROL_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    case U_SPACE_SEPARATOR:
      return c != 0x1680;  // the Ogham space mark is a stroke
    default:
      break;
  }
  // Default ignorables leave out the format characters that do show, as the Arabic number signs.
  return u_hasBinaryProperty(c, UCHAR_DEFAULT_IGNORABLE_CODE_POINT) || c == 0x2800;  // the blank Braille pattern
}

MissingGlyphBox missingGlyphBox(double slotLeft, double slotTop, double slotWidth, double cellHeight, double lineWidth,
                                double scale) {
  int x0 = int(std::lround(slotLeft * scale)), x1 = int(std::lround((slotLeft + slotWidth) * scale));
  int y0 = int(std::lround(slotTop * scale)), y1 = int(std::lround((slotTop + cellHeight) * scale));
  // A margin keeps the boxes of neighbouring cells apart.
  const int marginX = std::max(1, (x1 - x0) / 8), marginY = std::max(1, (y1 - y0) / 8);
  x0 += marginX, x1 -= marginX, y0 += marginY, y1 -= marginY;
  MissingGlyphBox box;
  if (x1 <= x0 || y1 <= y0) return box;
  // In a slot too small for a frame the bars meet, and fill it.
  const int line = std::clamp(int(std::lround(lineWidth * scale)), 1, std::max(1, std::min(x1 - x0, y1 - y0) / 2));
  box.bars = {{{x0, y0, x1, y0 + line},
               {x0, y1 - line, x1, y1},
               {x0, y0 + line, x0 + line, y1 - line},
               {x1 - line, y0 + line, x1, y1 - line}}};
  return box;
}

}  // namespace vantrelle
