// The fixed dispatch switches: which control function reaches which handler.
#include <algorithm>
#include <string>
#include <string_view>

#include "Vantrelle/Parser/ByteScan.h"
#include "Vantrelle/Parser/QuickParse.h"
#include "Vantrelle/Terminal/ReportFormat.h"
#include "Vantrelle/Terminal/SelectGraphicRendition.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

template <typename T>
std::string describe(std::span<const T> values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i) text += ", ";
    text += std::to_string(values[i]);
  }
  return text + "]";
}

// A byte shown as the character of the same scalar value.
std::string asCharacter(uint8_t code) {
  std::string text;
  appendUtf8(text, code);
  return text;
}

// The routing key of a control sequence written as its prefix and intermediates, then its final.
constexpr uint32_t csi(std::string_view sequence) {
  uint32_t key = 0;
  for (char c : sequence) key = key << 8 | uint8_t(c);
  return key;
}

// The key of a final that takes any prefix and intermediates, or reads them in its handler: a
// sequence whose prefix and intermediates no case names routes again on this key. No prefix or
// intermediate byte is 0xFF, so it is the key of no written sequence.
constexpr uint32_t anyIntermediates(uint8_t final) { return 0xFF00 | final; }

constexpr bool isDesignatorIntermediate(uint8_t c) {
  return c == '(' || c == ')' || c == '*' || c == '+' || c == '-' || c == '.' || c == '/';
}

}  // namespace

void Terminal::feed(std::span<const uint8_t> data) {
  // Between feeds and after them, the terminal may be changed from outside the parser.
  forgetCellRun();
  payloadCodes.credit += data.size();
  parser.parseWith(*this, data);
  forgetCellRun();
}

// However short each read of a flood is, only its end tells that the rows scrolled off meanwhile
// are the ones the scrollback keeps: packing them any earlier would pack rows that the ring
// recycles a few hundred lines later.
void Terminal::outputRests() { normalBuffer->compactScrolledRows(); }

void Terminal::feed(std::string_view text) { feed({reinterpret_cast<const uint8_t*>(text.data()), text.size()}); }

void Terminal::print(std::span<const uint8_t> run) {
  // The next cell of colourful output, packed straight from the rendition, which changed since
  // the cell before it (a table holds underline colours: those take the general way).
  if (run.size() == 1 && cellRun.left != 0 && run[0] < 0x7F && !curAttr.underlineColor) {
    lastPrinted.col = buffer->storeNextCell(cellRun, cellWords(CharData(run[0], 1, curAttr)));
    lastPrinted.generation = cellRun.line->generation();
    return;
  }
  printOther(run);
}

void Terminal::printOther(std::span<const uint8_t> run) {
  if (run.size() == 1 && printCellOnCursorRow(run[0])) return;
  forgetCellRun();
  if (!(run.size() != 1 && printOnCursorRow(run))) handlePrint(run);
}

void Terminal::printText(std::span<const uint8_t> run, bool belowDel) {
  forgetCellRun();
  if (!(belowDel && printOnCursorRow(run, true))) handlePrint(run);
}

// Full-screen programs print a character or a short run between two control sequences, where
// setting up a text run that may wrap costs more than the characters. Plain ASCII (the parser
// hands over no byte below 0x20) with no character set to translate it and no UTF-8 sequence
// held back goes straight to the cursor's row when all of it fits there; anything else takes
// the way of any run.
bool Terminal::printOnCursorRow(std::span<const uint8_t> run, bool belowDel) {
  if (readingBuffer.putbackCount != 0 || (charset && !charset->empty())) return false;
  if (run.size() > size_t(cols) || !(belowDel || allBelowDel(run.data(), run.size()))) return false;
  Buffer& target = *buffer;
  BufferLine* const line = target.storeOnCursorRow(run, renditionCell());
  if (!line) return false;
  updateRange(target, target.y);
  lastPrinted = {&target, line, line->generation(), target.lastBufferStorage.x};
  return true;
}

