#pragma once

// The host of a terminal that the benchmarks feed: what the terminal answers goes nowhere, so the
// figures are the terminal's alone.

#include <cstdint>
#include <span>

#include "Vantrelle/Terminal/Terminal.h"

class NullHost : public vantrelle::TerminalDelegate {
 public:
  void send(vantrelle::Terminal&, std::span<const uint8_t>) override {}
};
