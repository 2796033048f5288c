#pragma once
// One buffer row cut into drawable pieces: segments of equal cell width, runs of equal rendition
// inside them, and side lists of cells drawn as shapes or images rather than as font glyphs.
// Shared by the Cairo drawing path and the GPU renderer.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Vantrelle/Buffer/Attribute.h"
#include "Vantrelle/Buffer/BufferLine.h"
#include "Vantrelle/Buffer/Color.h"
#include "Vantrelle/Buffer/Position.h"
#include "Vantrelle/Buffer/TerminalImage.h"
#include "Vantrelle/Graphics/KittyPlaceholder.h"
#include "Vantrelle/Render/BoxDrawing.h"
#include "Vantrelle/Render/ViewColor.h"

namespace vantrelle {

class Terminal;

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

// Run attributes kept by rendition in a fixed number of slots, each rendition in the slot its
// hash picks and a later one taking the slot over: a lookup allocates nothing, and output that
// gives every cell a rendition of its own overwrites slots rather than filling and emptying a map
// on every frame. The slots are made on the first store.
class RunCache {
 public:
  static constexpr size_t slotCount = 512;
  const RunAttributes* find(const Attribute& attribute) const;
  const RunAttributes& store(const Attribute& attribute, const RunAttributes& attributes);
  // The renditions held.
  size_t size() const { return held; }
  bool empty() const { return held == 0; }
  void clear();

 private:
  struct Slot {
    Attribute key = Attribute::empty;
    bool used = false;
    RunAttributes value;
  };
  static size_t slotOf(const Attribute& attribute);
  std::vector<Slot> slots;
  size_t held = 0;
};

// Renditions into run attributes in the view's colours: the palette (resolved once per index),
// the default colours and whether bold text takes the bright colours.
class RunStyle {
 public:
  ViewColor mapColor(Attribute::Color color, bool isFg, bool isBold, bool brightColors);
  // Cached, except for true colours; `withUrl` adds the underline of a highlighted link. The
  // reference holds until the next call.
  const RunAttributes& attributes(const Attribute& attribute, bool withUrl);
  // The rendition's faces and lines drawn in the given colours (the caret's character).
  RunAttributes attributedValue(const Attribute& attribute, const ViewColor& usingFg, const ViewColor& andBg);
  // Forgets the run attributes made so far (colours or options changed).
  void clearRuns();

  // The terminal's 256 colours; unset or short, the missing ones are the default foreground.
  const std::vector<Color>* palette = nullptr;
  ViewColor foreground = ViewColor::black();
  ViewColor background = ViewColor::white();
  bool useBrightColors = true;
  std::array<std::optional<ViewColor>, 256> colors{};
  // A program may use any number of renditions; the caches never hold more than this many.
  static constexpr size_t attributeCacheLimit = RunCache::slotCount;
  RunCache runs;
  RunCache urlRuns;

 private:
  RunAttributes make(const Attribute& attribute, bool withUrl);
  // The last run attributes made without the cache.
  RunAttributes made;
};

enum class LinkHighlightMode { hover, hoverWithModifier, always, alwaysWithModifier };

// Per buffer row, the columns of the link under the pointer.
struct LinkRowRange {
  int row = 0;
  int lower = 0;
  int upper = 0;
  bool operator==(const LinkRowRange&) const = default;
};

// Everything the cutting of a row reads besides the row: the terminal for the characters behind
// codes, the colours, the selection, the highlighted links and the view's choices.
struct RowAnalysis {
  const Terminal* terminal = nullptr;
  RunStyle* style = nullptr;
  std::optional<SelectionRange> selection;
  int terminalCols = 0;
  LinkHighlightMode linkHighlightMode = LinkHighlightMode::hoverWithModifier;
  std::optional<std::vector<LinkRowRange>> linkRanges;
  // The link modifier is held.
  bool commandActive = false;
  bool customBlockGlyphs = true;
  ViewColor selectedBackground;
  ViewColor selectedForeground;
  // Runs of rows cut before and no longer needed, whose storage new runs take over rather than
  // allocating their own: a row that changes rendition at every cell has a run per cell.
  std::vector<AttributedPiece>* spareRuns = nullptr;

  ViewLineInfo cut(int row, const BufferLine& line, int cols) const;
  // Whether a cell's character begins with the image placeholder, without building its text.
  bool startsWithPlaceholder(const CharData& cell) const;
};

}  // namespace vantrelle