// The same for one character, the case of colourful output that changes the rendition before
// every cell. The cells after the first of a row go on where it left off: the row is already
// marked for redrawing and the last printed cell's line and buffer are already these.
bool Terminal::printCellOnCursorRow(uint8_t code) {
  if (code >= 0x7F) return false;
  if (cellRun.left != 0) {
    lastPrinted.col = buffer->storeNextCell(cellRun, cellWordsWithValue(renditionCell(), code, 1));
    lastPrinted.generation = cellRun.line->generation();
    return true;
  }
  if (readingBuffer.putbackCount != 0 || (charset && !charset->empty())) return false;
  Buffer& target = *buffer;
  BufferLine* const line = target.storeCellAtCursor(cellWordsWithValue(renditionCell(), code, 1), cellRun);
  if (!line) return false;
  updateRange(target, target.y);
  lastPrinted = {&target, line, line->generation(), target.lastBufferStorage.x};
  return true;
}

void Terminal::dispatchExecute(uint8_t code) {
  forgetCellRun();
  switch (code) {
    case 0x07:
      if (tdel) tdel->bell(*this);
      break;
    case 0x08:
      cmdBackspace();
      break;
    case 0x09:
      cmdHorizontalTab();
      break;
    case 0x0A:
    case 0x0B:
    case 0x0C:
      cmdLineFeedBasic();
      break;
    case 0x0D:
      cmdCarriageReturn();
      break;
    case 0x0E:
      setgLevel(1);
      break;
    case 0x0F:
      setgLevel(0);
      break;
    case 0x84:
      cmdIndex();
      break;
    case 0x85:
      cmdNextLine();
      break;
    case 0x88:
      buffer->tabSet(cursorColumn());
      break;
    default:
      break;
  }
}

void Terminal::dispatchEsc(std::span<const uint8_t> collect, uint8_t code) {
  forgetCellRun();
  if (collect.size() == 1) {
    dispatchEscWithIntermediate(collect[0], code);
    return;
  }
  if (!collect.empty()) {
    escFallback(collect, code);
    return;
  }
  switch (code) {
    case '6':
      if (buffer->x != buffer->marginLeft) {
        cursorBackward(1);
      } else {
        columnScroll(true, buffer->x);
      }
      break;
    case '7':
      cmdSaveCursor({});
      break;
    case '8':
      cmdRestoreCursor({});
      break;
    case '9':
      columnIndex(false);
      break;
    case '=':
      applicationKeypad = true;
      break;
    case '>':
      applicationKeypad = false;
      break;
    case 'D':
      cmdIndex();
      break;
    case 'E':
      cmdNextLine();
      break;
    case 'H':
      buffer->tabSet(cursorColumn());
      break;
    case 'M':
      reverseIndex();
      break;
    case '\\':
      break;
    case 'c':
      cmdReset();
      break;
    case 'n':
    case '}':
      setgLevel(2);
      break;
    case 'o':
    case '|':
      setgLevel(3);
      break;
    case '~':
      setgLevel(1);
      break;
    default:
      escFallback(collect, code);
      break;
  }
}

void Terminal::dispatchEscWithIntermediate(uint8_t intermediate, uint8_t code) {
  const uint8_t pair[2] = {intermediate, code};
  if (isDesignatorIntermediate(intermediate)) {
    if (CharSets::all(code)) {
      selectCharset(pair);
    } else {
      escFallback(std::span<const uint8_t>(pair, 1), code);
    }
    return;
  }
  if (intermediate == '#') {
    switch (code) {
      case '3':
        return setLineRenderMode(BufferLine::RenderLineMode::doubledTop);
      case '4':
        return setLineRenderMode(BufferLine::RenderLineMode::doubledDown);
      case '5':
        return setLineRenderMode(BufferLine::RenderLineMode::single);
      case '6':
        return setLineRenderMode(BufferLine::RenderLineMode::doubleWidth);
      case '8':
        return cmdScreenAlignmentPattern();
      default:
        break;
    }
  } else if (intermediate == '%' && (code == '@' || code == 'G')) {
    setgLevel(0);
    setgCharset(0, std::nullopt);
    return;
  } else if (intermediate == ' ' && (code == 'F' || code == 'G')) {
    cc.send8bit = code == 'G';
    return;
  }
  escFallback(std::span<const uint8_t>(pair, 1), code);
}

