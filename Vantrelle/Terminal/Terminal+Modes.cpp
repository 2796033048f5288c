// Mode controls: SM/RM and their DEC private forms, the scroll region and margins (DECSTBM,
// DECSLRM), the cursor style (DECSCUSR), the conformance level (DECSCL) and the CSI p router.
#include <algorithm>

#include "Vantrelle/Terminal/ModeTable.h"
#include "Vantrelle/Terminal/ReportFormat.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

Attribute invertedAttribute() {
  return Attribute(Attribute::Color::defaultInvertedColor, Attribute::Color::defaultInvertedColor,
                   CharacterStyle::none);
}

// Reverse video stands in for the program's rendition while it lasts. A flash (set, then reset
// at once) must leave the program drawing with the rendition it had chosen, which it does not send
// again: the reset gives back the one the set replaced while no SGR has changed it since, and a
// reset while reverse video is off changes nothing.
void setReverseVideo(Terminal& t, bool on) {
  const bool reversed = t.curAttr == invertedAttribute();
  if (on) {
    if (!reversed) t.attributeBeforeReverseVideo = t.curAttr;
    t.curAttr = invertedAttribute();
    return;
  }
  if (t.attributeBeforeReverseVideo)
    t.curAttr = reversed ? *t.attributeBeforeReverseVideo : Terminal::defaultAttribute();
  else if (reversed)
    t.curAttr = Terminal::defaultAttribute();
  t.attributeBeforeReverseVideo.reset();
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

int status(bool set) { return set ? 1 : 2; }

void setNothing(Terminal&, bool) {}

void logUnhandled(Terminal& t, int number, bool on) {
  t.log(std::string(on ? "Unhandled DEC Private Mode Set (DECSET) with "
                       : "Unhandled DEC Private Mode Reset (DECRST) with ") +
        std::to_string(number));
}

template <MouseMode mode>
void setTracking(Terminal& t, bool on) {
  setMouseTracking(t, on, mode);
}

template <MouseMode mode>
int trackingStatus(const Terminal& t) {
  return status(t.mouseMode() == mode);
}

template <MouseProtocolEncoding encoding>
void setEncoding(Terminal& t, bool on) {
  t.mouseProtocol = on ? encoding : MouseProtocolEncoding::x10;
}

template <MouseProtocolEncoding encoding>
int encodingStatus(const Terminal& t) {
  return status(t.mouseProtocol == encoding);
}

// DEC private modes, by number.
const ModeEntry kDecModes[] = {
    {.number = 1, .name = "DECCKM cursor keys", .flag = &Terminal::applicationCursor},
    {.number = 2,
     .name = "DECANM ANSI mode",
     .set =
         [](Terminal& t, bool on) {
           if (on) {
             for (uint8_t g = 0; g < 4; g++) t.setgCharset(g, std::nullopt);
           } else {
             logUnhandled(t, 2, false);
           }
         },
     .fixed = 1},
    {.number = 3,
     .name = "DECCOLM 132 columns",
     .set =
         [](Terminal& t, bool on) {
           if (t.allow80To132) switchColumns(t, on ? 132 : 80);
         },
     .report = [](const Terminal& t) { return status(t.buffer->cols() == 132); }},
    {.number = 4, .name = "DECSCLM smooth scroll", .flag = &Terminal::smoothScroll},
    {.number = 5,
     .name = "DECSCNM reverse video",
     .set = setReverseVideo,
     .report = [](const Terminal& t) { return status(t.curAttr == invertedAttribute()); }},
    {.number = 6,
     .name = "DECOM origin",
     .flag = &Terminal::originMode,
     .set =
         [](Terminal& t, bool on) {
           t.originMode = on;
           // Either way the cursor goes home: set, to the new origin inside the region and
           // margins it is now bound to; reset, to the screen's first cell.
           t.setCursor(0, 0);
         }},
    {.number = 7,
     .name = "DECAWM autowrap",
     .flag = &Terminal::wraparound,
     .set = [](Terminal& t, bool on) { t.setWraparound(on); }},
    {.number = 8, .name = "DECARM autorepeat", .fixed = 1},
    {.number = 9, .name = "X10 mouse", .set = setTracking<MouseMode::x10>, .report = trackingStatus<MouseMode::x10>},
    {.number = 10, .name = "toolbar", .fixed = 4},
    {.number = 12, .name = "cursor blink", .flag = &Terminal::cursorBlink},
    {.number = 13, .name = "cursor blink menu", .fixed = 2},
    {.number = 14, .name = "cursor blink XOR", .fixed = 2},
    {.number = 18, .name = "DECPFF print form feed", .fixed = 1},
    {.number = 19, .name = "DECPEX print extent", .fixed = 1},
    {.number = 25,
     .name = "DECTCEM cursor visible",
     .set =
         [](Terminal& t, bool on) {
           if (on) {
             t.showCursor();
           } else {
             t.hideCursor();
           }
         },
     .report = [](const Terminal& t) { return status(!t.cursorHidden); }},
    {.number = 30, .name = "scrollbar", .fixed = 2},
    {.number = 40, .name = "allow 80 to 132 columns", .flag = &Terminal::allow80To132},
    {.number = 41,
     .name = "more fix",
     .set =
         [](Terminal& t, bool on) {
           if (on) logUnhandled(t, 41, true);
         },
     .fixed = 2},
    {.number = 42, .name = "DECNRCM national characters", .fixed = 4},
    {.number = 44, .name = "margin bell", .fixed = 4},
    {.number = 45,
     .name = "reverse wraparound",
     .flag = &Terminal::reverseWraparound,
     .set =
         [](Terminal& t, bool on) {
           if (!on || t.wraparound) t.reverseWraparound = on;
         }},
    {.number = 46, .name = "logging", .fixed = 4},
    {.number = 47,
     .name = "alternate screen",
     .set =
         [](Terminal& t, bool on) {
           if (on) {
             enterAlternateScreen(t);
           } else {
             returnToNormalScreen(t, false, false);
           }
         },
     .report = [](const Terminal& t) { return status(t.isCurrentBufferAlternate()); }},
    {.number = 63,
     .name = "63",
     .set =
         [](Terminal& t, bool on) {
           if (!on) logUnhandled(t, 63, false);
         }},
    {.number = 66, .name = "DECNKM numeric keypad", .flag = &Terminal::applicationKeypad},
    {.number = 67, .name = "DECBKM backarrow key", .fixed = 4},
    {.number = 69,
     .name = "DECLRMM left and right margins",
     .flag = &Terminal::marginMode,
     .set =
         [](Terminal& t, bool on) {
           t.setMarginMode(on);
           // Margins left behind would silently confine the next program that turns the mode on.
           if (!on) resetMarginsToFullWidth(t);
         }},
    {.number = 80, .name = "DECSDM sixel display", .fixed = 4},
    {.number = 95, .name = "DECNCSM no clear on column change", .set = setNothing, .fixed = 1},
    {.number = 1000,
     .name = "mouse normal tracking",
     .set = setTracking<MouseMode::vt200>,
     .report = trackingStatus<MouseMode::vt200>},
    {.number = 1001, .name = "mouse highlight tracking", .fixed = 2},
    {.number = 1002,
     .name = "mouse button-event tracking",
     .set = setTracking<MouseMode::buttonEventTracking>,
     .report = trackingStatus<MouseMode::buttonEventTracking>},
    {.number = 1003,
     .name = "mouse any-event tracking",
     .set = setTracking<MouseMode::anyEvent>,
     .report = trackingStatus<MouseMode::anyEvent>},
    {.number = 1004,
     .name = "focus reports",
     .flag = &Terminal::sendFocus,
     .set =
         [](Terminal& t, bool on) {
           t.sendFocus = on;
           if (on) t.sendFocusReport();
         }},
    {.number = 1005,
     .name = "mouse UTF-8 coordinates",
     .set = setEncoding<MouseProtocolEncoding::utf8>,
     .report = encodingStatus<MouseProtocolEncoding::utf8>},
    {.number = 1006,
     .name = "mouse SGR coordinates",
     .set = setEncoding<MouseProtocolEncoding::sgr>,
     .report = encodingStatus<MouseProtocolEncoding::sgr>},
    {.number = 1015,
     .name = "mouse urxvt coordinates",
     .set = setEncoding<MouseProtocolEncoding::urxvt>,
     .report = encodingStatus<MouseProtocolEncoding::urxvt>},
    {.number = 1016,
     .name = "mouse SGR pixel coordinates",
     .set = setEncoding<MouseProtocolEncoding::sgrPixel>,
     .report = encodingStatus<MouseProtocolEncoding::sgrPixel>},
    {.number = 1034, .name = "meta sets eighth bit", .set = setNothing, .fixed = 4},
    {.number = 1047,
     .name = "alternate screen, cleared on leaving",
     .set =
         [](Terminal& t, bool on) {
           if (on) {
             enterAlternateScreen(t);
           } else {
             returnToNormalScreen(t, true, false);
           }
         }},
    {.number = 1048,
     .name = "save cursor",
     .set =
         [](Terminal& t, bool on) {
           if (on) {
             t.cmdSaveCursor({});
           } else {
             t.cmdRestoreCursor({});
           }
         }},
    {.number = 1049,
     .name = "alternate screen with saved cursor",
     .set =
         [](Terminal& t, bool on) {
           if (on) {
             t.cmdSaveCursor({});
             enterAlternateScreen(t);
           } else {
             returnToNormalScreen(t, true, true);
           }
         }},
    {.number = 2004,
     .name = "bracketed paste",
     .flag = &Terminal::bracketedPasteMode,
     .set =
         [](Terminal& t, bool on) {
           t.bracketedPasteMode = on;
           // A line editor turns it on just before it prints its prompt.
           if (on && t.buffer == t.normalBuffer.get()) {
             t.normalBuffer->notePromptStart();
           } else if (!on) {
             t.normalBuffer->forgetPromptStart();
           }
         }},
    {.number = 2026,
     .name = "synchronized output",
     .flag = &Terminal::synchronizedOutputActive,
     .set =
         [](Terminal& t, bool on) {
           if (on) {
             t.beginSynchronizedOutput();
           } else {
             t.endSynchronizedOutput();
           }
         }},
};

// ANSI modes, by number.
const ModeEntry kAnsiModes[] = {
    {.number = 1, .name = "GATM guarded area transfer", .fixed = 4},
    {.number = 2, .name = "KAM keyboard action", .set = setNothing, .fixed = 2},
    {.number = 3, .name = "CRM control representation", .fixed = 2},
    {.number = 4,
     .name = "IRM insert",
     .flag = &Terminal::insertMode,
     .set = [](Terminal& t, bool on) { t.setInsertMode(on); }},
    {.number = 5, .name = "SRTM status report transfer", .fixed = 4},
    {.number = 7, .name = "VEM vertical editing", .fixed = 4},
    {.number = 10, .name = "HEM horizontal editing", .fixed = 4},
    {.number = 11, .name = "PUM positioning unit", .fixed = 4},
    {.number = 12, .name = "SRM send/receive", .fixed = 1},
    {.number = 13, .name = "FEAM format effector action", .fixed = 4},
    {.number = 14, .name = "FETM format effector transfer", .fixed = 4},
    {.number = 15, .name = "MATM multiple area transfer", .fixed = 4},
    {.number = 16, .name = "TTM transfer termination", .fixed = 4},
    {.number = 17, .name = "SATM selected area transfer", .fixed = 4},
    {.number = 18, .name = "TSM tabulation stop", .fixed = 4},
    {.number = 19, .name = "EBM editing boundary", .fixed = 4},
    {.number = 20, .name = "LNM line feed/new line", .flag = &Terminal::lineFeedMode},
};

const ModeEntry* findMode(std::span<const ModeEntry> modes, int number) {
  const auto found = std::ranges::find(modes, number, &ModeEntry::number);
  return found == modes.end() ? nullptr : &*found;
}

// Sets or resets a mode the terminal acts on; false for one it does not.
bool applyMode(Terminal& t, const ModeEntry* mode, bool on) {
  if (!mode) return false;
  if (mode->set) {
    mode->set(t, on);
    return true;
  }
  if (!mode->flag) return false;
  t.*mode->flag = on;
  return true;
}

}  // namespace

