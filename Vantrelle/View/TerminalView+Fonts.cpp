// Fonts, cell metrics and sizing: how the font becomes the size of one cell, and the frame
// becomes the terminal's columns and rows.
#include <gdkmm/display.h>
#include <gdkmm/monitor.h>
#include <giomm/listmodel.h>
#include <gtk/gtk.h>
#include <gtkmm/settings.h>
#include <pangomm/layout.h>

#include <algorithm>
#include <cmath>

#include "Vantrelle/View/TerminalView.h"
#include "platform/Dispatch.h"
#include "platform/FreeMemory.h"

namespace vantrelle {

namespace {
constexpr double kDefaultFontSize = 11.0;
constexpr double kMaximumCellHeight = 8192.0;
constexpr double kMinimumLineThickness = 0.5;
}  // namespace

Pango::FontDescription TerminalView::defaultFont() {
  double size = kDefaultFontSize;
  if (auto settings = Gtk::Settings::get_default()) {
    Pango::FontDescription system(settings->property_gtk_font_name().get_value());
    if (system.get_size() > 0) size = double(system.get_size()) / PANGO_SCALE;
  }
  Pango::FontDescription font("Monospace");
  font.set_weight(Pango::Weight::NORMAL);
  font.set_size(int(size * PANGO_SCALE));
  return font;
}

double TerminalView::backingScaleFactor() const {
  if (get_root()) return double(get_scale_factor());
  if (scaleFactorOverride) return *scaleFactorOverride;
  if (auto display = Gdk::Display::get_default()) {
    auto monitors = display->get_monitors();
    if (monitors && monitors->get_n_items() > 0) {
      auto monitor = std::dynamic_pointer_cast<Gdk::Monitor>(monitors->get_object(0));
      if (monitor) return double(monitor->get_scale_factor());
    }
  }
  return 1.0;
}

void TerminalView::readFontMetrics() {
  auto context = const_cast<TerminalView*>(this)->get_pango_context();
  auto fm = context->get_metrics(fontSet.normal);
  metrics.ascent = double(fm.get_ascent()) / PANGO_SCALE;
  metrics.descent = double(fm.get_descent()) / PANGO_SCALE;
  double height = double(fm.get_height()) / PANGO_SCALE;
  metrics.leading = std::max(height - metrics.ascent - metrics.descent, 0.0);
  metrics.underlinePosition = double(fm.get_underline_position()) / PANGO_SCALE;
  // Lines are drawn without antialiasing, at the thickness rounded to device pixels: a small
  // font's line, under half a point, would round to nothing on a display of one pixel a point.
  metrics.underlineThickness = std::max(double(fm.get_underline_thickness()) / PANGO_SCALE, kMinimumLineThickness);
  metrics.strikethroughPosition = double(fm.get_strikethrough_position()) / PANGO_SCALE;
  auto layout = Pango::Layout::create(context);
  layout->set_font_description(fontSet.normal);
  layout->set_text("W");
  int w = 0, h = 0;
  layout->get_pixel_size(w, h);
  Pango::Rectangle ink, logical;
  layout->get_extents(ink, logical);
  metrics.advance = double(logical.get_width()) / PANGO_SCALE;
  layout->set_text("x");
  layout->get_extents(ink, logical);
  metrics.xHeight = double(ink.get_height()) / PANGO_SCALE;
}

ViewSize TerminalView::cellSizeFor(const FontMetrics& m, double lineSpacing, double scale) {
  if (scale <= 0) scale = 1;
  double width = std::max(std::round(m.advance * scale) / scale, 1.0);
  double lineHeight = std::ceil((m.ascent + m.descent + m.leading) * lineSpacing);
  double height = std::clamp(std::ceil(lineHeight * scale) / scale, 1.0, kMaximumCellHeight);
  return {width, height};
}

ViewSize TerminalView::computeFontDimensions() {
  readFontMetrics();
  return cellSizeFor(metrics, _lineSpacing, backingScaleFactor());
}

void TerminalView::setFont(const Pango::FontDescription& font) {
  fontSet = FontSet::from(font);
  resetFont();
  if (selectionActive()) deactivateSelection();
}

void TerminalView::setLineSpacing(double value) {
  _lineSpacing = value;
  resetFont();
}

// The cell follows the font at once: glyphs of one size in cells measured for another would
// overlap or leave gaps until some later reset.
void TerminalView::resetFontSize() {
  fontSet = FontSet::from(defaultFont());
  resetFont();
}

void TerminalView::resetFont() {
  resetCaches();
  cellDimension = computeFontDimensions();
  if (frameSize.width > 0 && frameSize.height > 0) {
    // The scroller's strip stays free here too, or the last column would lie under it.
    int cols = int(std::max(frameSize.width - scrollerWidth(), 0.0) / cellDimension->width);
    int rows = int(frameSize.height / cellDimension->height);
    // The program running is only told the new size, as for any other resize: a soft reset here
    // would take back the modes it set behind its back, showing the cursor a full-screen program
    // hid and dropping its application cursor keys, insert mode and colours.
    terminal->resize(cols, rows);
    sizeChanged(*terminal);
  }
  if (caretView) {
    caretView->frame.width = cellDimension->width;
    caretView->frame.height = cellDimension->height;
    caretView->restartLook();
    caretView->redraw();
  }
  path->invalidateAll();
  queue_draw();
}

void TerminalView::resize(int cols, int rows) {
  terminal->resize(cols, rows);
  sizeChanged(*terminal);
  terminal->cmdSoftReset();
  awaitResizesSettling();
}

void TerminalView::awaitResizesSettling() {
  if (resizesSettle) resizesSettle->cancel();
  std::weak_ptr<TerminalView*> weak = lifetime;
  resizesSettle = platform::DispatchQueue::main().asyncAfter(resizesSettleAfter, [weak] {
    if (auto alive = weak.lock(); alive && *alive) (*alive)->resizesSettled();
  });
}

// Every resize of a long scrollback makes its lines anew, and the drawing's surfaces follow the
// size, so a run of them frees far more than it keeps. The allocator gives back only what is free
// at the end of its heap, and the blocks made last lie there: the heap stayed at the size of the
// widest screen's lines, for good. What is free goes back once the run is over, off the main
// thread, since that walks the whole heap.
void TerminalView::resizesSettled() {
  resizesSettle.reset();
  if (paintsWithCairo(*this)) fitWindowUploads(*this);
  releasesOfFreedMemory++;
  std::weak_ptr<TerminalView*> weak = lifetime;
  platform::DispatchQueue::global(platform::QoS::utility).async([weak] {
    platform::releaseFreeMemory();
    platform::DispatchQueue::main().async([weak] {
      if (auto alive = weak.lock(); alive && *alive) (*alive)->releasesOfFreedMemory--;
    });
  });
}

// The scroller is shown from setup on, whether or not there is anything to scroll, so its strip
// belongs to it for the view's whole life and the grid keeps one width; only a scroller its owner
// hid gives the strip back to the cells.
double TerminalView::scrollerWidth() const {
  if (!scroller || !scroller->get_visible()) return 0;
  int minimum = 0, natural = 0, minimumBaseline = 0, naturalBaseline = 0;
  scroller->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minimumBaseline, naturalBaseline);
  return std::max(natural, 0);
}

