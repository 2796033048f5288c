#pragma once

#include <array>
#include <cstdint>

#include "Vantrelle/Parser/ParserState.h"

namespace vantrelle {

// The byte-indexed transition table of the machine: the entry for state s and byte b sits at
// (s << 8) | min(b, 0xA0), so every byte from 0xA0 up shares one column. An entry is
// (action << 4) | next state.
class TransitionTable {
 public:
  static constexpr int kSize = 0xFFF;

  std::array<uint8_t, kSize> table{};

  uint8_t at(ParserState state, uint8_t code) const {
    return table[(static_cast<int>(state) << 8) | (code < 0xA0 ? code : 0xA0)];
  }

  // The VT500 table, built once per process on first use.
  static const TransitionTable& sharedVt500Table();
  static TransitionTable buildVt500TransitionTable();
};

}  // namespace vantrelle
