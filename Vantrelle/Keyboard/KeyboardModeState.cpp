#include "Vantrelle/Keyboard/KeyboardModeState.h"

#include <algorithm>

namespace vantrelle {

void KeyboardModeState::push(KittyKeyboardFlags newFlags) {
  if (stack.size() >= maxStackDepth) {
    stack.erase(stack.begin());
  }
  stack.push_back(flags);
  flags = KittyKeyboardFlags(newFlags.rawValue & KittyKeyboardFlags::knownMask);
}

void KeyboardModeState::pop(int64_t count) {
  const auto wanted = static_cast<size_t>(std::max<int64_t>(count, 1));
  if (stack.size() < wanted) {
    flags = KittyKeyboardFlags();
    stack.clear();
    return;
  }
  flags = stack[stack.size() - wanted];
  stack.resize(stack.size() - wanted);
}

void KeyboardModeState::set(KittyKeyboardFlags value, int64_t mode) {
  const int64_t bits = value.rawValue & KittyKeyboardFlags::knownMask;
  switch (mode) {
    case 1:
      flags.rawValue = bits;
      break;
    case 2:
      flags.rawValue |= bits;
      break;
    case 3:
      flags.rawValue &= ~bits;
      break;
    default:
      break;
  }
}

KittyKeyboardCommandResult applyKittyKeyboardSequence(KeyboardModeState& state, std::span<const int> pars,
                                                      std::span<const uint8_t> collect) {
  if (collect.size() != 1) {
    return {};
  }
  const std::optional<int64_t> first = pars.empty() ? std::nullopt : std::optional<int64_t>(pars[0]);
  switch (collect[0]) {
    case '>':
      state.push(KittyKeyboardFlags(first.value_or(0)));
      return {true, std::nullopt};
    case '<':
      state.pop(first.value_or(1));
      return {true, std::nullopt};
    case '?':
      return {true, state.flags};
    case '=':
      state.set(KittyKeyboardFlags(first.value_or(0)), pars.size() >= 2 ? pars[1] : 1);
      return {true, std::nullopt};
    default:
      return {};
  }
}

}  // namespace vantrelle
