#include "Vantrelle/GPU/GlyphRasterizer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "Vantrelle/Render/GlyphColors.h"
#include "platform/CairoPtr.h"

namespace vantrelle {

cairo_antialias_t CoreTextGlyphRasterizer::antialiasFor(cairo_antialias_t fontAntialias) const {
  // The grayscale atlas keeps one coverage value per pixel, and subpixel rendering, which the
  // desktop may ask for, gives each pixel three. Such fonts, and those that leave the choice to the
  // font backend, are drawn in grey instead.
  if (!fontSmoothing) return CAIRO_ANTIALIAS_GRAY;
  switch (fontAntialias) {
    case CAIRO_ANTIALIAS_NONE:
    case CAIRO_ANTIALIAS_FAST:
    case CAIRO_ANTIALIAS_GOOD:
      return fontAntialias;
    default:
      return CAIRO_ANTIALIAS_GRAY;
  }
}

namespace {

// The smallest box around the pixels of `pixels` (B G R A, `width` wide) that have any coverage:
// left, top, right and bottom, the last two past the box; an empty box when none has.
std::array<int, 4> inkBox(const std::vector<uint8_t>& pixels, int width, int height) {
  int left = width, top = height, right = 0, bottom = 0;
  for (int y = 0; y < height; y++) {
    const uint8_t* row = &pixels[size_t(y) * width * 4];
    for (int x = 0; x < width; x++) {
      if (row[x * 4 + 3] == 0) continue;
      left = std::min(left, x), right = std::max(right, x + 1);
      top = std::min(top, y), bottom = std::max(bottom, y + 1);
    }
  }
  return {left, top, right, bottom};
}

}  // namespace

std::optional<GlyphBitmap> CoreTextGlyphRasterizer::rasterize(cairo_scaled_font_t* font, uint32_t glyph,
                                                              bool* inkless) const {
  if (inkless) *inkless = false;
  if (!font || cairo_scaled_font_status(font) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  cairo_glyph_t g{glyph, 0, 0};
  cairo_text_extents_t extents;
  cairo_scaled_font_glyph_extents(font, &g, 1, &extents);
  if (!(extents.width > 0) || !(extents.height > 0)) {
    if (inkless) *inkless = true;
    return std::nullopt;
  }
  // Cairo measures with y down; the bitmap's bearing is y up from the baseline.
  double minX = extents.x_bearing;
  double minY = -(extents.y_bearing + extents.height);
  // The extents are the outline's; hinting moves the drawn edges to whole pixels, a pixel or two
  // past them under full hinting (the top bar of a "]"). The glyph is drawn with room around its
  // extents and kept to what it inked.
  const int pad = 2 + int(std::ceil(std::max(extents.width, extents.height) / 8));
  int originX = int(std::floor(minX)) - pad;
  int originY = int(std::floor(minY)) - pad;
  int width = int(std::ceil(minX + extents.width)) + pad - originX;
  int height = int(std::ceil(minY + extents.height)) + pad - originY;
  if (width < 1 || height < 1 || width > 16384 || height > 16384) return std::nullopt;

  std::vector<uint8_t> pixels(size_t(width) * height * 4, 0);
  // Cairo's ARGB32 is premultiplied and native-endian: B, G, R, A in memory on little-endian.
  platform::CairoSurfacePtr surface(
      cairo_image_surface_create_for_data(pixels.data(), CAIRO_FORMAT_ARGB32, width, height, width * 4));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  platform::CairoPtr cr(cairo_create(surface.get()));
  platform::CairoFontOptionsPtr options(cairo_font_options_create());
  cairo_scaled_font_get_font_options(font, options.get());
  cairo_font_options_set_antialias(options.get(), antialiasFor(cairo_font_options_get_antialias(options.get())));
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  // Setting the scaled font replaces the context's font options, so the options come after it.
  cairo_set_scaled_font(cr.get(), font);
  cairo_set_font_options(cr.get(), options.get());
  cairo_set_source_rgba(cr.get(), 1, 1, 1, 1);
  // The glyph origin sits originX left of and originY below the surface's lower-left corner.
  cairo_glyph_t placed{glyph, double(-originX), double(height + originY)};
  cairo_show_glyphs(cr.get(), &placed, 1);
  options.reset();
  cr.reset();
  cairo_surface_flush(surface.get());
  surface.reset();

  const auto [left, top, right, bottom] = inkBox(pixels, width, height);
  if (right <= left || bottom <= top) {
    if (inkless) *inkless = true;
    return std::nullopt;
  }
  GlyphBitmap bitmap;
  bitmap.width = right - left;
  bitmap.height = bottom - top;
  bitmap.bearingX = originX + left;
  bitmap.bearingY = originY + (height - bottom);
  bitmap.pixels.resize(size_t(bitmap.width) * bitmap.height * 4);
  for (int y = 0; y < bitmap.height; y++) {
    std::copy_n(&pixels[(size_t(top + y) * width + left) * 4], size_t(bitmap.width) * 4,
                &bitmap.pixels[size_t(y) * bitmap.width * 4]);
  }
  // A glyph with colours of its own keeps them in the colour atlas, whatever they are; every other
  // glyph is coverage, tinted with the text colour.
  bitmap.isColor = glyphHasOwnColors(font, glyph);
  return bitmap;
}

}  // namespace vantrelle
