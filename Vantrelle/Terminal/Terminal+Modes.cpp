// Mode controls: SM/RM and their DEC private forms, the scroll region and margins (DECSTBM,
// DECSLRM), the cursor style (DECSCUSR), the conformance level (DECSCL) and the CSI p router.
#include <algorithm>

#include "Vantrelle/Terminal/ReportFormat.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

bool isCollect(std::span<const uint8_t> collect, char c) { return collect.size() == 1 && collect[0] == uint8_t(c); }

Attribute invertedAttribute() {
  return Attribute(Attribute::Color::defaultInvertedColor, Attribute::Color::defaultInvertedColor,
                   CharacterStyle::none);
}

void redrawAll(Terminal& t) {
  t.updateRange(0);
  t.updateRange(t.rows - 1);
}

void revealCursorAfterSwitch(Terminal& t) {
  if (!t.cursorHidden) return;
  t.cursorHidden = false;
  if (t.tdel) t.tdel->showCursor(t);
}

void enterAlternateScreen(Terminal& t) {
  t.activateAltBuffer(std::nullopt);
  redrawAll(t);
  revealCursorAfterSwitch(t);
  if (t.tdel) t.tdel->bufferActivated(t);
}

void returnToNormalScreen(Terminal& t, bool clearAlt, bool restoreCursor) {
  t.activateNormalBuffer(clearAlt);
  if (restoreCursor) t.cmdRestoreCursor({});
  redrawAll(t);
  revealCursorAfterSwitch(t);
  if (t.tdel) t.tdel->bufferActivated(t);
}

void resetMarginsToFullWidth(Terminal& t) {
  for (Buffer* b : {t.normalBuffer.get(), t.altBuffer.get()}) {
    b->marginLeft = 0;
    b->marginRight = t.cols - 1;
  }
}

// DECCOLM as the VT terminals do it: the new width, a blank screen, the full region and margins
// and the cursor at home. Modes, attributes and the scrollback stay.
void switchColumns(Terminal& t, int newCols) {
  const bool to132 = newCols == 132;
  t.resize(newCols, t.rows);
  if (!to132 && t.tdel) t.tdel->sizeChanged(t);
  t.endSynchronizedOutput();
  t.options.rows = t.rows;
  t.options.cols = t.cols;
  Buffer& b = *t.buffer;
  b.scrollTop = 0;
  b.scrollBottom = t.rows - 1;
  resetMarginsToFullWidth(t);
  for (int row = 0; row < t.rows; row++) t.resetBufferLine(row, true);
  t.clearAllKittyImages();
  b.x = 0;
  b.y = 0;
  redrawAll(t);
  if (to132 && t.tdel) t.tdel->sizeChanged(t);
}

void setMouseTracking(Terminal& t, bool on, MouseMode mode) { t.setMouseMode(on ? mode : MouseMode::off); }

}  // namespace

void Terminal::cmdSetMode(std::span<const int> pars, std::span<const uint8_t> collect) {
  for (int par : pars) setMode(par, collect);
}

void Terminal::cmdResetMode(std::span<const int> pars, std::span<const uint8_t> collect) {
  for (int par : pars) resetMode(par, collect);
}

void Terminal::setMode(int par, std::span<const uint8_t> collect) {
  if (collect.empty()) {
    switch (par) {
      case 2:
        break;
      case 4:
        setInsertMode(true);
        break;
      case 20:
        lineFeedMode = true;
        break;
      default:
        log("Unhandled verbatim setMode with " + std::to_string(par) + " and " + collectListText(collect));
    }
  } else if (isCollect(collect, '?')) {
    setPrivateMode(par, true);
  } else {
    log("Unhandled setMode (SM) with " + std::to_string(par) + " and " + collectListText(collect));
  }
}

void Terminal::resetMode(int par, std::span<const uint8_t> collect) {
  if (collect.empty()) {
    if (par == 4) setInsertMode(false);
    if (par == 20) lineFeedMode = false;
  } else if (isCollect(collect, '?')) {
    setPrivateMode(par, false);
  }
}

