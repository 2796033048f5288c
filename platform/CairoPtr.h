#pragma once
// Owning holders for Cairo's reference-counted objects, so no destroy call appears in ordinary
// drawing code. Header-only: Cairo comes with the toolkit of whoever includes it, and the
// platform library itself draws nothing.
#include <cairo.h>

#include <memory>

namespace platform {

template <class T, void (*destroy)(T*)>
struct CairoDestroy {
  void operator()(T* object) const {
    if (object) destroy(object);
  }
};

using CairoPtr = std::unique_ptr<cairo_t, CairoDestroy<cairo_t, cairo_destroy>>;
using CairoSurfacePtr = std::unique_ptr<cairo_surface_t, CairoDestroy<cairo_surface_t, cairo_surface_destroy>>;
using CairoPatternPtr = std::unique_ptr<cairo_pattern_t, CairoDestroy<cairo_pattern_t, cairo_pattern_destroy>>;
using CairoFontFacePtr = std::unique_ptr<cairo_font_face_t, CairoDestroy<cairo_font_face_t, cairo_font_face_destroy>>;
using CairoScaledFontPtr =
    std::unique_ptr<cairo_scaled_font_t, CairoDestroy<cairo_scaled_font_t, cairo_scaled_font_destroy>>;
using CairoFontOptionsPtr =
    std::unique_ptr<cairo_font_options_t, CairoDestroy<cairo_font_options_t, cairo_font_options_destroy>>;
using CairoRectangleListPtr =
    std::unique_ptr<cairo_rectangle_list_t, CairoDestroy<cairo_rectangle_list_t, cairo_rectangle_list_destroy>>;

}  // namespace platform
