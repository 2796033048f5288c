// The VT400 rectangular-area operations: copy (DECCRA), fill (DECFRA), erase (DECERA), selective
// erase (DECSERA) and the checksum request (DECRQCRA).
#include <algorithm>
#include <cstdio>
#include <vector>

#include "Vantrelle/Buffer/WideHalves.h"
#include "Vantrelle/Terminal/ReportFormat.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

BufferLine& screenLine(Terminal& t, int row) { return *t.buffer->lines()[t.buffer->yBase + row]; }

// Cells stored by the rectangle operations never hold C0 or C1 controls or non-scalars: the
// printer never stores them either, and a control in a cell would be replayed by anything that
// copies the screen out as text.
bool storableScalar(int64_t code) { return isValidScalar(code) && code >= 32 && !(code >= 0x7f && code <= 0x9f); }

CharData eraseCell(const Terminal& t) { return CharData(0, 1, t.eraseAttr()); }

// A wide character across the rectangle's left or right edge would keep only its outer half: it
// becomes the blank erasing it leaves, before the rectangle's cells change.
template <typename Fn>
void forEachCell(Terminal& t, const Terminal::Rectangle& r, Fn fn) {
  for (int row = r.top; row <= r.bottom; row++) {
    BufferLine& line = screenLine(t, row);
    blankWideAcross(line, {r.left, r.right + 1}, eraseCell(t));
    const int last = std::min(r.right, line.count() - 1);
    for (int col = r.left; col <= last; col++) fn(line.cells()[col]);
    line.touch();
  }
  // So a view that redraws by the update range shows the change.
  t.updateRange(r.top);
  t.updateRange(r.bottom);
}

}  // namespace

// The rectangle of a request's Pt;Pl;Pb;Pr parameters, clamped to the screen; none when empty.
std::optional<Terminal::Rectangle> Terminal::getRectangleFromRequest(std::span<const int> pars) const {
  int top = pars.size() > 0 ? std::max(pars[0], 1) : 1;
  int left = pars.size() > 1 ? std::max(pars[1], 1) : 1;
  int bottom = pars.size() > 2 && pars[2] >= 0 ? pars[2] : rows;
  int right = pars.size() > 3 && pars[3] >= 0 ? pars[3] : cols;
  right = std::min(right, cols);
  bottom = std::min(bottom, rows);
  if (originMode) {
    top += buffer->scrollTop;
    bottom += buffer->scrollTop;
    left += buffer->marginLeft;
    right += buffer->marginLeft;
  }
  if (bottom < top || right < left) return std::nullopt;
  return Rectangle{std::min(top - 1, rows - 1), std::min(left - 1, cols - 1), std::min(bottom - 1, rows - 1),
                   std::min(right - 1, cols - 1)};
}

void Terminal::cmdDECERA(std::span<const int> pars) {
  auto rect = getRectangleFromRequest(pars);
  if (!rect) return;
  const CharData cell(code(U" "), 1, curAttr);
  forEachCell(*this, *rect, [&](CharData& target) { target = cell; });
}

// Blanks the characters but keeps each cell's attribute and hyperlink: there is no protected
// attribute, so every cell is selectively erasable.
void Terminal::cmdSelectiveEraseRectangularArea(std::span<const int> pars) {
  auto rect = getRectangleFromRequest(pars);
  if (!rect) return;
  const int32_t space = code(U" ");
  forEachCell(*this, *rect, [&](CharData& target) { target.setValue(space, 1); });
}

void Terminal::csiCopyRectangularArea(std::span<const int> pars) {
  auto par = [&](size_t i, int whenZero) { return i < pars.size() && pars[i] > 0 ? pars[i] : whenZero; };
  const int source[4] = {par(0, 1), par(1, 1), par(2, rows), par(3, cols)};
  if (par(4, 1) != 1 || par(7, 1) != 1) return;
  auto rect = getRectangleFromRequest(source);
  if (!rect) return;
  const int destTop = std::min(par(5, 1) - 1, rows - 1);
  const int destLeft = std::min(par(6, 1) - 1, cols - 1);
  const int width = std::min(rect->right - rect->left + 1, cols - destLeft);

  // Read everything first, so an overlapping destination copies the source as it was.
  std::vector<std::vector<CharData>> saved;
  for (int row = rect->top; row <= rect->bottom; row++) {
    const BufferLine& line = screenLine(*this, row);
    std::vector<CharData> cells;
    for (int i = 0; i < width; i++) {
      CharData cell = line[std::min(rect->left + i, line.count() - 1)];
      if (cell.isSimpleRune() && cell.code != 0 && !storableScalar(cell.code)) cell.code = 32;
      cells.push_back(cell);
    }
    // The copy's edges may cut wide characters: a second half with its first left outside, a
    // first half without its second. Each is copied as the blank erasing it leaves.
    if (!cells.empty() && cells.front().width == 0) cells.front() = eraseCell(*this);
    if (!cells.empty() && cells.back().width == 2) cells.back() = eraseCell(*this);
    saved.push_back(std::move(cells));
  }
  for (size_t i = 0; i < saved.size() && destTop + int(i) < buffer->rows(); i++) {
    BufferLine& line = screenLine(*this, destTop + int(i));
    const int count = std::min(width, line.count() - destLeft);
    blankWideAcross(line, {destLeft, destLeft + count}, eraseCell(*this));
    for (int c = 0; c < count; c++) line.cells()[destLeft + c] = saved[i][size_t(c)];
    line.touch(uint64_t(std::max(count, 0)));
    updateRange(destTop + int(i));
  }
}

void Terminal::cmdFillRectangularArea(std::span<const int> pars) {
  if (pars.empty()) return;
  int64_t fill = pars[0];
  if (!storableScalar(fill)) fill = 32;
  auto rect = getRectangleFromRequest(pars.subspan(1));
  if (!rect) return;
  const CharData cell(int32_t(fill), 1, curAttr);
  forEachCell(*this, *rect, [&](CharData& target) { target = cell; });
}

void Terminal::cmdDECRQCRA(std::span<const int> pars, std::span<const uint8_t> collect) {
  // The parser hands an absent parameter over as 0; the request's default identifier is 1.
  const int id = pars.empty() || pars[0] == 0 ? 1 : pars[0];
  uint32_t sum = 0;
  const bool trusted = tdel && pars.size() >= 3 && tdel->isProcessTrusted(*this);
  if (trusted) {
    if (auto rect = getRectangleFromRequest(pars.subspan(2))) {
      for (int row = rect->top; row <= rect->bottom; row++) {
        const BufferLine& line = screenLine(*this, row);
        for (int col = rect->left; col <= rect->right; col++) {
          const CharData& cell = line[std::min(col, line.count() - 1)];
          if (cell.code == 0) {
            sum += 32;
            continue;
          }
          for (char32_t scalar : scalars(cell.code)) sum += uint32_t(scalar);  // wraps modulo 2^32
        }
      }
    }
  }
  char checksum[16];
  std::snprintf(checksum, sizeof checksum, "%04x", sum);
  sendResponse({cc.dcs(), asBytes(std::to_string(id) + "!~" + checksum), cc.st()});
}

}  // namespace vantrelle
