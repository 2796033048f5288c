#pragma once
// Pixel-exact geometry of block elements (U+2580-U+259F), box drawing (U+2500-U+257F) and the
// solid powerline symbols, so that neighbouring cells join without gaps whatever the font.
// Shared by the Cairo drawing path and the GPU renderer's custom glyphs.
#include <cairo.h>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "Vantrelle/Render/ViewColor.h"
#include "Vantrelle/Render/ViewGeometry.h"

namespace vantrelle {

enum class BlockAlpha { full, dark, medium, light };
constexpr double rawValue(BlockAlpha alpha) {
  switch (alpha) {
    case BlockAlpha::full:
      return 1.0;
    case BlockAlpha::dark:
      return 0.75;
    case BlockAlpha::medium:
      return 0.5;
    case BlockAlpha::light:
      return 0.25;
  }
  return 1.0;
}
// Exactly 1.0, 0.75, 0.5 and 0.25 name a case.
std::optional<BlockAlpha> blockAlpha(double rawValue);

// A rectangle in eighths of the cell: x from the left edge, y from the top edge, 0...8.
struct BlockElementRect {
  uint8_t x0, x1, y0, y1;
  BlockAlpha alpha = BlockAlpha::full;
  bool operator==(const BlockElementRect&) const = default;
};

struct BlockElementMapping {
  static const std::unordered_map<uint32_t, std::vector<BlockElementRect>>& mapping();
  static const std::vector<BlockElementRect>* rects(uint32_t codePoint);
};

struct BlockElementRenderItem {
  int column = 0;
  int columnWidth = 1;
  uint32_t codePoint = 0;
  std::vector<BlockElementRect> rects;
  ViewColor foregroundColor;
};

struct BoxDrawingRenderItem {
  int column = 0;
  int columnWidth = 1;
  uint32_t codePoint = 0;
  ViewColor foregroundColor;
};

using PowerlineRenderItem = BoxDrawingRenderItem;

// The drawing target of one box-drawing cell. Pixel coordinates run from the cell's top-left
// corner, in whole device pixels; they become points only when a rectangle is filled.
struct BoxDrawingCanvas {
  cairo_t* context;
  ViewPoint origin;  // the cell's top-left corner in points
  int widthPx;
  int heightPx;
  double scale;
  ViewSize cellSize;
  int minThicknessPx;

  // Fills the pixel rectangle [x0, x1) x [y0, y1), clamped to the cell.
  void box(int x0, int y0, int x1, int y1) const;
};

void hline(const BoxDrawingCanvas& canvas, int x1, int x2, int y, int thicknessPx);
void vline(const BoxDrawingCanvas& canvas, int y1, int y2, int x, int thicknessPx);

// The kinds of the four arms of a box-drawing character, one per byte from the lowest: up,
// right, down, left; each 0 none, 1 light, 2 heavy, 3 double.
using Lines = uint32_t;
enum LineKind : uint8_t { kNone = 0, kLight = 1, kHeavy = 2, kDouble = 3 };
constexpr Lines makeLines(uint8_t up, uint8_t right, uint8_t down, uint8_t left) {
  return Lines(up) | Lines(right) << 8 | Lines(down) << 16 | Lines(left) << 24;
}

// 0 joins up and left, 1 up and right, 2 down and left, 3 down and right.
using Corner = int;

struct BoxDrawingRenderer {
  // Draws one character into the cell at `cellOrigin` (top-left, points); code points outside
  // U+2500-U+257F draw nothing. The colour is set as the context's source.
  static void draw(uint32_t codePoint, cairo_t* context, ViewPoint cellOrigin, ViewSize cellSize, double scale,
                   const ViewColor& color, int baseThicknessPx);

  // The arms of the straight-line characters, or none for the others.
  static std::optional<Lines> linesFor(uint32_t codePoint);
  static void linesChar(Lines lines, const BoxDrawingCanvas& canvas, int baseThicknessPx);
  static void dashHorizontal(int count, int thicknessPx, int desiredGapPx, const BoxDrawingCanvas& canvas,
                             int baseThicknessPx);
  static void dashVertical(int count, int thicknessPx, int desiredGapPx, const BoxDrawingCanvas& canvas,
                           int baseThicknessPx);
  static void arc(Corner corner, int thicknessPx, const BoxDrawingCanvas& canvas);
  static void lightDiagonalUpperRightToLowerLeft(int thicknessPx, const BoxDrawingCanvas& canvas);
  static void lightDiagonalUpperLeftToLowerRight(int thicknessPx, const BoxDrawingCanvas& canvas);
};

}  // namespace vantrelle
