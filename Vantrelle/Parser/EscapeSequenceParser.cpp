#include "Vantrelle/Parser/EscapeSequenceParser.h"

#include <algorithm>
#include <limits>

#include "Vantrelle/Parser/ByteScan.h"

namespace vantrelle {

// Working state of one `parse` call: the run indices never survive a call.
struct EscapeSequenceParser::Locals {
  const uint8_t* data;
  size_t size;
  size_t i = 0;
  int64_t print = -1;
  int64_t dcs = -1;
  ParserState state = ParserState::ground;
  ParserState next = ParserState::ground;
  bool aborted = false;
};

namespace {

// Bytes that only add to the parameters: digits and separators, where a colon may not open them.
bool isCsiParameterByte(ParserState state, uint8_t code) {
  if (state == ParserState::csiParam) return code >= '0' && code <= ';';
  return state == ParserState::csiEntry && ((code >= '0' && code <= '9') || code == ';');
}

}  // namespace

EscapeSequenceParser::EscapeSequenceParser(ParserHandler& handler)
    : handler(handler), table(TransitionTable::sharedVt500Table()) {}

void EscapeSequenceParser::parse(std::span<const uint8_t> data) {
  const MachineRun run = runMachine<false>(data, currentState);
  // A parse the error handler stopped leaves the state it found.
  if (!run.aborted) currentState = run.state;
}

EscapeSequenceParser::MachineRun EscapeSequenceParser::runToGround(std::span<const uint8_t> data, ParserState state) {
  return runMachine<true>(data, state);
}

template <bool untilGround>
EscapeSequenceParser::MachineRun EscapeSequenceParser::runMachine(std::span<const uint8_t> data, ParserState state) {
  Locals l{data.data(), data.size()};
  l.state = state;
  while (l.i < l.size) {
    if constexpr (untilGround) {
      if (l.state == ParserState::ground && l.i != 0) break;
    }
    const uint8_t code = l.data[l.i];
    if (l.state == ParserState::ground) {
      // Printable text is scanned in bulk and handed over as one slice of the chunk.
      if (code >= 0x20) {
        if (l.print < 0) l.print = static_cast<int64_t>(l.i);
        ++l.i;
        l.i += printableRunLength(l.data + l.i, l.size - l.i);
        continue;
      }
      if (code == 0x1B && l.i + 1 < l.size && l.data[l.i + 1] == '[') {
        beginCsi(l);
        scanCsiParameters(l);
        continue;
      }
    }
    if (isCsiParameterByte(l.state, code)) {
      scanCsiParameters(l);
      continue;
    }
    if ((l.state == ParserState::oscString || l.state == ParserState::apcString) && code > 0x1F) {
      putString(l);
      continue;
    }
    const uint8_t entry = table.at(l.state, code);
    const auto action = static_cast<ParserAction>(entry >> 4);
    l.next = static_cast<ParserState>(entry & 0x0F);
    // A DCS string cut off by CAN, SUB or a C1 control must not leave its handler waiting for
    // the data of some later string.
    if (l.state == ParserState::dcsPassthrough && l.next != ParserState::dcsPassthrough &&
        action != ParserAction::dcsUnhook && action != ParserAction::error) {
      l.dcs = -1;
      abandonDcs();
    }
    doAction(action, l);
    if (l.aborted) return {l.i, l.state, true};
    l.state = l.next;
    ++l.i;
  }
  if (l.state == ParserState::ground) handPrint(l);
  if (l.state == ParserState::dcsPassthrough) handDcs(l);
  return {l.i, l.state, false};
}

// ESC [ from ground: both bytes clear the sequence, as the table has them do one at a time.
// In ground no string is being received (each string is cleared where it ends), so only the
// parameters and intermediates need it.
void EscapeSequenceParser::beginCsi(Locals& l) {
  handPrint(l);
  clearParameters();
  l.dcs = -1;
  handler.printStateReset();
  handler.printStateReset();
  l.i += 2;
  l.state = ParserState::csiEntry;
  // A private prefix right after the introducer is collected on the way to the parameters.
  if (l.i < l.size && l.data[l.i] >= 0x3C && l.data[l.i] <= 0x3F) {
    _collect[_collectCount++] = l.data[l.i++];
    l.state = ParserState::csiParam;
  }
}

// Digits and separators are the bulk of a control sequence: take them in one loop, and
// dispatch the sequence at once when its final byte follows. Anything else is left to the
// table, from the state the bytes taken so far lead to.
void EscapeSequenceParser::scanCsiParameters(Locals& l) {
  const uint8_t* const end = l.data + l.size;
  const uint8_t* const start = l.data + l.i;
  // A colon may not open the parameters.
  if (start == end || (l.state == ParserState::csiEntry && *start == ':')) return;
  const uint8_t* p = start;
  size_t count = _parsCount;
  int value = _pars[count - 1];
  bool exceeded = _parameterLimitExceeded;
  for (;;) {
    // Once past the parameter limit the sequence is dropped and its values no longer matter.
    p = takeDigits(p, end, value);
    if (p == end || (*p != ';' && *p != ':')) break;
    if (exceeded || count >= static_cast<size_t>(kMaxParameters)) {
      exceeded = true;
    } else {
      _pars[count - 1] = value;
      _parsTxt[count - 1] = *p;
      ++count;
      value = 0;
    }
    ++p;
  }
  if (!exceeded) _pars[count - 1] = value;
  _parsCount = count;
  _parameterLimitExceeded = exceeded;
  l.i = static_cast<size_t>(p - l.data);
  if (p != start) l.state = ParserState::csiParam;
  if (p < end && *p >= 0x40 && *p <= 0x7E) {
    dispatchCsiSequence(*p);
    l.state = ParserState::ground;
    ++l.i;
  }
}

void EscapeSequenceParser::dispatchCsiSequence(uint8_t final) {
  if (_parameterLimitExceeded || _collectOverflow) return;
  handler.dispatchCsi(final, pars(), collect(), parsTxt());
  _parameterLimitExceeded = false;
}

void EscapeSequenceParser::doAction(ParserAction action, Locals& l) {
  const uint8_t code = l.data[l.i];
  switch (action) {
    case ParserAction::print:
      if (l.print < 0) l.print = static_cast<int64_t>(l.i);
      break;
    case ParserAction::execute:
      handPrint(l);
      handler.dispatchExecute(code);
      break;
    case ParserAction::ignore:
      if (l.print >= 0) {
        handPrint(l);
      } else {
        handDcs(l);
      }
      break;
    case ParserAction::error:
      if (code >= 0xA0 && (l.state == ParserState::csiIgnore || l.state == ParserState::dcsIgnore)) {
        l.next = l.state;
      } else if (code >= 0xA0 && l.state == ParserState::dcsPassthrough) {
        if (l.dcs < 0) l.dcs = static_cast<int64_t>(l.i);
        l.next = l.state;
      } else {
        ParsingState snapshot{
            static_cast<int64_t>(l.i), code, l.state, l.print, l.dcs, _osc, _apc, collect(), {}, false};
        if (handler.parseError(snapshot).abort) l.aborted = true;
      }
      break;
    case ParserAction::oscStart:
      handPrint(l);
      (l.next == ParserState::apcString ? _apc : _osc).clear();
      _stringOverflow = false;
      break;
    case ParserAction::oscPut:
      break;  // the string states copy their data in `putString`
    case ParserAction::oscEnd:
      endString(l);
      break;
    case ParserAction::csiDispatch:
      dispatchCsiSequence(code);
      break;
    case ParserAction::param:
      if (code == ':' || code == ';') {
        addParameter(code);
      } else {
        addDigit(code);
      }
      break;
    case ParserAction::collect:
      if (_collectCount < kMaxCollect) {
        _collect[_collectCount++] = code;
      } else {
        _collectOverflow = true;
      }
      break;
    case ParserAction::escDispatch:
      if (!_collectOverflow) handler.dispatchEsc(collect(), code);
      break;
    case ParserAction::clear:
      handPrint(l);
      clearSequence();
      l.dcs = -1;
      handler.printStateReset();
      break;
    case ParserAction::dcsHook:
      // Every new DCS string replaces whatever handler an earlier, unfinished one left behind.
      _activeDcsHandler.reset();
      if (!_parameterLimitExceeded && !_collectOverflow) {
        _activeDcsHandler = handler.dispatchDcs(collect(), code, pars());
        if (_activeDcsHandler) _activeDcsHandler->hook(collect(), pars(), code);
      }
      _parameterLimitExceeded = false;
      break;
    case ParserAction::dcsPut:
      if (l.dcs < 0) l.dcs = static_cast<int64_t>(l.i);
      break;
    case ParserAction::dcsUnhook:
      if (_activeDcsHandler) {
        handDcs(l);
        // Detach before finishing, so a handler that feeds the terminal cannot re-enter itself.
        auto finished = std::move(_activeDcsHandler);
        finished->unhook();
      }
      if (code == 0x1B) l.next = ParserState::escape;
      clearSequence();
      l.print = -1;
      l.dcs = -1;
      handler.printStateReset();
      break;
  }
}

void EscapeSequenceParser::handPrint(Locals& l) {
  if (l.print < 0) return;
  const auto start = static_cast<size_t>(l.print);
  l.print = -1;
  handler.print({l.data + start, l.i - start});
}

void EscapeSequenceParser::handDcs(Locals& l) {
  if (l.dcs < 0) return;
  const auto start = static_cast<size_t>(l.dcs);
  l.dcs = -1;
  if (_activeDcsHandler && l.i > start) _activeDcsHandler->put({l.data + start, l.i - start});
}

void EscapeSequenceParser::putString(Locals& l) {
  const bool apc = l.state == ParserState::apcString;
  auto& buffer = apc ? _apc : _osc;
  const size_t limit = apc ? kMaxApcLength : kMaxOscLength;
  const size_t start = l.i;
  l.i += printableRunLength(l.data + l.i, l.size - l.i);
  const size_t length = l.i - start;
  if (_stringOverflow) return;
  if (buffer.size() + length > limit) {
    // Too long for any protocol carried in it: drop the whole string when it ends.
    _stringOverflow = true;
    std::vector<uint8_t>().swap(buffer);
    return;
  }
  buffer.insert(buffer.end(), l.data + start, l.data + l.i);
}

void EscapeSequenceParser::endString(Locals& l) {
  const uint8_t code = l.data[l.i];
  if (code != 0x18 && code != 0x1A && !_stringOverflow) dispatchString(l.state == ParserState::apcString);
  if (code == 0x1B) l.next = ParserState::escape;
  clearSequence();
  l.print = -1;
  l.dcs = -1;
  handler.printStateReset();
}

void EscapeSequenceParser::dispatchString(uint8_t apc) {
  if (apc) {
    if (_apc.empty()) return;
    handler.dispatchApc(_apc[0], std::span<const uint8_t>(_apc).subspan(1));
    return;
  }
  if (_osc.empty()) return;
  std::span<const uint8_t> all(_osc);
  const auto semicolon = std::find(all.begin(), all.end(), ';');
  const auto numberLength = static_cast<size_t>(semicolon - all.begin());
  const auto number = parseDecimal(all.first(numberLength));
  if (!number) return;
  const auto data = semicolon == all.end() ? std::span<const uint8_t>() : all.subspan(numberLength + 1);
  handler.dispatchOsc(*number, data);
}

void EscapeSequenceParser::clearSequence() {
  _osc.clear();
  _apc.clear();
  if (_osc.capacity() > 4096) std::vector<uint8_t>().swap(_osc);
  if (_apc.capacity() > 4096) std::vector<uint8_t>().swap(_apc);
  _stringOverflow = false;
  clearParameters();
}

void EscapeSequenceParser::clearParameters() {
  _collectCount = 0;
  _collectOverflow = false;
  _parsCount = 1;
  _pars[0] = 0;
  _parameterLimitExceeded = false;
}

void EscapeSequenceParser::abandonDcs() { _activeDcsHandler.reset(); }

void EscapeSequenceParser::addParameter(uint8_t separator) {
  if (_parameterLimitExceeded || _parsCount >= static_cast<size_t>(kMaxParameters)) {
    _parameterLimitExceeded = true;
    return;
  }
  _parsTxt[_parsCount - 1] = separator;
  _pars[_parsCount++] = 0;
}

void EscapeSequenceParser::addDigit(uint8_t digit) {
  if (_parameterLimitExceeded) return;
  int& last = _pars[_parsCount - 1];
  const int d = digit - '0';
  last = last > (kMaxParameterValue - d) / 10 ? kMaxParameterValue : last * 10 + d;
}

void EscapeSequenceParser::reset() {
  currentState = initialState;
  clearSequence();
  _activeDcsHandler.reset();
  handler.printStateReset();
}

std::optional<int64_t> EscapeSequenceParser::parseDecimal(std::span<const uint8_t> text) {
  if (text.empty()) return std::nullopt;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  for (uint8_t c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const int d = c - '0';
    if (value > (kMax - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  return value;
}

}  // namespace vantrelle