void Terminal::setPrivateMode(int par, bool on) {
  switch (par) {
    case 1:
      applicationCursor = on;
      break;
    case 2:
      if (on) {
        for (uint8_t g = 0; g < 4; g++) setgCharset(g, std::nullopt);
      } else {
        log("Unhandled DEC Private Mode Reset (DECRST) with 2");
      }
      break;
    case 3:
      if (allow80To132) switchColumns(*this, on ? 132 : 80);
      break;
    case 4:
      smoothScroll = on;
      break;
    case 5:
      curAttr = on ? invertedAttribute() : defaultAttribute();
      break;
    case 6:
      originMode = on;
      // The cursor goes to the new origin, inside the region and margins it is now bound to.
      if (on) setCursor(0, 0);
      break;
    case 7:
      setWraparound(on);
      break;
    case 9:
      setMouseTracking(*this, on, MouseMode::x10);
      break;
    case 12:
      cursorBlink = on;
      break;
    case 25:
      if (on)
        showCursor();
      else
        hideCursor();
      break;
    case 40:
      allow80To132 = on;
      break;
    case 41:
      if (on) log("Unhandled DEC Private Mode Set (DECSET) with 41");
      break;
    case 45:
      if (!on || wraparound) reverseWraparound = on;
      break;
    case 47:
      if (on)
        enterAlternateScreen(*this);
      else
        returnToNormalScreen(*this, false, false);
      break;
    case 63:
      if (!on) log("Unhandled DEC Private Mode Reset (DECRST) with 63");
      break;
    case 66:
      applicationKeypad = on;
      break;
    case 69:
      setMarginMode(on);
      // Margins left behind would silently confine the next program that turns the mode on.
      if (!on) resetMarginsToFullWidth(*this);
      break;
    case 95:
    case 1034:
      break;
    case 1000:
      setMouseTracking(*this, on, MouseMode::vt200);
      break;
    case 1002:
      setMouseTracking(*this, on, MouseMode::buttonEventTracking);
      break;
    case 1003:
      setMouseTracking(*this, on, MouseMode::anyEvent);
      break;
    case 1004:
      sendFocus = on;
      if (on) sendFocusReport();
      break;
    case 1005:
      mouseProtocol = on ? MouseProtocolEncoding::utf8 : MouseProtocolEncoding::x10;
      break;
    case 1006:
      mouseProtocol = on ? MouseProtocolEncoding::sgr : MouseProtocolEncoding::x10;
      break;
    case 1015:
      mouseProtocol = on ? MouseProtocolEncoding::urxvt : MouseProtocolEncoding::x10;
      break;
    case 1016:
      mouseProtocol = on ? MouseProtocolEncoding::sgrPixel : MouseProtocolEncoding::x10;
      break;
    case 1047:
      if (on)
        enterAlternateScreen(*this);
      else
        returnToNormalScreen(*this, true, false);
      break;
    case 1048:
      if (on)
        cmdSaveCursor({});
      else
        cmdRestoreCursor({});
      break;
    case 1049:
      if (on) {
        cmdSaveCursor({});
        enterAlternateScreen(*this);
      } else {
        returnToNormalScreen(*this, true, true);
      }
      break;
    case 2004:
      bracketedPasteMode = on;
      break;
    case 2026:
      if (on)
        beginSynchronizedOutput();
      else
        endSynchronizedOutput();
      break;
    default:
      log(std::string(on ? "Unhandled DEC Private Mode Set (DECSET) with "
                         : "Unhandled DEC Private Mode Reset (DECRST) with ") +
          std::to_string(par));
  }
}

void Terminal::cmdSetScrollRegion(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (!collect.empty()) return;
  const int top = pars.empty() ? 0 : std::max(pars[0] - 1, 0);
  const int bottom = pars.size() > 1 && pars[1] != 0 && pars[1] <= rows ? pars[1] : rows;
  if (top < bottom - 1) {
    buffer->scrollTop = top;
    buffer->scrollBottom = bottom - 1;
  }
  setCursor(0, 0);
}

void Terminal::cmdSetMargins(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (!collect.empty()) return;
  const int left = pars.empty() ? 0 : std::max(pars[0] - 1, 0);
  const int right = std::clamp(pars.size() > 1 ? pars[1] - 1 : cols - 1, 0, cols - 1);
  buffer->marginRight = right;
  buffer->marginLeft = std::min(left, right);
}

void Terminal::cmdSetCursorStyle(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (!isCollect(collect, ' ')) return;
  static constexpr CursorStyle styles[] = {
      CursorStyle::blinkBlock,      CursorStyle::blinkBlock, CursorStyle::steadyBlock, CursorStyle::blinkUnderline,
      CursorStyle::steadyUnderline, CursorStyle::blinkBar,   CursorStyle::steadyBar};
  const int ps = pars.empty() ? 0 : pars[0];
  if (ps < 0 || ps > 6) return;
  setCursorStyle(styles[ps]);
}

void Terminal::setCursorStyle(CursorStyle style) {
  if (style == options.cursorStyle) return;
  if (tdel) tdel->cursorStyleChanged(*this, style);
  options.cursorStyle = style;
}

void Terminal::csiPHandler(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (isCollect(collect, '!')) {
    cmdSoftReset();
  } else if (isCollect(collect, '"')) {
    cmdSetConformanceLevel(pars, collect);
  } else if (collect.size() == 2 && collect[0] == '?' && collect[1] == '$') {
    cmdDecRqm(pars, true);
  } else if (isCollect(collect, '$')) {
    cmdDecRqm(pars, false);
  } else {
    std::string codes;
    for (uint8_t c : collect) codes += std::to_string(c);
    log("Unhandled CSI " + codes + " with pars=" + parameterListText(pars));
  }
}

void Terminal::cmdSetConformanceLevel(std::span<const int> pars, std::span<const uint8_t> collect) {
  if (pars.empty()) return;
  switch (pars[0]) {
    case 61:
      conformance = TerminalConformance::vt100;
      cc.send8bit = false;
      return;
    case 62:
      conformance = TerminalConformance::vt200;
      break;
    case 63:
      conformance = TerminalConformance::vt300;
      break;
    case 64:
      conformance = TerminalConformance::vt400;
      break;
    default:
      conformance = TerminalConformance::vt500;
      break;
  }
  if (pars.size() > 1) cc.send8bit = pars[1] == 0 || pars[1] == 2;
}

}  // namespace vantrelle
