#pragma once

#include <cstdint>
#include <optional>

namespace vantrelle {

// The progressive-enhancement flags of the Kitty keyboard protocol. Values come from the program
// in the terminal, so everything taken from it is masked with knownMask first.
struct KittyKeyboardFlags {
  int64_t rawValue = 0;

  static constexpr int64_t disambiguate = 1;
  static constexpr int64_t reportEvents = 2;
  static constexpr int64_t reportAlternates = 4;
  static constexpr int64_t reportAllKeys = 8;
  static constexpr int64_t reportText = 16;
  static constexpr int64_t knownMask = 31;

  constexpr KittyKeyboardFlags() = default;
  constexpr explicit KittyKeyboardFlags(int64_t raw) : rawValue(raw) {}

  constexpr bool contains(int64_t member) const { return (rawValue & member) == member; }
  constexpr bool isEmpty() const { return rawValue == 0; }
  friend constexpr bool operator==(KittyKeyboardFlags, KittyKeyboardFlags) = default;
};

// Modifier bits, numbered as the protocol numbers them; a sequence carries rawValue + 1.
struct KittyKeyboardModifiers {
  int64_t rawValue = 0;

  static constexpr int64_t shift = 1;
  static constexpr int64_t alt = 2;
  static constexpr int64_t ctrl = 4;
  static constexpr int64_t super = 8;
  static constexpr int64_t hyper = 16;
  static constexpr int64_t meta = 32;
  static constexpr int64_t capsLock = 64;
  static constexpr int64_t numLock = 128;

  constexpr KittyKeyboardModifiers() = default;
  constexpr explicit KittyKeyboardModifiers(int64_t raw) : rawValue(raw) {}

  constexpr bool contains(int64_t member) const { return (rawValue & member) == member; }
  constexpr bool containsAny(int64_t members) const { return (rawValue & members) != 0; }
  constexpr bool isEmpty() const { return rawValue == 0; }
  friend constexpr bool operator==(KittyKeyboardModifiers, KittyKeyboardModifiers) = default;
};

enum class KittyKeyboardEventType : int { press = 1, repeatPress = 2, release = 3 };

// The event type for a raw protocol value, or nothing for a value the protocol does not define.
constexpr std::optional<KittyKeyboardEventType> kittyKeyboardEventType(int rawValue) {
  if (rawValue < 1 || rawValue > 3) {
    return std::nullopt;
  }
  return static_cast<KittyKeyboardEventType>(rawValue);
}

}  // namespace vantrelle
