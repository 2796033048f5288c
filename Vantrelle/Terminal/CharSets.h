#pragma once

#include <array>
#include <cstdint>

namespace vantrelle {

// A 7-bit character set: the replacement of each byte below 0x80 that the set maps (0 where the
// byte prints as itself). An empty map is plain ASCII.
struct CharsetMap {
  std::array<char32_t, 128> entries{};
  int count = 0;

  bool empty() const { return count == 0; }
  char32_t lookup(uint8_t byte) const { return byte < 128 ? entries[byte] : 0; }
  bool operator==(const CharsetMap&) const = default;
};

// The catalogue of designatable sets, keyed by the final byte of the designating ESC sequence.
class CharSets {
 public:
  // The set for a designator, or null when the catalogue has none.
  static const CharsetMap* all(uint8_t designator);
};

}  // namespace vantrelle
