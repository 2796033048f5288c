#pragma once
// The four solid powerline symbols: their shape and the one-pixel strip that hides the seam
// between the flat side of the shape and the neighbouring cell.
#include <cstdint>
#include <optional>

#include "Vantrelle/GPU/DrawGeometry.h"

namespace vantrelle {

struct PowerlineRenderer {
  struct Glyph {
    bool pointsRight = false;
    bool rounded = false;
    bool operator==(const Glyph&) const = default;
  };
  static std::optional<Glyph> glyph(uint32_t codePoint);
  // `transformedCellRect` is the cell in device pixels after the row's render-mode transform.
  static std::optional<PixelRect> devicePixelJoinRect(uint32_t codePoint, PixelRect transformedCellRect);
};

}  // namespace vantrelle
