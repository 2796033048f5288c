#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "Vantrelle/Buffer/Attribute.h"

namespace vantrelle {

// The character that stands for one cell of an image shown through text.
inline constexpr char32_t kKittyPlaceholderCharacter = 0x10EEEE;

// The row/column diacritics: combining marks whose position in the published list gives an image
// cell's row, column or the image id's high byte.
struct KittyPlaceholder {
  static constexpr int diacriticCount = 297;
  // Scalar to its 0-based position in the list; built once, shared afterwards.
  static const std::unordered_map<uint32_t, int>& diacriticIndex();
};

// One decoded placeholder cell.
struct KittyPlaceholderCell {
  int row = 0;
  int col = 0;
  uint32_t imageId = 0;
  uint32_t placementId = 0;
  int placeholderRow = 0;
  int placeholderCol = 0;
  int msb = 0;

  bool operator==(const KittyPlaceholderCell&) const = default;
};

struct KittyPlaceholderDecoder {
  // Decodes one cell's character (its scalars in order). A placeholder without all three
  // diacritics continues the previous placeholder cell of the same row when that cell sits just
  // to the left in the same colours.
  static std::optional<KittyPlaceholderCell> decode(std::u32string_view character, const Attribute& attribute, int row,
                                                    int col, const std::optional<KittyPlaceholderCell>& previous,
                                                    const std::optional<Attribute>& previousAttribute);
};

}  // namespace vantrelle
