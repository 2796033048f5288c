#pragma once
// Shared helpers of the terminal view tests: GTK set up once per process, a recording host, a
// main-loop pump, and pixel reads from Cairo surfaces.
#include <cairo.h>
#include <glib.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Vantrelle/View/TerminalView+Images.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle::testing {

inline void ensureGtk() {
  static const bool ready = [] {
    // GTK's own input method, whatever the desktop running the tests uses.
    g_setenv("GTK_IM_MODULE", "gtk-im-context-simple", TRUE);
    gtk_init();
    Gtk::init_gtkmm_internals();
    return true;
  }();
  (void)ready;
}

// The width of the strip the view's scroller keeps free of cells.
inline int scrollerStrip(TerminalView& view) {
  int minimum = 0, natural = 0, minimumBaseline = 0, naturalBaseline = 0;
  view.scrollerWidget()->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minimumBaseline, naturalBaseline);
  return natural;
}

// Runs the main context until `done` holds or the time-out passes.
inline bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  guint tick = g_timeout_add(
      5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool met = true;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      met = false;
      break;
    }
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return met;
}

// Runs the main context for a while, whatever happens.
inline void pumpFor(std::chrono::milliseconds duration) {
  pumpUntil([] { return false; }, duration);
}

struct RecordingHost : TerminalViewDelegate {
  std::string sent;
  std::vector<std::pair<int, int>> sizes;
  std::vector<std::string> titles;
  std::vector<double> scrolls;
  std::vector<std::pair<int, int>> ranges;

  void sizeChanged(TerminalView&, int cols, int rows) override { sizes.emplace_back(cols, rows); }
  void setTerminalTitle(TerminalView&, const std::string& title) override { titles.push_back(title); }
  void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<std::string>&) override {}
  void send(TerminalView&, std::span<const uint8_t> data) override { sent.append(data.begin(), data.end()); }
  void scrolled(TerminalView&, double position) override { scrolls.push_back(position); }
  void rangeChanged(TerminalView&, int startY, int endY) override { ranges.emplace_back(startY, endY); }
};

// An offscreen ARGB surface with a Cairo context on it; pixels read back as 0xAARRGGBB.
struct Canvas {
  cairo_surface_t* surface;
  cairo_t* cr;
  Canvas(int width, int height, double scale = 1.0) {
    surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width * scale), int(height * scale));
    cairo_surface_set_device_scale(surface, scale, scale);
    cr = cairo_create(surface);
  }
  ~Canvas() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  // A device pixel.
  uint32_t pixel(int x, int y) {
    cairo_surface_flush(surface);
    auto* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    return *reinterpret_cast<uint32_t*>(data + size_t(y) * stride + size_t(x) * 4);
  }
  int width() const { return cairo_image_surface_get_width(surface); }
  int height() const { return cairo_image_surface_get_height(surface); }
  bool opaque(int x, int y) { return (pixel(x, y) >> 24) == 0xff; }
  bool clear(int x, int y) { return (pixel(x, y) >> 24) == 0; }
};

// A copy of an image surface's pixels: four bytes each, `stride` bytes a row.
struct SurfacePixels {
  int width = 0, height = 0, stride = 0;
  std::vector<uint8_t> pixels;
};
inline SurfacePixels copyPixels(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  SurfacePixels copy{cairo_image_surface_get_width(surface),
                     cairo_image_surface_get_height(surface),
                     cairo_image_surface_get_stride(surface),
                     {}};
  const uint8_t* data = cairo_image_surface_get_data(surface);
  copy.pixels.assign(data, data + size_t(copy.stride) * size_t(copy.height));
  return copy;
}

// Image slices attached to the lines of the view's active buffer, top to bottom.
inline std::vector<TerminalView::AppleImage*> imageSlices(TerminalView& view) {
  std::vector<TerminalView::AppleImage*> all;
  Buffer& buffer = *view.getTerminal().buffer;
  for (int i = 0; i < buffer.lines().count(); i++) {
    const auto& images = buffer.lines()[i]->images();
    if (!images) continue;
    for (const auto& image : *images) all.push_back(dynamic_cast<TerminalView::AppleImage*>(image.get()));
  }
  return all;
}

}  // namespace vantrelle::testing
