#pragma once

#include <any>
#include <cstdint>
#include <optional>
#include <unordered_map>

namespace vantrelle {

// A 16-bit handle to a value in one process-wide table, so a cell can carry a payload (such as a
// hyperlink) without holding a reference: copying and filling cells never touches ownership.
struct TinyAtom {
  uint16_t code = 0;

  // The last code handed out, and how far payload collection has looked. Once every code has
  // been handed out, codes whose values were released are handed out again, starting after
  // `lastReused`.
  static inline int lastUsed = 0;
  static inline int lastCollected = 0;
  static inline int lastReused = 0;
  static constexpr int maxCode = 0xfffe;

  static std::unordered_map<uint16_t, std::any>& map();

  // Registers the value under a code no value holds; nothing while every code holds one. Never
  // compares values, so equal values get distinct atoms.
  static std::optional<TinyAtom> lookup(std::any value);
  static void release(uint16_t code);
  // Whether `lookup` would find no code, without handing it a value to drop.
  static bool exhausted();

  const std::any* target() const;

  bool operator==(const TinyAtom&) const = default;
};

}  // namespace vantrelle
