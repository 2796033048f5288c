// ANSI and DEC private modes, cursor style, scroll region and left/right margins.
#include <algorithm>

#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

bool isPrivate(std::span<const uint8_t> collect) { return collect.size() == 1 && collect[0] == '?'; }

}  // namespace

// Only the modes the cursor, print and scrolling paths depend on are handled so far.
static void applyMode(Terminal& t, int mode, bool decPrivate, bool set) {
  if (!decPrivate) {
    if (mode == 4) t.setInsertMode(set);
    if (mode == 20) t.lineFeedMode = set;
    return;
  }
  switch (mode) {
    case 1: t.applicationCursor = set; break;
    case 6:
      t.originMode = set;
      t.setCursor(0, 0);
      break;
    case 7: t.setWraparound(set); break;
    case 25:
      if (t.cursorHidden == set) {
        t.cursorHidden = !set;
        if (t.tdel) set ? t.tdel->showCursor(t) : t.tdel->hideCursor(t);
      }
      break;
    case 45: t.reverseWraparound = set; break;
    case 69: t.setMarginMode(set); break;
    case 1049:
      if (set) {
        t.cmdSaveCursor({});
        t.activateAltBuffer(std::nullopt);
      } else {
        t.activateNormalBuffer(true);
        t.cmdRestoreCursor({});
      }
      if (t.tdel) t.tdel->bufferActivated(t);
      t.updateFullScreen();
      break;
    case 2004: t.bracketedPasteMode = set; break;
    default: break;
  }
}

void Terminal::cmdSetMode(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (!collect.empty() && !isPrivate(collect)) return;
  for (int mode : pars) applyMode(*this, mode, isPrivate(collect), true);
}

void Terminal::cmdResetMode(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (!collect.empty() && !isPrivate(collect)) return;
  for (int mode : pars) applyMode(*this, mode, isPrivate(collect), false);
}

void Terminal::csiPHandler(std::span<const int> pars, std::span<const uint8_t> collect) {}

void Terminal::cmdSetCursorStyle(std::span<const int> pars, std::span<const uint8_t> collect) {}

void Terminal::cmdSetScrollRegion(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (!collect.empty()) return;
  const int top = std::max(pars[0], 1) - 1;
  const int bottom = pars.size() > 1 && pars[1] > 0 ? std::min(pars[1], rows) - 1 : rows - 1;
  if (top >= bottom) return;
  buffer->scrollTop = top;
  buffer->scrollBottom = bottom;
  setCursor(0, 0);
}

void Terminal::cmdSetMargins(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (!collect.empty()) return;
  const int left = std::max(pars[0], 1) - 1;
  const int right = pars.size() > 1 && pars[1] > 0 ? std::min(pars[1], cols) - 1 : cols - 1;
  if (left >= right) return;
  buffer->marginLeft = left;
  buffer->marginRight = right;
  setCursor(0, 0);
}

}  // namespace vantrelle
