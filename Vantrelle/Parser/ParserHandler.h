#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "Vantrelle/Parser/DcsHandler.h"
#include "Vantrelle/Parser/ParserState.h"

namespace vantrelle {

// The narrow interface through which the parser reports what it recognised. The parser knows
// nothing of screens; the terminal (and the tests' recording dispatcher) implement this.
class ParserHandler {
 public:
  virtual ~ParserHandler() = default;
  // A run of bytes of 0x20 and above met in the ground state, as a view of the fed chunk.
  virtual void print(std::span<const uint8_t> run) = 0;
  // A control sequence began or a string ended: an incomplete character held back is stale.
  virtual void printStateReset() = 0;
  virtual void dispatchExecute(uint8_t code) = 0;
  virtual void dispatchEsc(std::span<const uint8_t> collect, uint8_t code) = 0;
  // `pars` is never empty. `parsTxt` holds the separators (';' or ':') in arrival order, so that
  // separator i stands between parameter i and i + 1.
  virtual void dispatchCsi(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect,
                           std::span<const uint8_t> parsTxt) = 0;
  virtual void dispatchOsc(int64_t code, std::span<const uint8_t> data) = 0;
  virtual void dispatchApc(uint8_t command, std::span<const uint8_t> content) = 0;
  // Chooses the handler of a DCS string; none drops the string's data.
  virtual std::unique_ptr<DcsHandler> dispatchDcs(std::span<const uint8_t> collect, uint8_t code,
                                                  std::span<const int> pars) = 0;
  // A byte fit no transition. Returning a state with `abort` set stops the current parse.
  virtual ParsingState parseError(const ParsingState& state) { return state; }
};

}  // namespace vantrelle
