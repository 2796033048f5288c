// Line feed, carriage return, backspace and tabs: the controls every program's output is full of.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::cmdLineFeedBasic() {
  buffer->forgetCarriageReturn();
  indexDown();
  emitLineFeed();
  if (lineFeedMode) buffer->x = originMode && marginMode ? buffer->marginLeft : 0;
}

void Terminal::indexDown() {
  // A line feed ends a pending wrap; the cursor keeps the column it is shown in.
  endPendingWrap();
  Buffer& b = *buffer;
  const int x = b.x;
  const int y = b.y;
  const bool outsideMargins = marginMode && (x < b.marginLeft || x > b.marginRight);
  if (y == b.scrollBottom) {
    if (!outsideMargins) scroll(false);
  } else if (y < rows - 1) {
    // Above the region's bottom, or below the region: only the cursor moves, so text below a
    // region is never scrolled away. On the last row below the region it stays.
    b.y = y + 1;
  }
}

void Terminal::cmdCarriageReturn() {
  Buffer& b = *buffer;
  b.x = marginMode && b.x >= b.marginLeft ? b.marginLeft : 0;
  b.noteCarriageReturn();  // a resize before the line feed keeps the cursor below the line's text
}

void Terminal::cmdBackspace() {
  if (wrapPending()) {
    // With reverse wraparound the first backspace only takes back the pending wrap.
    endPendingWrap();
    if (reverseWraparound) return;
  }
  Buffer& b = *buffer;
  restrictCursor(!reverseWraparound);
  const int left = marginMode ? b.marginLeft : 0;
  const int right = marginMode ? b.marginRight : b.cols() - 1;
  const int x = b.x;
  const int y = b.y;
  if (x > left) {
    b.x = x - 1;
    return;
  }
  if (!reverseWraparound) {
    if (x < left && x >= 1) b.x = x - 1;
    return;
  }
  if (y > b.scrollTop && y <= b.scrollBottom) {
    // The two rows are no longer one logical line.
    BufferLine& line = *b.lines()[b.yBase + y];
    if (line.isWrapped() && !marginMode) line.setWrapped(false);
    b.y = y - 1;
    b.x = right;
  } else if (y == b.scrollTop) {
    b.y = b.scrollBottom;
    b.x = right;
  } else if (y >= 1) {
    b.y = y - 1;
    b.x = right;
  }
}

void Terminal::cmdHorizontalTab() {
  // No stop lies beyond the last column: the wrap stays pending, and the next character still
  // goes to the next row.
  if (wrapPending()) return;
  const int stop = buffer->nextTabStop(marginMode, -1);
  if (stop >= 0) buffer->x = stop;
}

void Terminal::cmdNextLine() {
  endPendingWrap();
  buffer->x = originMode && marginMode ? buffer->marginLeft : 0;
  cmdIndex();
}

void Terminal::cmdCursorForwardTab(std::span<const int> pars) {
  int n = pars[0] >= 2 ? std::min(pars[0], cols - 1) : (cols == 1 ? 0 : 1);
  while (n-- > 0) cmdHorizontalTab();
}

void Terminal::cmdCursorBackwardTab(std::span<const int> pars) {
  endPendingWrap();
  int n = pars[0] >= 2 ? std::min(pars[0], buffer->cols()) : 1;
  while (n-- > 0) {
    const int stop = buffer->previousTabStop(-1);
    if (stop >= 0) buffer->x = stop;
  }
}

}  // namespace vantrelle
