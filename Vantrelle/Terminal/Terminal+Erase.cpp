// Erasing, inserting and deleting cells and lines of the active screen (ECMA-48 ED, EL, ECH, ICH,
// DCH, IL, DL, SU, SD, REP; DEC DECIC, DECDC, DECALN and the line render modes).
#include <algorithm>

#include "Vantrelle/Buffer/WideHalves.h"
#include "Vantrelle/Terminal/ReportFormat.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

int firstParameter(std::span<const int> pars) { return pars.empty() ? 0 : pars[0]; }
int countParameter(std::span<const int> pars) { return std::max(firstParameter(pars), 1); }

// Fills [from, to) of the line, never past its storage.
void fillCells(BufferLine& line, int from, int to, const CharData& cell) {
  to = std::min(to, line.count());
  if (from >= to) return;
  line.fill(cell, from, to - from);
}

// Erases [from, to) of the line, taking in the other half of a wide character cut at either
// edge: half a wide character never stays on screen. That holds at the screen's edge too, where
// a line the alternate screen kept from a wider screen hides a second half that widening shows.
void eraseCells(BufferLine& line, int from, int to, const CharData& cell) {
  to = std::min(to, line.count());
  if (from >= to) return;
  if (from > 0 && line[from].width == 0 && line[from - 1].width == 2) from--;
  if (to < line.count() && line[to - 1].width == 2 && line[to].width == 0) to++;
  fillCells(line, from, to, cell);
}

CharData eraseCell(const Terminal& t) { return CharData(0, 1, t.eraseAttr()); }

BufferLine& screenLine(Terminal& t, int row) { return *t.buffer->lines()[t.buffer->yBase + row]; }

// The right edge that ICH, DCH, DECIC and DECDC shift cells against.
int editRightMargin(const Terminal& t) { return t.marginMode ? t.buffer->marginRight : t.cols - 1; }

bool cursorOutsideMargins(const Terminal& t) {
  return t.marginMode && (t.buffer->x < t.buffer->marginLeft || t.buffer->x > t.buffer->marginRight);
}

// A row that no longer stands under the row it continued starts a line of its own: left marked,
// copying and reflow would join it to whatever now stands above it.
void startLogicalLine(Terminal& t, int row) {
  // Rows a resize left below the screen count: the first of them follows the last screen row.
  if (row < 0 || t.buffer->yBase + row >= t.buffer->lines().count()) return;
  BufferLine& line = screenLine(t, row);
  if (line.isWrapped()) line.setWrapped(false);
}

// A row erased to its end no longer runs on into the next one. A shell that redraws its line
// wider erases the rows it used before; left marked as continuations, they would join the next
// command's output to the command line. Nor does a row erased from its first column go on from
// the one above, as after ED from there: a shell whose edited line needs a row fewer erases that
// row, and the command's output then starts on it. Deleting the characters up to the edge
// empties the row's end just as well. (Erasing characters there keeps blanks inside the line.)
void partRowErasedToEnd(Terminal& t, BufferLine& line, int from) {
  startLogicalLine(t, t.buffer->y + 1);
  if (from == 0) line.setWrapped(false);
}

std::vector<BufferLinePtr> freshLines(const Buffer& b, int count, const CharData& fill) {
  std::vector<BufferLinePtr> made;
  made.reserve(size_t(count));
  for (int i = 0; i < count; i++) made.push_back(std::make_shared<BufferLine>(b.cols(), fill));
  return made;
}

// Removes `count` lines at screen row `removeAt` and inserts as many fresh lines at `insertAt`
// (a row counted after the removal): the lines between move by splicing, not by copying cells.
void spliceRegionLines(Buffer& b, int removeAt, int insertAt, int count, const CharData& fill) {
  auto& lines = b.lines();
  lines.splice(b.yBase + removeAt, count, {});
  lines.splice(b.yBase + insertAt, 0, freshLines(b, count, fill));
  if (b.hasAnyImages()) b.recalculateLinesWithImagesCount();
}

// Moves the margin columns of rows [top, bottom] by `offset` rows (down when positive) and fills
// the rows left behind with `fill`; cells outside the margins stay.
void shiftMarginColumns(Terminal& t, int top, int bottom, int offset, const CharData& fill) {
  const int left = t.buffer->marginLeft;
  const int width = t.buffer->marginRight - left + 1;
  if (width <= 0) return;
  if (t.buffer->mayHoldWideCells)
    for (int row = top; row <= bottom; row++) blankWideAcross(screenLine(t, row), {left, left + width}, eraseCell(t));
  if (offset > 0) {
    for (int row = bottom; row >= top + offset; row--)
      screenLine(t, row).copyFrom(screenLine(t, row - offset), left, left, width);
    for (int row = top; row < top + offset; row++) fillCells(screenLine(t, row), left, left + width, fill);
  } else {
    const int up = -offset;
    for (int row = top; row <= bottom - up; row++)
      screenLine(t, row).copyFrom(screenLine(t, row + up), left, left, width);
    for (int row = bottom - up + 1; row <= bottom; row++) fillCells(screenLine(t, row), left, left + width, fill);
  }
}