bool TerminalView::processSizeChange(ViewSize newSize) {
  if (newSize.width == 0 && newSize.height == 0) return false;
  if (!cellDimension) return false;
  int rows = int(newSize.height / cellDimension->height);
  double available = std::max(newSize.width - scrollerWidth(), 0.0);
  int cols = int(available / cellDimension->width);
  if (cols == terminal->cols && rows == terminal->rows) return false;
  if (selectionActive()) deactivateSelection();
  terminal->resize(cols, rows);
  if (search) search->invalidate();
  if (terminalDelegate) terminalDelegate->sizeChanged(*this, terminal->cols, terminal->rows);
  updateScroller();
  return true;
}

ViewRect TerminalView::getOptimalFrameSize() const {
  if (!cellDimension) return {};
  return {0, 0, cellDimension->width * terminal->cols + scrollerWidth(), cellDimension->height * terminal->rows};
}

ViewRect TerminalView::caretFrame() const { return caretView ? caretView->frame : ViewRect{}; }

void TerminalView::setFrameSize(ViewSize newSize) {
  bool changed = newSize != frameSize;
  frameSize = newSize;
  if (!cellDimension) return;
  processSizeChange(newSize);
  if (changed) {
    path->invalidateAll();
    awaitResizesSettling();
  }
  queue_draw();
  updateCursorPosition();
}

TerminalView::GlyphSlotFit TerminalView::glyphSlotFit(double advance, ViewRect bounds, int columnWidth) const {
  if (!cellDimension) return {};
  return vantrelle::glyphSlotFit(advance, bounds, columnWidth, *cellDimension, metrics);
}

// ---- Gtk::Widget sizing ----

Gtk::SizeRequestMode TerminalView::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

void TerminalView::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural, int& minimum_baseline,
                                 int& natural_baseline) const {
  minimum_baseline = natural_baseline = -1;
  ViewSize cell = cellDimension.value_or(ViewSize{8, 16});
  if (orientation == Gtk::Orientation::HORIZONTAL) {
    minimum = int(std::ceil(cell.width * Terminal::MINIMUM_COLS + scrollerWidth()));
    natural = int(std::ceil(cell.width * 80 + scrollerWidth()));
  } else {
    minimum = int(std::ceil(cell.height * Terminal::MINIMUM_ROWS));
    natural = int(std::ceil(cell.height * 25));
  }
}

void TerminalView::size_allocate_vfunc(int width, int height, int) {
  ViewSize newSize{double(width), double(height)};
  bool resized = newSize != frameSize;
  setFrameSize(newSize);
  updateScroller();
  // Rows move under a selection when the view changes size, so it is let go; a relayout at the
  // same size (the caret moving, a bar or an overlay appearing) keeps it.
  if (resized) deactivateSelection();
  layoutChildren();
}

void TerminalView::layoutChildren() {
  int width = int(frameSize.width), height = int(frameSize.height);
  if (scroller) {
    int w = 0, natural = 0, minBase = 0, natBase = 0;
    scroller->measure(Gtk::Orientation::HORIZONTAL, -1, w, natural, minBase, natBase);
    w = natural;
    scroller->size_allocate(Gtk::Allocation(std::max(width - w, 0), 0, w, height), -1);
  }
  layoutBars(width, height);
  if (caretView && caretView->get_parent()) {
    // Only its size: the view's snapshot draws the caret at its frame, so moving it needs no layout.
    const ViewRect& f = caretView->frame;
    caretView->size_allocate(Gtk::Allocation(0, 0, int(std::ceil(f.width)), int(std::ceil(f.height))), -1);
  }
  layoutInputOverlays(width, height);
}

}  // namespace vantrelle
