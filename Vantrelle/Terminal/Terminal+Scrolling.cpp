// Moving the contents of the active buffer: scrolling the region, index, reverse index, column
// scrolls, resize and the scrollback size.
#include <algorithm>
#include <string>

#include "Vantrelle/Buffer/WideHalves.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

std::string yesNo(bool value) { return value ? "true" : "false"; }

// Scrolling between left and right margins moves cells from row to row, which would part a wide
// character across either margin: on every row of ring indexes [topRow, bottomRow] it is blanked.
void cutWideAcrossMargins(Buffer& b, int topRow, int bottomRow, const CharData& blank) {
  if (!b.mayHoldWideCells) return;
  for (int row = topRow; row <= bottomRow; ++row)
    blankWideAcross(*b.lines()[row], {b.marginLeft, b.marginRight + 1}, blank);
}

// A line at ring index `row` that no longer stands under the line it continued starts a line of
// its own: left marked, copying and reflow would join it to whatever now stands above it. Rows
// below a region that moves stand under a new line afterwards.
void startLogicalLine(CircularBufferLineList& lines, int row) {
  if (row < 0 || row >= lines.count()) return;
  BufferLine& line = *lines[row];
  if (line.isWrapped()) line.setWrapped(false);
}

}  // namespace

BufferLine& Terminal::prepareBlankLine(bool isWrapped) {
  const Attribute erase = eraseAttr();
  if (!blankLine || blankLine->count() != cols || blankLineAttribute != erase) {
    blankLine = std::make_unique<BufferLine>(cols, CharData(0, 1, erase));
    blankLineAttribute = erase;
  }
  blankLine->setWrapped(isWrapped);
  return *blankLine;
}

void Terminal::scroll(bool isWrapped) {
  Buffer& b = *buffer;
  // Only the ways that add a line copy the blank one: a full scrollback, the usual case under a
  // flood, clears its oldest line instead and never needs it.
  auto blank = [&]() -> const BufferLine& { return prepareBlankLine(isWrapped); };
  const int topRow = b.yBase + b.scrollTop;
  const int bottomRow = b.yBase + b.scrollBottom;
  const bool narrowMargins = marginMode && !(b.marginLeft < 1 && b.marginRight >= cols - 1);
  auto& lines = b.lines();

  if (narrowMargins) {
    scrollWithinMargins(topRow, bottomRow);
  } else if (b.scrollTop == 0 && bottomRow < lines.count()) {
    const bool wasFull = lines.isFull();
    bool revealed = false;
    if (wasFull && b.hasAnyImages()) keepKittyRecordsOfOldestLine(*this, b);
    if (bottomRow == lines.count() - 1 && wasFull) {
      lines.recycle(eraseAttr());
      BufferLine& recycled = *lines[lines.count() - 1];
      forgetRecycledLine(b, &recycled);
      recycled.setWrapped(isWrapped);
    } else if (bottomRow == lines.count() - 1) {
      lines.push(lines.makeCopy(blank()));
    } else if (b.scrollBottom == rows - 1) {
      // Rows a resize left below the screen are the screen's own rows past its bottom: the
      // cursor goes on to the next of them, as it would on the taller screen that showed them,
      // and they come back into view in order instead of staying under every new line for good.
      revealed = true;
      if (isWrapped) lines[bottomRow + 1]->setWrapped(true);
    } else if (wasFull) {
      // The region ends above the screen's last row (a status line below it) and the ring is
      // full: the oldest line leaves, is cleared, and comes back as the region's new bottom row.
      // Only the rows below the region move, where a splice would rebuild the whole ring.
      lines.recycle(eraseAttr());
      lines.rotate(bottomRow, lines.count() - 1, false);
      BufferLine& recycled = *lines[bottomRow];
      forgetRecycledLine(b, &recycled);
      recycled.setWrapped(isWrapped);
      startLogicalLine(lines, bottomRow + 1);
    } else {
      lines.splice(bottomRow + 1, 0, {lines.makeCopy(blank())},
                   [this, &b](int index) { updateRange(index - b.yBase); });
      startLogicalLine(lines, bottomRow + 2);
    }
    if (!wasFull || revealed) {
      b.yBase = b.yBase + 1;
      if (!userScrolling) b.yDisp = b.yDisp + 1;
    } else {
      if (b.hasScrollback) b.linesTop = int(uint32_t(b.linesTop) + 1u);
      b.noteLinesDropped(1);
      if (userScrolling) b.yDisp = std::max(b.yDisp - 1, 0);
    }
    // The screen's old top row is now the newest line of the scrollback.
    b.noteScrolledOff();
  } else {
    if (lines.count() <= bottomRow || topRow < 1) {
      logUnprefixed("scroll: bottomRow " + std::to_string(bottomRow) + " >= lines.count " +
                    std::to_string(lines.count()) + ", state: yBase=" + std::to_string(b.yBase) +
                    " scrollTop=" + std::to_string(b.scrollTop) + " scrollBottom=" + std::to_string(b.scrollBottom) +
                    " isAlternate=" + yesNo(isCurrentBufferAlternate()));
      return;
    }
    // The line leaving the top of the region becomes the new bottom line: the lines between
    // move up in one rotation, with no allocation and no reference counting.
    b.clearImagesFromLine(topRow);
    lines.rotate(topRow, bottomRow, true);
    BufferLine& reused = *lines[bottomRow];
    reused.copyFrom(blank());
    reused.renderMode = BufferLine::RenderLineMode::single;
    startLogicalLine(lines, topRow);
    if (b.scrollBottom < rows - 1 || bottomRow + 1 < lines.count()) startLogicalLine(lines, bottomRow + 1);
  }

  if (!userScrolling) b.yDisp = b.yBase;
  updateRange(b.scrollTop, true);
  updateRange(b.scrollBottom, true);
  if (!(b.scrollTop == 0 && b.scrollBottom == rows - 1 && b.hasScrollback)) {
    updateRange(b.scrollTop);
    updateRange(b.scrollBottom);
  }
  // A placement made relative to another follows it even once its own cells are gone (a full
  // ring dropped them, a roomy one would hold them still): it may be the parent of others.
  if (b.hasAnyImages() || !kittyGraphicsState.relativeKeys.empty()) updateKittyRelativePlacementsForCurrentBuffer();
  if (tdel) tdel->scrolled(*this, b.yDisp);
}

