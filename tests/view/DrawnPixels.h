#pragma once
// What GTK draws of a widget in a real window, read back pixel by pixel.
#include <gtk/gtk.h>
#include <gtkmm/widget.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "ViewTestSupport.h"

namespace vantrelle::testing {

// The widget's current drawing through its window's renderer, as 0xAARRGGBB pixels.
struct DrawnPixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> data;
  uint32_t at(double x, double y) const { return data[size_t(y) * size_t(width) + size_t(x)]; }
  uint32_t rgb(double x, double y) const { return at(x, y) & 0xffffff; }
};

inline DrawnPixels drawnPixels(Gtk::Widget& widget) {
  DrawnPixels pixels;
  pixels.width = widget.get_width();
  pixels.height = widget.get_height();
  GdkPaintable* paintable = gtk_widget_paintable_new(widget.gobj());
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, GDK_SNAPSHOT(snapshot), pixels.width, pixels.height);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  g_object_unref(paintable);
  if (!node) return {};
  GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget.gobj()));
  graphene_rect_t viewport = GRAPHENE_RECT_INIT(0, 0, float(pixels.width), float(pixels.height));
  GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &viewport);
  gsk_render_node_unref(node);
  pixels.width = gdk_texture_get_width(texture);
  pixels.height = gdk_texture_get_height(texture);
  pixels.data.resize(size_t(pixels.width) * size_t(pixels.height));
  gdk_texture_download(texture, reinterpret_cast<guchar*>(pixels.data.data()), size_t(pixels.width) * 4);
  g_object_unref(texture);
  return pixels;
}

// Drawing runs at the next frame: reads the pixels until they show what `shown` looks for.
inline DrawnPixels drawnOnceShowing(Gtk::Widget& widget, const std::function<bool(const DrawnPixels&)>& shown) {
  DrawnPixels pixels;
  pumpUntil([&] {
    pixels = drawnPixels(widget);
    return !pixels.data.empty() && shown(pixels);
  });
  return pixels;
}

}  // namespace vantrelle::testing
