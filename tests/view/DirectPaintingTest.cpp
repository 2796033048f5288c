// Cells painted straight into the pixels look exactly as Cairo paints them: every rendition, width
// and decoration, at both scales, with a selection, a translucent background and a partial redraw.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>

#include "Vantrelle/Render/PixelCanvas.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

// Output that exercises every way a cell is painted.
std::string mixedScreen(unsigned seed) {
  std::mt19937 random(seed);
  const std::vector<std::string> renditions = {"\x1b[0m",
                                               "\x1b[1m",
                                               "\x1b[3m",
                                               "\x1b[1;3m",
                                               "\x1b[2m",
                                               "\x1b[4m",
                                               "\x1b[4:2m",
                                               "\x1b[4:3m",
                                               "\x1b[4:4m",
                                               "\x1b[4:5m",
                                               "\x1b[9m",
                                               "\x1b[4;9m",
                                               "\x1b[7m",
                                               "\x1b[58;5;196m",
                                               "\x1b[38;5;33m",
                                               "\x1b[48;5;236m",
                                               "\x1b[38;2;250;128;14m",
                                               "\x1b[48;2;3;70;140m",
                                               "\x1b[91;104m",
                                               "\x1b[22;23;24;29m"};
  const std::vector<std::string> texts = {"a",
                                          "Wg",
                                          "#{}",
                                          "_|",
                                          "\xc3\xa9",
                                          "e\xcc\x81",
                                          "\xe4\xb8\xad",
                                          "\xf0\x9f\x98\x80",
                                          "\xe2\x94\x80\xe2\x94\xbc",
                                          "\xe2\x96\x92",
                                          " ",
                                          "plain text that runs on",
                                          "fi fl ->"};
  std::string out = "\x1b[H\x1b[2J";
  for (int i = 0; i < 400; i++) {
    out += renditions[random() % renditions.size()];
    out += texts[random() % texts.size()];
    if (random() % 40 == 0) out += "\r\n";
  }
  return out + "\x1b[0m";
}

using Painted = testing::SurfacePixels;

Painted paint(TerminalView& view, bool direct) {
  view.paintsCellsDirectly = direct;
  auto& path = static_cast<CairoDrawingPath&>(view.drawingPath());
  path.invalidateAll();
  return testing::copyPixels(path.render());
}

// The first pixel that differs, as text, or empty.
std::string firstDifference(const Painted& a, const Painted& b) {
  if (a.width != b.width || a.height != b.height) return "sizes differ";
  for (int y = 0; y < a.height; y++) {
    for (int x = 0; x < a.width; x++) {
      uint32_t p, q;
      std::memcpy(&p, &a.pixels[size_t(y) * size_t(a.stride) + size_t(x) * 4], 4);
      std::memcpy(&q, &b.pixels[size_t(y) * size_t(b.stride) + size_t(x) * 4], 4);
      if (p != q) {
        char text[96];
        std::snprintf(text, sizeof text, "(%d, %d): %08x directly, %08x through Cairo", x, y, p, q);
        return text;
      }
    }
  }
  return "";
}

class DirectPainting : public ::testing::TestWithParam<double> {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    made = std::make_unique<TerminalView>();
    view().scaleFactorOverride = GetParam();
    view().size_allocate(Gtk::Allocation(0, 0, 803, 405), -1);
  }
  TerminalView& view() { return *made; }
  std::unique_ptr<TerminalView> made;
};

TEST_P(DirectPainting, MixedRenditionsMatchCairoPixelForPixel) {
  for (unsigned seed = 1; seed <= 6; seed++) {
    view().feed(mixedScreen(seed));
    if (seed == 3) view().selectAll();
    view().setFontSmoothing(seed != 5);
    view().updateDisplay(false);
    EXPECT_EQ(firstDifference(paint(view(), true), paint(view(), false)), "") << "screen " << seed;
  }
}

TEST_P(DirectPainting, TranslucentBackgroundAndDoubleSizeRowsMatchCairo) {
  view().setNativeBackgroundColor(ViewColor{0.1, 0.2, 0.3, 0.6});
  view().feed(
      "\x1b[H\x1b#6wide row \x1b[4mline\r\n\x1b#3tall\r\n\x1b#4tall\r\n\x1b[0;2;38;2;9;99;199mdim \x1b[48;5;0;7m x");
  view().updateDisplay(false);
  EXPECT_EQ(firstDifference(paint(view(), true), paint(view(), false)), "");
}

