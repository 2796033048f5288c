#pragma once
// One slice of an inline image, one text row high, attached to a buffer line.
#include <cairomm/surface.h>

#include <cstdint>
#include <optional>

#include "Vantrelle/Graphics/KittyGraphicsState.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

class TerminalView::AppleImage : public KittyPlacementImage {
 public:
  AppleImage(Cairo::RefPtr<Cairo::ImageSurface> image, int pixelWidth, int pixelHeight, int col)
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
  std::vector<TerminalView::AppleImage*> below;
  std::vector<TerminalView::AppleImage*> above;
  std::vector<TerminalView::AppleImage*> other;
};
SplitImages splitImages(const std::optional<TerminalImageList>& images);
// Paints one slice in the row whose top is `top`.
void drawImage(const TerminalView::AppleImage& image, cairo_t* context, double top, double scale, bool kittyOffsets,
               double cellWidth);

}  // namespace vantrelle
