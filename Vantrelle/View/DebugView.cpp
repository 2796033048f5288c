#include "Vantrelle/View/DebugView.h"

#include <gtkmm/snapshot.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdio>
#include <set>

#include "Vantrelle/View/TerminalView.h"
#include "platform/CairoPtr.h"
#include "platform/GLibPtr.h"
#include "platform/PangoPtr.h"

namespace vantrelle {

namespace {

std::string chooseFont() {
  std::unique_ptr<PangoFontFamily*[], platform::GFree> families;
  int count = 0;
  pango_font_map_list_families(pango_cairo_font_map_get_default(), platform::out(families), &count);
  bool found = false;
  for (int i = 0; i < count && !found; i++)
    found = std::string(pango_font_family_get_name(families[i])) == "Lucida Sans Typewriter";
  return found ? "Lucida Sans Typewriter 8" : "Courier 8";
}

}  // namespace

TerminalDebugView::TerminalDebugView(TerminalView& view)
    : Glib::ObjectBase("VantrelleTerminalDebugView"), terminalView(&view), font(chooseFont()) {
  // The optical height of a "W" line sets the listing's line pitch.
  platform::GObjectPtr<PangoContext> context(pango_font_map_create_context(pango_cairo_font_map_get_default()));
  platform::GObjectPtr<PangoLayout> layout(pango_layout_new(context.get()));
  platform::PangoFontDescriptionPtr description(pango_font_description_from_string(font.c_str()));
  pango_layout_set_font_description(layout.get(), description.get());
  pango_layout_set_text(layout.get(), "W", 1);
  PangoRectangle ink, logical;
  pango_layout_get_pixel_extents(layout.get(), &ink, &logical);
  height = std::max(ink.height, 1);
  view.debug = this;
  dbg.set_parent(*this);
}

TerminalDebugView::~TerminalDebugView() {
  if (terminalView && terminalView->debug == this) terminalView->debug = nullptr;
  dbg.unparent();
}

std::string TerminalDebugView::statusText() const {
  if (!terminalView) return "WAITING";
  const Buffer& b = *terminalView->getTerminal().buffer;
  return "x: " + std::to_string(b.x) + " y: " + std::to_string(b.y) + " yDisp: " + std::to_string(b.yDisp) +
         " yBase: " + std::to_string(b.yBase) + " clc: " + std::to_string(b.lines().maxLength()) +
         " startIndex: " + std::to_string(b.lines().startIndex());
}

void TerminalDebugView::update() {
  queue_draw();
  dbg.set_text(statusText());
}

std::string TerminalDebugView::slotPrefix(int index) const {
  char number[16];
  std::snprintf(number, sizeof number, "%03d", index);
  std::string prefix = std::string("[") + number + "]";
  const Buffer* b = terminalView ? terminalView->getTerminal().buffer : nullptr;
  prefix += b && index == b->yDisp ? "D" : " ";
  prefix += b && index == b->yBase ? "B" : " ";
  return prefix;
}

TerminalDebugView::DebugString TerminalDebugView::getDebugString(const BufferLine* line, int cols,
                                                                 const std::string& prefix, bool hilight) const {
  DebugString result;
  auto append = [&](const std::string& text, bool highlight) {
    if (text.empty()) return;
    if (!result.runs.empty() && result.runs.back().highlight == highlight) {
      result.runs.back().length += text.size();
    } else {
      result.runs.push_back({result.text.size(), text.size(), highlight});
    }
    result.text += text;
  };
  if (hilight) std::printf("here\n");
  append(prefix, hilight);
  if (!line) {
    append("<empty>", false);
    return result;
  }
  if (cols <= 0 || line->count() == 0 || !terminalView) return result;
  Terminal& terminal = terminalView->getTerminal();
  for (int col = 0; col < cols; col++) {
    const CharData& cell = (*line)[std::min(col, line->count() - 1)];
    append(cell.code == 0 ? std::string(" ") : terminal.character(cell.code), false);
  }
  return result;
}

// The status line sits just above the bottom edge, below the listing.
void TerminalDebugView::size_allocate_vfunc(int width, int height, int) {
  dbg.size_allocate(Gtk::Allocation(0, std::max(height - 8 - 14, 0), width, 14), -1);
}

void TerminalDebugView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  double w = get_width(), h = get_height();
  graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, float(w), float(h));
  platform::CairoPtr context(gtk_snapshot_append_cairo(snapshot->gobj(), &bounds));
  cairo_t* cr = context.get();
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  if (terminalView) {
    Buffer& buffer = *terminalView->getTerminal().buffer;
    int cols = terminalView->getTerminal().cols;
    platform::GObjectPtr<PangoLayout> laidOut(pango_cairo_create_layout(cr));
    PangoLayout* layout = laidOut.get();
    platform::PangoFontDescriptionPtr description(pango_font_description_from_string(font.c_str()));
    pango_layout_set_font_description(layout, description.get());
    // Slots run down from the top, the first one line below the edge; only those that land
    // inside the view are laid out.
    int slots = buffer.lines().maxLength();
    for (int i = 0; i < slots; i++) {
      double baseline = (i + 2) * height;
      if (baseline > h) break;
      const BufferLine* line = i < buffer.lines().count() ? buffer.lines()[i].get() : nullptr;
      DebugString entry = getDebugString(line, cols, slotPrefix(i), false);
      pango_layout_set_text(layout, entry.text.c_str(), int(entry.text.size()));
      cairo_set_source_rgb(cr, 0, 0, 0);
      cairo_move_to(cr, 0, baseline - pango_units_to_double(pango_layout_get_baseline(layout)));
      pango_cairo_show_layout(cr, layout);
    }
  }
  context.reset();
  Gtk::Widget::snapshot_vfunc(snapshot);
}

}  // namespace vantrelle
