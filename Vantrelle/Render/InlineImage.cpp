// The order of a row's image slices, and the PNG and RGBA decoders.
#include "Vantrelle/Render/InlineImage.h"

#include <algorithm>

#include "Vantrelle/Graphics/PngReader.h"

namespace vantrelle {

namespace {

bool kittyBefore(const InlineImageSlice* a, const InlineImageSlice* b) {
  if (a->kittyZIndex != b->kittyZIndex) return a->kittyZIndex < b->kittyZIndex;
  return a->kittyImageId.value_or(0) < b->kittyImageId.value_or(0);
}

}  // namespace

SplitImages splitImages(const std::optional<TerminalImageList>& images) {
  return images ? splitImages(*images) : SplitImages{};
}

SplitImages splitImages(const TerminalImageList& images) {
  SplitImages split;
  for (const auto& image : images) {
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

SplitImages hangingSlices(const TerminalImageList& images) {
  SplitImages split = splitImages(images);
  auto keepHanging = [](std::vector<InlineImageSlice*>& list) {
    std::erase_if(list, [](const InlineImageSlice* slice) { return slice->kittyPixelOffsetY <= 0; });
  };
  keepHanging(split.below);
  keepHanging(split.above);
  split.other.clear();
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

namespace {

uint8_t alphaAt(const Cairo::RefPtr<Cairo::ImageSurface>& surface, int x, int y) {
  auto* row = reinterpret_cast<const uint32_t*>(surface->get_data() + size_t(y) * size_t(surface->get_stride()));
  return uint8_t(row[x] >> 24);
}

bool fullyOpaque(const Cairo::RefPtr<Cairo::ImageSurface>& surface) {
  for (int y = 0; y < surface->get_height(); y++) {
    for (int x = 0; x < surface->get_width(); x++) {
      if (alphaAt(surface, x, y) != 0xff) return false;
    }
  }
  return true;
}

}  // namespace

namespace {

// Two Kitty placements without a placement id that share the image, layer, place, size and
// offsets: no command tells them apart, since every selector takes both or neither. Slices of one
// line start on the same row when they show the same row of their placements: the row each was
// placed at is counted as the ring stood then, and a full ring has moved the older one since.
bool sameKeylessPlacement(const InlineImageSlice& a, const InlineImageSlice& b) {
  return !a.kittyPlacementId && !b.kittyPlacementId && a.kittyImageId && a.kittyImageId == b.kittyImageId &&
         a.kittyImageNumber == b.kittyImageNumber && a.kittyZIndex == b.kittyZIndex && a.kittyCol == b.kittyCol &&
         a.kittyRowInPlacement == b.kittyRowInPlacement && a.kittyCols == b.kittyCols && a.kittyRows == b.kittyRows &&
         a.kittyPixelOffsetX == b.kittyPixelOffsetX && a.kittyPixelOffsetY == b.kittyPixelOffsetY;
}

}  // namespace

bool hidesSlice(const InlineImageSlice& newer, const InlineImageSlice& older, double cellWidth) {
  if (!newer.image || !older.image) return false;
  if (newer.kittyIsKitty || older.kittyIsKitty) {
    if (!newer.kittyIsKitty || !older.kittyIsKitty || !sameKeylessPlacement(newer, older)) return false;
  }
  if (newer.height != older.height) return false;
  newer.image->flush();
  older.image->flush();
  const int w = newer.image->get_width(), h = newer.image->get_height();
  // The same place and size: each pixel the older one shows must be under an opaque one.
  if (newer.column == older.column && newer.width == older.width && w == older.image->get_width() &&
      h == older.image->get_height()) {
    for (int y = 0; y < h; y++) {
      for (int x = 0; x < w; x++) {
        if (alphaAt(older.image, x, y) != 0 && alphaAt(newer.image, x, y) != 0xff) return false;
      }
    }
    return true;
  }
  // Elsewhere in the row: an opaque slice hides what lies wholly within it.
  double newerLeft = cellWidth * newer.column, olderLeft = cellWidth * older.column;
  return newerLeft <= olderLeft && newerLeft + newer.width >= olderLeft + older.width && fullyOpaque(newer.image);
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
  PngReader reader;
  if (!reader.begin(data)) return {};
  png_image& image = reader.image;
  if (image.width > unsigned(kMaximumImageSide) || image.height > unsigned(kMaximumImageSide) || image.width == 0 ||
      image.height == 0 || double(image.width) * image.height > kMaximumImagePixels)
    return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return imageFromRGBA(pixels, int(image.width), int(image.height));
}

}  // namespace vantrelle
