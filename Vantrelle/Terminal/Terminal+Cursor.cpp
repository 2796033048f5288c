// Cursor movement, positioning, tab clearing and the DECSC/DECRC slot.
#include <algorithm>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

// A count or 1-based coordinate: absent, zero or negative all count as 1.
int countOf(std::span<const int> pars, size_t index = 0) { return index < pars.size() ? std::max(pars[index], 1) : 1; }

// The buffer keeps the saved set as byte-to-text pairs.
std::optional<std::map<uint8_t, std::string>> toSaved(const std::optional<CharsetMap>& map) {
  if (!map) return std::nullopt;
  std::map<uint8_t, std::string> saved;
  for (uint8_t b = 0; b < 128; ++b) {
    if (const char32_t c = map->entries[b]) appendUtf8(saved[b], c);
  }
  return saved;
}

char32_t firstScalar(const std::string& text) {
  if (text.empty()) return 0;
  const auto lead = static_cast<uint8_t>(text[0]);
  if (lead < 0x80) return lead;
  const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (text.size() < static_cast<size_t>(length)) return 0;
  char32_t c = lead & (0xFF >> (length + 1));
  for (int i = 1; i < length; ++i) c = (c << 6) | (static_cast<uint8_t>(text[static_cast<size_t>(i)]) & 0x3F);
  return c;
}

std::optional<CharsetMap> fromSaved(const std::optional<std::map<uint8_t, std::string>>& saved) {
  if (!saved) return std::nullopt;
  CharsetMap map;
  for (const auto& [byte, text] : *saved) {
    const char32_t c = firstScalar(text);
    if (byte < 128 && c) {
      map.entries[byte] = c;
      ++map.count;
    }
  }
  return map;
}

}  // namespace

void Terminal::cmdCursorUp(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  const int limit = b.y >= b.scrollTop ? static_cast<int>(b.scrollTop) : 0;
  b.y = std::max(b.y - countOf(pars), limit);
}

void Terminal::cmdCursorDown(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  const int limit = b.y <= b.scrollBottom ? static_cast<int>(b.scrollBottom) : b.rows() - 1;
  b.y = std::min(b.y + countOf(pars), limit);
}

void Terminal::cursorForward(int count) {
  endPendingWrap();
  Buffer& b = *buffer;
  const int n = count >= 2 ? count : 1;
  int limit = marginMode ? b.marginRight : cols - 1;
  if (b.x > limit) limit = b.cols() - 1;
  b.x = std::min(b.x + n, limit);
}

void Terminal::cursorBackward(int count) {
  endPendingWrap();
  Buffer& b = *buffer;
  const int n = std::max(count, 1);
  int limit = marginMode ? b.marginLeft : 0;
  if (b.x < limit) limit = 0;
  b.x = std::max(b.x - n, limit);
}

void Terminal::cmdCursorCharAbsolute(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  const int column = std::min(countOf(pars) - 1, cols - 1);
  // With origin mode the column counts from the left margin, but the cursor never goes past
  // the last column (a cursor beyond the screen would write outside the line).
  b.x = std::min(column + (originMode && marginMode ? b.marginLeft : 0), cols - 1);
}

void Terminal::cmdCursorPosition(std::span<const int> pars) {
  Buffer& b = *buffer;
  if (originMode) return setCursor(countOf(pars, 1) - 1, countOf(pars, 0) - 1);
  // What setCursor does without origin mode, in line: full-screen programs place the cursor
  // before nearly every run they repaint.
  b.marginWrapRow = -1;
  const int from = b.y;
  b.x = std::min(countOf(pars, 1), cols) - 1;
  b.y = std::min(countOf(pars, 0), rows) - 1;
  // The row left and the row reached both change, marked in one update. Which of them is higher
  // is a coin toss in a repaint: the lower and the higher are taken without a branch, which the
  // compiler would otherwise make of it and mispredict half the time.
  const int to = b.y;
  const int below = (to - from) & ((to - from) >> 31);
  const int low = from + below, high = to - below;
  if (low + b.yDisp < 0) {
    // Rows above the scrollback's top count only on the screen, as updateRange has them.
    updateRange(b, from);
    updateRange(b, b.y);
    return;
  }
  scrollInvariantRefreshStart = std::min(scrollInvariantRefreshStart, low + b.yDisp);
  scrollInvariantRefreshEnd = std::max(scrollInvariantRefreshEnd, high + b.yDisp);
  refreshStart = std::min(refreshStart, low);
  refreshEnd = std::max(refreshEnd, high);
  // Last, so that the rare call costs the common path no frame.
  if (b.mayHoldScreenLeftByResize()) [[unlikely]]
    showRowsMovedAfterResize(b.cursorPlacedAfterResize());
}

