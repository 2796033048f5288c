#pragma once
// Whether a glyph is drawn in colours of its own (an emoji, mostly) or is an outline drawn in the
// text colour. Both drawing paths ask the font, never the glyph's pixels: a colour glyph may be all
// greys, or all white, and then looks just like a coverage mask drawn in white ink.
#include <cairo.h>

#include <cstdint>

namespace vantrelle {

// True when the glyph comes from the font as a colour bitmap (a CBDT or sbix strike) or as layers
// of palette colours (COLR). False for outlines, for glyphs the font does not hold and for fonts
// that are not FreeType fonts.
bool glyphHasOwnColors(cairo_scaled_font_t* font, uint32_t glyph);

}  // namespace vantrelle
