// Images through the GPU path against a real GL context: an image whose height is not a whole
// number of cells shows its last, partial row, as the Cairo path does.
#include <cairo.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <cmath>
#include <string>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/Text/Base64.h"
#include "Vantrelle/View/DrawingPath.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "Vantrelle/View/TerminalView.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

TEST(GpuImageRows, ThePartialLastRowOfAnImageIsDrawnOnBothPaths) {
  vantrelle::testing::ensureGtk();
  TerminalView view;
  view.scaleFactorOverride = 1.0;
  view.size_allocate(Gtk::Allocation(0, 0, 640, 200), -1);
  double ch = view.cellDimension->height;
  int height = int(std::round(ch * 1.5));  // one whole row and half of the next
  std::vector<uint8_t> red(size_t(4) * size_t(height) * 4);
  for (size_t i = 0; i < red.size(); i += 4) red[i] = red[i + 3] = 0xff;
  std::string command = "\x1b_Ga=T,q=2,f=32,s=4,v=" + std::to_string(height) + ";";
  command.append(base64Encode(red)).append("\x1b\\");
  view.feed(command);
  view.updateDisplay(false);

  auto gpu = GpuDrawingPath::make(view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  auto frame = gpu->render();
  ASSERT_TRUE(frame);
  auto gl = [&](int x, int y) {
    const uint8_t* p = &frame->pixels[(size_t(y) * size_t(frame->width) + size_t(x)) * 4];
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
  };
  CairoDrawingPath cairoPath(view);
  cairo_surface_t* surface = cairoPath.render();
  ASSERT_NE(surface, nullptr);
  cairo_surface_flush(surface);
  auto cairo = [&](int x, int y) {
    auto* data = cairo_image_surface_get_data(surface);
    return *reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(cairo_image_surface_get_stride(surface)) +
                                        size_t(x) * 4) &
           0xffffff;
  };
  auto check = [&](const char* name, auto pixel) {
    EXPECT_EQ(pixel(1, 2), 0xff0000u) << name;
    EXPECT_EQ(pixel(1, height - 2), 0xff0000u) << name << ": the last, partial row";
    EXPECT_NE(pixel(1, height + 2), 0xff0000u) << name << ": below the image";
    EXPECT_NE(pixel(6, 2), 0xff0000u) << name << ": right of the image";
  };
  check("gl", gl);
  check("cairo", cairo);
}

// A texture lives as long as its image: once no line holds the image, the next frame lets the
// texture go, whether or not another image is drawn after it.
TEST(GpuImageRows, AnImageThatLeavesTheScreenTakesItsTextureWithIt) {
  vantrelle::testing::ensureGtk();
  TerminalView view;
  view.scaleFactorOverride = 1.0;
  view.size_allocate(Gtk::Allocation(0, 0, 640, 200), -1);
  auto gpu = GpuDrawingPath::make(view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  view.feed(std::string("\x1bPq#1;2;100;0;0#1!20~-!20~\x1b\\"));
  ASSERT_TRUE(gpu->render());
  EXPECT_EQ(gpu->renderer_().imageTextureCache.size(), 1u);
  view.feed(
      std::string("\x1b"
                  "c"));
  ASSERT_TRUE(gpu->render());
  EXPECT_TRUE(gpu->renderer_().imageTextureCache.empty());
}

}  // namespace
}  // namespace vantrelle
