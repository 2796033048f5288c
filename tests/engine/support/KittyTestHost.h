#pragma once

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Terminal/TerminalDelegate.h"

// A host that does what the terminal view does when an image is placed, with a plain image type:
// it cuts the image into one cell per line from the cursor and records placements that carry a
// placement id. Replies are collected as bytes.
namespace kittytest {

class TestImage : public vantrelle::KittyPlacementImage {
 public:
  TestImage(int width, int height, int col) : width_(width), height_(height), col_(col) {}
  int pixelWidth() const override { return width_; }
  int pixelHeight() const override { return height_; }
  int col() const override { return col_; }
  void setCol(int col) override { col_ = col; }

 private:
  int width_, height_, col_;
};

class TestHost : public vantrelle::TerminalDelegate {
 public:
  std::string sent;
  std::optional<vantrelle::CellSize> cellSize;
  int imagesCreated = 0;

  void send(vantrelle::Terminal&, std::span<const uint8_t> data) override { sent.append(data.begin(), data.end()); }
  std::optional<vantrelle::CellSize> cellSizeInPixels(vantrelle::Terminal&) override { return cellSize; }

  void createImageFromBitmap(vantrelle::Terminal& terminal, std::vector<uint8_t>&, int width, int height) override {
    insert(terminal, width, height);
  }
  void createImage(vantrelle::Terminal& terminal, std::span<const uint8_t> data, vantrelle::ImageSizeRequest,
                   vantrelle::ImageSizeRequest, bool) override {
    auto size = vantrelle::kittyPngPixelSize(data);
    if (size) insert(terminal, size->width, size->height);
  }

 private:
  static int64_t cellsFor(const vantrelle::ImageSizeRequest& request, int pixels, int64_t cell) {
    if (request.kind == vantrelle::ImageSizeRequest::Kind::cells) return request.value;
    return std::max<int64_t>(1, int64_t(std::ceil(double(pixels) / double(cell))));
  }

  void insert(vantrelle::Terminal& terminal, int width, int height) {
    ++imagesCreated;
    if (!terminal.kittyPlacementContext) return;
    const auto& context = *terminal.kittyPlacementContext;
    vantrelle::Buffer& buffer = *terminal.buffer;
    vantrelle::CellSize cell = cellSize.value_or(vantrelle::CellSize{10, 20});
    int64_t cols = cellsFor(context.widthRequest, width, cell.width);
    int64_t rows = std::min<int64_t>(cellsFor(context.heightRequest, height, cell.height), 1000);
    int64_t top = int64_t(buffer.y) + buffer.yBase;
    for (int64_t i = 0; i < rows; ++i) {
      auto image = std::make_shared<TestImage>(width, height, buffer.x);
      image->kittyIsKitty = true;
      image->kittyImageId = context.imageId;
      image->kittyImageNumber = context.imageNumber;
      image->kittyPlacementId = context.placementId;
      image->kittyZIndex = context.zIndex;
      image->kittyCol = buffer.x;
      image->kittyRow = top;
      image->kittyCols = cols;
      image->kittyRows = rows;
      image->kittyPixelOffsetX = context.pixelOffsetX;
      image->kittyPixelOffsetY = context.pixelOffsetY;
      vantrelle::attachImage(terminal, buffer, image, int(top + i));
    }
    vantrelle::recordKittyPlacement(terminal, context, buffer.x, top, cols, rows);
  }
};

}  // namespace kittytest
