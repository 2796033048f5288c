#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantrelle {

// Column widths of Unicode scalars and the UTF-8 lead-byte table of the print path.
struct UnicodeUtil {
  struct LH {
    uint32_t lo;
    uint32_t hi;
  };

  // East Asian wide and emoji-presentation ranges, sorted and disjoint.
  static const std::array<LH, 123> wide;

  // Per lead byte: the sequence length in the low nibble, and in the high nibble the range the
  // second byte must lie in (0: 80-BF, 1: A0-BF, 2: 80-9F, 3: 90-BF, 4: 80-8F). F0 marks a
  // one-byte character, F1 a byte that starts nothing.
  static const std::array<uint8_t, 256> first;

  // -1 for controls, 0 for marks and other zero-width scalars, 2 for wide ones, else 1.
  static int columnWidth(char32_t rune);
  // 1 when the scalar lies in one of the intervals up to index max, else 0.
  static int bisearch(uint32_t rune, std::span<const LH> table, int max);
  // Appends VS15 to the text of one cell when it is a lone emoji-capable scalar that defaults to
  // text, so that it is drawn as text: its cells are those of its text form, and its emoji form
  // would be drawn two columns wide. The one rule for the rows and the caret on both paths.
  static void adjustTextPresentation(std::string& text);
  static std::string textPresentationAdjusted(std::string_view text);
};

}  // namespace vantrelle
