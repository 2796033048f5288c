#pragma once
// libpng's simplified reader: it reports errors through the image record instead of longjmp, so
// no C++ frame is ever skipped. The destructor frees whatever the reader still holds.
#include <png.h>

#include <cstdint>
#include <cstring>
#include <span>

namespace vantrelle {

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

}  // namespace vantrelle
