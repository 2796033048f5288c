#pragma once

#include <cstdint>
#include <string_view>

namespace vantrelle {

// Questions the print path asks about a scalar that may join the cell printed before it.
namespace grapheme {

// A grapheme cluster keeps at most this many scalars; the rest of an endless run of marks is
// dropped, so printing stays linear in its input.
inline constexpr size_t kMaxClusterScalars = 32;

constexpr bool isRegionalIndicator(char32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }
constexpr bool isVariationSelector(char32_t c) {
  return (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF);
}
constexpr bool isZeroWidthJoiner(char32_t c) { return c == 0x200D; }
constexpr bool isEmojiModifier(char32_t c) { return c >= 0x1F3FB && c <= 0x1F3FF; }

bool hasCombiningClass(char32_t c);
// Whether U+FE0E or U+FE0F may change how this scalar is presented.
bool isVariationSelectorBase(char32_t c);

// Whether `cluster` (one extended grapheme cluster) followed by `next` is still one cluster,
// by the boundary rules of Unicode Standard Annex 29.
bool extendsCluster(std::u32string_view cluster, char32_t next);

}  // namespace grapheme
}  // namespace vantrelle
