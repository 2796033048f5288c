#pragma once
// Painting straight into the pixels of a Cairo image surface: solid rectangles and coverage masks
// in one colour, composited over what is there with the same integer arithmetic Cairo's own image
// backend uses, so a cell painted here is the cell Cairo would have painted, without the cost of a
// Cairo call (state, clip and compositor set-up) per cell.
#include <cairo.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Vantrelle/Render/ViewColor.h"
#include "platform/CairoPtr.h"

namespace vantrelle {

// How much of each device pixel a glyph or a line covers, placed relative to an origin.
struct CoverageMask {
  int left = 0;  // device pixels from the origin to the mask's first column
  int top = 0;   // device pixels from the origin to the mask's first row (y down)
  int width = 0;
  int height = 0;
  // Rows of `rowBytes` (0: `width`), first row on top. Past `width` a row holds zeros, so that
  // whole groups of pixels can be painted at once.
  std::vector<uint8_t> coverage;
  int rowBytes = 0;
  // The ink box Cairo measures (device pixels from the origin, rounded outward), by which it
  // decides whether glyphs of one call overlap; it may be a pixel smaller than the coverage.
  int extentsX0 = 0, extentsY0 = 0, extentsX1 = 0, extentsY1 = 0;

  bool empty() const { return width == 0 || height == 0; }
  int stride() const { return rowBytes ? rowBytes : width; }
};

// What `draw` left on a clear ARGB32 scratch surface of `widthPx` x `heightPx` with the given device
// scale, drawn in opaque white, as a mask relative to the device pixel (`originX`, `originY`). None
// when the result is not one plain coverage (a glyph with colours of its own, subpixel
// antialiasing) or touches the scratch surface's edge (it may not have fitted).
template <typename Draw>
std::optional<CoverageMask> coverageOf(int widthPx, int heightPx, double scale, int originX, int originY, Draw draw);
std::optional<CoverageMask> coverageFromWhite(cairo_surface_t* scratch, int originX, int originY);

// A Cairo context's target as pixels, when painting there directly gives what Cairo would: an
// ARGB32 image surface, no transformation beyond its device scale, the operator OVER and a clip of
// one rectangle of whole device pixels.
class PixelCanvas {
 public:
  static std::optional<PixelCanvas> of(cairo_t* cr);

  // The premultiplied pixel Cairo paints for a colour.
  static uint32_t pixel(const ViewColor& color);

  // Fills device pixels [x0, x1) x [y0, y1), clipped.
  void fill(int x0, int y0, int x1, int y1, uint32_t pixel);
  // Paints `mask` with its origin on device pixel (x, y), clipped.
  void paint(const CoverageMask& mask, int x, int y, uint32_t pixel);
  // Masks drawn in one go, as Cairo draws one call's glyphs: when the measured box of one meets
  // those before it, all are summed (saturating) into `scratch` and painted once, else each is
  // painted alone.
  struct Placed {
    const CoverageMask* mask;
    int x;
    int y;
  };
  void paintTogether(std::span<const Placed> masks, uint32_t pixel, CoverageMask& scratch);
  // The device pixel Cairo puts a glyph's origin on for a user-space coordinate.
  int devicePixel(double user) const;

  double scale = 1;

 private:
  static void sum(std::span<const Placed> masks, int x0, int y0, int x1, int y1, CoverageMask& scratch);

  uint8_t* data = nullptr;
  int stride = 0;
  int clipX0 = 0, clipY0 = 0, clipX1 = 0, clipY1 = 0;
};

template <typename Draw>
std::optional<CoverageMask> coverageOf(int widthPx, int heightPx, double scale, int originX, int originY, Draw draw) {
  if (widthPx <= 0 || heightPx <= 0 || widthPx > 4096 || heightPx > 4096) return std::nullopt;
  platform::CairoSurfacePtr scratch(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, widthPx, heightPx));
  if (cairo_surface_status(scratch.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  cairo_surface_set_device_scale(scratch.get(), scale, scale);
  platform::CairoPtr cr(cairo_create(scratch.get()));
  cairo_set_source_rgba(cr.get(), 1, 1, 1, 1);
  draw(cr.get(), originX / scale, originY / scale);
  cr.reset();
  return coverageFromWhite(scratch.get(), originX, originY);
}

}  // namespace vantrelle
