#pragma once
// The Cairo path's frame of a view, to hold the OpenGL path's frame against.
#include <cairo.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Vantrelle/View/DrawingPath.h"
#include "Vantrelle/View/GpuDrawingPath.h"
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

// One frame of the view on both paths, B G R A pixels of one size: `gpu` is empty when the OpenGL
// path drew nothing, `cairo` when the Cairo path's frame is not of the OpenGL path's size.
struct PathFrames {
  std::vector<uint8_t> gpu, cairo;
  int width = 0, height = 0;
};
inline PathFrames bothFrames(TerminalView& view, GpuDrawingPath& path) {
  auto frame = path.render();
  if (!frame) return {};
  std::vector<uint8_t> cairo = cairoFrame(view, frame->width, frame->height);
  return {std::move(frame->pixels), std::move(cairo), frame->width, frame->height};
}

// The view drawn at `scale` on both paths, by an OpenGL path made for that scale. With
// ZORVEL_SCREENSHOT_DIR set, the frames are kept there to look at, as `name`-<scale>-gpu.png and
// -cairo.png.
inline PathFrames bothFramesAt(TerminalView& view, double scale, const std::string& name) {
  view.scaleFactorOverride = scale;
  view.setMetalScaleFactorOverride(scale);
  auto path = GpuDrawingPath::make(view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  PathFrames frames = bothFrames(view, *path);
  const char* dir = std::getenv("ZORVEL_SCREENSHOT_DIR");
  if (dir && !frames.gpu.empty() && !frames.cairo.empty()) {
    const std::string file = std::string(dir) + "/" + name + "-" + std::to_string(int(scale));
    savePng(frames.gpu, frames.width, frames.height, file + "-gpu.png");
    savePng(frames.cairo, frames.width, frames.height, file + "-cairo.png");
  }
  return frames;
}

// Pixels from (x0, y0) up to (x1, y1).
struct PixelBox {
  int x0, y0, x1, y1;
};

// The mean difference of the bytes of two frames `width` pixels wide, within `box`.
inline double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width, PixelBox box) {
  double total = 0;
  for (int y = box.y0; y < box.y1; y++)
    for (int x = box.x0 * 4; x < box.x1 * 4; x++)
      total += std::abs(a[size_t(y) * width * 4 + x] - b[size_t(y) * width * 4 + x]);
  return total / (double(box.x1 - box.x0) * (box.y1 - box.y0) * 4);
}

}  // namespace vantrelle
