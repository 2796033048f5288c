#include "Vantrelle/Text/SelectionService.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <vector>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

bool before(const Position& a, const Position& b) { return Position::compare(a, b) == Position::compareResult::before; }

bool isLetterOrNumber(char32_t c) {
  return (U_GET_GC_MASK(static_cast<UChar32>(c)) & (U_GC_L_MASK | U_GC_N_MASK)) != 0;
}

}  // namespace

void SelectionService::notify() {
  if (terminal.tdel) terminal.tdel->selectionChanged(terminal);
}

void SelectionService::activateAndNotify() {
  _active = true;
  notify();
}

void SelectionService::setActive(bool value) {
  if (value == _active && value) return;
  if (value != _active) {
    _active = value;
    notify();
  }
  if (!value) pivot.reset();
}

void SelectionService::selectNone() {
  if (!_active) return;
  setActive(false);
  selectionMode = SelectionMode::character;
  wordSelectionAnchor.reset();
}

// The column may be the column count itself: the end is exclusive, so that is the only end that
// keeps a row's last column in the selection.
Position SelectionService::clamp(const Buffer& buffer, Position position) const {
  const int64_t lastRow = std::max(buffer.lines().count() - 1, 0);
  return Position(std::min<int64_t>(position.col, buffer.cols()), std::min(position.row, lastRow));
}

void SelectionService::setSelection(Position start, Position end) {
  _start = clamp(*terminal.buffer, start);
  _end = clamp(*terminal.buffer, end);
  _hasSelectionRange = _start != _end;
  activateAndNotify();
}

void SelectionService::startSelection() {
  _end = _start;
  selectingRows = false;
  selectionMode = SelectionMode::character;
  wordSelectionAnchor.reset();
  _hasSelectionRange = false;
  activateAndNotify();
}

void SelectionService::setSoftStart(Position bufferPosition) {
  _start = _end = bufferPosition;
  _hasSelectionRange = false;
  activateAndNotify();
}

// Hidden text (SGR 8) is the blank it shows: neither a word nor a bracket to select by.
std::u32string SelectionService::shownScalars(const CharData& cell) const {
  return cell.isConcealed() && cell.code != 0 ? U" " : terminal.scalars(cell.code);
}

std::u32string SelectionService::characterAt(Buffer& buffer, Position at) const {
  return shownScalars(buffer.getCharAtBufferRelative(at));
}

// The character a cell shows: the second half of a wide character shows that character, so a
// run of wide letters is one word and not a letter cut off at each character's own second half.
std::u32string SelectionService::shownCharacterAt(Buffer& buffer, Position at) const {
  const CharData cell = buffer.getCharAtBufferRelative(at);
  if (cell.width == 0 && cell.code == 0 && at.col > 0) {
    const CharData before = buffer.getCharAtBufferRelative(Position(at.col - 1, at.row));
    if (before.width == 2) return shownScalars(before);
  }
  return shownScalars(cell);
}

SelectionService::RunClass SelectionService::runClassAt(Buffer& buffer, Position at) const {
  const std::u32string c = shownCharacterAt(buffer, at);
  if (c.size() == 1 && c[0] == nullChar) return RunClass::null;
  if (c.size() == 1 && c[0] == U' ') return RunClass::space;
  if (!c.empty() && isLetterOrNumber(c[0])) return RunClass::word;
  return RunClass::none;
}

bool SelectionService::inRun(RunClass run, const std::u32string& c) const {
  switch (run) {
    case RunClass::null:
      return c.size() == 1 && c[0] == nullChar;
    case RunClass::space:
      return c.size() == 1 && c[0] == U' ';
    case RunClass::word:
      if (c.empty()) return false;
      if (c.size() == 1 && (c[0] == U'.' || c[0] == U'_' || c[0] == U'-')) return true;
      return isLetterOrNumber(c[0]);
    case RunClass::none:
      return false;
  }
  return false;
}

