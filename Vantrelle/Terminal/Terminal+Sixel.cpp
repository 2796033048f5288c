// Sixel images: DCS q strings.
#include "Vantrelle/Graphics/SixelDcsHandler.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

std::unique_ptr<DcsHandler> Terminal::makeSixelHandler(std::span<const int> pars) {
  // Registers an image selects without defining take the terminal's default palette, taken
  // with the high byte of each 16-bit channel.
  std::vector<uint32_t> palette;
  palette.reserve(defaultAnsiColors.size());
  for (const Color& color : defaultAnsiColors) {
    palette.push_back(uint32_t(color.red >> 8) << 24 | uint32_t(color.green >> 8) << 16 |
                      uint32_t(color.blue >> 8) << 8 | 0xFFu);
  }
  // The parser that owns the handler belongs to this terminal, so the handler never outlives it.
  return std::make_unique<SixelDcsHandler>(std::move(palette),
                                           [this](std::vector<uint8_t>& pixels, int width, int height) {
                                             // An image starts in the column the cursor is shown in.
                                             endPendingWrap();
                                             if (tdel) tdel->createImageFromBitmap(*this, pixels, width, height);
                                           });
}

}  // namespace vantrelle
