// Full reset (RIS), soft reset (DECSTR), synchronized output (private mode 2026) with its
// safety time-out, and the small state-and-notify operations for the host.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::cmdReset() {
  parser.reset();
  resetToInitialState();
}

void Terminal::resetToInitialState() {
  endSynchronizedOutput();
  options.rows = rows;
  options.cols = cols;
  const bool hidden = cursorHidden;
  setup(true);
  // The normal buffer is made afresh; the alternate one keeps its lines, but its saved cursor
  // and its scroll region go back to the starting state too, or the next program to use it
  // would scroll only part of it.
  altBuffer->softReset();
  altBuffer->scrollTop = 0;
  altBuffer->scrollBottom = rows - 1;
  clearAllKittyImages();
  attributeBeforeReverseVideo.reset();
  cursorHidden = hidden;
  // A reset terminal starts writing at the top left, whatever the buffers kept.
  buffer->x = 0;
  buffer->y = 0;
  updateRange(0);
  updateRange(rows - 1);
}

void Terminal::cmdSoftReset() {
  cursorHidden = false;
  originMode = false;
  // Through the buffers too: they are what the printer consults.
  setInsertMode(false);
  setWraparound(true);
  reverseWraparound = false;
  applicationKeypad = false;
  applicationCursor = false;
  buffer->scrollTop = 0;
  buffer->scrollBottom = rows - 1;
  curAttr = defaultAttribute();
  attributeBeforeReverseVideo.reset();
  buffer->softReset();
  charset.reset();
  setgLevel(0);
  conformance = TerminalConformance::vt500;
  hyperLinkTracking.reset();
  lineFeedMode = options.convertEol;
  resetAllColors();
  if (tdel) tdel->showCursor(*this);
}

void Terminal::softReset() { cmdSoftReset(); }

void Terminal::beginSynchronizedOutput() {
  const bool wasActive = synchronizedOutputActive;
  synchronizedOutputActive = true;
  scheduleSynchronizedOutputTimeout();
  if (!wasActive && tdel) tdel->synchronizedOutputChanged(*this, true);
}

void Terminal::scheduleSynchronizedOutputTimeout() {
  if (synchronizedOutputTimeoutItem) synchronizedOutputTimeoutItem->cancel();
  synchronizedOutputTimeoutItem.reset();
  if (!scheduler) return;
  // The terminal cancels this work when it goes away, so it may hold the terminal directly.
  synchronizedOutputTimeoutItem = scheduler->schedule(synchronizedOutputTimeoutSeconds, [this] {
    if (synchronizedOutputActive) endSynchronizedOutput();
  });
}

void Terminal::endSynchronizedOutput() {
  if (!synchronizedOutputActive) return;
  synchronizedOutputActive = false;
  if (synchronizedOutputTimeoutItem) synchronizedOutputTimeoutItem->cancel();
  synchronizedOutputTimeoutItem.reset();
  updateRange(0);
  updateRange(rows - 1);
  if (tdel) tdel->synchronizedOutputChanged(*this, false);
}

void Terminal::showCursor() {
  if (!cursorHidden) return;
  cursorHidden = false;
  if (tdel) tdel->showCursor(*this);
}

void Terminal::hideCursor() {
  if (cursorHidden) return;
  cursorHidden = true;
  if (tdel) tdel->hideCursor(*this);
}

void Terminal::setTitle(const std::string& text) {
  titles.window = text;
  if (tdel) tdel->setTerminalTitle(*this, text);
}

void Terminal::setIconTitle(const std::string& text) {
  titles.icon = text;
  if (tdel) tdel->setTerminalIconTitle(*this, text);
}

void Terminal::refresh(int startRow, int endRow) {
  updateRange(startRow);
  updateRange(endRow);
}

}  // namespace vantrelle