void Terminal::selectGraphicRendition(std::span<const int> pars, std::span<const uint8_t> separators) {
  // Colourful output sends a colour before nearly every cell, now and then after a style.
  if (!sgr::applyLoneColor(curAttr, pars, separators)) selectGraphicRenditionOtherThanLoneColor(pars, separators);
}

void Terminal::selectGraphicRenditionOtherThanLoneColor(std::span<const int> pars,
                                                        std::span<const uint8_t> separators) {
  size_t start = 0;
  if (pars.size() > 3 && sgr::applyLoneStyle(curAttr, pars[0], separators[0])) {
    start = 1;
    if (sgr::applyLoneColor(curAttr, pars.subspan(1), separators.subspan(1))) return;
  } else if (pars.size() == 1 && pars[0] == 0) {
    curAttr = defaultAttribute();
    return;
  }
  const size_t done = start + sgr::applyCommon(curAttr, pars.subspan(start), separators.subspan(start));
  if (done != pars.size()) selectGraphicRenditionFrom(done, pars, separators);
}

void Terminal::dispatchCsi(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect,
                           std::span<const uint8_t> parsTxt) {
  // SGR comes before nearly every cell of colourful output, and CUP before nearly every run a
  // full-screen program repaints: they are routed here, before the table. SGR with a prefix or
  // intermediates is ignored; CUP takes any.
  if (code == 'm') {
    if (collect.empty()) selectGraphicRendition(pars, parsTxt.first(std::min(parsTxt.size(), pars.size() - 1)));
    return;
  }
  forgetCellRun();
  if (code == 'H') {
    cmdCursorPosition(pars);
    return;
  }
  dispatchOtherCsi(code, pars, collect, parsTxt);
}

// Out of line, so that the parse loop's dispatch of SGR and CUP stays small.
[[gnu::noinline]] void Terminal::dispatchOtherCsi(uint8_t code, std::span<const int> pars,
                                                  std::span<const uint8_t> collect, std::span<const uint8_t> parsTxt) {
  currentParsTxt = parsTxt;
  const bool routed = routeCsi(routingKey(collect, code), pars, collect) ||
                      (!collect.empty() && routeCsi(anyIntermediates(code), pars, collect));
  if (!routed) unhandledCsi(code, pars, collect);
  currentParsTxt = {};
}