void updateRegionRange(Terminal& t) {
  const Buffer& b = *t.buffer;
  t.updateRange(b.y);
  t.updateRange(b.scrollBottom);
  if (b.scrollTop != 0 || b.scrollBottom != t.rows - 1) {
    t.updateRange(b.scrollTop);
    t.updateRange(b.scrollBottom);
  }
}

// Column shifts part a wide character across the cursor column, across the margin, or across the
// column past which cells fall off: its halves become `cut` first.
void shiftColumnsRight(BufferLine& line, int x, int rm, int n, const CharData& blank, const CharData& cut) {
  rm = std::min(rm, line.count() - 1);
  if (x > rm) return;
  n = std::min(n, rm - x + 1);
  blankWideAcross(line, {x, rm - n + 1, rm + 1}, cut);
  if (n >= rm - x + 1) {
    fillCells(line, x, rm + 1, blank);
  } else {
    std::copy_backward(line.cells() + x, line.cells() + rm - n + 1, line.cells() + rm + 1);
    fillCells(line, x, x + n, blank);
  }
  line.setWrapped(false);
}

void shiftColumnsLeft(BufferLine& line, int x, int rm, int n, const CharData& blank, const CharData& cut) {
  rm = std::min(rm, line.count() - 1);
  if (x > rm) return;
  n = std::min(n, rm - x + 1);
  blankWideAcross(line, {x, x + n, rm + 1}, cut);
  if (n >= rm - x + 1) {
    fillCells(line, x, rm + 1, blank);
  } else {
    std::copy(line.cells() + x + n, line.cells() + rm + 1, line.cells() + x);
    fillCells(line, rm - n + 1, rm + 1, blank);
  }
  line.setWrapped(false);
}

// Rows a resize left below the screen belong to the screen, past its bottom: erasing what lies
// below the cursor erases them too. Left there, the line feeds of the program's next output
// would bring them back under it.
void eraseRowsBelowScreen(Terminal& t) {
  Buffer& b = *t.buffer;
  auto& lines = b.lines();
  const int end = b.yBase + t.rows;
  if (lines.count() <= end) return;
  for (int row = end; row < lines.count(); row++) b.clearImagesFromLine(row);
  lines.setCount(end);
  if (b.yDisp > b.yBase) b.yDisp = b.yBase;
  t.updateRange(t.rows - 1);
  t.scrollbackChanged();
}

// Only the lines above the screen: rows a resize left below it are not saved lines.
void eraseSavedLines(Terminal& t) {
  Buffer& b = *t.buffer;
  auto& lines = b.lines();
  const int k = b.yBase;
  if (k < 1) return;
  lines.trimStart(k);
  b.noteLinesDropped(k);
  b.linesTop = 0;
  b.yBase = std::max(b.yBase - k, 0);
  b.yDisp = std::max(b.yDisp - k, 0);
  if (b.hasAnyImages()) b.recalculateLinesWithImagesCount();
  t.scrollbackChanged();
}

}  // namespace

void Terminal::resetBufferLine(int y, bool clearImages) {
  Buffer& b = *buffer;
  if (clearImages) b.clearImagesFromLine(b.yBase + y);
  BufferLine& line = screenLine(*this, y);
  eraseCells(line, 0, cols, eraseCell(*this));
  line.setWrapped(false);
  line.renderMode = BufferLine::RenderLineMode::single;
  updateRange(y);
}

void Terminal::cmdEraseInDisplay(std::span<const int> pars) {
  const int p = firstParameter(pars);
  if (p >= 0 && p <= 2) endPendingWrap();
  Buffer& b = *buffer;
  if (b.mayHoldScreenLeftByResize()) [[unlikely]]
    showRowsMovedAfterResize(b.displayErasingAfterResize(p));
  switch (p) {
    case 0: {
      updateRange(b.y);
      BufferLine& line = screenLine(*this, b.y);
      eraseCells(line, b.x, cols, eraseCell(*this));
      if (b.x == 0) line.setWrapped(false);
      for (int row = b.y + 1; row < rows; row++) resetBufferLine(row, false);
      eraseRowsBelowScreen(*this);
      updateRange(rows - 1);
      break;
    }
    case 1: {
      updateRange(b.y);
      BufferLine& line = screenLine(*this, b.y);
      eraseCells(line, 0, b.x + 1, eraseCell(*this));
      line.setWrapped(false);
      if (b.x + 1 >= cols) startLogicalLine(*this, b.y + 1);
      for (int row = b.y - 1; row >= 0; row--) resetBufferLine(row, false);
      updateRange(0);
      break;
    }
    case 2:
      updateRange(rows - 1);
      b.forgetPromptStart();  // an editor clearing the screen draws its prompt again at the top
      for (int row = rows - 1; row >= 0; row--) resetBufferLine(row, true);
      eraseRowsBelowScreen(*this);
      clearAllKittyImages();
      updateRange(0);
      break;
    case 3:
      eraseSavedLines(*this);
      break;
    default:
      break;
  }
}