const ModeEntry* findDecMode(int number) { return findMode(kDecModes, number); }

const ModeEntry* findAnsiMode(int number) { return findMode(kAnsiModes, number); }

int modeStatus(const Terminal& terminal, const ModeEntry* mode) {
  if (!mode) return 0;
  if (mode->fixed) return mode->fixed;
  if (mode->report) return mode->report(terminal);
  return mode->flag ? status(terminal.*mode->flag) : 0;
}

void Terminal::cmdSetMode(std::span<const int> pars) {
  for (int par : pars) {
    if (!applyMode(*this, findAnsiMode(par), true))
      log("Unhandled verbatim setMode with " + std::to_string(par) + " and " + collectListText({}));
  }
}

void Terminal::cmdResetMode(std::span<const int> pars) {
  for (int par : pars) applyMode(*this, findAnsiMode(par), false);
}

void Terminal::cmdSetPrivateMode(std::span<const int> pars) {
  for (int par : pars) setPrivateMode(par, true);
}

void Terminal::cmdResetPrivateMode(std::span<const int> pars) {
  for (int par : pars) setPrivateMode(par, false);
}

void Terminal::setPrivateMode(int par, bool on) {
  if (!applyMode(*this, findDecMode(par), on)) logUnhandled(*this, par, on);
}

void Terminal::cmdSetScrollRegion(std::span<const int> pars) {
  const int top = pars.empty() ? 0 : std::max(pars[0] - 1, 0);
  const int bottom = pars.size() > 1 && pars[1] != 0 && pars[1] <= rows ? pars[1] : rows;
  if (top < bottom - 1) {
    buffer->scrollTop = top;
    buffer->scrollBottom = bottom - 1;
  }
  setCursor(0, 0);
}

void Terminal::cmdSetMargins(std::span<const int> pars) {
  const int left = pars.empty() ? 0 : std::max(pars[0] - 1, 0);
  const int right = std::clamp(pars.size() > 1 ? pars[1] - 1 : cols - 1, 0, cols - 1);
  buffer->marginRight = right;
  buffer->marginLeft = std::min(left, right);
}

void Terminal::cmdSetCursorStyle(std::span<const int> pars) {
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

void Terminal::cmdSetConformanceLevel(std::span<const int> pars) {
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
