#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Vantrelle/Keyboard/KittyKeyboardFlags.h"

namespace vantrelle {

// One screen's keyboard flags and the values saved by push, oldest first. The terminal keeps one
// for the normal screen and one for the alternate screen.
struct KeyboardModeState {
  static constexpr size_t maxStackDepth = 16;

  KittyKeyboardFlags flags;
  std::vector<KittyKeyboardFlags> stack;

  // CSI > flags u: saves the current flags; the oldest saved value goes once the stack is full.
  void push(KittyKeyboardFlags newFlags);
  // CSI < count u: restores the value saved count pushes ago, or clears everything when fewer
  // were saved.
  void pop(int64_t count);
  // CSI = flags ; mode u: replace (1), add (2) or remove (3) bits; other modes change nothing.
  void set(KittyKeyboardFlags value, int64_t mode);

  friend bool operator==(const KeyboardModeState&, const KeyboardModeState&) = default;
};

// What one CSI ... u sequence asked of the keyboard state.
struct KittyKeyboardCommandResult {
  // False when the sequence is not a keyboard-flag sequence (the caller then tries others).
  bool handled = false;
  // The flags to report back, for a query.
  std::optional<KittyKeyboardFlags> report;
};

// Carries out CSI > u, CSI < u, CSI ? u and CSI = u against a state; collect holds the private
// marker and intermediate bytes of the sequence.
KittyKeyboardCommandResult applyKittyKeyboardSequence(KeyboardModeState& state, std::span<const int> pars,
                                                      std::span<const uint8_t> collect);

}  // namespace vantrelle
