#include "Vantrelle/Render/GlyphColors.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_COLOR_H

namespace vantrelle {

namespace {

bool loadsAsColor(FT_Face face, uint32_t glyph) {
  // Outline fonts, nearly every font a terminal shows, have no colour tables at all.
  if (!FT_HAS_COLOR(face)) return false;
  FT_LayerIterator layers{};
  FT_UInt layerGlyph = 0, layerColor = 0;
  if (FT_Get_Color_Glyph_Layer(face, glyph, &layerGlyph, &layerColor, &layers)) return true;
  // Colour bitmaps live in strikes; a font of colour layers alone has none.
  if (!FT_HAS_FIXED_SIZES(face)) return false;
  // Colour strikes load as BGRA bitmaps; a font may hold monochrome strikes beside them. The
  // strike gives the bitmap's format, so the bitmap is not decoded: Cairo decodes it to draw it,
  // and decoding it here as well made rasterising a colour glyph a sixth dearer.
  if (FT_Load_Glyph(face, glyph, FT_LOAD_COLOR | FT_LOAD_BITMAP_METRICS_ONLY) != 0) return false;
  const FT_GlyphSlot slot = face->glyph;
  return slot->format == FT_GLYPH_FORMAT_BITMAP && slot->bitmap.pixel_mode == FT_PIXEL_MODE_BGRA;
}

}  // namespace

bool glyphHasOwnColors(cairo_scaled_font_t* font, uint32_t glyph) {
  if (!font || cairo_scaled_font_status(font) != CAIRO_STATUS_SUCCESS ||
      cairo_scaled_font_get_type(font) != CAIRO_FONT_TYPE_FT)
    return false;
  // Locking sets the face to the scaled font's size, so a bitmap font picks the strike Cairo draws.
  FT_Face face = cairo_ft_scaled_font_lock_face(font);
  if (!face) return false;
  const bool color = loadsAsColor(face, glyph);
  cairo_ft_scaled_font_unlock_face(font);
  return color;
}

}  // namespace vantrelle
