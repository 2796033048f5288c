#pragma once
// Pixels the view drew itself, handed to GTK as render nodes in the form that the window's
// renderer paints cheaply. A GL renderer uploads a texture once and keeps it; GTK's Cairo renderer
// converts a texture's pixels through floating point on every paint (GTK 4.8), which made a caret
// frame cost a millisecond per band of the terminal beneath it, so it gets a Cairo node that
// paints the pixels as they are.
#include <gsk/gsk.h>
#include <gtkmm/widget.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vantrelle {

struct RenderNodeUnref {
  void operator()(GskRenderNode* node) const {
    if (node) gsk_render_node_unref(node);
  }
};
using RenderNodePtr = std::unique_ptr<GskRenderNode, RenderNodeUnref>;

// Whether the window holding `widget` paints with GTK's Cairo renderer.
bool paintsWithCairo(Gtk::Widget& widget);

// For a window on X11 painted by GTK's Cairo renderer: keeps the shared memory its frames are
// handed to the X server through from being made anew for every frame (see PixelNodes.cpp).
void keepWindowUploadsWarm(Gtk::Widget& widget);
// The same, once the window's size has settled: what is kept for a window more than twice as large
// as this one is let go, and the shared memory it kept with it, for one of this window's size.
void fitWindowUploads(Gtk::Widget& widget);
// The bytes kept for the uploads of the display `widget` is on; 0 for none.
size_t windowUploadsReserved(Gtk::Widget& widget);

// A node showing `heightPx` rows of `widthPx` premultiplied ARGB32 pixels (Cairo's own layout)
// over `bounds` (points). The pixels are copied; the node does not refer to them afterwards.
struct PixelRows {
  const uint8_t* data;
  int stride;
  int widthPx;
  int heightPx;
};
RenderNodePtr makePixelNode(const PixelRows& rows, const graphene_rect_t& bounds, bool forCairo);

}  // namespace vantrelle
