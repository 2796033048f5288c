#pragma once

#include <cstdint>
#include <span>

namespace vantrelle {

// The fifteen states of the VT500-series machine; the raw values live in the transition table.
enum class ParserState : uint8_t {
  ground = 0,
  escape = 1,
  escapeIntermediate = 2,
  csiEntry = 3,
  csiParam = 4,
  csiIntermediate = 5,
  csiIgnore = 6,
  sosPmApcString = 7,
  oscString = 8,
  apcString = 9,
  dcsEntry = 10,
  dcsParam = 11,
  dcsIgnore = 12,
  dcsIntermediate = 13,
  dcsPassthrough = 14,
};

// Stored in the high nibble of a table entry.
enum class ParserAction : uint8_t {
  ignore = 0,
  error = 1,
  print = 2,
  execute = 3,
  oscStart = 4,
  oscPut = 5,
  oscEnd = 6,
  csiDispatch = 7,
  param = 8,
  collect = 9,
  escDispatch = 10,
  clear = 11,
  dcsHook = 12,
  dcsPut = 13,
  dcsUnhook = 14,
};

// What the error handler sees of the machine when a byte fits no transition. The views point into
// the parser and the caller's chunk and are valid only during the call.
struct ParsingState {
  int64_t position = 0;
  uint8_t code = 0;
  ParserState currentState = ParserState::ground;
  int64_t print = -1;
  int64_t dcs = -1;
  std::span<const uint8_t> osc;
  std::span<const uint8_t> apc;
  std::span<const uint8_t> collect;
  std::span<const int> parameters;  // always empty
  bool abort = false;
};

const char* parserStateName(ParserState state);

}  // namespace vantrelle