// The one table of control sequences other than SGR and CUP: each case names the sequences it
// takes, a final that takes any prefix and intermediates also under anyIntermediates. False for
// a key no case names.
bool Terminal::routeCsi(uint32_t key, std::span<const int> pars, std::span<const uint8_t> collect) {
  const int p0 = pars[0];
  switch (key) {
    case csi("@"):  // ICH
    case anyIntermediates('@'):
      cmdInsertChars(pars);
      break;
    case csi("A"):  // CUU
    case anyIntermediates('A'):
      cmdCursorUp(pars);
      break;
    case csi("B"):  // CUD
    case anyIntermediates('B'):
      cmdCursorDown(pars);
      break;
    case csi("C"):  // CUF
    case anyIntermediates('C'):
      cursorForward(p0);
      break;
    case csi("D"):  // CUB
    case anyIntermediates('D'):
      cursorBackward(p0);
      break;
    case csi("E"):  // CNL
    case anyIntermediates('E'):
      cmdCursorDown(pars);
      buffer->x = buffer->marginLeft;
      break;
    case csi("F"):  // CPL
    case anyIntermediates('F'):
      cmdCursorUp(pars);
      buffer->x = buffer->marginLeft;
      break;
    case csi("G"):  // CHA
    case anyIntermediates('G'):
      cmdCursorCharAbsolute(pars);
      break;
    case csi("I"):  // CHT
    case anyIntermediates('I'):
      cmdCursorForwardTab(pars);
      break;
    case csi("J"):  // ED
    case anyIntermediates('J'):
      cmdEraseInDisplay(pars);
      break;
    case csi("K"):  // EL
    case anyIntermediates('K'):
      cmdEraseInLine(pars);
      break;
    case csi("L"):  // IL
    case anyIntermediates('L'):
      cmdInsertLines(pars);
      break;
    case csi("M"):  // DL
    case anyIntermediates('M'):
      cmdDeleteLines(pars);
      break;
    case csi("P"):  // DCH
    case anyIntermediates('P'):
      cmdDeleteChars(pars);
      break;
    case csi("S"):  // SU
    case anyIntermediates('S'):
      cmdScrollUp(pars);
      break;
    case csi("T"):  // SD
      cmdScrollDown(pars);
      break;
    case csi(">T"):  // XTRMTITLE
      setTitleModes(pars, false);
      break;
    case csi("X"):  // ECH
    case anyIntermediates('X'):
      cmdEraseChars(pars);
      break;
    case csi("Z"):  // CBT
    case anyIntermediates('Z'):
      cmdCursorBackwardTab(pars);
      break;
    case csi("`"):  // HPA
    case anyIntermediates('`'):
      cmdCharPosAbsolute(pars);
      break;
    case csi("a"):  // HPR
    case anyIntermediates('a'):
      cmdHPositionRelative(pars);
      break;
    case csi("b"):  // REP
    case anyIntermediates('b'):
      cmdRepeatPrecedingCharacter(pars);
      break;
    case csi("c"):  // DA1, DA2 and DA3 read their prefix themselves
    case anyIntermediates('c'):
      cmdSendDeviceAttributes(pars, collect);
      break;
    case csi("d"):  // VPA
    case anyIntermediates('d'):
      cmdLinePosAbsolute(pars);
      break;
    case csi("e"):  // VPR
    case anyIntermediates('e'):
      cmdVPositionRelative(pars);
      break;
    case csi("f"):  // HVP
    case anyIntermediates('f'):
      cmdHVPosition(pars);
      break;
    case csi("g"):  // TBC
    case anyIntermediates('g'):
      cmdTabClear(pars);
      break;
    case csi("h"):  // SM
      cmdSetMode(pars);
      break;
    case csi("?h"):  // DECSET
      cmdSetPrivateMode(pars);
      break;
    case csi("l"):  // RM
      cmdResetMode(pars);
      break;
    case csi("?l"):  // DECRST
      cmdResetPrivateMode(pars);
      break;
    case csi("n"):  // DSR and DECDSR read their prefix themselves
    case anyIntermediates('n'):
      cmdDeviceStatus(pars, collect);
      break;
    case csi("!p"):  // DECSTR
      cmdSoftReset();
      break;
    case csi("\"p"):  // DECSCL
      cmdSetConformanceLevel(pars);
      break;
    case csi("$p"):  // DECRQM, ANSI modes
      cmdDecRqm(pars, false);
      break;
    case csi("?$p"):  // DECRQM, DEC private modes
      cmdDecRqm(pars, true);
      break;
    case csi(" q"):  // DECSCUSR
      cmdSetCursorStyle(pars);
      break;
    case csi("r"):  // DECSTBM
      cmdSetScrollRegion(pars);
      break;
    case csi("s"):  // DECSLRM with margins on, SCOSC without
      if (marginMode) {
        cmdSetMargins(pars);
      } else {
        cmdSaveCursor(collect);
      }
      break;
    case csi(">s"):  // XTSHIFTESCAPE
      if (p0 == 1) mouseShiftCapture = true;
      if (p0 == 0) mouseShiftCapture = false;
      break;
    case csi("t"):  // XTWINOPS
      cmdWindowOptions(pars);
      break;
    case csi(">t"):  // XTSMTITLE
      setTitleModes(pars, true);
      break;
    case csi("u"):  // the keyboard protocol's requests read their prefix themselves; SCORC
    case anyIntermediates('u'):
      if (!handleKittyKeyboardProtocol(pars, collect) && collect.empty()) cmdRestoreCursor(collect);
      break;
    case csi("$v"):  // DECCRA
      csiCopyRectangularArea(pars);
      break;
    case csi("$x"):  // DECFRA
      cmdFillRectangularArea(pars);
      break;
    case csi("y"):  // DECRQCRA
    case anyIntermediates('y'):
      cmdDECRQCRA(pars, collect);
      break;
    case csi("$z"):  // DECERA
      cmdDECERA(pars);
      break;
    case csi("'z"):  // DECELR
      logUnprefixed("TODO: Enable Locator Reporting (DECELR)");
      break;
    case csi("${"):  // DECSERA
      cmdSelectiveEraseRectangularArea(pars);
      break;
    case csi("'}"):  // DECIC
      cmdInsertColumns(pars);
      break;
    case csi("~"):  // DECDC
    case anyIntermediates('~'):
      cmdDeleteColumns(pars);
      break;
    default:
      return false;
  }
  return true;
}

