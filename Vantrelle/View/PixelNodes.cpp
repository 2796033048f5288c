#include "Vantrelle/View/PixelNodes.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "platform/CairoPtr.h"
#include "platform/GLibPtr.h"

#if defined(GDK_WINDOWING_X11) && CAIRO_HAS_XLIB_SURFACE
#include <cairo-xlib.h>
#include <gdk/x11/gdkx.h>
#define VANTRELLE_X11_UPLOADS 1
#endif

namespace vantrelle {

bool paintsWithCairo(Gtk::Widget& widget) {
  GtkNative* native = gtk_widget_get_native(widget.gobj());
  GskRenderer* renderer = native ? gtk_native_get_renderer(native) : nullptr;
  return renderer && GSK_IS_CAIRO_RENDERER(renderer);
}

#if VANTRELLE_X11_UPLOADS
namespace {

constexpr const char* uploadReserveKey = "vantrelle-upload-reserve";
constexpr const char* releasedOnCloseKey = "vantrelle-upload-reserve-released-on-close";

// An image in Cairo's shared memory for the display, never drawn on, so its pages stay unused.
struct UploadReserve {
  platform::CairoSurfacePtr image;
  size_t bytes;
};

struct WindowPixels {
  GdkDisplay* display = nullptr;
  int width = 0;
  int height = 0;
  size_t bytes() const { return size_t(width) * size_t(height) * 4; }
};

// The X11 display of the widget's window and that window's size in device pixels; no display
// elsewhere.
WindowPixels windowPixels(Gtk::Widget& widget) {
  GtkNative* native = gtk_widget_get_native(widget.gobj());
  GdkSurface* surface = native ? gtk_native_get_surface(native) : nullptr;
  if (!surface) return {};
  GdkDisplay* display = gdk_surface_get_display(surface);
  if (!GDK_IS_X11_DISPLAY(display) || gdk_display_is_closed(display)) return {};
  int scale = gdk_surface_get_scale_factor(surface);
  return {display, std::max(gdk_surface_get_width(surface) * scale, 1),
          std::max(gdk_surface_get_height(surface) * scale, 1)};
}

UploadReserve* heldReserve(GdkDisplay* display) {
  return static_cast<UploadReserve*>(g_object_get_data(G_OBJECT(display), uploadReserveKey));
}

void reserveUploads(const WindowPixels& window) {
  GdkDisplay* display = window.display;
  Display* xdisplay = gdk_x11_display_get_xdisplay(display);
  int screen = DefaultScreen(xdisplay);
  platform::CairoSurfacePtr xlib(
      cairo_xlib_surface_create(xdisplay, RootWindow(xdisplay, screen), DefaultVisual(xdisplay, screen), 1, 1));
  auto* reserve = new UploadReserve{platform::CairoSurfacePtr(cairo_surface_create_similar_image(
                                        xlib.get(), CAIRO_FORMAT_ARGB32, window.width, window.height)),
                                    window.bytes()};
  if (!g_object_get_data(G_OBJECT(display), releasedOnCloseKey)) {
    // Given back before the display's connection closes, while Cairo can still release it.
    g_signal_connect(display, "closed", G_CALLBACK(+[](GdkDisplay* closing, gboolean, gpointer) {
                       g_object_set_data(G_OBJECT(closing), uploadReserveKey, nullptr);
                     }),
                     nullptr);
    g_object_set_data(G_OBJECT(display), releasedOnCloseKey, GINT_TO_POINTER(1));
  }
  g_object_set_data_full(G_OBJECT(display), uploadReserveKey, reserve,
                         [](gpointer data) { delete static_cast<UploadReserve*>(data); });
}

}  // namespace

// GTK's Cairo renderer paints a window's frame into an image and Cairo copies that into shared
// memory for the X server, from a pool it makes several times the size of the first image it held.
// A pool that empties is given back, so with one frame's image at a time every frame made a new
// pool and the kernel supplied and zeroed each of its pages anew: a third of GTK's part of a frame.
// An image of the window's size held here keeps a pool alive, whose pages serve frame after frame.
void keepWindowUploadsWarm(Gtk::Widget& widget) {
  WindowPixels window = windowPixels(widget);
  if (!window.display) return;
  UploadReserve* held = heldReserve(window.display);
  if (held && held->bytes >= window.bytes()) return;
  reserveUploads(window);
}

// The reserve only grows while the window's size changes, and the pool it keeps holds the pages
// every frame of the largest window wrote.
void fitWindowUploads(Gtk::Widget& widget) {
  WindowPixels window = windowPixels(widget);
  if (!window.display) return;
  UploadReserve* held = heldReserve(window.display);
  if (!held || held->bytes / 2 <= window.bytes()) return;
  // Let go of first: the pool, when no frame's image lies in it any more, is given back, and the
  // new image makes one of its own size rather than being carved out of that one and keeping it.
  g_object_set_data(G_OBJECT(window.display), uploadReserveKey, nullptr);
  reserveUploads(window);
}

size_t windowUploadsReserved(Gtk::Widget& widget) {
  WindowPixels window = windowPixels(widget);
  UploadReserve* held = window.display ? heldReserve(window.display) : nullptr;
  return held ? held->bytes : 0;
}
#else
void keepWindowUploadsWarm(Gtk::Widget&) {}
void fitWindowUploads(Gtk::Widget&) {}
size_t windowUploadsReserved(Gtk::Widget&) { return 0; }
#endif

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
