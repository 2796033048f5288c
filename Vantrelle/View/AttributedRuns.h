#pragma once
// One buffer row cut into drawable pieces: segments of equal cell width, runs of equal rendition
// inside them, and side lists of cells drawn as shapes or images rather than as font glyphs.
// Shared by the Cairo drawing path and the GPU renderer.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Buffer/Position.h"
#include "Vantrelle/Buffer/TerminalImage.h"
#include "Vantrelle/Graphics/KittyPlaceholder.h"
#include "Vantrelle/View/BoxDrawing.h"
#include "Vantrelle/View/ViewColor.h"

namespace vantrelle {

enum class FontFace : uint8_t { normal, bold, italic, boldItalic };

// Text attributes of a run. Optional fields are absent keys.
struct RunAttributes {
  FontFace font = FontFace::normal;
  ViewColor foreground;
  ViewColor background;
  // The platform underline value: 1 single, 9 double, 257 dotted, 513 dashed.
  std::optional<int> underlineStyle;
  std::optional<ViewColor> underlineColor;
  // The rendition's own underline style (0-5), which the drawing path prefers.
  std::optional<int> vantrelleUnderlineStyle;
  std::optional<int> strikethroughStyle;
  std::optional<ViewColor> strikethroughColor;
  std::optional<ViewColor> selectionBackgroundColor;

  bool operator==(const RunAttributes&) const = default;
};

// Text of consecutive cells with one rendition. `cellOffsets[i]` is the byte offset in `text`
// where the i-th cell's character starts, so shaped glyph clusters map back to cells.
struct AttributedPiece {
  std::string text;
  RunAttributes attributes;
  std::vector<uint32_t> cellOffsets;

  int cellCount() const { return int(cellOffsets.size()); }
};

struct ViewLineSegment {
  int column = 0;
  int columnWidth = 1;
  int characterCount = 0;
  std::vector<AttributedPiece> attributedString;
};

struct ViewLineInfo {
  std::vector<ViewLineSegment> segments;
  std::optional<TerminalImageList> images;
  std::vector<KittyPlaceholderCell> kittyPlaceholders;
  std::vector<BlockElementRenderItem> blockElements;
  std::vector<BoxDrawingRenderItem> boxDrawings;
  std::vector<PowerlineRenderItem> powerlineGlyphs;
};

// The selection as the view reads it: `start` and `end` in buffer rows, either may come first.
struct SelectionRange {
  Position start;
  Position end;
};

// The half-open columns of `row` that are selected, or none.
struct ColumnRange {
  int lower = 0;
  int upper = 0;
  bool operator==(const ColumnRange&) const = default;
};
std::optional<ColumnRange> selectedColumnsRange(const std::optional<SelectionRange>& selection, int row, int cols,
                                                int terminalCols);

// Whether a character is drawn as shape geometry when custom block glyphs are on.
bool isPowerlineGlyph(uint32_t codePoint);
bool isBoxDrawing(uint32_t codePoint);

}  // namespace vantrelle