// The key a control sequence routes on: its prefix and intermediates, then its final.
uint32_t Terminal::routingKey(std::span<const uint8_t> collect, uint8_t code) {
  if (collect.empty()) return code;
  // Longer prefixes and intermediates than any sequence has get no key.
  if (collect.size() > 2) return 0;
  uint32_t key = 0;
  for (uint8_t c : collect) key = key << 8 | c;
  return key << 8 | code;
}

// Sequences with a known final byte but a prefix or intermediates this terminal does not take.
void Terminal::unhandledCsi(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect) {
  switch (code) {
    case 'h':
      for (int par : pars)
        log("Unhandled setMode (SM) with " + std::to_string(par) + " and " + collectListText(collect));
      break;
    case 'p': {
      std::string codes;
      for (uint8_t c : collect) codes += std::to_string(c);
      log("Unhandled CSI " + codes + " with pars=" + parameterListText(pars));
      break;
    }
    case 't':
      if (!silentLog) log("Unhandled csiT " + describe(collect));
      break;
    case 'x':
      log("Not implemented CSI x with collect: collect=" + collectListText(collect) +
          " and pars=" + parameterListText(pars));
      break;
    case '{':
      log("CSI # { not implemented - XTPUSHSGR with " + parameterListText(pars));
      break;
    case '}':
      log("CSI # } not implemented- XTPOPSGR with " + parameterListText(pars));
      break;
    case 'T':
    case 'l':
    case 'q':
    case 'r':
    case 's':
    case 'v':
    case 'z':
      break;
    default:
      csiFallback(pars, collect, code);
      break;
  }
}

void Terminal::setTitleModes(std::span<const int> pars, bool on) {
  for (int p : pars) {
    if (p == 0) titles.modes.setHex = on;
    if (p == 1) titles.modes.queryHex = on;
    if (p == 2) titles.modes.setUtf = on;
    if (p == 3) titles.modes.queryUtf = on;
  }
}

void Terminal::dispatchOsc(int64_t code, std::span<const uint8_t> data) {
  forgetCellRun();
  if (auto handler = oscHandlers.find(code); handler != oscHandlers.end()) {
    handler->second(data);
    return;
  }
  dispatchOscCommand(code, data);
}

void Terminal::dispatchApc(uint8_t command, std::span<const uint8_t> content) {
  forgetCellRun();
  if (command == 'G') {
    handleKittyGraphics(content);
    return;
  }
  if (!silentLog) log("Vantrelle: Unknown APC code: " + asCharacter(command));
}

std::unique_ptr<DcsHandler> Terminal::dispatchDcs(std::span<const uint8_t> collect, uint8_t code,
                                                  std::span<const int> pars) {
  forgetCellRun();
  if (code != 'q') return nullptr;
  if (collect.empty()) return makeSixelHandler(pars);
  if (collect.size() == 1 && collect[0] == '$') return makeDecrqssHandler();
  return nullptr;
}

ParsingState Terminal::parseError(const ParsingState& state) {
  forgetCellRun();
  if (!silentLog) {
    log(std::string("Vantrelle: Parsing error, state: ParsingState(position: ") + std::to_string(state.position) +
        ", code: " + std::to_string(state.code) + ", currentState: " + parserStateName(state.currentState) + ")");
  }
  return state;
}

void Terminal::csiFallback(std::span<const int> pars, std::span<const uint8_t> collect, uint8_t code) {
  if (silentLog) return;
  log("Vantrelle: Unknown CSI Code (collect=" + describe(collect) + " code=" + asCharacter(code) +
      " pars=" + describe(pars) + ")");
}

void Terminal::escFallback(std::span<const uint8_t> collect, uint8_t code) {
  if (silentLog) return;
  log("Vantrelle: Unknown ESC Code: ESC + " + asCharacter(code) + " txt=" + describe(collect));
}

void Terminal::oscFallback(int64_t code, std::span<const uint8_t> data) {
  if (silentLog) return;
  log("Vantrelle: Unknown OSC code: " + std::to_string(code));
}

}  // namespace vantrelle
