// A line editor draws its line from where its prompt begins, and after a resize redraws it from
// column 0 of the row it believes the prompt begins on. Output a program left without a final
// newline shares that row, and the wrapped rows above it, with the prompt: the editor knows
// nothing of it and its redraw erases it. Before a resize that text moves to a line of its own
// above the prompt's rows, where reflow lays it out like any other output, while the rows the
// editor drew stay where it drew them.
#include <algorithm>

#include "Vantrelle/Buffer/Buffer.h"

namespace vantrelle {

namespace {

bool holdsText(const BufferLine& line, int end) {
  end = std::min(end, line.count());
  for (int i = 0; i < end; i++) {
    if (line[i].code != 0) return true;
  }
  return false;
}

}  // namespace

void Buffer::notePromptStart() {
  const int row = yBase + y;
  if (row < 0 || row >= _lines.count()) return forgetPromptStart();
  promptLine = _lines[row];
  promptLineSeen = _lines[row].get();
  promptColumn = x;
}

void Buffer::detachTextBeforePrompt() {
  const BufferLinePtr prompt = promptLine.lock();
  const int cursorRow = yBase + y;
  if (!prompt || cursorRow >= _lines.count()) return;
  // The prompt's row must lie in the cursor's group, at or above the cursor.
  int row = cursorRow;
  while (_lines[row] != prompt) {
    if (row == 0 || !_lines[row]->isWrapped()) return;
    row--;
  }
  int column = promptColumn;
  // A prompt begun on a pending wrap begins the next row.
  if (column >= _cols) {
    if (row == cursorRow) return;
    row++;
    column = 0;
    promptLine = _lines[row];
    promptLineSeen = _lines[row].get();
  }
  // A cursor back before the prompt's start means the row was drawn anew since.
  if (row == cursorRow && column > x) return forgetPromptStart();

  BufferLine& line = *_lines[row];
  promptColumn = 0;  // the editor's next redraw puts the prompt there
  if (!holdsText(line, column)) {
    // Only the rows above are output: they become a line of their own.
    if (line.isWrapped()) line.setWrapped(false);
    return;
  }
  // The first line of a full ring is its oldest: text moved above it would fall off at once.
  if (row == 0 && _lines.isFull()) return;
  BufferLinePtr before = getBlankLine(CharData::Null.attribute(), line.isWrapped());
  before->copyFrom(line, 0, 0, column);
  line.replaceCells(0, column, CharData::Null);
  line.setWrapped(false);
  insertLineAboveCursor(row, std::move(before));
}

// Inserts `line` at buffer row `row`, at or above the cursor, keeping the cursor on its text:
// the cursor moves down over a blank bottom row of a screen not yet full, or else the screen
// moves down one row.
void Buffer::insertLineAboveCursor(int row, BufferLinePtr line) {
  const bool following = yDisp == yBase;
  if (_lines.isFull()) {
    _lines.trimStart(1);
    noteLinesDropped(1);
    row--;
    yBase = std::max(yBase - 1, 0);
    yDisp = std::max(yDisp - 1, 0);
  }
  _lines.splice(row, 0, {std::move(line)});
  const BufferLine& bottom = *_lines[_lines.count() - 1];
  if (yBase == 0 && y < _rows - 1 && !bottom.isWrapped() && bottom.getTrimmedLength() == 0) {
    _lines.setCount(_lines.count() - 1);
    y += 1;
  } else {
    yBase += 1;
    if (following) yDisp = yBase;
  }
}

}  // namespace vantrelle
