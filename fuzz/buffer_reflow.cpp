// Drives one screen buffer with arbitrary writes, cursor moves and erases (some after resizes),
// scrolls, rests of the output, resizes and scrollback changes, and checks after every step that
// the cursor and the screen stay inside the line ring and that every line is at least as wide as
// the screen, after every resize of a buffer that reflows that no text moved from one line to
// another, and after every rest that the text stayed as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Vantrelle/Buffer/Buffer.h"

namespace {

using namespace vantrelle;

const Attribute plain = CharData::Null.attribute();
const Attribute colored(Attribute::Color::ansi256(4), Attribute::Color::trueColor(1, 2, 3), CharacterStyle::bold);

void installScroll(Buffer& buffer) {
  buffer.scroll = [&buffer](bool isWrapped) {
    auto& lines = buffer.lines();
    int top = buffer.yBase + buffer.scrollTop;
    int bottom = buffer.yBase + buffer.scrollBottom;
    if (buffer.scrollTop == 0 && bottom == lines.count() - 1) {
      if (lines.isFull()) {
        lines.recycle(plain);
        lines[lines.count() - 1]->setWrapped(isWrapped);
      } else {
        lines.push(buffer.getBlankLine(plain, isWrapped));
        buffer.yBase += 1;
        buffer.yDisp = buffer.yBase;
      }
      buffer.noteScrolledOff();
    } else if (bottom > top && top >= 1 && bottom < lines.count()) {
      lines.shiftElements(top + 1, bottom - top, -1);
      lines[bottom] = buffer.getBlankLine(plain, isWrapped);
    }
  };
}

void check(bool condition) {
  if (!condition) std::abort();
}

void checkConsistent(Buffer& buffer) {
  auto& lines = buffer.lines();
  check(lines.count() <= lines.maxLength());
  check(buffer.yBase >= 0 && buffer.yDisp <= buffer.yBase);
  check(buffer.yBase + buffer.y < lines.count());
  check(buffer.yBase + buffer.rows() <= lines.count());
  check(int(buffer.tabStops.size()) == buffer.cols());
  for (int i = 0; i < lines.count(); i++) check(lines[i]->count() >= buffer.cols());
}

// The text of every line that holds any, its wrapped rows joined: a row followed by a
// continuation gives its width, less a last cell left for a wide character that did not fit; the
// last row its text. Empty cells are kept, but none at a line's end, nor before a wide character,
// which reads the same as such a left cell.
std::vector<std::u32string> lineTexts(Buffer& buffer) {
  std::vector<std::u32string> texts;
  auto& lines = buffer.lines();
  std::u32string text;
  auto finish = [&] {
    while (!text.empty() && text.back() == U'\0') text.pop_back();
    if (!text.empty()) texts.push_back(text);
    text.clear();
  };
  for (int i = 0; i < lines.count(); i++) {
    const BufferLine& line = *lines[i];
    if (!line.isWrapped()) finish();
    const bool continued = i + 1 < lines.count() && lines[i + 1]->isWrapped();
    const int end = continued ? buffer.cols() : line.getTrimmedLength();
    for (int col = 0; col < end && col < line.count(); col++) {
      const CharData cell = line[col];
      if (cell.width == 0) continue;
      if (cell.width == 2) {
        while (!text.empty() && text.back() == U'\0') text.pop_back();
      }
      text.push_back(char32_t(cell.code));
    }
  }
  finish();
  return texts;
}

// A ring that overflows drops its oldest rows, so the lines after a resize are the last ones
// before it, the first of them perhaps only its end.
void checkSameLines(const std::vector<std::u32string>& before, const std::vector<std::u32string>& after) {
  check(after.size() <= before.size());
  const size_t skipped = before.size() - after.size();
  for (size_t i = 0; i < after.size(); i++) {
    const std::u32string& was = before[skipped + i];
    if (i == 0) {
      check(after[i].size() <= was.size() &&
            was.compare(was.size() - after[i].size(), std::u32string::npos, after[i]) == 0);
    } else {
      check(after[i] == was);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  std::optional<int> scrollback;
  if (data[2] & 1) scrollback = data[2] >> 1;
  Buffer buffer(data[0] % 40 + 2, data[1] % 12 + 1, 8, scrollback);
  buffer.fillViewportRows();
  installScroll(buffer);
  buffer.wraparound = true;

  size_t i = 3;
  auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
  while (i < size) {
    uint8_t op = next();
    switch (op % 8) {
      case 0: {  // an ASCII run
        size_t length = std::min<size_t>(next() % 64, size - i);
        std::span<const uint8_t> run(data + i, length);
        i += length;
        uint8_t ascii[64];
        for (size_t k = 0; k < run.size(); k++) ascii[k] = uint8_t(0x20 + run[k] % 0x5f);
        int done = buffer.insertAsciiRun(std::span<const uint8_t>(ascii, run.size()), colored);
        for (size_t k = size_t(done); k < run.size(); k++) buffer.insertCharacter(CharData(ascii[k], 1, plain));
        break;
      }
      case 1:  // a wide character
        buffer.insertCharacter(CharData(0x4e00 + next(), 2, plain));
        break;
      case 2:
        buffer.x = next() % (buffer.cols() + 1);
        buffer.y = next() % buffer.rows();
        // What a program's redraw after a resize does: place the cursor, erase a row or the screen.
        if (op & 8) buffer.cursorPlacedAfterResize();
        if (op & 16) buffer.lineErasedAfterResize();
        if (op & 32) buffer.displayErasingAfterResize(op & 64 ? 2 : 0);
        break;
      case 3:
        buffer.x = 0;
        if (buffer.y == buffer.scrollBottom) {
          buffer.scroll(false);
        } else if (buffer.y < buffer.rows() - 1) {
          buffer.y += 1;
        }
        // The output rests: the rows that scrolled off whole go into runs, which no reader sees.
        if (op & 8) {
          const std::vector<std::u32string> before = lineTexts(buffer);
          buffer.compactScrolledRows();
          check(lineTexts(buffer) == before);
        }
        break;
      case 4: {
        int newCols = next() % 160 + 2;  // past 128 columns wide lines clear differently
        int newRows = next() % 12 + 1;
        // Lines a buffer without scrollback kept wider than its screen hold text that shows again
        // only if the screen widens.
        bool reflows = buffer.isReflowEnabled();
        for (int k = 0; reflows && k < buffer.lines().count(); k++)
          reflows = buffer.lines()[k]->count() == buffer.cols();
        const std::vector<std::u32string> before = reflows ? lineTexts(buffer) : std::vector<std::u32string>{};
        buffer.beginScreenResize();
        buffer.resize(newCols, newRows);
        buffer.endScreenResize();
        if (reflows) checkSameLines(before, lineTexts(buffer));
        break;
      }
      case 5: {
        uint8_t value = next();
        buffer.changeHistorySize(value & 1 ? std::optional<int>(value >> 1) : std::nullopt);
        break;
      }
      case 6:
        buffer.insertMode = op & 8;
        buffer.wraparound = !(op & 16);
        buffer.marginMode = op & 32;
        buffer.marginLeft = next() % buffer.cols();
        buffer.marginRight = buffer.marginLeft + next() % (buffer.cols() - buffer.marginLeft);
        break;
      case 7: {
        int top = next() % buffer.rows();
        buffer.scrollTop = top;
        buffer.scrollBottom = top + next() % (buffer.rows() - top);
        break;
      }
    }
    checkConsistent(buffer);
  }
  return 0;
}
