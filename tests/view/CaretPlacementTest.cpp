// The caret is drawn at the cell the cursor is in, also when the cursor moves without any row
// changing, as a cursor key or a bare cursor movement does.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include <string>
#include <vector>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

// The widget as its window's renderer draws it now, as 0xAARRGGBB pixels.
std::vector<uint32_t> drawnPixels(Gtk::Widget& widget, int& width) {
  width = widget.get_width();
  int height = widget.get_height();
  GdkPaintable* paintable = gtk_widget_paintable_new(widget.gobj());
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, GDK_SNAPSHOT(snapshot), width, height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  g_object_unref(paintable);
  if (!node) return {};
  GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget.gobj()));
  graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, float(width), float(height));
  GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &viewport);
  gsk_render_node_unref(node);
  width = gdk_texture_get_width(texture);
  std::vector<uint32_t> pixels(size_t(width) * size_t(gdk_texture_get_height(texture)));
  gdk_texture_download(texture, reinterpret_cast<guchar*>(pixels.data()), size_t(width) * 4);
  g_object_unref(texture);
  return pixels;
}

TEST(CaretPlacement, TheCaretIsDrawnWhereTheCursorMovedWithoutAnyRowChanging) {
  testing::ensureGtk();
  Gtk::Window window;
  window.set_default_size(480, 240);
  TerminalView view;
  window.set_child(view);
  window.present();
  // A steady block caret after the text, on a black background.
  view.feed("\x1b[2 q\x1b]11;#000000\x07hi");
  ASSERT_TRUE(testing::pumpUntil([&] { return view.get_mapped() && view.cellDimension && !view.pendingDisplay; }));
  const double cw = view.cellDimension->width, ch = view.cellDimension->height;
  // Inside the caret's left edge, which a block fills and a hollow box strokes alike.
  auto caretAt = [&](const std::vector<uint32_t>& pixels, int width, int col) {
    size_t x = size_t(col * cw + 1), y = size_t(ch / 2);
    return y * size_t(width) + x < pixels.size() && (pixels[y * size_t(width) + x] & 0xffffff) != 0;
  };
  int from = 2;
  for (int col : {9, 15, 6}) {
    view.feed("\x1b[" + std::to_string(col + 1) + "G");  // moves the cursor, changes no row
    bool drawn = testing::pumpUntil([&] {
      int width = 0;
      auto pixels = drawnPixels(view, width);
      return caretAt(pixels, width, col) && !caretAt(pixels, width, from);
    });
    EXPECT_TRUE(drawn) << "caret not drawn at column " << col << " after leaving column " << from;
    from = col;
  }
  window.unset_child();
  window.destroy();
}

}  // namespace
}  // namespace vantrelle