void Terminal::cmdEraseInLine(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  BufferLine& line = screenLine(*this, b.y);
  const int p = firstParameter(pars);
  switch (p) {
    case 0:
      eraseCells(line, b.x, cols, eraseCell(*this));
      break;
    case 1:
      eraseCells(line, 0, b.x + 1, eraseCell(*this));
      break;
    case 2:
      eraseCells(line, 0, cols, eraseCell(*this));
      break;
    default:
      break;
  }
  const bool toEnd = p == 0 || p == 2 || (p == 1 && b.x + 1 >= cols);
  if (toEnd) partRowErasedToEnd(*this, line, p == 0 ? int(b.x) : 0);
  updateRange(b.y);
  if (b.mayHoldScreenLeftByResize()) [[unlikely]]
    showRowsMovedAfterResize(b.lineErasedAfterResize());
}

void Terminal::cmdEraseChars(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  const int n = countParameter(pars);
  eraseCells(screenLine(*this, b.y), b.x, int(std::min<int64_t>(int64_t(b.x) + n, cols)), eraseCell(*this));
  updateRange(b.y);
}

void Terminal::cmdInsertChars(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  if (cursorOutsideMargins(*this) || b.x >= b.cols()) return;
  const int rm = editRightMargin(*this);
  if (b.x > rm) return;
  // A count past the margin would only push cells off the edge: clamp before shifting.
  const int n = std::min(countParameter(pars), rm - b.x + 1);
  BufferLine& line = screenLine(*this, b.y);
  blankWideAcross(line, {b.x, rm - n + 1, rm + 1}, eraseCell(*this));
  line.insertCells(b.x, n, rm, eraseCell(*this));
  updateRange(b.y);
}

void Terminal::cmdDeleteChars(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  if (cursorOutsideMargins(*this) || b.x >= b.cols()) return;
  const int rm = editRightMargin(*this);
  if (b.x > rm) return;
  const int n = std::min(countParameter(pars), rm - b.x + 1);
  BufferLine& line = screenLine(*this, b.y);
  blankWideAcross(line, {b.x, b.x + n, rm + 1}, eraseCell(*this));
  line.deleteCells(b.x, n, rm, eraseCell(*this));
  // Only a deletion that takes every cell up to the screen's edge empties the row's end: a shorter
  // one pulls the row's last cells in, and an editor then writes the cells that follow there.
  if (rm == cols - 1 && b.x + n > rm) partRowErasedToEnd(*this, line, b.x);
  updateRange(b.y);
}

void Terminal::cmdInsertLines(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  if (b.y < b.scrollTop || b.y > b.scrollBottom) return;
  // More lines than the region holds below the cursor would only be inserted to be dropped.
  const int n = std::min(countParameter(pars), b.scrollBottom - b.y + 1);
  if (!marginMode) {
    spliceRegionLines(b, b.scrollBottom - n + 1, b.y, n, eraseCell(*this));
    startLogicalLine(*this, b.y + n);
    startLogicalLine(*this, b.scrollBottom + 1);
  } else {
    if (b.x < b.marginLeft || b.x > b.marginRight) return;
    shiftMarginColumns(*this, b.y, b.scrollBottom, n, eraseCell(*this));
  }
  updateRegionRange(*this);
}

void Terminal::cmdDeleteLines(std::span<const int> pars) {
  endPendingWrap();
  restrictCursor(true);
  Buffer& b = *buffer;
  if (b.y < b.scrollTop || b.y > b.scrollBottom) return;
  const int n = std::min(countParameter(pars), b.scrollBottom - b.y + 1);
  if (!marginMode) {
    spliceRegionLines(b, b.y, b.scrollBottom - n + 1, n, eraseCell(*this));
    startLogicalLine(*this, b.y);
    startLogicalLine(*this, b.scrollBottom + 1);
  } else {
    if (b.x < b.marginLeft || b.x > b.marginRight) return;
    shiftMarginColumns(*this, b.y, b.scrollBottom, -n, eraseCell(*this));
  }
  updateRegionRange(*this);
}

