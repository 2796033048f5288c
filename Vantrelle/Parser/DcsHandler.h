#pragma once

#include <cstdint>
#include <span>

namespace vantrelle {

// Receives the body of one DCS string (Sixel, setting queries). The parser owns the active
// handler and never buffers its data: each run is handed over as a view of the fed chunk.
class DcsHandler {
 public:
  virtual ~DcsHandler() = default;
  // The introducer is complete; `flag` is its final byte.
  virtual void hook(std::span<const uint8_t> collect, std::span<const int> parameters, uint8_t flag) = 0;
  // A run of data bytes, in order; called any number of times.
  virtual void put(std::span<const uint8_t> data) = 0;
  // The string ended normally; the handler finishes its work.
  virtual void unhook() = 0;
};

}  // namespace vantrelle
