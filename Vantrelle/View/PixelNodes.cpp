#include "Vantrelle/View/PixelNodes.h"

#include <gtk/gtk.h>

#include "platform/CairoPtr.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

bool paintsWithCairo(Gtk::Widget& widget) {
  GtkNative* native = gtk_widget_get_native(widget.gobj());
  GskRenderer* renderer = native ? gtk_native_get_renderer(native) : nullptr;
  return renderer && GSK_IS_CAIRO_RENDERER(renderer);
}

namespace {

RenderNodePtr makeTextureNode(const PixelRows& rows, const graphene_rect_t& bounds) {
  platform::GBytesPtr bytes(g_bytes_new(rows.data, size_t(rows.stride) * size_t(rows.heightPx)));
  // GDK_MEMORY_DEFAULT is Cairo's own ARGB32 layout, so the pixels go in unconverted.
  platform::GObjectPtr<GdkTexture> texture(
      gdk_memory_texture_new(rows.widthPx, rows.heightPx, GDK_MEMORY_DEFAULT, bytes.get(), size_t(rows.stride)));
  return RenderNodePtr(gsk_texture_node_new(texture.get(), &bounds));
}

// The node records one paint of the pixels. Cairo keeps a snapshot of a source it records, taken
// when the source goes away, so the rows are copied exactly once, here.
RenderNodePtr makeCairoNode(const PixelRows& rows, const graphene_rect_t& bounds) {
  RenderNodePtr node(gsk_cairo_node_new(&bounds));
  platform::CairoSurfacePtr pixels(cairo_image_surface_create_for_data(
      const_cast<uint8_t*>(rows.data), CAIRO_FORMAT_ARGB32, rows.widthPx, rows.heightPx, rows.stride));
  double scaleX = rows.widthPx / double(bounds.size.width), scaleY = rows.heightPx / double(bounds.size.height);
  cairo_surface_set_device_scale(pixels.get(), scaleX, scaleY);
  platform::CairoPtr cr(gsk_cairo_node_get_draw_context(node.get()));
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr.get(), pixels.get(), bounds.origin.x, bounds.origin.y);
  cairo_paint(cr.get());
  cr.reset();
  cairo_surface_finish(pixels.get());
  return node;
}

}  // namespace

RenderNodePtr makePixelNode(const PixelRows& rows, const graphene_rect_t& bounds, bool forCairo) {
  if (rows.widthPx <= 0 || rows.heightPx <= 0) return nullptr;
  return forCairo ? makeCairoNode(rows, bounds) : makeTextureNode(rows, bounds);
}

}  // namespace vantrelle
