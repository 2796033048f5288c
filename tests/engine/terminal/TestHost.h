#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle::testing {

// A host that records what the terminal sends back and lets tests read the screen as text.
class TestHost : public TerminalDelegate {
 public:
  std::string sent;
  std::vector<std::string> titles;
  int bells = 0;
  int linefeeds = 0;

  void send(Terminal&, std::span<const uint8_t> data) override { sent.append(data.begin(), data.end()); }
  void setTerminalTitle(Terminal&, const std::string& title) override { titles.push_back(title); }
  void bell(Terminal&) override { ++bells; }
  void linefeed(Terminal&) override { ++linefeeds; }
};

inline TerminalOptions sized(int cols, int rows, int scrollback = 500) {
  TerminalOptions options;
  options.cols = cols;
  options.rows = rows;
  options.scrollback = scrollback;
  return options;
}

// What the host tells the terminal once a flood of output has stopped, as before a shell's prompt:
// the rows the flood scrolled off wait whole no longer.
inline void restOutput(Terminal& t) { t.outputRests(); }

// Feeds `bytes` in pieces of `step` bytes, as reads cut a stream at random places.
inline void feedInSteps(Terminal& t, std::string_view bytes, size_t step) {
  for (size_t at = 0; at < bytes.size(); at += step) t.feed(bytes.substr(at, step));
}

// Screen row `row` as text, empty cells as spaces, continuation cells skipped, right-trimmed.
inline std::string rowText(Terminal& t, int row) {
  std::string text;
  BufferLine* line = t.getLine(row);
  if (!line) return text;
  for (int c = 0; c < t.cols; ++c) {
    const CharData& cell = (*line)[c];
    if (cell.width == 0 && cell.code == 0) continue;
    text += cell.code == 0 ? std::string(" ") : t.character(cell.code);
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The first `count` lines of the buffer's ring as text, "+" before a continuation, empty cells as
// spaces, right-trimmed: what the scrollback and the rows around the screen hold.
inline std::vector<std::string> ringLinesText(Terminal& t, int count) {
  std::vector<std::string> text;
  auto& lines = t.buffer->lines();
  for (int i = 0; i < count; i++) {
    std::string row = lines[i]->isWrapped() ? "+" : "";
    for (int c = 0; c < lines[i]->count() && c < t.cols; c++) {
      const CharData& cell = (*lines[i])[c];
      row += cell.code == 0 ? std::string(" ") : t.character(cell.code);
    }
    while (!row.empty() && row.back() == ' ') row.pop_back();
    text.push_back(row);
  }
  return text;
}

inline std::string screenText(Terminal& t) {
  std::string text;
  for (int r = 0; r < t.rows; ++r) {
    if (r) text += '\n';
    text += rowText(t, r);
  }
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

inline bool rowWrapped(Terminal& t, int row) { return t.getLine(row)->isWrapped(); }

inline std::pair<int, int> cursor(Terminal& t) { return t.getCursorLocation(); }

// The first column of `row` that is not an empty cell in the default foreground on background
// `bg`, or -1: what a cleared or reused row must read as.
inline int firstUnclearedColumn(Terminal& t, int row, Attribute::Color bg) {
  for (int col = 0; col < t.cols; col++) {
    const auto cell = t.getCharData(col, row);
    if (!cell || cell->code != 0 || cell->width != 1 || cell->attribute().bg != bg ||
        cell->attribute().fg != Attribute::Color::defaultColor || cell->hasPayload()) {
      return col;
    }
  }
  return -1;
}

// A row cell by cell, `count` cells from the left (all of them when negative): a continuation as
// '_', an empty cell as '.', anything else as its character.
inline std::string cellsOf(Terminal& t, int row, int count = -1) {
  std::string text;
  const BufferLine& line = *t.getLine(row);
  if (count < 0) count = line.count();
  for (int col = 0; col < count; ++col) {
    const CharData& cell = line[col];
    if (cell.width == 0) {
      text += cell.code == 0 ? "_" : "?";
    } else {
      text += cell.code == 0 ? "." : t.character(cell.code);
    }
  }
  return text;
}

}  // namespace vantrelle::testing
