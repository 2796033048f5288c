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
#include "Vantrelle/Render/ViewGeometry.h"

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
SplitImages splitImages(const TerminalImageList& images);
// The Kitty slices of a row that its placement's vertical offset moves partly into the next row.
SplitImages hangingSlices(const TerminalImageList& images);

// Where a slice is painted, in points from the top-left corner of its row (y down). A slice is
// cut one cell high; once the cell has another height (the font changed), it is painted scaled to
// the new height, its width and offsets in proportion, so the image keeps to its rows instead of
// breaking into bands with gaps between them or overlapping.
ViewRect slicePlacement(const InlineImageSlice& slice, ViewSize cell, double backingScale, bool kittyOffsets);

// Whether `newer`, painted after `older` in the same row, leaves no pixel of it to be seen. Kitty
// cells keep the protocol's own rules for stacking and deletion: only a placement without an id
// that repeats another exactly (an image shown again in place, as animations do) is compared.
bool hidesSlice(const InlineImageSlice& newer, const InlineImageSlice& older, double cellWidth);

// RGBA rows, 4 bytes a pixel, straight alpha, into a Cairo surface; nothing for a bad size.
Cairo::RefPtr<Cairo::ImageSurface> imageFromRGBA(std::span<const uint8_t> bytes, int width, int height);
Cairo::RefPtr<Cairo::ImageSurface> imageFromPNG(std::span<const uint8_t> data);

}  // namespace vantrelle
