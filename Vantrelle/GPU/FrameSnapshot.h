#pragma once
// What the renderer reads of its view for one frame: the terminal, how rows are cut, geometry,
// fonts, colours and the caret's look. The view makes one for each frame; the renderer keeps
// nothing of it between frames.
#include <pangomm/context.h>

#include <optional>
#include <utility>

#include "Vantrelle/GPU/DrawRecords.h"
#include "Vantrelle/Render/AttributedRuns.h"
#include "Vantrelle/Render/FontMetrics.h"
#include "Vantrelle/Render/ViewColor.h"
#include "Vantrelle/Render/ViewGeometry.h"

namespace vantrelle {

class Terminal;

struct FrameSnapshot {
  Terminal* terminal = nullptr;
  RowAnalysis rows;
  // The view's size in points.
  ViewSize bounds;
  std::optional<ViewSize> cellSize;
  FontMetrics metrics;
  FontSet fonts;
  Glib::RefPtr<Pango::Context> pango;
  ViewColor foreground = ViewColor::black();
  ViewColor background = ViewColor::white();
  ViewColor caretColor;
  ViewColor caretTextColor;
  // The caret is drawn as focused: the view has the focus, or its caret does not follow it.
  bool caretFocused = true;
  // The cursor may blink now: the view has the focus and the desktop's blink settings allow it,
  // its blink time-out included. Otherwise a blinking cursor rests, shown fully.
  bool cursorMayBlink = true;
  bool customBlockGlyphs = true;
  bool antiAliasCustomBlockGlyphs = false;
  bool fontSmoothing = true;
  // The display's device pixels per point, which Kitty's pixel offsets refer to.
  double backingScale = 1;
  // The scale frames are drawn at: the view's override when it has one; never below 1.
  double scale = 1;
  MetalBufferingMode bufferingMode = MetalBufferingMode::perFrameAggregated;
  // Buffer lines changed since rows were last built.
  std::optional<std::pair<int, int>> dirtyRows;

  // `glyphBounds` is the glyph's ink rectangle with y up from the baseline.
  GlyphSlotFit glyphSlotFit(double advance, ViewRect glyphBounds, int columnWidth) const {
    return cellSize ? vantrelle::glyphSlotFit(advance, glyphBounds, columnWidth, *cellSize, metrics) : GlyphSlotFit{};
  }
  // The fit of the glyph that opens a cell, which the cell's other glyphs (its marks) follow: a
  // wide character's glyph by its own advance, a glyph too wide for its one cell by its cluster's.
  GlyphSlotFit cellGlyphFit(PangoFont* font, uint32_t glyph, double clusterAdvance, int columnWidth) const;
};

}  // namespace vantrelle
