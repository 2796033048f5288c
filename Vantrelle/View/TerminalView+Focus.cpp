// Keyboard focus and the window: focus reports to the program, the caret's look as the view or
// its window gains and loses focus, and the selection operations offered to hosts.
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/window.h>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

bool TerminalView::hasFocus() const {
  if (!_hasFocus) return false;
  auto* window = dynamic_cast<const Gtk::Window*>(get_root());
  return !window || window->is_active();
}

// The GPU path draws the cursor in its frames: a change of focus needs a frame of its own, or a
// steady cursor would keep its focused look in a window the user has left.
void TerminalView::setHasFocus(bool value) {
  _hasFocus = value;
  if (caretView) {
    caretView->focused = value;
    caretView->redraw();
  }
  queueMetalDisplay();
}

bool TerminalView::caretViewTracksFocus() const { return caretView && caretView->tracksFocus; }

void TerminalView::setCaretViewTracksFocus(bool value) {
  if (caretView) caretView->tracksFocus = value;
  queueMetalDisplay();
}

void TerminalView::restartCaretLook() {
  if (!caretView) return;
  caretView->restartLook();
  caretView->redraw();
}

void TerminalView::freezeCaret() {
  if (!caretView) return;
  caretView->freeze();
  caretView->redraw();
}

bool TerminalView::becomeFirstResponder() {
  setHasFocus(true);
  restartCaretLook();
  terminal->reportedFocusState = true;
  if (terminal->sendFocus) terminal->sendFocusReport();
  return true;
}

bool TerminalView::resignFirstResponder() {
  freezeCaret();
  setHasFocus(false);
  terminal->reportedFocusState = false;
  if (terminal->sendFocus) terminal->sendFocusReport();
  return true;
}

// The view itself must hold the focus, not merely contain it: while the find bar's field takes
// the keys the terminal has resigned, as the program hears through its focus reports.
void TerminalView::setupFocusNotification() {
  auto focus = Gtk::EventControllerFocus::create();
  focus->property_is_focus().signal_changed().connect([this, raw = focus.get()] {
    if (raw->is_focus()) {
      becomeFirstResponder();
    } else {
      resignFirstResponder();
    }
  });
  add_controller(focus);
}

void TerminalView::setupProgressBar() {
  progress.progressBarView = std::make_unique<TerminalProgressBarView>();
  progress.progressBarView->set_visible(false);
  progress.progressBarView->set_parent(*this);
}

void TerminalView::root_vfunc() {
  Gtk::Widget::root_vfunc();
  windowActiveConnection.disconnect();
  if (auto* window = dynamic_cast<Gtk::Window*>(get_root())) {
    windowActiveConnection = window->property_is_active().signal_changed().connect([this] { windowActiveChanged(); });
  }
  // A window of another scale may change the cell size in points.
  scaleFactorChanged();
}

void TerminalView::unroot_vfunc() {
  windowActiveConnection.disconnect();
  Gtk::Widget::unroot_vfunc();
}

// The window becoming active restarts the caret; losing it stills the caret.
void TerminalView::windowActiveChanged() {
  auto* window = dynamic_cast<Gtk::Window*>(get_root());
  if (window && window->is_active()) {
    restartCaretLook();
  } else {
    freezeCaret();
  }
  queueMetalDisplay();
}

bool TerminalView::selectionActive() const { return selection && selection->active(); }

void TerminalView::deactivateSelection() {
  if (!selection) return;
  selection->setActive(false);
  selection->selectionMode = SelectionService::SelectionMode::character;
  selection->wordSelectionAnchor.reset();
}

void TerminalView::setNeedsDisplay() {
  path->invalidateAll();
  queue_draw();
}

void TerminalView::selectionChanged(Terminal&) {
  setNeedsDisplay();
  selectionChanged();
}

std::optional<std::string> TerminalView::getSelection() const {
  if (!selectionActive()) return std::nullopt;
  return selection->getSelectedText();
}

void TerminalView::selectAll() {
  if (selection) selection->selectAll();
}

void TerminalView::selectNone() {
  if (selectionActive()) deactivateSelection();
}

}  // namespace vantrelle
