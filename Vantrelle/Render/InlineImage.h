#pragma once
// One slice of an inline image, one text row high, attached to a buffer line; the order rows
// draw their slices in; and the decoders both drawing paths read image bytes with.
#include <cairomm/surface.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "Vantrelle/Buffer/TerminalImage.h"
#include "Vantrelle/Graphics/KittyGraphicsState.h"

namespace vantrelle {

// Programs choose image sizes: images past these bounds are refused rather than allocated.
constexpr int kMaximumImageSide = 10000;      // pixels or points, each side
constexpr double kMaximumImagePixels = 25e6;  // decoded pixels

class InlineImageSlice : public KittyPlacementImage {
 public:
  InlineImageSlice(Cairo::RefPtr<Cairo::ImageSurface> image, int pixelWidth, int pixelHeight, int col)
      : image(std::move(image)), width(pixelWidth), height(pixelHeight), column(col) {
    kittyIsKitty = false;
  }

  int pixelWidth() const override { return width; }
  int pixelHeight() const override { return height; }
  int col() const override { return column; }
  void setCol(int col) override { column = col; }

  Cairo::RefPtr<Cairo::ImageSurface> image;
  int width;   // points: the whole image's width
  int height;  // points: one cell
  int column;
};

// A row's images in drawing order: Kitty images below the text, above it, then the others.
struct SplitImages {
  std::vector<InlineImageSlice*> below;
  std::vector<InlineImageSlice*> above;
  std::vector<InlineImageSlice*> other;
};
SplitImages splitImages(const std::optional<TerminalImageList>& images);

// RGBA rows, 4 bytes a pixel, straight alpha, into a Cairo surface; nothing for a bad size.
Cairo::RefPtr<Cairo::ImageSurface> imageFromRGBA(std::span<const uint8_t> bytes, int width, int height);
Cairo::RefPtr<Cairo::ImageSurface> imageFromPNG(std::span<const uint8_t> data);

}  // namespace vantrelle
