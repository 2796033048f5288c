// Moving the view over the scrollback and keeping the scrollbar in step.
#include <gtkmm/adjustment.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

const uint8_t kPageUp[] = {0x1b, '[', '5', '~'};
const uint8_t kPageDown[] = {0x1b, '[', '6', '~'};

}  // namespace

int TerminalView::maxScroll() const {
  const Buffer& buffer = *terminal->buffer;
  return std::max(buffer.lines().count() - buffer.rows(), 0);
}

double TerminalView::scrollPosition() const {
  if (terminal->isCurrentBufferAlternate()) return 0;
  int yDisp = terminal->buffer->yDisp;
  if (yDisp <= 0) return 0;
  int max = maxScroll();
  return yDisp < max ? double(yDisp) / max : 1.0;
}

double TerminalView::scrollThumbsize() const {
  if (terminal->isCurrentBufferAlternate()) return 0;
  const Buffer& buffer = *terminal->buffer;
  int count = buffer.lines().count();
  if (count <= 0) return 1;
  return std::max(double(buffer.rows()) / count, 0.01);
}

bool TerminalView::canScroll() const {
  if (terminal->isCurrentBufferAlternate()) return false;
  const Buffer& buffer = *terminal->buffer;
  if (!buffer.hasScrollback) return false;
  return buffer.rows() < buffer.lines().count();
}

void TerminalView::scroll(double toPosition) {
  int max = maxScroll();
  if (std::isnan(toPosition)) toPosition = 0;
  // Toward zero, but a position made from a row (row / max) must land on that row again, which
  // plain truncation misses for some rows by a rounding error.
  double exact = std::clamp(toPosition, 0.0, 1.0) * max;
  int target = std::clamp(int(exact + 1e-7), 0, max);
  if (target == terminal->buffer->yDisp) {
    userScrolling = target < std::min(max, terminal->buffer->yBase);
    terminal->userScrolling = userScrolling;
    return;
  }
  scrollTo(target, true);
}

void TerminalView::scrollTo(int row, bool notifyAccessibility) {
  int max = maxScroll();
  row = std::clamp(row, 0, max);
  // Output follows a view at the screen's top row or below it: rows a resize left below the
  // screen lie past the screen, and looking at the screen itself is not looking back.
  userScrolling = row < std::min(max, terminal->buffer->yBase);
  terminal->userScrolling = userScrolling;
  Buffer& buffer = *terminal->buffer;
  if (row == buffer.yDisp) return;
  buffer.yDisp = row;
  terminal->updateRange(0);
  terminal->updateRange(terminal->rows);
  updateDisplay(notifyAccessibility);
  if (terminalDelegate) terminalDelegate->scrolled(*this, scrollPosition());
  updateScroller();
  path->invalidateAll();
  queue_draw();
}

void TerminalView::scrollUp(int lines) { scrollTo(std::max(terminal->buffer->yDisp - lines, 0), true); }

void TerminalView::scrollDown(int lines) {
  scrollTo(std::max(std::min(terminal->buffer->yDisp + lines, maxScroll()), 0), true);
}

void TerminalView::pageUp() {
  if (terminal->isCurrentBufferAlternate()) {
    send(std::span<const uint8_t>(kPageUp));
    return;
  }
  scrollTo(std::max(terminal->buffer->yDisp - terminal->rows, 0), true);
}

void TerminalView::pageDown() {
  if (terminal->isCurrentBufferAlternate()) {
    send(std::span<const uint8_t>(kPageDown));
    return;
  }
  scrollDown(terminal->rows);
}

void TerminalView::ensureCaretIsVisible() {
  if (terminal->synchronizedOutputActive) return;
  Buffer& buffer = *terminal->buffer;
  int cursorLine = buffer.yBase + buffer.y;
  if (cursorLine < buffer.yDisp || cursorLine >= buffer.yDisp + terminal->rows) scrollTo(buffer.yBase, true);
}

