// The order of a row's image slices, and the PNG and RGBA decoders.
#include "Vantrelle/Render/InlineImage.h"

#include <png.h>

#include <algorithm>
#include <cstring>

namespace vantrelle {

namespace {

bool kittyBefore(const InlineImageSlice* a, const InlineImageSlice* b) {
  if (a->kittyZIndex != b->kittyZIndex) return a->kittyZIndex < b->kittyZIndex;
  return a->kittyImageId.value_or(0) < b->kittyImageId.value_or(0);
}

}  // namespace

SplitImages splitImages(const std::optional<TerminalImageList>& images) {
  SplitImages split;
  if (!images) return split;
  for (const auto& image : *images) {
    auto* slice = dynamic_cast<InlineImageSlice*>(image.get());
    if (!slice) continue;
    if (!slice->kittyIsKitty) {
      split.other.push_back(slice);
    } else if (slice->kittyZIndex < 0) {
      split.below.push_back(slice);
    } else {
      split.above.push_back(slice);
    }
  }
  std::stable_sort(split.below.begin(), split.below.end(), kittyBefore);
  std::stable_sort(split.above.begin(), split.above.end(), kittyBefore);
  return split;
}

ViewRect slicePlacement(const InlineImageSlice& slice, ViewSize cell, double backingScale, bool kittyOffsets) {
  double factor = slice.height > 0 && cell.height > 0 ? cell.height / slice.height : 1.0;
  ViewRect rect{cell.width * slice.column, 0, slice.width * factor, slice.height * factor};
  if (kittyOffsets && slice.kittyIsKitty && backingScale > 0) {
    rect.x += double(slice.kittyPixelOffsetX) / backingScale * factor;
    rect.y += double(slice.kittyPixelOffsetY) / backingScale * factor;
  }
  return rect;
}

Cairo::RefPtr<Cairo::ImageSurface> imageFromRGBA(std::span<const uint8_t> bytes, int width, int height) {
  if (width <= 0 || height <= 0 || width > kMaximumImageSide || height > kMaximumImageSide) return {};
  if (double(width) * height > kMaximumImagePixels) return {};
  if (bytes.size() < size_t(width) * size_t(height) * 4) return {};
  auto surface = Cairo::ImageSurface::create(Cairo::Surface::Format::ARGB32, width, height);
  surface->flush();
  unsigned char* data = surface->get_data();
  int stride = surface->get_stride();
  for (int y = 0; y < height; y++) {
    auto* out = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
    const uint8_t* in = bytes.data() + size_t(y) * width * 4;
    for (int x = 0; x < width; x++, in += 4) {
      uint32_t a = in[3];
      auto pre = [a](uint32_t c) { return (c * a + 127) / 255; };
      out[x] = a << 24 | pre(in[0]) << 16 | pre(in[1]) << 8 | pre(in[2]);
    }
  }
  surface->mark_dirty();
  return surface;
}

Cairo::RefPtr<Cairo::ImageSurface> imageFromPNG(std::span<const uint8_t> data) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) return {};
  if (image.width > unsigned(kMaximumImageSide) || image.height > unsigned(kMaximumImageSide) || image.width == 0 ||
      image.height == 0 || double(image.width) * image.height > kMaximumImagePixels) {
    png_image_free(&image);
    return {};
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  return imageFromRGBA(pixels, int(image.width), int(image.height));
}

}  // namespace vantrelle
