// The two directions of bytes: the program's output fed in, with the selection kept on its text
// as the output scrolls it, and the user's input sent out.
#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>

#include "Vantrelle/View/TerminalView.h"
#include "platform/Dispatch.h"

namespace vantrelle {

using platform::uptimeNanoseconds;

void TerminalView::feed(std::span<const uint8_t> byteArray) {
  if (search) search->invalidate();
  if (allowMouseReporting && selectionActive() && !selecting()) deactivateSelection();
  const Buffer* fed = terminal->buffer;
  const uint64_t dropped = fed->linesDropped;
  const int base = fed->yBase, cols = terminal->cols;
  {
    feeding = true;
    struct Fed {
      bool& feeding;
      ~Fed() { feeding = false; }
    } fedScope{feeding};
    terminal->feed(byteArray);
  }
  outputRest.noteOutput();
  if (std::exchange(scrolledWhileFeeding, false)) showScrolledPosition();
  if (terminal->buffer == fed) {
    // Every line that left the top of the ring moved the others up a row, however it went (a full
    // scrollback scrolling, saved lines erased, a smaller screen); a screen whose first row moved
    // up by more, or a width the rows were laid out again for, leaves no count to follow.
    const int64_t droppedLines = int64_t(fed->linesDropped - dropped);
    const bool followed = terminal->cols == cols && fed->yBase >= base - droppedLines && droppedLines <= INT32_MAX;
    keepSelectionOnItsText(followed ? int(droppedLines) : -1);
    keepLinkRowsOnTheirText(followed ? int(droppedLines) : -1);
  } else if (selectionActive()) {
    // Its rows are the other screen's: kept, it would show and copy this one's text there.
    deactivateSelection();
  }
  displayFedOutput();
}

// Once the scrollback is full, every new line drops the oldest and moves each line's buffer row
// up by one. The selection moves with its text, or what is copied would be other lines than the
// ones the user selected; it goes once its text has left the scrollback, or the scrollback was
// cleared under it.
// A negative count: lines went in a way the rows cannot follow.
void TerminalView::keepSelectionOnItsText(int droppedLines) {
  if (droppedLines == 0) return;
  auto moved = [droppedLines](Position p) {
    return p.row < droppedLines ? Position(0, 0) : Position(p.col, p.row - droppedLines);
  };
  if (auto& press = mouseState.selectionPressPosition; press && droppedLines > 0) press = moved(*press);
  if (!selectionActive()) return;
  Position start = selection->start(), end = selection->end();
  if (droppedLines < 0 || std::max(start.row, end.row) < droppedLines) {
    deactivateSelection();
    return;
  }
  if (selection->pivot) selection->pivot = moved(*selection->pivot);
  if (auto& anchor = selection->wordSelectionAnchor) anchor = {moved(anchor->start), moved(anchor->end)};
  selection->setSelection(moved(start), moved(end));
}

void TerminalView::keepLinkRowsOnTheirText(int droppedLines) {
  if (droppedLines == 0) return;
  auto follow = [droppedLines](std::vector<LinkRowRange>& ranges) {
    if (droppedLines < 0) return ranges.clear();
    std::erase_if(ranges, [droppedLines](const LinkRowRange& range) { return range.row < droppedLines; });
    for (LinkRowRange& range : ranges) range.row -= droppedLines;
  };
  if (auto& hovered = linkState.linkHighlightRange) {
    follow(*hovered);
    if (hovered->empty()) hovered.reset();
  }
  follow(linkState.previewedLink);
}

void TerminalView::feed(const std::string& text) {
  feed(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void TerminalView::send(std::span<const uint8_t> data) {
  {
    std::lock_guard<std::mutex> lock(userInputLock);
    lastUserInputUptimeNs = uptimeNanoseconds();
    inputAwaitingOutput = true;
  }
  if (caretView) caretView->noteUserActivity();
  // The OpenGL path's cursor starts blinking again from its next frame.
  queueMetalDisplay();
  ensureCaretIsVisible();
  if (terminalDelegate) terminalDelegate->send(*this, data);
}

void TerminalView::send(const std::string& txt) {
  send(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(txt.data()), txt.size()));
}

}  // namespace vantrelle