void Terminal::scrollWithinMargins(int topRow, int bottomRow) {
  Buffer& b = *buffer;
  auto& lines = b.lines();
  const int width = b.marginRight - b.marginLeft + 1;
  if (width <= 0 || bottomRow >= lines.count()) return;
  cutWideAcrossMargins(b, topRow, bottomRow, CharData(0, 1, eraseAttr()));
  for (int row = topRow; row < bottomRow; ++row) {
    BufferLine& line = *lines[row];
    line.copyFrom(*lines[row + 1], b.marginLeft, b.marginLeft, width);
    line.setWrapped(false);
    b.clearImagesFromLine(row);
    line.renderMode = BufferLine::RenderLineMode::single;
  }
  BufferLine& bottom = *lines[bottomRow];
  bottom.fill(CharData(0, 1, eraseAttr()), b.marginLeft, width);
  bottom.setWrapped(false);
  b.clearImagesFromLine(bottomRow);
  bottom.renderMode = BufferLine::RenderLineMode::single;
}

void Terminal::emitLineFeed() {
  if (tdel) tdel->linefeed(*this);
}

// Index moves exactly as a line feed does: a cursor below the region moves down (or stays on
// the last row) and never scrolls the region above it.
void Terminal::cmdIndex() {
  indexDown();
  updateRange(buffer->y);
}

