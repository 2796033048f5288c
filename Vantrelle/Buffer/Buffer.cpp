#include "Vantrelle/Buffer/Buffer.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace vantrelle {

Buffer::Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback)
    : _lines(1), _cols(std::max(cols, 1)), _rows(std::max(rows, 1)), scrollback_(scrollback) {
  hasScrollback = scrollback.has_value();
  scrollBottom = _rows - 1;
  marginRight = _cols - 1;
  scroll = [](bool) { throw std::logic_error("This should be set after creating a buffer"); };
  _lines = CircularBufferLineList(getCorrectBufferLength(_rows));
  setupLinesCallbacks(_lines);
  setupTabStops(-1, tabStopWidth);
  chooseScrolledRowCompaction();
}

BufferLinePtr Buffer::makeEmptyLine() { return _lines.makeLine(_cols, CharData::Null); }

void Buffer::setupLinesCallbacks(CircularBufferLineList& ring) {
  // The ring is a member of this buffer, so it never outlives it.
  ring.makeEmpty = [this](int) { return makeEmptyLine(); };
  ring.onLinePushed = [this](bool hasImages) {
    if (!hasImages) return;
    linesWithImagesCount++;
    linesJoinedWithImages++;
  };
  ring.onLineRecycled = [this](bool hadImages) {
    if (hadImages) linesWithImagesCount--;
  };
}

int Buffer::getCorrectBufferLength(int rows) const {
  if (!hasScrollback) return rows;
  int64_t total = int64_t(rows) + int64_t(scrollback_.value_or(0));
  return int(std::clamp<int64_t>(total, 1, std::numeric_limits<int32_t>::max()));
}

BufferLinePtr Buffer::getBlankLine(const Attribute& attribute, bool isWrapped) {
  return _lines.makeLine(_cols, CharData(0, 1, attribute), isWrapped);
}

CharData Buffer::getNullCell(std::optional<Attribute> attribute) const {
  return CharData(' ', 1, attribute.value_or(Attribute::empty));
}

CharData Buffer::getChar(Position at) { return getCharAtBufferRelative(Position(at.col, at.row + yDisp)); }

CharData Buffer::getCharAtBufferRelative(Position at) {
  if (at.row < 0 || at.row >= _lines.count()) return CharData::Null;
  const BufferLine& line = *_lines[int(at.row)];
  if (at.col < 0 || at.col >= line.count()) return CharData::Null;
  return line[int(at.col)];
}

void Buffer::chooseScrolledRowCompaction() {
  const int64_t scrollbackCells = int64_t(std::max(_lines.maxLength() - _rows, 0)) * _cols;
  compactEachScrolledRow = scrollbackCells * int64_t(sizeof(CharData)) > int64_t(wholeRowsBudgetBytes);
}

void Buffer::compactRowAboveScreen() {
  if (yBase > 0) _lines.compactLine(yBase - 1);
}

void Buffer::compactScrolledRows() {
  // Rows that moved meanwhile (a region scroll, erased saved lines) may leave the count off by a
  // few: a row compacted already stays as it is, and every row counted lies above the screen.
  if (rowsAwaitingCompaction == 0) return;
  for (int i = std::min(rowsAwaitingCompaction, yBase); i > 0; i--) _lines.compactLine(yBase - i);
  rowsAwaitingCompaction = 0;
  // The blocks the rows gave up leave slabs that the screen's rows pin a few blocks each.
  _lines.compactCellsIfSparse();
}

void Buffer::clear() {
  rowsAwaitingCompaction = 0;
  noteLinesDropped(_lines.count());
  yDisp = 0;
  linesTop = 0;
  xBase = 0;
  x = 0;
  y = 0;
  yBase = 0;
  _lines = CircularBufferLineList(getCorrectBufferLength(_rows));
  setupLinesCallbacks(_lines);
  linesWithImagesCount = 0;
  scrollTop = 0;
  scrollBottom = _rows - 1;
  marginLeft = 0;
  marginRight = _cols - 1;
}

void Buffer::softReset() {
  savedAttr = CharData::Null.attribute();
  savedY = 0;
  savedX = 0;
  savedCharset.reset();
  marginLeft = 0;
  marginRight = _cols - 1;
  savedOriginMode = false;
  savedMarginMode = false;
  savedWraparound = true;
  savedReverseWraparound = false;
}

void Buffer::fillViewportRows(std::optional<Attribute> attribute) {
  if (!_lines.isEmpty()) return;
  CharData blank(0, 1, attribute.value_or(CharData::Null.attribute()));
  for (int i = 0; i < _rows; i++) _lines.push(_lines.makeLine(_cols, blank));
}

void Buffer::changeHistorySize(std::optional<int> newScrollback) {
  compactScrolledRows();
  scrollback_ = newScrollback;
  hasScrollback = newScrollback.has_value();
  int n = getCorrectBufferLength(_rows);
  if (n == _lines.maxLength()) return;
  if (n < _lines.maxLength()) {
    shrinkCapacity(n);
  } else {
    _lines.setMaxLength(n);
  }
  chooseScrolledRowCompaction();
}

void Buffer::clearImagesFromLine(int at) {
  if (at < 0 || at >= _lines.count()) return;
  BufferLine& line = *_lines[at];
  if (!line.images()) return;
  linesWithImagesCount--;
  line.setImages(std::nullopt);
}

void Buffer::recalculateLinesWithImagesCount() {
  int total = 0;
  for (int i = 0; i < _lines.count(); i++) {
    if (_lines[i]->images()) total++;
  }
  linesWithImagesCount = total;
}

}  // namespace vantrelle
