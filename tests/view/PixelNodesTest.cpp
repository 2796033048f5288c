// The view's own pixels as GTK nodes: whichever renderer paints them, they show exactly the rows
// handed over, where the bounds say, and they stay right after the rows they came from change.
#include <gtest/gtest.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include <cstdint>
#include <vector>

#include "Vantrelle/View/PixelNodes.h"
#include "Vantrelle/View/WindowRenderer.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

// `node` rendered by GTK's Cairo renderer over `width` x `height` points, as ARGB32 pixels.
std::vector<uint32_t> renderWithCairo(GskRenderNode* node, int width, int height) {
  GskRenderer* renderer = gsk_cairo_renderer_new();
  GdkSurface* surface = gdk_surface_new_toplevel(gdk_display_get_default());
  std::vector<uint32_t> pixels(size_t(width) * size_t(height));
  if (gsk_renderer_realize(renderer, surface, nullptr)) {
    graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &viewport);
    gdk_texture_download(texture, reinterpret_cast<guchar*>(pixels.data()), size_t(width) * 4);
    g_object_unref(texture);
    gsk_renderer_unrealize(renderer);
  }
  g_object_unref(renderer);
  gdk_surface_destroy(surface);
  g_object_unref(surface);
  return pixels;
}

TEST(PixelNodes, ShowTheRowsHandedOverWhereTheBoundsSayEvenAfterTheSourceChanges) {
  testing::ensureGtk();
  // Four rows of six pixels, each pixel its own opaque colour.
  constexpr int width = 6, height = 4, stride = width * 4;
  std::vector<uint32_t> source(size_t(width) * height);
  for (size_t i = 0; i < source.size(); i++) source[i] = 0xff000000u | uint32_t(i * 0x0a0b0c);
  const std::vector<uint32_t> original = source;
  // Drawn at one pixel per point, two rows down; and at two device pixels per point.
  struct Case {
    graphene_rect_t bounds;
    int pixelsPerPoint;
  };
  for (Case c : {Case{GRAPHENE_RECT_INIT(0, 2, width, height), 1}, Case{GRAPHENE_RECT_INIT(0, 0, 3, 2), 2}}) {
    for (bool forCairo : {true, false}) {
      source = original;
      PixelRows rows{reinterpret_cast<const uint8_t*>(source.data()), stride, width, height};
      RenderNodePtr node = makePixelNode(rows, c.bounds, forCairo);
      ASSERT_TRUE(node);
      // The rows the node came from are drawn over at once, as the view's surface is.
      for (uint32_t& pixel : source) pixel = 0xffffffffu;
      // Rendered at the node's own pixel density, the pixels come back unchanged.
      int scale = c.pixelsPerPoint;
      // (An identity transform is no transform: GTK gives none.)
      GskTransform* zoom = gsk_transform_scale(nullptr, float(scale), float(scale));
      GskRenderNode* scaled = zoom ? gsk_transform_node_new(node.get(), zoom) : gsk_render_node_ref(node.get());
      gsk_transform_unref(zoom);
      auto shown = renderWithCairo(scaled, width, int(c.bounds.origin.y) * scale + height);
      gsk_render_node_unref(scaled);
      int top = int(c.bounds.origin.y) * scale;
      for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
          ASSERT_EQ(shown[size_t((top + y) * width + x)], original[size_t(y * width + x)])
              << "cairo node " << forCairo << ", scale " << scale << ", pixel " << x << "," << y;
        }
      }
    }
  }
  // Nothing to show is no node.
  EXPECT_FALSE(makePixelNode(PixelRows{nullptr, 0, 0, 0}, GRAPHENE_RECT_INIT(0, 0, 1, 1), true));
}

// What is kept for the window's uploads grows with the largest window at once, and comes down to
// the window's size once that settles, so that the pool of a window once large goes with it.
TEST(WindowUploads, WhatIsKeptFollowsTheWindowDownOnceItsSizeSettles) {
  testing::ensureGtk();
  Gtk::Window large, small;
  Gtk::Label inLarge, inSmall;
  large.set_default_size(1600, 900);
  small.set_default_size(300, 200);
  large.set_child(inLarge);
  small.set_child(inSmall);
  large.present();
  small.present();
  ASSERT_TRUE(testing::pumpUntil([&] { return large.get_width() > 0 && small.get_width() > 0; }));
  const size_t largeBytes = size_t(large.get_width()) * size_t(large.get_height()) * 4;
  const size_t smallBytes = size_t(small.get_width()) * size_t(small.get_height()) * 4;
  ASSERT_GT(largeBytes, 2 * smallBytes);
  keepWindowUploadsWarm(inLarge);
  if (!windowUploadsReserved(inLarge)) GTEST_SKIP() << "uploads are kept on X11 only";
  EXPECT_EQ(windowUploadsReserved(inLarge), largeBytes);
  keepWindowUploadsWarm(inSmall);
  EXPECT_EQ(windowUploadsReserved(inSmall), largeBytes) << "kept while a larger window may need it";
  fitWindowUploads(inSmall);
  EXPECT_EQ(windowUploadsReserved(inSmall), smallBytes);
  fitWindowUploads(inSmall);
  EXPECT_EQ(windowUploadsReserved(inSmall), smallBytes);
  keepWindowUploadsWarm(inLarge);
  EXPECT_EQ(windowUploadsReserved(inLarge), largeBytes);
  small.destroy();
  large.destroy();
}

TEST(WindowRenderer, OnlyASoftwareRasterizerTurnsTheWindowsToCairo) {
  EXPECT_TRUE(isSoftwareGLRenderer("llvmpipe (LLVM 15.0.6, 256 bits)"));
  EXPECT_TRUE(isSoftwareGLRenderer("softpipe"));
  EXPECT_TRUE(isSoftwareGLRenderer("Mesa X11 Software Rasterizer"));
  EXPECT_FALSE(isSoftwareGLRenderer("AMD Radeon RX 6600 (radeonsi, navi23, LLVM 15.0.6, DRM 3.49)"));
  EXPECT_FALSE(isSoftwareGLRenderer("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"));
  EXPECT_FALSE(isSoftwareGLRenderer(""));
}

}  // namespace
}  // namespace vantrelle
