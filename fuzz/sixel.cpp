// Feeds arbitrary Sixel bodies to the decoder and checks the shape of every bitmap it returns.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "Vantrelle/Graphics/SixelDecoder.h"

namespace {

// A smaller cap than the terminal's keeps each run quick; the clipping paths are the same.
constexpr int fuzzMaxDimension = 1024;

const std::vector<uint32_t>& palette() {
  static const std::vector<uint32_t> colours = [] {
    std::vector<uint32_t> all;
    for (uint32_t n = 0; n < 256; ++n) {
      all.push_back(n << 24 | n << 8 | 0xFF);
    }
    return all;
  }();
  return colours;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrelle::SixelDecoder decoder(palette(), fuzzMaxDimension);
  const vantrelle::SixelBitmap image = decoder.decode(std::span<const uint8_t>(data, size));
  const bool shapeHolds =
      image.width >= 0 && image.height >= 0 && image.width <= fuzzMaxDimension && image.height <= fuzzMaxDimension &&
      image.pixels.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4;
  if (!shapeHolds) {
    std::abort();
  }
  return 0;
}
