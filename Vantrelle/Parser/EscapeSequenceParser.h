#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "Vantrelle/Parser/DcsHandler.h"
#include "Vantrelle/Parser/ParserHandler.h"
#include "Vantrelle/Parser/ParserState.h"
#include "Vantrelle/Parser/TransitionTable.h"

namespace vantrelle {

// Splits a byte stream into printable runs and control functions (the VT500-series machine).
// State survives between calls of `parse`, so a sequence may be split anywhere. Every buffer is
// bounded: a program cannot make the parser grow without limit.
class EscapeSequenceParser {
 public:
  static constexpr int kMaxParameters = 24;
  static constexpr int kMaxParameterValue = 65535;
  // Intermediates and private prefixes: no protocol uses more than a few.
  static constexpr size_t kMaxCollect = 8;
  // OSC strings carry inline images and clipboard contents, APC strings Kitty graphics chunks.
  // A longer string is dropped whole when it ends.
  static constexpr size_t kMaxOscLength = 8u << 20;
  static constexpr size_t kMaxApcLength = 8u << 20;

  explicit EscapeSequenceParser(ParserHandler& handler);

  void parse(std::span<const uint8_t> data);
  // The same as `parse` for a handler whose type is known where this is instantiated (see
  // QuickParse.h), so that text, controls in text and complete control sequences reach it
  // without a virtual call. `handler` must be the parser's own handler.
  template <typename Handler>
  void parseWith(Handler& handler, std::span<const uint8_t> data);
  void reset();

  ParserState initialState = ParserState::ground;
  ParserState currentState = ParserState::ground;

  // The string being received, for diagnostics and tests.
  std::span<const uint8_t> osc() const { return _osc; }
  std::span<const uint8_t> apc() const { return _apc; }
  bool parameterLimitExceeded() const { return _parameterLimitExceeded; }
  DcsHandler* activeDcsHandler() const { return _activeDcsHandler.get(); }

  // Decimal number of an OSC string: nothing for an empty field, a non-digit or an overflow.
  static std::optional<int64_t> parseDecimal(std::span<const uint8_t> text);

 private:
  struct Locals;
  // How far the machine went: the bytes taken, the state reached, and whether the error handler
  // stopped the parse.
  struct MachineRun {
    size_t taken;
    ParserState state;
    bool aborted;
  };

  template <bool untilGround>
  MachineRun runMachine(std::span<const uint8_t> data, ParserState state);
  // Runs the machine from `state` until it is back in the ground state or the data ends.
  MachineRun runToGround(std::span<const uint8_t> data, ParserState state);
  // The parameters of a control sequence of a plain form, complete in the data, taken as the
  // machine would take them: the bytes after ESC [ taken, up to its final byte, or 0.
  size_t takeCursorPosition(uint64_t word);
  size_t takePlainCsi(const uint8_t* start, const uint8_t* end);
  static constexpr ptrdiff_t kRoomyCsi = kMaxParameters + 8;
  const uint8_t* takeRoomyFields(const uint8_t* p);
  // Dispatches the sequence whose parameters were taken so, ending in `final`.
  template <typename Handler>
  void dispatchTakenCsi(Handler& handler, uint8_t final);
  void doAction(ParserAction action, Locals& l);
  void beginCsi(Locals& l);
  void scanCsiParameters(Locals& l);
  // Reads the digits at `p` on into `value` and returns where they end. Values saturate, so a
  // run of digits can never overflow.
  static const uint8_t* takeDigits(const uint8_t* p, const uint8_t* end, int& value) {
    for (unsigned digit; p < end && (digit = *p - unsigned('0')) <= 9;) {
      value = value * 10 + static_cast<int>(digit);
      ++p;
      if (value > kMaxParameterValue) {
        value = kMaxParameterValue;
        while (p < end && *p - unsigned('0') <= 9) ++p;
      }
    }
    return p;
  }
  void dispatchCsiSequence(uint8_t final);
  void handPrint(Locals& l);
  void handDcs(Locals& l);
  void clearSequence();
  void clearParameters();
  void endString(Locals& l);
  void dispatchString(uint8_t terminator);
  void putString(Locals& l);
  void abandonDcs();
  void addParameter(uint8_t separator);
  void addDigit(uint8_t digit);
  std::span<const int> pars() const { return {_pars.data(), _parsCount}; }
  std::span<const uint8_t> collect() const { return {_collect.data(), _collectCount}; }
  std::span<const uint8_t> parsTxt() const { return {_parsTxt.data(), _parsCount - 1}; }

  ParserHandler& handler;
  const TransitionTable& table;
  std::unique_ptr<DcsHandler> _activeDcsHandler;

  std::vector<uint8_t> _osc;
  std::vector<uint8_t> _apc;
  bool _stringOverflow = false;
  std::array<int, kMaxParameters> _pars{};
  size_t _parsCount = 1;
  std::array<uint8_t, kMaxParameters> _parsTxt{};
  std::array<uint8_t, kMaxCollect> _collect{};
  size_t _collectCount = 0;
  bool _collectOverflow = false;
  bool _parameterLimitExceeded = false;
  // How many more quickly parsed sequences of another form are read as cursor positions first:
  // renewed by every cursor position, so a program repainting runs keeps the quick form while one
  // that sends only other sequences soon stops looking for it.
  static constexpr uint8_t kCursorPositionMemory = 8;
  uint8_t recentCursorPositions = 0;
};

}  // namespace vantrelle