// Where the text of a row that wraps on to the next one ends: at the last column, or one before
// it when a wide character that did not fit left a gap there. No end when the row does not wrap.
std::optional<int64_t> SelectionService::wrappedEnd(Buffer& buffer, int64_t row) const {
  auto& lines = buffer.lines();
  if (row < 0 || row + 1 >= lines.count() || !lines[int(row + 1)]->isWrapped()) return std::nullopt;
  const CharData last = buffer.getCharAtBufferRelative(Position(terminal.cols - 1, row));
  const bool gap = last.code == 0 && last.width == 1 && (*lines[int(row + 1)])[0].width == 2;
  return gap ? terminal.cols - 1 : terminal.cols;
}

// A run of letters or spaces goes on across a soft wrap, over the gap a wide character left, so a
// word the right edge cut is still one word.
Position SelectionService::extendToWordBoundary(Position position, Buffer& buffer, int direction) {
  const RunClass run = runClassAt(buffer, position);
  if (run == RunClass::none) return position;
  const bool crossesRows = run != RunClass::null;
  int64_t col = position.col;
  int64_t row = position.row;
  if (direction < 0) {
    for (;;) {
      while (col > 0 && inRun(run, shownCharacterAt(buffer, Position(col - 1, row)))) --col;
      const auto above = col == 0 && crossesRows ? wrappedEnd(buffer, row - 1) : std::nullopt;
      if (!above || *above < 1 || !inRun(run, shownCharacterAt(buffer, Position(*above - 1, row - 1)))) break;
      --row;
      col = *above - 1;
    }
  } else {
    for (;;) {
      while (col < terminal.cols && inRun(run, shownCharacterAt(buffer, Position(col, row)))) ++col;
      const auto end = crossesRows ? wrappedEnd(buffer, row) : std::nullopt;
      if (!end || col < *end || !inRun(run, shownCharacterAt(buffer, Position(0, row + 1)))) break;
      ++row;
      col = 0;
    }
  }
  return Position(col, row);
}

void SelectionService::shiftExtend(Position bufferPosition) {
  Position p = bufferPosition;
  if (selectionMode == SelectionMode::word) {
    p = extendToWordBoundary(p, *terminal.buffer, before(p, _start) ? -1 : 1);
  }
  if ((before(_start, _end) && before(p, _start)) || (before(_end, _start) && before(_start, p))) _start = _end;
  _end = p;
  _hasSelectionRange = _start != p;
  activateAndNotify();
}

void SelectionService::dragExtend(Position bufferPosition) {
  const Position p = bufferPosition;
  Buffer& buffer = *terminal.buffer;
  if (selectionMode != SelectionMode::word) {
    _end = p;
  } else if (wordSelectionAnchor) {
    const auto [a, b] = *wordSelectionAnchor;
    if (before(p, a)) {
      _start = extendToWordBoundary(p, buffer, -1);
      _end = b;
    } else if (!before(b, p)) {
      _start = a;
      _end = b;
    } else {
      _start = a;
      _end = extendToWordBoundary(p, buffer, 1);
    }
  } else {
    _end = extendToWordBoundary(p, buffer, before(p, _start) ? -1 : 1);
  }
  _hasSelectionRange = _start != _end;
  activateAndNotify();
}

// The end is exclusive, so ending at the column count keeps the last column in the selection.
void SelectionService::selectAll() {
  _start = Position(0, 0);
  _end = Position(terminal.cols, terminal.buffer->lines().maxLength() - 1);
  _hasSelectionRange = _end != Position(0, 0);
  activateAndNotify();
}

// A line that wraps is selected whole, from its first row to the end of its last.
void SelectionService::select(int64_t row) {
  auto& lines = terminal.buffer->lines();
  int64_t first = row;
  int64_t last = row;
  if (row >= 0 && row < lines.count()) {
    while (first > 0 && lines[int(first)]->isWrapped()) --first;
    while (last + 1 < lines.count() && lines[int(last + 1)]->isWrapped()) ++last;
  }
  _start = Position(0, first);
  _end = Position(terminal.cols, last);
  _hasSelectionRange = true;
  selectingRows = true;
  selectionMode = SelectionMode::row;
  wordSelectionAnchor.reset();
  activateAndNotify();
}

