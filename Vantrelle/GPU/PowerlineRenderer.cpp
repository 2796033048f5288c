#include "Vantrelle/GPU/PowerlineRenderer.h"

namespace vantrelle {

std::optional<PowerlineRenderer::Glyph> PowerlineRenderer::glyph(uint32_t codePoint) {
  switch (codePoint) {
    case 0xE0B0:
      return Glyph{true, false};
    case 0xE0B2:
      return Glyph{false, false};
    case 0xE0B4:
      return Glyph{true, true};
    case 0xE0B6:
      return Glyph{false, true};
    default:
      return std::nullopt;
  }
}

std::optional<PixelRect> PowerlineRenderer::devicePixelJoinRect(uint32_t codePoint, PixelRect cell) {
  auto shape = glyph(codePoint);
  if (!shape) return std::nullopt;
  // The strip lies under the neighbour on the flat side: left of a right-pointing shape.
  double x = shape->pointsRight ? cell.x - 1 : cell.x + cell.width;
  return PixelRect{x, cell.y, 1, cell.height};
}

}  // namespace vantrelle
