#pragma once
// The Cairo path's frame of a view, to hold the OpenGL path's frame against.
#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "Vantrelle/View/DrawingPath.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

// The Cairo path's pixels of the view, composed over the view's background as the widget shows
// them; empty when that frame is not `width` by `height`.
inline std::vector<uint8_t> cairoFrame(TerminalView& view, int width, int height) {
  CairoDrawingPath cairo(view);
  cairo_surface_t* reference = cairo.render();
  if (!reference) return {};
  cairo_surface_flush(reference);
  int w = cairo_image_surface_get_width(reference), h = cairo_image_surface_get_height(reference);
  if (w != width || h != height) return {};
  std::vector<uint8_t> ref(size_t(w) * h * 4);
  for (int y = 0; y < h; y++) {
    std::copy_n(cairo_image_surface_get_data(reference) + size_t(y) * cairo_image_surface_get_stride(reference),
                size_t(w) * 4, &ref[size_t(y) * w * 4]);
  }
  auto bg = view.nativeBackgroundColor();
  for (size_t i = 0; i < ref.size(); i += 4) {
    double a = ref[i + 3] / 255.0;
    ref[i] = uint8_t(ref[i] + (1 - a) * bg.blue * 255 + 0.5);
    ref[i + 1] = uint8_t(ref[i + 1] + (1 - a) * bg.green * 255 + 0.5);
    ref[i + 2] = uint8_t(ref[i + 2] + (1 - a) * bg.red * 255 + 0.5);
    ref[i + 3] = 255;
  }
  return ref;
}

// B G R A pixels of `w` by `h` into a PNG file, to look at when a comparison fails.
inline void savePng(const std::vector<uint8_t>& px, int w, int h, const std::string& name) {
  std::vector<uint8_t> copy = px;
  cairo_surface_t* s = cairo_image_surface_create_for_data(copy.data(), CAIRO_FORMAT_ARGB32, w, h, w * 4);
  cairo_surface_write_to_png(s, name.c_str());
  cairo_surface_destroy(s);
}

}  // namespace vantrelle