void SelectionService::balancedSearchForward(Position from, Buffer& buffer) {
  _start = from;
  _hasSelectionRange = _start != _end;
  const int64_t limit = static_cast<int64_t>(buffer.yDisp) + buffer.rows();
  if (from.row >= limit) return;
  std::vector<char32_t> closers;
  int64_t col = from.col;
  for (int64_t row = from.row; row < limit; ++row, col = 0) {
    for (; col < terminal.cols; ++col) {
      const std::u32string c = characterAt(buffer, Position(col, row));
      const char32_t ch = c.size() == 1 ? c[0] : 0;
      if (ch == U'(') {
        closers.push_back(U')');
      } else if (ch == U'[') {
        closers.push_back(U']');
      } else if (ch == U'{') {
        closers.push_back(U'}');
      } else if (!closers.empty() && closers.back() == ch) {
        closers.pop_back();
        if (closers.empty()) {
          _end = Position(col + 1, row);
          _hasSelectionRange = _start != _end;
          return;
        }
      }
    }
  }
  _start = _end = from;
  _hasSelectionRange = false;
}

void SelectionService::balancedSearchBackward(Position from, Buffer& buffer) {
  _end = from;
  _hasSelectionRange = _start != _end;
  std::vector<char32_t> openers;
  int64_t col = from.col;
  for (int64_t row = from.row; row >= 0; --row, col = terminal.cols - 1) {
    for (; col >= 0; --col) {
      const std::u32string c = characterAt(buffer, Position(col, row));
      const char32_t ch = c.size() == 1 ? c[0] : 0;
      if (ch == U')') {
        openers.push_back(U'(');
      } else if (ch == U']') {
        openers.push_back(U'[');
      } else if (ch == U'}') {
        openers.push_back(U'{');
      } else if (!openers.empty() && openers.back() == ch) {
        openers.pop_back();
        if (openers.empty()) {
          _end = Position(_end.col + 1, _end.row);
          _start = Position(col, row);
          _hasSelectionRange = _start != _end;
          return;
        }
      }
    }
  }
  _start = _end = from;
  _hasSelectionRange = false;
}

void SelectionService::selectWordOrExpression(Position at, Buffer& buffer) {
  const int64_t col = std::clamp<int64_t>(at.col, 0, terminal.cols);
  const int64_t row = std::max<int64_t>(at.row, 0);
  const Position here(col, row);
  const std::u32string c = characterAt(buffer, here);
  const char32_t ch = c.size() == 1 ? c[0] : 0;
  const RunClass run = runClassAt(buffer, here);
  if (run != RunClass::none) {
    _start = extendToWordBoundary(here, buffer, -1);
    _end = extendToWordBoundary(here, buffer, 1);
    _hasSelectionRange = _start != _end;
  } else if (ch == U'{' || ch == U'(' || ch == U'[') {
    balancedSearchForward(here, buffer);
  } else if (ch == U')' || ch == U']' || ch == U'}') {
    balancedSearchBackward(here, buffer);
  } else {
    _start = _end = here;
    _hasSelectionRange = false;
  }
  selectionMode = SelectionMode::word;
  wordSelectionAnchor = WordAnchor{_start, _end};
  activateAndNotify();
}

std::string SelectionService::getSelectedText() {
  Position a = _start, b = _end;
  if (before(b, a)) std::swap(a, b);
  if (a == b) return "";
  Buffer& buffer = *terminal.buffer;
  const int64_t rowCount = buffer.lines().count();
  if (a.row < 0 || a.row >= rowCount) return "";
  b.row = std::min(b.row, rowCount - 1);
  std::string text;
  for (const Line& line : terminal._getSelectedLines(a, b, buffer)) {
    for (const LineFragment& fragment : line.fragments) text += fragment.text.value_or("");
  }
  return text;
}

std::string SelectionService::debugDescription() const {
  std::string out = "[Selection (active=";
  out += _active ? "true" : "false";
  out += ", start=" + _start.debugDescription() + " end=" + _end.debugDescription();
  out += " hasSR=";
  out += _hasSelectionRange ? "true" : "false";
  out += " pivot=" + (pivot ? pivot->debugDescription() : std::string("nil")) + "]";
  return out;
}

}  // namespace vantrelle