// Fills the view's pixels with a pattern no drawing makes, as pixels left from earlier frames.
void soil(TerminalView& view) {
  cairo_surface_t* surface = static_cast<CairoDrawingPath&>(view.drawingPath()).render();
  cairo_surface_flush(surface);
  size_t bytes = size_t(cairo_image_surface_get_stride(surface)) * size_t(cairo_image_surface_get_height(surface));
  uint8_t* data = cairo_image_surface_get_data(surface);
  for (size_t i = 0; i < bytes; i++) data[i] = uint8_t(i * 37 + 11);
  cairo_surface_mark_dirty(surface);
}

// Rows whose opaque backgrounds overwrite their band skip clearing it; nothing of what lay there
// may show through, whether the rows are opaque, translucent, double size, past the last line or
// in the strip below the last whole row, and a partial redraw changes nothing outside itself.
TEST_P(DirectPainting, RepaintsLeaveNothingOfTheOldPixels) {
  const std::vector<std::pair<std::string, std::optional<ViewColor>>> screens = {
      {mixedScreen(4), std::nullopt},
      {"\x1b[H\x1b[2J\x1b[48;5;21m" + std::string(100, 'x') + "\x1b[0m\r\nshort", std::nullopt},
      {"\x1b[H\x1b[2J\x1b#6wide\r\n\x1b#3tall\r\n\x1b#4tall\r\n\x1b[48;2;1;2;3mbg", std::nullopt},
      {mixedScreen(2), ViewColor{0.1, 0.2, 0.3, 0.6}}};
  for (size_t i = 0; i < screens.size(); i++) {
    if (screens[i].second) view().setNativeBackgroundColor(*screens[i].second);
    view().feed(screens[i].first);
    view().updateDisplay(false);
    Painted cairo = paint(view(), false);
    soil(view());
    EXPECT_EQ(firstDifference(paint(view(), true), cairo), "") << "screen " << i;
  }
  // A band through the middle of rows: inside it, the frame as drawn whole; outside, the old pixels.
  soil(view());
  auto& path = static_cast<CairoDrawingPath&>(view().drawingPath());
  const Painted soiled = testing::copyPixels(path.render());
  Painted whole = paint(view(), false);
  soil(view());
  view().paintsCellsDirectly = true;
  const double top = 37, bottom = 121;
  path.invalidate({0, top, 803, bottom - top});
  cairo_surface_t* surface = path.render();
  const uint8_t* data = cairo_image_surface_get_data(surface);
  for (int y = 0; y < whole.height; y++) {
    bool inside = y >= top * GetParam() && y < bottom * GetParam();
    const Painted& expected = inside ? whole : soiled;
    size_t offset = size_t(y) * size_t(whole.stride);
    ASSERT_EQ(std::memcmp(data + offset, &expected.pixels[offset], size_t(whole.width) * 4), 0)
        << "row " << y << (inside ? " inside" : " outside") << " the redrawn band";
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, DirectPainting, ::testing::Values(1.0, 2.0));

TEST(PixelCanvas, ColoursBecomeThePixelsCairoFillsWith) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int i = 0; i < 2000; i++) {
    ViewColor color{unit(random), unit(random), unit(random), i % 3 ? 1.0 : unit(random)};
    if (i % 5 == 0) color = ViewColor{double(i % 256) / 255, 0.5, 1, 1};
    cairo_t* cr = cairo_create(surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    uint32_t painted;
    std::memcpy(&painted, cairo_image_surface_get_data(surface), 4);
    ASSERT_EQ(PixelCanvas::pixel(color), painted)
        << color.red << " " << color.green << " " << color.blue << " " << color.alpha;
  }
  cairo_surface_destroy(surface);
}

