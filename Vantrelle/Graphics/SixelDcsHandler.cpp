#include "Vantrelle/Graphics/SixelDcsHandler.h"

#include <algorithm>
#include <utility>

#include "Vantrelle/Graphics/SixelDecoder.h"

namespace vantrelle {

SixelDcsHandler::SixelDcsHandler(std::vector<uint32_t> defaultPalette, ImageSink sink)
    : defaultPalette(std::move(defaultPalette)), sink(std::move(sink)) {}

// The aspect ratio, background select and grid size parameters change nothing: undrawn pixels
// are always transparent and one sixel is one pixel.
void SixelDcsHandler::hook(std::span<const uint8_t>, std::span<const int>, uint8_t) { data.clear(); }

void SixelDcsHandler::put(std::span<const uint8_t> chunk) {
  const size_t room = maxBodyBytes - std::min(data.size(), maxBodyBytes);
  const size_t taken = std::min(room, chunk.size());
  data.insert(data.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(taken));
}

void SixelDcsHandler::unhook() {
  SixelDecoder decoder(defaultPalette);
  SixelBitmap image = decoder.decode(data);
  data.clear();
  data.shrink_to_fit();
  if (sink) {
    sink(image.pixels, image.width, image.height);
  }
}

}  // namespace vantrelle