void TerminalView::changeScrollback(std::optional<int> scrollback) {
  // A negative size would leave the buffer fewer lines than the screen has rows.
  if (scrollback && *scrollback < 0) scrollback = 0;
  terminal->normalBuffer->changeHistorySize(scrollback);
  terminal->options.scrollback = scrollback.value_or(0);
  terminal->updateRange(0);
  terminal->updateRange(terminal->rows - 1);
  updateScroller();
  if (terminalDelegate) terminalDelegate->scrolled(*this, scrollPosition());
  queuePendingDisplay();
}

void TerminalView::updateScroller() {
  if (!scroller) return;
  auto adjustment = scroller->get_adjustment();
  double thumb = scrollThumbsize();
  bool enabled = canScroll();
  scroller->set_sensitive(enabled);
  // The adjustment runs 0...1 with the knob's proportion as its page size.
  double page = enabled ? std::min(thumb, 1.0) : 1.0;
  adjustment->configure(scrollPosition() * (1.0 - page), 0, 1, page * 0.1, page, page);
}

void TerminalView::setScrollerStyle(ScrollerStyle style) {
  if (style == _scrollerStyle) return;
  _scrollerStyle = style;
  updateScroller();
  // The grid follows the strip should the style's width differ.
  processSizeChange(frameSize);
  path->invalidateAll();
  queue_allocate();
  queue_draw();
}

void TerminalView::setupScroller() {
  if (!scroller) {
    scroller =
        std::make_unique<Gtk::Scrollbar>(Gtk::Adjustment::create(0, 0, 1, 0.01, 0.1, 0.1), Gtk::Orientation::VERTICAL);
    scroller->set_parent(*this);
    // Unnamed, a screen reader would call it by its class's name once there is scrollback.
    gtk_accessible_update_property(GTK_ACCESSIBLE(scroller->gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, "Scrollback", -1);
    // The scrollbar reports only where its knob went, be it dragged or warped to a click.
    scroller->get_adjustment()->signal_value_changed().connect([this] {
      if (!scroller || !scroller->get_sensitive()) return;
      scrollerActivated(ScrollerPart::knob);
    });
  }
  // Shown from the start, disabled while there is nothing to scroll: its strip is the grid's
  // from the first layout, so neither scrollback appearing nor a screen switch resizes the
  // program running. Only its owner hides it, and then the strip goes back to the cells.
  scroller->set_sensitive(false);
}

double TerminalView::scrollerValue() const {
  if (!scroller) return 0;
  auto adjustment = scroller->get_adjustment();
  double range = 1.0 - adjustment->get_page_size();
  return range > 0 ? std::clamp(adjustment->get_value() / range, 0.0, 1.0) : 0;
}

void TerminalView::setScrollerValue(double position) {
  if (!scroller) return;
  auto adjustment = scroller->get_adjustment();
  adjustment->set_value(position * (1.0 - adjustment->get_page_size()));
}

void TerminalView::scrollerActivated(ScrollerPart hitPart) {
  switch (hitPart) {
    case ScrollerPart::noPart:
      std::printf("Scroller .noPart clicked\n");
      break;
    case ScrollerPart::decrementPage:
      pageUp();
      setScrollerValue(scrollPosition());
      break;
    case ScrollerPart::knob:
      scroll(scrollerValue());
      break;
    case ScrollerPart::incrementPage:
      pageDown();
      setScrollerValue(scrollPosition());
      break;
    case ScrollerPart::decrementLine:
      std::printf("Scroller .decrementLine clicked\n");
      break;
    case ScrollerPart::incrementLine:
      std::printf("Scroller .incrementLine clicked\n");
      break;
    case ScrollerPart::knobSlot:
      std::printf("Scroller .knobSlot clicked\n");
      break;
    default:
      std::printf("Scroller: New value introduced\n");
      break;
  }
  std::fflush(stdout);
}

}  // namespace vantrelle
