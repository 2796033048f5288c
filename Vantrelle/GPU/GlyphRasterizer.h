#pragma once
// One glyph of one font into a BGRA bitmap, for the glyph atlases.
#include <cairo.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace vantrelle {

struct GlyphBitmap {
  int width = 1;
  int height = 1;
  // Lower-left corner of the bitmap relative to the glyph origin, in pixels, y up.
  double bearingX = 0;
  double bearingY = 0;
  // width * height * 4 bytes, B G R A premultiplied, first row = top of the glyph.
  std::vector<uint8_t> pixels;
  bool isColor = false;
};

class CoreTextGlyphRasterizer {
 public:
  bool fontSmoothing = true;
  // `font` is already at device size. None for glyphs without ink (spaces), which set `inkless`
  // too, or on failure.
  std::optional<GlyphBitmap> rasterize(cairo_scaled_font_t* font, uint32_t glyph, bool* inkless = nullptr) const;
  // The antialiasing the glyph is drawn with, given the font's own.
  cairo_antialias_t antialiasFor(cairo_antialias_t fontAntialias) const;
};

}  // namespace vantrelle
