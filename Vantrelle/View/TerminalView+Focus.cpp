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

void TerminalView::setHasFocus(bool value) {
  _hasFocus = value;
  if (caretView) {
    caretView->focused = value;
    caretView->redraw();
  }
}

bool TerminalView::caretViewTracksFocus() const { return caretView && caretView->tracksFocus; }

void TerminalView::setCaretViewTracksFocus(bool value) {
  if (caretView) caretView->tracksFocus = value;
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

void TerminalView::setupFocusNotification() {
  auto focus = Gtk::EventControllerFocus::create();
  focus->signal_enter().connect([this] { becomeFirstResponder(); });
  focus->signal_leave().connect([this] { resignFirstResponder(); });
  add_controller(focus);
}

void TerminalView::setupProgressBar() {
  progressBarView = std::make_unique<TerminalProgressBarView>();
  progressBarView->set_visible(false);
  progressBarView->set_parent(*this);
}

void TerminalView::root_vfunc() {
  Gtk::Widget::root_vfunc();
  windowActiveConnection.disconnect();
  if (auto* window = dynamic_cast<Gtk::Window*>(get_root())) {
    windowActiveConnection =
        window->property_is_active().signal_changed().connect([this] { windowActiveChanged(); });
  }
  // A window of another scale changes the cell size in points.
  path->invalidateAll();
  if (cellDimension && computeFontDimensions() != *cellDimension) resetFont();
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
}

bool TerminalView::selectionActive() const { return selection.has_value(); }

std::optional<std::string> TerminalView::getSelection() const {
  if (!selection) return std::nullopt;
  const Buffer& buffer = *terminal->buffer;
  Position start = selection->start, end = selection->end;
  if (Position::compare(end, start) == Position::compareResult::before) std::swap(start, end);
  std::string text;
  for (int64_t row = start.row; row <= end.row && row < buffer.lines().count(); row++) {
    if (row < 0) continue;
    const BufferLine& line = *const_cast<Buffer&>(buffer).lines()[int(row)];
    int from = row == start.row ? int(start.col) : 0;
    int to = row == end.row ? int(end.col) : -1;
    auto provider = [this](const CharData& cell) { return cell.code == 0 ? std::string(" ") : terminal->character(cell.code); };
    text += line.translateToString(row != end.row, from, to, true, provider);
    if (row != end.row && !(row + 1 < buffer.lines().count() && const_cast<Buffer&>(buffer).lines()[int(row + 1)]->isWrapped())) text += "\n";
  }
  return text;
}

void TerminalView::selectAll() {
  const Buffer& buffer = *terminal->buffer;
  selection = SelectionRange{Position(0, 0), Position(terminal->cols - 1, std::max(buffer.lines().count() - 1, 0))};
  fullRefresh();
  selectionChanged();
}

void TerminalView::selectNone() {
  if (!selection) return;
  selection.reset();
  fullRefresh();
  selectionChanged();
}

}  // namespace vantrelle
