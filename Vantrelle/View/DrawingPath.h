#pragma once
// How a terminal view gets its pixels on screen. Cairo is the default path; the GPU renderer is
// another implementation that the view can switch to.
#include <cairo.h>
#include <gdk/gdk.h>
#include <gtkmm/snapshot.h>

#include <array>
#include <cstdint>
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
  // Draws what changed now, ahead of the frame, so that the frame's snapshot only hands it over;
  // false when the path draws in its snapshot only.
  virtual bool prepareFrame() { return false; }
  // How long preparing a frame is expected to take (nanoseconds); 0 when the path does not.
  virtual uint64_t expectedPrepareNs() const { return 0; }
  // How long the drawing of the frame last snapshotted took ahead of it (nanoseconds); 0 when none
  // was done ahead.
  virtual uint64_t lastDrawnAheadNs() const { return 0; }
  // Something was drawn ahead that no frame has shown yet.
  virtual bool drawnAheadUnshown() const { return false; }
};

// Keeps the view's pixels in an image surface and repaints only the rows that changed, so a
// frame costs one row's layout per changed row rather than the whole screen.
class CairoDrawingPath : public TerminalDrawingPath {
 public:
  explicit CairoDrawingPath(TerminalView& view) : view(view) {}
  void invalidate(const ViewRect& rect) override;
  void invalidateAll() override;
  bool snapshot(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
  bool prepareFrame() override;
  uint64_t expectedPrepareNs() const override;
  uint64_t lastDrawnAheadNs() const override { return drawnAheadNs; }
  bool drawnAheadUnshown() const override { return bandsMadeAhead; }
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
  // Gives each band whose pixels changed a node; true when it made any.
  bool makeBands(cairo_surface_t* pixels, bool forCairo);
  // Around a repaint of the bands from `firstBand` to `lastBand`: their pixels before it, and the
  // nodes of those whose pixels it changed let go.
  void keepBandPixels(int firstBand, int lastBand);
  void dropChangedBands(int firstBand, int lastBand);
  std::vector<uint8_t> keptBands;
  bool keepingBands = false;
  // The last render repainted rows, whether or not their pixels changed.
  bool repainted = false;
  // Repaints left before bands are kept again, after one that changed every band it kept.
  int bandKeepingRests = 0;
  // Bands were made since the last snapshot (ahead of it), taking this long to draw; and how long
  // that took for the frame last snapshotted (0: none).
  bool bandsMadeAhead = false;
  uint64_t aheadNs = 0, drawnAheadNs = 0;
  // How long the last frames' drawing took (nanoseconds), as a ring; 0 where none was timed.
  std::array<uint64_t, 8> drawTimes{};
  size_t drawsTimed = 0;
};

}  // namespace vantrelle
