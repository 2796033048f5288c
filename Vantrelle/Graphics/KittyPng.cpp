#include <png.h>

#include <algorithm>
#include <cstring>

#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Graphics/PngReader.h"

namespace vantrelle {
namespace {

bool dimensionsAllowed(int64_t width, int64_t height) {
  return width >= 1 && width <= kKittyMaxDimension && height >= 1 && height <= kKittyMaxDimension;
}

struct MemorySource {
  const uint8_t* data;
  size_t size;
  size_t offset;
};

void readFromMemory(png_structp png, png_bytep out, size_t length) {
  auto* source = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (length > source->size - source->offset) png_error(png, "truncated");
  std::memcpy(out, source->data + source->offset, length);
  source->offset += length;
}

[[noreturn]] void quietError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void quietWarning(png_structp, png_const_charp) {}

// Runs the whole file through the decoder one row at a time. Only plain C data lives in this
// frame, since libpng leaves it with longjmp on errors.
bool decodesRowByRow(const uint8_t* data, size_t size) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  MemorySource source{data, size, 0};
  png_bytep volatile row = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    png_free(png, row);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &source, readFromMemory);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info);
  png_uint_32 height = png_get_image_height(png, info);
  if (!dimensionsAllowed(width, height)) png_error(png, "size");
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  row = static_cast<png_bytep>(png_malloc(png, png_get_rowbytes(png, info)));
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < height; ++y) png_read_row(png, row, nullptr);
  }
  png_read_end(png, nullptr);
  png_free(png, row);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
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

bool kittyPngDecodes(std::span<const uint8_t> data) {
  if (!validateKittyPngDimensions(data)) return false;
  return decodesRowByRow(data.data(), data.size());
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
  // Left with straight alpha: a cropped file becomes an RGBA payload like one sent as pixels, and
  // the drawing code takes those straight, so premultiplying here darkened every translucent pixel.
  return pixels;
}

}  // namespace vantrelle
