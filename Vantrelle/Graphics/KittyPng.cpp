#include <png.h>

#include <algorithm>
#include <cstring>

#include "Vantrelle/Graphics/KittyGraphicsPayload.h"

namespace vantrelle {
namespace {

// libpng's simplified reader: it reports errors through the image record instead of longjmp, so
// no C++ frame is ever skipped. The destructor frees whatever the reader still holds.
struct PngReader {
  png_image image;
  PngReader() {
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
  }
  ~PngReader() { png_image_free(&image); }
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  bool begin(std::span<const uint8_t> data) {
    if (data.empty()) return false;
    return png_image_begin_read_from_memory(&image, data.data(), data.size()) != 0;
  }
};

bool dimensionsAllowed(int64_t width, int64_t height) {
  return width >= 1 && width <= kKittyMaxDimension && height >= 1 && height <= kKittyMaxDimension;
}

}  // namespace

std::optional<KittyPixelSize> kittyPngPixelSize(std::span<const uint8_t> data) {
  PngReader reader;
  if (!reader.begin(data)) return std::nullopt;
  return KittyPixelSize{int(std::min<png_uint_32>(reader.image.width, INT32_MAX)),
                        int(std::min<png_uint_32>(reader.image.height, INT32_MAX))};
}

bool validateKittyPngDimensions(std::span<const uint8_t> data) {
  auto size = kittyPngPixelSize(data);
  return size && dimensionsAllowed(size->width, size->height);
}

std::optional<KittyRgbaPixels> decodePngToRgba(std::span<const uint8_t> data) {
  PngReader reader;
  if (!reader.begin(data)) return std::nullopt;
  // The size is checked before any pixel buffer exists.
  if (!dimensionsAllowed(reader.image.width, reader.image.height)) return std::nullopt;
  reader.image.format = PNG_FORMAT_RGBA;
  KittyRgbaPixels pixels;
  pixels.width = int(reader.image.width);
  pixels.height = int(reader.image.height);
  pixels.bytes.assign(size_t(pixels.width) * size_t(pixels.height) * 4, 0);
  if (!png_image_finish_read(&reader.image, nullptr, pixels.bytes.data(), 0, nullptr)) return std::nullopt;
  // Drawing code takes every RGBA bitmap as premultiplied.
  for (size_t i = 0; i < pixels.bytes.size(); i += 4) {
    unsigned alpha = pixels.bytes[i + 3];
    if (alpha == 255) continue;
    for (size_t c = 0; c < 3; ++c) pixels.bytes[i + c] = uint8_t((pixels.bytes[i + c] * alpha + 127) / 255);
  }
  return pixels;
}

}  // namespace vantrelle