void Terminal::reverseIndex() {
  endPendingWrap();
  restrictCursor(true);
  Buffer& b = *buffer;
  const int y = b.y;
  if (y != b.scrollTop) {
    // Everything but the top of the region just moves up (no further than the screen).
    if (y > 0) b.y = y - 1;
    return;
  }
  if (marginMode && b.x < b.marginLeft) return;
  if (marginMode && b.x > b.marginRight) return;
  auto& lines = b.lines();
  const int topRow = b.yBase + y;
  const int bottomRow = b.yBase + b.scrollBottom;
  if (lines.count() <= topRow || lines.count() <= bottomRow) {
    logUnprefixed("reverseIndex: start index " + std::to_string(topRow) + " >= lines.count " +
                  std::to_string(lines.count()) + ", state: y=" + std::to_string(y) +
                  " yBase=" + std::to_string(b.yBase) + " scrollTop=" + std::to_string(b.scrollTop) + " scrollBottom=" +
                  std::to_string(b.scrollBottom) + " isAlternate=" + yesNo(isCurrentBufferAlternate()));
    return;
  }
  const bool narrowMargins = marginMode && !(b.marginLeft < 1 && b.marginRight >= cols - 1);
  const CharData blank(0, 1, eraseAttr());
  if (narrowMargins) {
    const int width = b.marginRight - b.marginLeft + 1;
    cutWideAcrossMargins(b, topRow, bottomRow, blank);
    for (int row = bottomRow; row > topRow; --row) {
      BufferLine& line = *lines[row];
      line.copyFrom(*lines[row - 1], b.marginLeft, b.marginLeft, width);
      line.setWrapped(false);
      b.clearImagesFromLine(row);
      line.renderMode = BufferLine::RenderLineMode::single;
    }
    BufferLine& top = *lines[topRow];
    top.fill(blank, b.marginLeft, width);
    top.setWrapped(false);
    b.clearImagesFromLine(topRow);
    top.renderMode = BufferLine::RenderLineMode::single;
  } else {
    // The region's last line drops out and is reused, blank, as its new first line.
    b.clearImagesFromLine(bottomRow);
    lines.rotate(topRow, bottomRow, false);
    BufferLine& reused = *lines[topRow];
    reused.resize(cols, blank);
    reused.fill(blank);
    reused.setWrapped(false);
    reused.renderMode = BufferLine::RenderLineMode::single;
    // The old first line now stands under the new blank one, and the row below the region under
    // another line than the one that dropped out.
    if (topRow < bottomRow) startLogicalLine(lines, topRow + 1);
    if (b.scrollBottom < rows - 1 || bottomRow + 1 < lines.count()) startLogicalLine(lines, bottomRow + 1);
  }
  updateRange(b.scrollTop);
  updateRange(b.scrollBottom);
}

void Terminal::columnIndex(bool back) {
  endPendingWrap();
  Buffer& b = *buffer;
  if (back) {
    if (b.x != b.marginLeft) {
      cursorBackward(1);
    } else {
      columnScroll(true, b.marginLeft);
    }
    return;
  }
  if (b.x != b.marginRight) {
    if (b.x != cols) cursorForward(1);
  } else {
    columnScroll(false, b.marginLeft);
  }
}

void Terminal::columnScroll(bool back, int at) {
  Buffer& b = *buffer;
  if (b.y < b.scrollTop || b.y > b.scrollBottom || b.x < b.marginLeft || b.x > b.marginRight) return;
  const int right = marginMode ? b.marginRight : cols - 1;
  if (at < 0 || right >= cols || at > right) return;
  // The forward scroll fills with the current background; the backward one does the same, so
  // the two directions leave matching blanks.
  const CharData blank(' ', 1, eraseAttr());
  auto& lines = b.lines();
  for (int row = b.scrollTop; row <= b.scrollBottom; ++row) {
    const int index = b.yBase + row;
    if (index >= lines.count()) break;
    BufferLine& line = *lines[index];
    // Cells move across `at` and fall off at one end: a wide character there would be parted.
    if (b.mayHoldWideCells) blankWideAcross(line, {at, back ? right : at + 1, right + 1}, CharData(0, 1, eraseAttr()));
    if (right - at < 2) {
      line.fill(blank, at, right - at + 1);
    } else if (back) {
      line.copyFrom(line, at, at + 1, right - at);
      line.set(at, blank);
    } else {
      line.copyFrom(line, at + 1, at, right - at);
      line.set(right, blank);
    }
  }
  updateRange(b.scrollTop);
  updateRange(b.scrollBottom);
}

void Terminal::resize(int newCols, int newRows) {
  newCols = std::clamp(newCols, MINIMUM_COLS, 65535);
  newRows = std::clamp(newRows, MINIMUM_ROWS, 65535);
  if (newCols == cols && newRows == rows) return;
  endSynchronizedOutput();
  const int oldCols = cols;
  resizeBuffers(newCols, newRows);
  cols = newCols;
  rows = newRows;
  options.cols = newCols;
  options.rows = newRows;
  normalBuffer->setupTabStops(oldCols, tabStopWidth);
  altBuffer->setupTabStops(oldCols, tabStopWidth);
  updateRange(0);
  updateRange(rows - 1);
}

void Terminal::changeScrollback(std::optional<int> scrollback) {
  normalBuffer->changeHistorySize(scrollback);
  options.scrollback = scrollback.value_or(0);
  updateRange(0);
  updateRange(rows - 1);
}

}  // namespace vantrelle
