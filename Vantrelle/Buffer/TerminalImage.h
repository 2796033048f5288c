#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace vantrelle {

// An image whose pieces are attached to buffer lines. The buffer only tracks which lines carry
// images; the graphics code and the view give them meaning.
class TerminalImage {
 public:
  virtual ~TerminalImage() = default;
  virtual int pixelWidth() const = 0;
  virtual int pixelHeight() const = 0;
  // The column where this image's piece on its line starts.
  virtual int col() const = 0;
  virtual void setCol(int col) = 0;
};

using TerminalImageList = std::vector<std::shared_ptr<TerminalImage>>;

// A platform image with the size in cells it was asked to take; the view supplies the image type,
// which the engine never looks into.
template <typename PlatformImage>
class ImageCell {
 public:
  explicit ImageCell(PlatformImage image) : image(std::move(image)) {}
  const PlatformImage image;
  std::optional<int> width;
  std::optional<int> height;
};

}  // namespace vantrelle