// Every coverage over varied pixels, in rows of every length from one pixel up, clipped at either
// side: a mask paints what Cairo's mask of the same coverage paints, to the bit.
TEST(PixelCanvas, MasksCompositeAsCairoDoesOverAnyPixels) {
  constexpr int width = 37, height = 48;
  std::mt19937 random(11);
  auto premultiplied = [&] {
    uint32_t alpha = random() % 4 ? 255 : random() % 256;
    uint32_t pixel = alpha << 24;
    for (int shift : {0, 8, 16}) pixel |= (alpha ? uint32_t(random() % (alpha + 1)) : 0) << shift;
    return pixel;
  };
  CoverageMask mask;
  mask.width = width, mask.height = height;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      mask.coverage.push_back(x < y % width + 1 ? uint8_t(random() % 3 ? random() : 255) : 0);
  std::vector<uint8_t> alphaRows(size_t(cairo_format_stride_for_width(CAIRO_FORMAT_A8, width)) * height);
  int alphaStride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, width);
  for (int y = 0; y < height; y++)
    std::memcpy(&alphaRows[size_t(y * alphaStride)], &mask.coverage[size_t(y * width)], width);
  cairo_surface_t* coverage =
      cairo_image_surface_create_for_data(alphaRows.data(), CAIRO_FORMAT_A8, width, height, alphaStride);
  for (ViewColor color : {ViewColor{0.9, 0.2, 0.4, 1}, ViewColor{0.3, 0.8, 0.1, 0.6}}) {
    cairo_surface_t* ours = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width + 2, height);
    cairo_surface_t* theirs = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width + 2, height);
    for (cairo_surface_t* surface : {ours, theirs}) cairo_surface_flush(surface);
    int stride = cairo_image_surface_get_stride(ours);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width + 2; x++) {
        uint32_t pixel = premultiplied();
        std::memcpy(cairo_image_surface_get_data(ours) + y * stride + x * 4, &pixel, 4);
        std::memcpy(cairo_image_surface_get_data(theirs) + y * stride + x * 4, &pixel, 4);
      }
    for (cairo_surface_t* surface : {ours, theirs}) cairo_surface_mark_dirty(surface);
    // Clipped a pixel in from either edge, so the rows start and end off the mask's own bounds.
    cairo_t* cr = cairo_create(theirs);
    cairo_rectangle(cr, 2, 0, width - 1, height);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
    cairo_mask_surface(cr, coverage, 1, 0);
    cairo_destroy(cr);
    cr = cairo_create(ours);
    cairo_rectangle(cr, 2, 0, width - 1, height);
    cairo_clip(cr);
    auto canvas = PixelCanvas::of(cr);
    ASSERT_TRUE(canvas);
    canvas->paint(mask, 1, 0, PixelCanvas::pixel(color));
    cairo_destroy(cr);
    for (cairo_surface_t* surface : {ours, theirs}) cairo_surface_flush(surface);
    for (int y = 0; y < height; y++)
      ASSERT_EQ(std::memcmp(cairo_image_surface_get_data(ours) + y * stride,
                            cairo_image_surface_get_data(theirs) + y * stride, size_t(width + 2) * 4),
                0)
          << "row " << y << " alpha " << color.alpha;
    cairo_surface_destroy(ours);
    cairo_surface_destroy(theirs);
  }
  cairo_surface_destroy(coverage);
}

TEST(PixelCanvas, TakesOnlyTargetsItCanPaintAsCairoWould) {
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 40);
  cairo_t* cr = cairo_create(image);
  EXPECT_TRUE(PixelCanvas::of(cr));
  cairo_save(cr);
  cairo_rectangle(cr, 0.5, 0, 10, 10);
  cairo_clip(cr);
  EXPECT_FALSE(PixelCanvas::of(cr)) << "a clip through the middle of pixels";
  cairo_restore(cr);
  cairo_save(cr);
  cairo_scale(cr, 2, 1);
  EXPECT_FALSE(PixelCanvas::of(cr)) << "a transformation";
  cairo_restore(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  EXPECT_FALSE(PixelCanvas::of(cr)) << "another operator";
  cairo_destroy(cr);
  cairo_surface_destroy(image);

  cairo_surface_t* a8 = cairo_image_surface_create(CAIRO_FORMAT_A8, 40, 40);
  cr = cairo_create(a8);
  EXPECT_FALSE(PixelCanvas::of(cr)) << "another pixel format";
  cairo_destroy(cr);
  cairo_surface_destroy(a8);
}

}  // namespace
}  // namespace vantrelle
