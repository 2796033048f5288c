#pragma once
// How a terminal view gets its pixels on screen. Cairo is the default path; the GPU renderer is
// another implementation that the view can switch to.
#include <cairo.h>
#include <gdk/gdk.h>
#include <gtkmm/snapshot.h>

#include <vector>

#include "Vantrelle/Render/ViewGeometry.h"
#include "Vantrelle/View/PixelNodes.h"
#include "platform/CairoPtr.h"

namespace vantrelle {

class TerminalView;

class TerminalDrawingPath {
 public:
  virtual ~TerminalDrawingPath() = default;
  // A part of the view (points, y down) whose contents changed.
  virtual void invalidate(const ViewRect& rect) = 0;
  // Everything changed: size, scale, font or colours.
  virtual void invalidateAll() = 0;
  // Screen rows `start` to `end` (inclusive) changed; a path that caches per row uses this
  // rather than the rectangle.
  virtual void rowsChanged(int start, int end) {}
  // A redraw with no changed rows: only the cursor may have moved or changed visibility.
  virtual void cursorMayHaveChanged() {}
  // Appends the view's contents; true when they cover the whole view, so that the view need not
  // paint its background under them.
  virtual bool snapshot(const Glib::RefPtr<Gtk::Snapshot>& snapshot) = 0;
  // Whether the path draws the cursor itself (then the caret widget stays hidden).
  virtual bool drawsCursor() const { return false; }
};

// Keeps the view's pixels in an image surface and repaints only the rows that changed, so a
// frame costs one row's layout per changed row rather than the whole screen.
class CairoDrawingPath : public TerminalDrawingPath {
 public:
  explicit CairoDrawingPath(TerminalView& view) : view(view) {}
  void invalidate(const ViewRect& rect) override;
  void invalidateAll() override;
  bool snapshot(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
  // Brings the backing surface up to date with the view; returns it (nullptr for an empty view).
  cairo_surface_t* render();
  // The band nodes last handed to GTK, top to bottom.
  std::vector<GskRenderNode*> bandNodes() const;

 private:
  TerminalView& view;
  platform::CairoSurfacePtr surface;
  // The surface cut into bands of whole device-pixel rows, each as a node of its own; a band
  // without one changed since it was last handed to GTK.
  static constexpr int bandHeightPx = 32;
  std::vector<RenderNodePtr> bands;
  // Whether the bands are Cairo nodes, made for GTK's Cairo renderer (see PixelNodes.h).
  bool bandsForCairo = false;
  int surfaceWidthPx = 0;
  int surfaceHeightPx = 0;
  double surfaceScale = 0;
  ViewRect dirty;
};

}  // namespace vantrelle
