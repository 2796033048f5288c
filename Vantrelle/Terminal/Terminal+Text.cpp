// Reading text back out of a buffer, for selection and search, as it shows: hidden text as blanks.
#include <algorithm>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

struct RowText {
  std::string text;
  int64_t length = 0;
};

// A row that never received anything: empty cells in the default rendition.
bool isBlankRow(const BufferLine& line) {
  for (int c = 0; c < line.count(); ++c) {
    const CharData& cell = line[c];
    if (cell.code != 0 || !cell.hasDefaultAttribute()) return false;
  }
  return true;
}

// Which rows from `first` to `last` have text after them in their own logical line, on a later
// wrapped row. Such a row keeps the blanks at its end: they sit inside the line, and a wider
// screen shows them there.
std::vector<bool> textFollowsInLine(CircularBufferLineList& lines, int first, int last) {
  std::vector<bool> follows(size_t(std::max(last - first + 1, 0)), false);
  bool later = false;
  for (int row = last + 1; row < lines.count() && lines[row]->isWrapped() && !later; row++) {
    later = Terminal::shownLength(*lines[row]) > 0;
  }
  for (int row = last; row >= first; row--) {
    follows[size_t(row - first)] = later;
    const BufferLine& line = *lines[row];
    later = line.isWrapped() && (later || Terminal::shownLength(line) > 0);
  }
  return follows;
}

// Where a row's text ends when more of its logical line follows: at the last column, or before it
// when that column is the gap a wide character left by moving on to the next row.
int64_t wrappedRowEnd(CircularBufferLineList& lines, int row, int cols) {
  const BufferLine& line = *lines[row];
  const int end = std::min(cols, line.count());
  if (end < 1 || row + 1 >= lines.count()) return end;
  const CharData& last = line[end - 1];
  const BufferLine& next = *lines[row + 1];
  const bool gap =
      last.code == 0 && last.width == 1 && last.hasDefaultAttribute() && next.count() > 0 && next[0].width == 2;
  return gap ? end - 1 : end;
}

}  // namespace

std::vector<Line> Terminal::_getSelectedLines(Position a, Position b, Buffer& source) {
  auto& lines = source.lines();
  const std::vector<bool> textFollows = textFollowsInLine(lines, static_cast<int>(a.row), static_cast<int>(b.row));
  auto textOf = [&](int64_t row, int64_t start, int64_t end) {
    RowText out;
    const BufferLine& line = *lines[static_cast<int>(row)];
    const size_t at = size_t(row - a.row);
    const int64_t trimmed = at < textFollows.size() && textFollows[at]
                                ? wrappedRowEnd(lines, static_cast<int>(row), source.cols())
                                : shownLength(line);
    const int64_t stop = end < 0 ? trimmed : std::min(end, trimmed);
    for (int64_t c = std::max<int64_t>(start, 0); c < stop; ++c) {
      const CharData& cell = line[static_cast<int>(c)];
      if (cell.code == 0 && c > 0 && line[static_cast<int>(c - 1)].width == 2) continue;
      if (cell.isConcealed()) {
        const int blanks = std::max<int>(cell.width, 1);
        out.text.append(size_t(blanks), ' ');
        out.length += blanks;
        continue;
      }
      out.text += cell.code == 0 ? std::string(" ") : character(cell.code);
      ++out.length;
    }
    return out;
  };
  auto blank = [&](int64_t row) { return isBlankRow(*lines[static_cast<int>(row)]); };
  auto wrapped = [&](int64_t row) { return lines[static_cast<int>(row)]->isWrapped(); };

  std::vector<Line> result(1);
  auto addRow = [&](int64_t row, int64_t end) {
    if (!wrapped(row)) {
      result.back().add({std::string("\n"), row - 1, -1, 1});
      result.emplace_back();
    }
    RowText t = textOf(row, 0, end);
    result.back().add({std::move(t.text), row, 0, t.length});
  };

  if (!blank(a.row)) {
    RowText t = textOf(a.row, a.col, a.row == b.row ? b.col : -1);
    result.back().add({std::move(t.text), a.row, a.col, t.length});
  }
  if (a.row == b.row) return result;

  std::vector<int64_t> heldBack;
  for (int64_t row = a.row + 1; row < b.row; ++row) {
    if (blank(row)) {
      heldBack.push_back(row);
      continue;
    }
    for (int64_t held : heldBack) addRow(held, -1);
    heldBack.clear();
    addRow(row, -1);
  }
  if (blank(b.row)) return result;
  for (int64_t held : heldBack) addRow(held, -1);
  addRow(b.row, b.col);
  return result;
}

}  // namespace vantrelle
