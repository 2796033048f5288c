// The fixed dispatch switches: which control function reaches which handler.
#include <string>

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

constexpr bool isDesignatorIntermediate(uint8_t c) {
  return c == '(' || c == ')' || c == '*' || c == '+' || c == '-' || c == '.' || c == '/';
}

}  // namespace

void Terminal::dispatchExecute(uint8_t code) {
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

void Terminal::dispatchCsi(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect,
                           std::span<const uint8_t> parsTxt) {
  // SGR comes before nearly every cell of colourful output: spare it the general switch.
  if (code == 'm') {
    currentParsTxt = parsTxt;
    cmdCsiM(pars, collect);
    currentParsTxt = {};
    return;
  }
  dispatchCsiSwitch(code, pars, collect, parsTxt);
}

void Terminal::dispatchCsiSwitch(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect,
                                 std::span<const uint8_t> parsTxt) {
  currentParsTxt = parsTxt;
  const int p0 = pars[0];
  const bool plain = collect.empty();
  const bool greater = collect.size() == 1 && collect[0] == '>';
  switch (code) {
    case '@':
      cmdInsertChars(pars);
      break;
    case 'A':
      cmdCursorUp(pars);
      break;
    case 'B':
      cmdCursorDown(pars);
      break;
    case 'C':
      cursorForward(p0);
      break;
    case 'D':
      cursorBackward(p0);
      break;
    case 'E':
      cmdCursorDown(pars);
      buffer->x = buffer->marginLeft;
      break;
    case 'F':
      cmdCursorUp(pars);
      buffer->x = buffer->marginLeft;
      break;
    case 'G':
      cmdCursorCharAbsolute(pars);
      break;
    case 'H':
      cmdCursorPosition(pars);
      break;
    case 'I':
      cmdCursorForwardTab(pars);
      break;
    case 'J':
      cmdEraseInDisplay(pars);
      break;
    case 'K':
      cmdEraseInLine(pars);
      break;
    case 'L':
      cmdInsertLines(pars);
      break;
    case 'M':
      cmdDeleteLines(pars);
      break;
    case 'P':
      cmdDeleteChars(pars);
      break;
    case 'S':
      cmdScrollUp(pars);
      break;
    case 'T':
      if (plain) {
        cmdScrollDown(pars);
      } else if (greater) {
        for (int p : pars) {
          if (p == 0) xtermTitleSetHex = false;
          if (p == 1) xtermTitleQueryHex = false;
          if (p == 2) xtermTitleSetUtf = false;
          if (p == 3) xtermTitleQueryUtf = false;
        }
      }
      break;
    case 'X':
      cmdEraseChars(pars);
      break;
    case 'Z':
      cmdCursorBackwardTab(pars);
      break;
    case '`':
      cmdCharPosAbsolute(pars);
      break;
    case 'a':
      cmdHPositionRelative(pars);
      break;
    case 'b':
      cmdRepeatPrecedingCharacter(pars);
      break;
    case 'c':
      cmdSendDeviceAttributes(pars, collect);
      break;
    case 'd':
      cmdLinePosAbsolute(pars);
      break;
    case 'e':
      cmdVPositionRelative(pars);
      break;
    case 'f':
      cmdHVPosition(pars);
      break;
    case 'g':
      cmdTabClear(pars);
      break;
    case 'h':
      cmdSetMode(pars, collect);
      break;
    case 'l':
      cmdResetMode(pars, collect);
      break;
    case 'n':
      cmdDeviceStatus(pars, collect);
      break;
    case 'p':
      csiPHandler(pars, collect);
      break;
    case 'q':
      cmdSetCursorStyle(pars, collect);
      break;
    case 'r':
      cmdSetScrollRegion(pars, collect);
      break;
    case 's':
      if (greater) {
        if (p0 == 1) mouseShiftCapture = true;
        if (p0 == 0) mouseShiftCapture = false;
      } else if (plain) {
        if (marginMode) {
          cmdSetMargins(pars, collect);
        } else {
          cmdSaveCursor(collect);
        }
      }
      break;
    case 't':
      if (plain) {
        cmdWindowOptions(pars);
      } else if (greater) {
        for (int p : pars) {
          if (p == 0) xtermTitleSetHex = true;
          if (p == 1) xtermTitleQueryHex = true;
          if (p == 2) xtermTitleSetUtf = true;
          if (p == 3) xtermTitleQueryUtf = true;
        }
      } else if (!silentLog) {
        log("Unhandled csiT " + describe(collect));
      }
      break;
    case 'u':
      if (!handleKittyKeyboardProtocol(pars, collect) && plain) cmdRestoreCursor(collect);
      break;
    case 'v':
      csiCopyRectangularArea(pars, collect);
      break;
    case 'x':
      csiX(pars, collect);
      break;
    case 'y':
      cmdDECRQCRA(pars, collect);
      break;
    case 'z':
      csiZ(pars, collect);
      break;
    case '{':
      csiOpenBrace(pars, collect);
      break;
    case '}':
      csiCloseBrace(pars, collect);
      break;
    case '~':
      cmdDeleteColumns(pars, collect);
      break;
    default:
      csiFallback(pars, collect, code);
      break;
  }
  currentParsTxt = {};
}

void Terminal::dispatchOsc(int64_t code, std::span<const uint8_t> data) {
  if (auto handler = oscHandlers.find(code); handler != oscHandlers.end()) {
    handler->second(data);
    return;
  }
  dispatchOscCommand(code, data);
}

void Terminal::dispatchApc(uint8_t command, std::span<const uint8_t> content) {
  if (command == 'G') {
    handleKittyGraphics(content);
    return;
  }
  if (!silentLog) log("Vantrelle: Unknown APC code: " + asCharacter(command));
}

std::unique_ptr<DcsHandler> Terminal::dispatchDcs(std::span<const uint8_t> collect, uint8_t code,
                                                  std::span<const int> pars) {
  if (code != 'q') return nullptr;
  if (collect.empty()) return makeSixelHandler(pars);
  if (collect.size() == 1 && collect[0] == '$') return makeDecrqssHandler();
  return nullptr;
}

ParsingState Terminal::parseError(const ParsingState& state) {
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