// The lines SU and SD bring in are erased lines: like those of IND and RI they take the current
// background, which programs that were promised background-colour erase count on.
void Terminal::cmdScrollUp(std::span<const int> pars) {
  Buffer& b = *buffer;
  const int n = std::min(countParameter(pars), b.scrollBottom - b.scrollTop + 1);
  if (!marginMode) {
    spliceRegionLines(b, b.scrollTop, b.scrollBottom - n + 1, n, eraseCell(*this));
    startLogicalLine(*this, b.scrollTop);
    startLogicalLine(*this, b.scrollBottom + 1);
  } else {
    shiftMarginColumns(*this, b.scrollTop, b.scrollBottom, -n, eraseCell(*this));
  }
  updateRange(b.scrollTop);
  updateRange(b.scrollBottom);
}

void Terminal::cmdScrollDown(std::span<const int> pars) {
  Buffer& b = *buffer;
  const int n = std::min(countParameter(pars), b.scrollBottom - b.scrollTop + 1);
  if (!marginMode) {
    spliceRegionLines(b, b.scrollBottom - n + 1, b.scrollTop, n, eraseCell(*this));
    startLogicalLine(*this, b.scrollTop + n);
    startLogicalLine(*this, b.scrollBottom + 1);
  } else {
    shiftMarginColumns(*this, b.scrollTop, b.scrollBottom, n, eraseCell(*this));
  }
  updateRange(b.scrollTop);
  updateRange(b.scrollBottom);
}

void Terminal::cmdRepeatPrecedingCharacter(std::span<const int> pars) {
  Buffer& b = *buffer;
  const int64_t limit = int64_t(2) * cols * rows;
  const int64_t n = std::clamp<int64_t>(firstParameter(pars), 1, limit);
  CharData cell = CharData::Null;
  if (b.x > 0) {
    const BufferLine& line = screenLine(*this, b.y);
    int col = std::min<int>(b.x - 1, line.count() - 1);
    // Left of the cursor may be the continuation half of a wide character: repeat the
    // character itself, never its empty second half.
    if (line[col].width == 0 && col > 0) col--;
    cell = line[col];
  }
  const int startRow = b.y;
  for (int64_t i = 0; i < n; i++) b.insertCharacter(cell);
  updateRange(std::min<int>(startRow, b.y));
  updateRange(b.y);
  if (b.y != startRow) updateRange(rows - 1);
}

void Terminal::cmdInsertColumns(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  const int n = countParameter(pars);
  if ((marginMode && b.x < b.marginLeft) || b.x > b.marginRight) return;
  const int rm = editRightMargin(*this);
  // The same blank DECDC leaves. The inverted default background the empty attribute carries
  // drew the inserted columns as a solid bar.
  const CharData blank(32, 1, Attribute(Attribute::Color::defaultColor, curAttr.bg, CharacterStyle::none));
  for (int row = b.scrollTop; row <= b.scrollBottom; row++)
    shiftColumnsRight(screenLine(*this, row), b.x, rm, n, blank, eraseCell(*this));
  // So a view that redraws by the update range shows the change.
  updateRange(b.scrollTop);
  updateRange(b.scrollBottom);
}

void Terminal::cmdDeleteColumns(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  if (b.y < b.scrollTop || b.y > b.scrollBottom || b.x >= b.cols() || cursorOutsideMargins(*this)) return;
  const int n = countParameter(pars);
  const int rm = editRightMargin(*this);
  const CharData blank(32, 1, Attribute(Attribute::Color::defaultColor, curAttr.bg, CharacterStyle::none));
  for (int row = b.scrollTop; row <= b.scrollBottom; row++)
    shiftColumnsLeft(screenLine(*this, row), b.x, rm, n, blank, eraseCell(*this));
  updateRange(b.scrollTop);
  updateRange(b.scrollBottom);
}

void Terminal::cmdScreenAlignmentPattern() {
  Attribute attribute = curAttr;
  attribute.style = CharacterStyle::none;
  attribute.underlineStyle = UnderlineStyle::none;
  const CharData cell(code(U"E"), 1, attribute);
  setCursor(0, 0);
  for (int row = 0; row < rows; row++) {
    BufferLine& line = screenLine(*this, row);
    fillCells(line, 0, line.count(), cell);
    line.setWrapped(false);
  }
  updateFullScreen();
  setCursor(0, 0);
}

void Terminal::setLineRenderMode(BufferLine::RenderLineMode mode) {
  BufferLine& line = screenLine(*this, buffer->y);
  line.renderMode = mode;
  line.touch();
  updateRange(buffer->y);
}

}  // namespace vantrelle
