#pragma once

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Buffer/UnicodeUtil.h"

namespace vantrelle::buffertest {

// Scrolls the way the terminal does: a full-screen region feeds the scrollback (recycling the
// oldest line once the ring is full), any other region shifts its own rows.
inline void installScroll(Buffer& buffer) {
  buffer.scroll = [&buffer](bool isWrapped) {
    auto& lines = buffer.lines();
    const Attribute blank = CharData::Null.attribute();
    int top = buffer.yBase + buffer.scrollTop;
    int bottom = buffer.yBase + buffer.scrollBottom;
    if (buffer.scrollTop == 0 && buffer.scrollBottom == buffer.rows() - 1) {
      if (lines.isFull()) {
        lines.recycle(blank);
        lines[lines.count() - 1]->setWrapped(isWrapped);
      } else {
        lines.push(buffer.getBlankLine(blank, isWrapped));
        buffer.yBase += 1;
        buffer.yDisp = buffer.yBase;
      }
    } else {
      lines.shiftElements(top + 1, bottom - top, -1);
      lines[bottom] = buffer.getBlankLine(blank, isWrapped);
    }
    buffer.linesTop += 1;
  };
}

// A buffer ready for printing: lines filled, scroll installed, autowrap on.
inline void prepare(Buffer& buffer) {
  buffer.fillViewportRows();
  installScroll(buffer);
  buffer.wraparound = true;
}

// Prints text one cell at a time, as the terminal does for characters off the ASCII path.
inline void printCells(Buffer& buffer, std::u32string_view text, const Attribute& attribute) {
  for (char32_t c : text) {
    int width = UnicodeUtil::columnWidth(c);
    buffer.insertCharacter(CharData(int32_t(c), int8_t(width), attribute));
  }
}

inline void printAscii(Buffer& buffer, std::string_view text, const Attribute& attribute) {
  auto bytes = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  size_t done = size_t(buffer.insertAsciiRun(bytes, attribute));
  for (size_t i = done; i < bytes.size(); i++) buffer.insertCharacter(CharData(bytes[i], 1, attribute));
}

// Every row of the ring as its text, null cells as spaces, prefixed "+" for a wrapped continuation and "|" otherwise.
inline std::vector<std::string> rowTable(Buffer& buffer) {
  std::vector<std::string> rows;
  for (int i = 0; i < buffer.lines().count(); i++) {
    const BufferLine& line = *buffer.lines()[i];
    std::string row(1, line.isWrapped() ? '+' : '|');
    row += line.translateToString(true, 0, -1, true);
    std::replace(row.begin(), row.end(), '\0', ' ');  // null cells read as blanks
    rows.push_back(std::move(row));
  }
  return rows;
}

}  // namespace vantrelle::buffertest