void Terminal::cmdHVPosition(std::span<const int> pars) {
  endPendingWrap();
  Buffer& b = *buffer;
  const int row = countOf(pars, 0) - 1 + (originMode ? static_cast<int>(b.scrollTop) : 0);
  const int col = countOf(pars, 1) - 1 + (originMode && marginMode ? b.marginLeft : 0);
  b.y = std::min(row, rows - 1);
  b.x = std::min(col, cols - 1);
  if (b.mayHoldScreenLeftByResize()) [[unlikely]]
    showRowsMovedAfterResize(b.cursorPlacedAfterResize());
}

void Terminal::cmdCharPosAbsolute(std::span<const int> pars) {
  endPendingWrap();
  const int c = countOf(pars);
  buffer->x = std::min(c, cols) - 1;
}

void Terminal::cmdHPositionRelative(std::span<const int> pars) {
  endPendingWrap();
  buffer->x = std::min(buffer->x + countOf(pars), cols - 1);
}

void Terminal::cmdLinePosAbsolute(std::span<const int> pars) {
  endPendingWrap();
  buffer->y = std::min(countOf(pars), rows) - 1;
}

void Terminal::cmdVPositionRelative(std::span<const int> pars) {
  endPendingWrap();
  buffer->y = std::min(buffer->y + countOf(pars), rows - 1);
}

void Terminal::cmdTabClear(std::span<const int> pars) {
  const int p = pars.empty() ? 0 : pars[0];
  if (p == 0) {
    buffer->tabClear(cursorColumn());
  } else if (p == 3) {
    std::fill(buffer->tabStops.begin(), buffer->tabStops.end(), false);
  }
}

void Terminal::cmdSaveCursor(std::span<const uint8_t> collect) {
  if (!collect.empty()) return;
  Buffer& b = *buffer;
  // A pending wrap is not saved: the restore comes back to the column the cursor stood in.
  b.savedX = cursorColumn();
  b.savedY = b.y;
  b.savedAttr = curAttr;
  b.savedCharset = toSaved(charset);
  b.savedWraparound = wraparound;
  b.savedOriginMode = originMode;
  b.savedMarginMode = marginMode;
  b.savedReverseWraparound = reverseWraparound;
}

void Terminal::cmdRestoreCursor(std::span<const uint8_t> collect) {
  if (!collect.empty()) return;
  endPendingWrap();
  Buffer& b = *buffer;
  b.x = std::clamp(b.savedX, 0, cols - 1);
  b.y = std::clamp(b.savedY, 0, rows - 1);
  curAttr = b.savedAttr;
  charset = fromSaved(b.savedCharset);
  originMode = b.savedOriginMode;
  setMarginMode(b.savedMarginMode);
  setWraparound(b.savedWraparound);
  reverseWraparound = b.savedReverseWraparound;
}

void Terminal::setCursor(int col, int row) {
  Buffer& b = *buffer;
  // The cursor is placed anew, so no wrap stays pending.
  b.marginWrapRow = -1;
  updateRange(b.y);
  if (originMode) {
    b.x = col + (marginMode ? b.marginLeft : 0);
    b.y = row + b.scrollTop;
  } else {
    b.x = col;
    b.y = row;
  }
  restrictCursor(true);
}

void Terminal::restrictCursor(bool clampToLastColumn) {
  Buffer& b = *buffer;
  const int right = clampToLastColumn ? cols - 1 : cols;
  b.x = std::min(std::max<int>(b.x, 0), right);
  if (originMode) {
    b.y = std::min<int>(std::max<int>(b.y, b.scrollTop), b.scrollBottom);
  } else {
    b.y = std::min(std::max<int>(b.y, 0), rows - 1);
  }
  updateRange(b.y);
}

bool Terminal::marginWrapPending() const {
  const Buffer& b = *buffer;
  return marginMode && b.marginWrapRow == b.y && b.x == b.marginRight + 1;
}

int Terminal::cursorColumn() const { return wrapPending() ? std::min<int>(buffer->x - 1, cols - 1) : int(buffer->x); }

void Terminal::showRowsMovedAfterResize(bool moved) {
  if (!moved) return;
  updateRange(0);
  updateRange(rows - 1);
  scrollbackChanged();
}

void Terminal::settlePendingWrap() {
  if (wrapPending()) buffer->x = cursorColumn();
  buffer->marginWrapRow = -1;
}

}  // namespace vantrelle
