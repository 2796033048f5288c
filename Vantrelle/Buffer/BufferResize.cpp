#include <algorithm>

#include "Vantrelle/Buffer/Buffer.h"

namespace vantrelle {

// Gives the line `cols` cells. A wide character that a cut leaves on the new last column has lost
// its second half: it becomes the gap a wide character moved on to the next row leaves.
void Buffer::resizeLine(BufferLine& line, int cols) {
  const bool cut = line.count() > cols;
  line.resize(cols, CharData::Null);
  const int last = line.count() - 1;
  if (cut && last >= 0 && line[last].width == 2) [[unlikely]]
    line.set(last, CharData::Null);
}

void Buffer::resize(int newCols, int newRows) {
  newCols = std::max(newCols, 1);
  newRows = std::max(newRows, 1);
  // The rows waiting to be packed are counted from the screen's top, which the resize moves; a
  // reflow lays out packed rows without a block each.
  compactScrolledRows();
  // Still so after the resize, however many come before the line feed.
  const bool afterReturn = cursorAfterCarriageReturn();
  // Line editors redraw after every resize, even one of the rows alone: the text they would
  // erase is moved aside first, while the rows are still as they drew them.
  if (hasScrollback && cursorLineRedrawn && !_lines.isEmpty() && (newCols != _cols || newRows != _rows))
    detachTextBeforePrompt();
  // Margins follow a narrower screen but are never widened.
  if (newCols - 1 < marginRight) marginRight = newCols - 1;
  if (marginLeft >= marginRight) marginLeft = marginRight;

  const int oldX = x;
  int capacity = getCorrectBufferLength(newRows);
  if (_lines.maxLength() < capacity) _lines.setMaxLength(capacity);

  // Reflow passes over every line anyway: it gives each line the new width on its way.
  const bool reflowing = hasScrollback && _cols != newCols;
  if (!_lines.isEmpty()) {
    if (_cols < newCols && !reflowing) {
      // Lines the alternate screen kept longer than it was are cut here.
      for (int i = 0; i < _lines.count(); i++) resizeLine(*_lines[i], newCols);
    }
    int addToY = 0;
    resizeRows(newCols, newRows, addToY);
    if (capacity < _lines.maxLength()) shrinkCapacity(capacity);
    // A pending wrap stays pending while the width does not change: the next character still
    // goes on the next row instead of over the last one.
    if (!(x == _cols && newCols == _cols)) x = std::min<int>(x, newCols - 1);
    y = std::min<int>(y, newRows - 1);
    y += addToY;
    savedX = std::min(savedX, newCols - 1);
    scrollTop = 0;
  }
  scrollBottom = newRows - 1;
  tabStops.resize(size_t(newCols), false);

  if (reflowing) {
    const CursorText cursor = cursorText(oldX, afterReturn);
    const BufferLine* cursorLine = yBase + y < _lines.count() ? _lines[yBase + y].get() : nullptr;
    // Each gives every line the new width as it passes it.
    if (_cols < newCols) {
      reflowWider(_cols, newCols, newRows);
    } else {
      // The ring's size bounds the scrollback, never the screen: the reflow gets room for every
      // row the screen and the rows below it can make, and only then goes back to the size,
      // dropping what lies above the screen alone.
      const int64_t room = int64_t(rowsBelowScreenTopNarrowed(newCols, newRows)) + scrollback_.value_or(0);
      if (room > _lines.maxLength()) _lines.setMaxLength(int(std::min<int64_t>(room, kMaxRoomForScreen)));
      reflowNarrower(_cols, newCols, newRows);
    }
    // Reflow makes no line with images; it can only drop some.
    if (linesWithImagesCount > 0) recalculateLinesWithImagesCount();
    if (!cursorLineRedrawn) {
      placeCursor(cursor, newCols, newRows);
    } else if (cursorLine) {
      keepCursorOn(cursorLine, newRows);
    }
  }
  keepViewportInsideRing(newRows);
  if (capacity < _lines.maxLength()) shrinkCapacity(capacity);
  // A reflow moves rows to other indexes: where text was written last, kept as an index, would
  // name another row (the terminal puts it back where a character it carries went). A return
  // noted before the resize is kept only for a cursor still standing where it left it.
  if (reflowing) lastBufferStorage = {-1, -1, newCols, newRows};
  if (afterReturn) {
    noteCarriageReturn();
  } else {
    forgetCarriageReturn();
  }
  _cols = newCols;
  _rows = newRows;
  chooseScrolledRowCompaction();
}

void Buffer::keepViewportInsideRing(int newRows) {
  // Narrowing a ring that is already at capacity drops its oldest lines after the view was
  // moved down for the rows added, which can leave the screen hanging past the last line.
  // Pull the screen back so it ends on the last line; the cursor keeps its text.
  int count = _lines.count();
  int maxBase = std::max(count - newRows, 0);
  if (yBase > maxBase) yBase = maxBase;
  if (yDisp > yBase) yDisp = yBase;
  if (yBase + y >= count) y = std::max(count - 1 - yBase, 0);
}

void Buffer::resizeRows(int newCols, int newRows, int& addToY) {
  if (_rows < newRows) {
    for (int r = _rows; r < newRows; r++) {
      if (_lines.count() >= newRows + yBase) continue;
      if (yBase > 0 && _lines.count() <= yBase + r + addToY + 1) {
        // With scrollback the screen fills from it first, so the content stays at the bottom.
        yBase -= 1;
        addToY += 1;
        if (yDisp > 0) yDisp -= 1;
      } else {
        _lines.push(_lines.makeLine(newCols, CharData::Null));
      }
    }
  } else if (_rows > newRows) {
    for (int i = 0; i < _rows - newRows; i++) {
      if (_lines.count() <= newRows + yBase) continue;
      if (yBase + y + 1 < _lines.count()) {
        const BufferLine& bottom = *_lines[_lines.count() - 1];
        if (!hasScrollback || (!bottom.isWrapped() && bottom.getTrimmedLength() == 0)) {
          _lines.setCount(_lines.count() - 1);
        } else if (y > 0) {
          // Text below the cursor is kept: the screen moves down over it, its top row going into
          // the scrollback, while the cursor's row stays on it. A cursor on the top row leaves
          // the rest below the screen, where scrolling reaches it and a taller screen shows it.
          yBase += 1;
          yDisp += 1;
          y -= 1;
        }
      } else {
        yBase += 1;
        yDisp += 1;
      }
    }
  }
}

// Rows from the screen's top down, at most, once the rows are laid out `newCols` wide: the
// screen's rows above the cursor, and the cursor's row and every row below it in pieces of at
// least one column less than the width (a wide character may end a piece early), one more where
// a row's text starts inside a piece.
int Buffer::rowsBelowScreenTopNarrowed(int newCols, int newRows) {
  const int piece = std::max(newCols - 1, 1);
  const int cursorRow = yBase + y;
  int64_t rows = newRows - 1;
  for (int row = std::max(cursorRow, 0); row < _lines.count() && rows < kMaxRoomForScreen; row++) {
    const bool wraps = row + 1 < _lines.count() && _lines[row + 1]->isWrapped();
    int length = wraps ? _cols : _lines[row]->getTrimmedLength();
    if (row == cursorRow) length = std::max<int>(length, x + 1);
    rows += length / piece + 2;
  }
  return int(std::min(rows, kMaxRoomForScreen));
}

// The ring goes back to `capacity` lines by dropping its oldest lines above the screen: the
// screen's rows, and those a resize left below it, stay, and the ring holds them beyond its size
// until they scroll up into the scrollback.
void Buffer::shrinkCapacity(int capacity) {
  int t = std::min(_lines.count() - capacity, yBase);
  if (t > 0) {
    _lines.trimStart(t);
    noteLinesDropped(t);
    yBase = std::max(yBase - t, 0);
    yDisp = std::max(yDisp - t, 0);
    savedY = std::max(savedY - t, 0);
  }
  _lines.setMaxLength(std::max(capacity, _lines.count()));
}

}  // namespace vantrelle
