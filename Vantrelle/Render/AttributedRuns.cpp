// Cells into text attributes in the view's colours, and one buffer row into segments, runs and
// shape items.
#include "Vantrelle/Render/AttributedRuns.h"

#include <algorithm>
#include <bit>

#include "Vantrelle/Buffer/UnicodeUtil.h"
#include "Vantrelle/Graphics/KittyPlaceholder.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

bool isPaletteOrTrueColor(Attribute::Color color) {
  return color.kind() == Attribute::Color::Kind::ansi256 || color.kind() == Attribute::Color::Kind::trueColor;
}

// The platform underline value for a rendition's underline style.
int platformUnderlineValue(UnderlineStyle style) {
  switch (style) {
    case UnderlineStyle::none:
      return 0;
    case UnderlineStyle::single:
      return 1;
    case UnderlineStyle::double_:
      return 9;
    case UnderlineStyle::curly:
      return 1;
    case UnderlineStyle::dotted:
      return 257;
    case UnderlineStyle::dashed:
      return 513;
  }
  return 1;
}

FontFace faceFor(CharacterStyle style, bool forceBold) {
  bool italic = style.contains(CharacterStyle::italic);
  if (style.contains(CharacterStyle::bold) || forceBold) return italic ? FontFace::boldItalic : FontFace::bold;
  return italic ? FontFace::italic : FontFace::normal;
}

}  // namespace

bool isPowerlineGlyph(uint32_t cp) { return cp == 0xe0b0 || cp == 0xe0b2 || cp == 0xe0b4 || cp == 0xe0b6; }
bool isBoxDrawing(uint32_t cp) { return cp >= 0x2500 && cp <= 0x257f; }

std::optional<ColumnRange> selectedColumnsRange(const std::optional<SelectionRange>& selection, int row, int cols,
                                                int terminalCols) {
  if (!selection) return std::nullopt;
  const Position& start = selection->start;
  const Position& end = selection->end;
  int lastCol = terminalCols - 1;
  int lower = 0, upper = 0;
  auto extended = [&](int64_t col) { return int(col == lastCol ? col + 1 : col); };
  if (start.row == row && end.row == row) {
    if (start.col < end.col) {
      lower = int(start.col);
      upper = extended(end.col);
    } else if (end.col < start.col) {
      lower = int(end.col);
      upper = int(start.col);
    } else {
      return std::nullopt;
    }
  } else if (start.row < end.row) {
    if (row == start.row) {
      lower = int(start.col), upper = cols;
    } else if (row > start.row && row < end.row) {
      lower = 0, upper = cols;
    } else if (row == end.row) {
      lower = 0, upper = extended(end.col);
    } else {
      return std::nullopt;
    }
  } else if (start.row > end.row) {
    if (row == end.row) {
      lower = int(end.col), upper = cols;
    } else if (row > end.row && row < start.row) {
      lower = 0, upper = cols;
    } else if (row == start.row) {
      lower = 0, upper = extended(start.col);
    } else {
      return std::nullopt;
    }
  } else {
    return std::nullopt;
  }
  lower = std::max(std::min(lower, cols), 0);
  upper = std::min(upper, cols);
  if (upper <= lower) return std::nullopt;
  return ColumnRange{lower, upper};
}

ViewColor RunStyle::mapColor(Attribute::Color color, bool isFg, bool isBold, bool brightColors) {
  switch (color.kind()) {
    case Attribute::Color::Kind::ansi256: {
      int c = color.code();
      int index;
      if (brightColors) {
        index = c >= 7 ? c : (isBold ? (c | 8) : c);
      } else {
        // Only the eight bright colours fold onto their normal ones; the cube and the grey ramp
        // (16-255) have no bright form and keep their own index.
        index = c >= 8 && c < 16 ? c - 8 : c;
      }
      if (colors[index]) return *colors[index];
      ViewColor made = palette && size_t(index) < palette->size() ? ViewColor::make((*palette)[index]) : foreground;
      colors[index] = made;
      return made;
    }
    case Attribute::Color::Kind::trueColor:
      // Three divisions cost less than a lookup, and a program may use millions of colours.
      return ViewColor{color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0, 1.0};
    case Attribute::Color::Kind::defaultColor:
      return isFg ? foreground : background;
    case Attribute::Color::Kind::defaultInvertedColor:
      return isFg ? foreground.inverseColor() : background.inverseColor();
  }
  return foreground;
}

void RunStyle::clearRuns() {
  runs.clear();
  urlRuns.clear();
}

const RunAttributes& RunStyle::attributes(const Attribute& attribute, bool withUrl) {
  // True colours cost three divisions to map and may all differ: a program that paints every cell
  // in a colour of its own would fill the cache and empty it again on every frame.
  if (attribute.fg.kind() == Attribute::Color::Kind::trueColor ||
      attribute.bg.kind() == Attribute::Color::Kind::trueColor) {
    made = make(attribute, withUrl);
    return made;
  }
  auto& cache = withUrl ? urlRuns : runs;
  if (const RunAttributes* kept = cache.find(attribute)) return *kept;
  return cache.store(attribute, make(attribute, withUrl));
}

// The rendition hash keeps palette indexes and styles in its upper bits, so the slot comes from
// the top of a multiplied hash.
size_t RunCache::slotOf(const Attribute& attribute) {
  static_assert((slotCount & (slotCount - 1)) == 0);
  constexpr int slotBits = std::countr_zero(slotCount);
  return size_t((uint64_t(std::hash<Attribute>()(attribute)) * 0x9e3779b97f4a7c15ull) >> (64 - slotBits));
}

const RunAttributes* RunCache::find(const Attribute& attribute) const {
  if (slots.empty()) return nullptr;
  const Slot& slot = slots[slotOf(attribute)];
  return slot.used && slot.key == attribute ? &slot.value : nullptr;
}

const RunAttributes& RunCache::store(const Attribute& attribute, const RunAttributes& attributes) {
  if (slots.empty()) slots.resize(slotCount);
  Slot& slot = slots[slotOf(attribute)];
  if (!slot.used) held++;
  slot.key = attribute;
  slot.used = true;
  slot.value = attributes;
  return slot.value;
}

void RunCache::clear() {
  slots.clear();
  held = 0;
}

RunAttributes RunStyle::make(const Attribute& attribute, bool withUrl) {
  CharacterStyle style = attribute.style;
  bool bold = style.contains(CharacterStyle::bold);
  Attribute::Color fg = attribute.fg, bg = attribute.bg;
  if (style.contains(CharacterStyle::inverse)) {
    fg = isPaletteOrTrueColor(attribute.bg) ? attribute.bg : Attribute::Color::defaultInvertedColor;
    bg = isPaletteOrTrueColor(attribute.fg) ? attribute.fg : Attribute::Color::defaultInvertedColor;
  }
  bool brightByFace = fg.kind() == Attribute::Color::Kind::ansi256 && fg.code() >= 8 && !useBrightColors;

  RunAttributes result;
  result.font = faceFor(style, brightByFace);
  result.foreground = mapColor(fg, true, bold, useBrightColors);
  result.background = mapColor(bg, false, false, true);
  if (style.contains(CharacterStyle::dim)) result.foreground = result.foreground.dimmedColor(result.background);
  if (style.contains(CharacterStyle::underline)) {
    result.underlineColor =
        attribute.underlineColor ? mapColor(*attribute.underlineColor, true, bold, useBrightColors) : result.foreground;
    UnderlineStyle u =
        attribute.underlineStyle == UnderlineStyle::none ? UnderlineStyle::single : attribute.underlineStyle;
    result.underlineStyle = platformUnderlineValue(u);
    result.vantrelleUnderlineStyle = int(u);
  }
  if (style.contains(CharacterStyle::crossedOut)) {
    result.strikethroughColor = result.foreground;
    result.strikethroughStyle = 1;
  }
  if (withUrl) {
    result.underlineStyle = 1;
    result.underlineColor = result.foreground;
    result.vantrelleUnderlineStyle = int(UnderlineStyle::dashed);
  }
  return result;
}

RunAttributes RunStyle::attributedValue(const Attribute& attribute, const ViewColor& usingFg, const ViewColor& andBg) {
  CharacterStyle style = attribute.style;
  bool inverse = style.contains(CharacterStyle::inverse);
  RunAttributes result;
  result.font = faceFor(style, false);
  result.foreground = inverse ? andBg : usingFg;
  result.background = inverse ? usingFg : andBg;
  if (style.contains(CharacterStyle::underline)) {
    result.underlineColor = attribute.underlineColor ? mapColor(*attribute.underlineColor, true,
                                                                style.contains(CharacterStyle::bold), useBrightColors)
                                                     : result.foreground;
    UnderlineStyle u =
        attribute.underlineStyle == UnderlineStyle::none ? UnderlineStyle::single : attribute.underlineStyle;
    result.underlineStyle = platformUnderlineValue(u);
    result.vantrelleUnderlineStyle = int(u);
  }
  if (style.contains(CharacterStyle::crossedOut)) {
    result.strikethroughColor = result.foreground;
    result.strikethroughStyle = 1;
  }
  return result;
}

namespace {

// The row being cut: the open segment, and the run being gathered at its end, which is built in
// place, taking the attributes of its first cell.
struct RowBuilder {
  ViewLineInfo info;
  ViewLineSegment segment;
  bool hasSegment = false;
  bool runOpen = false;
  RunAttributes runAttributes;
  // The run's rendition hides its text (SGR 8): its cells show their background and nothing else.
  bool concealed = false;
  std::vector<AttributedPiece>* spareRuns = nullptr;
  // Room for this many runs is made in one go: rows that change rendition at every cell have many.
  static constexpr int reservedRuns = 128;

  void flush() {
    if (!runOpen) return;
    runOpen = false;
    // A run whose characters all had empty text shows nothing and is dropped.
    if (segment.attributedString.back().text.empty()) {
      segment.attributedString.pop_back();
      segment.characterCount--;
    }
  }
  void closeSegment() {
    flush();
    if (hasSegment && segment.characterCount > 0) info.segments.push_back(std::move(segment));
    segment = ViewLineSegment();
    hasSegment = false;
  }
  void openSegment(int col, int width, int cols) {
    closeSegment();
    segment.column = col;
    segment.columnWidth = width;
    segment.attributedString.reserve(size_t(std::clamp(cols - col, 1, reservedRuns)));
    hasSegment = true;
  }
  AttributedPiece& run() {
    if (!runOpen) {
      if (spareRuns && !spareRuns->empty()) {
        AttributedPiece& piece = segment.attributedString.emplace_back(std::move(spareRuns->back()));
        spareRuns->pop_back();
        piece.text.clear();
        piece.cellOffsets.clear();
        piece.attributes = runAttributes;
      } else {
        segment.attributedString.emplace_back().attributes = runAttributes;
      }
      segment.characterCount++;
      runOpen = true;
    }
    return segment.attributedString.back();
  }
  void appendText(const std::string& text) {
    AttributedPiece& piece = run();
    piece.cellOffsets.push_back(uint32_t(piece.text.size()));
    piece.text += text;
  }
  void appendText(char character) {
    AttributedPiece& piece = run();
    piece.cellOffsets.push_back(uint32_t(piece.text.size()));
    piece.text += character;
  }
  // A cell drawn as something other than a glyph still paints its background.
  void appendSpace(const RunAttributes& attrs) {
    flush();
    segment.attributedString.push_back(AttributedPiece{" ", attrs, {0}});
    segment.characterCount++;
  }
};

struct RunKey {
  Attribute attribute;
  bool link;
  bool selected;
  bool operator==(const RunKey&) const = default;
};

// Whether the cell shows as part of a highlighted link.
bool highlightsLink(const RowAnalysis& analysis, const CharData& cell, int row, int col, int width) {
  switch (analysis.linkHighlightMode) {
    case LinkHighlightMode::hover:
    case LinkHighlightMode::hoverWithModifier:
      if (!analysis.linkRanges) return false;
      if (analysis.linkHighlightMode != LinkHighlightMode::hover && !analysis.commandActive) return false;
      for (const auto& r : *analysis.linkRanges) {
        if (r.row == row) return r.upper > r.lower && r.lower < col + width && col < r.upper;
      }
      return false;
    case LinkHighlightMode::always:
      return cell.hasPayload();
    case LinkHighlightMode::alwaysWithModifier:
      return cell.hasPayload() && analysis.commandActive;
  }
  return false;
}

// Box drawing, block elements and powerline shapes are drawn as shapes: lists them and says so.
bool addShape(ViewLineInfo& info, char32_t scalar, int col, int width, const ViewColor& foreground) {
  // Every shape lies at or above the box-drawing block.
  if (scalar < 0x2500) return false;
  if (isPowerlineGlyph(scalar)) {
    info.powerlineGlyphs.push_back({col, width, uint32_t(scalar), foreground});
  } else if (isBoxDrawing(scalar)) {
    info.boxDrawings.push_back({col, width, uint32_t(scalar), foreground});
  } else if (auto rects = BlockElementMapping::rects(uint32_t(scalar))) {
    info.blockElements.push_back({col, width, uint32_t(scalar), *rects, foreground});
  } else {
    return false;
  }
  return true;
}

}  // namespace

// Whether a cell's character begins with the image placeholder, without building its text.
bool RowAnalysis::startsWithPlaceholder(const CharData& cell) const {
  if (cell.code == int32_t(kKittyPlaceholderCharacter)) return true;
  if (cell.code < CharData::firstMapKey) return false;
  std::u32string scalars = terminal->scalars(cell.code);
  return !scalars.empty() && scalars[0] == kKittyPlaceholderCharacter;
}

ViewLineInfo RowAnalysis::cut(int row, const BufferLine& line, int cols) const {
  RowBuilder builder;
  builder.spareRuns = spareRuns;
  std::optional<RunKey> runKey;
  std::optional<KittyPlaceholderCell> previousPlaceholder;
  std::optional<Attribute> previousPlaceholderAttribute;
  auto selected = selectedColumnsRange(selection, row, cols, terminalCols);

  for (int col = 0; col < cols;) {
    const CharData& cell = line[col];
    int width = cell.width < 2 ? 1 : 2;
    Attribute attribute = cell.attribute();

    bool link = highlightsLink(*this, cell, row, col, width);
    if (!builder.hasSegment || builder.segment.columnWidth != width) builder.openSegment(col, width, cols);
    bool isSelected = selected && selected->lower < col + width && col < selected->upper;
    RunKey key{attribute, link, isSelected};
    // The key decides the attributes, so they are made once per run rather than per cell.
    if (!runKey || !(*runKey == key)) {
      builder.flush();
      runKey = key;
      RunAttributes& attrs = builder.runAttributes = style->attributes(attribute, link);
      if (isSelected) {
        attrs.selectionBackgroundColor = selectedBackground;
        attrs.foreground = selectedForeground;
        if (attrs.underlineColor) attrs.underlineColor = selectedForeground;
        if (attrs.strikethroughColor) attrs.strikethroughColor = selectedForeground;
      }
      builder.concealed = attribute.style.contains(CharacterStyle::invisible);
      if (builder.concealed) {
        // A line would show where the hidden text is, and how long it is.
        attrs.underlineStyle = attrs.vantrelleUnderlineStyle = attrs.strikethroughStyle = std::nullopt;
        attrs.underlineColor = attrs.strikethroughColor = std::nullopt;
      }
    }
    const RunAttributes& attrs = builder.runAttributes;
    // ASCII (and the empty cell, shown as a space) is neither a shape, an image placeholder nor an
    // emoji: it goes straight into the run's text. A hidden cell is a space whatever it holds.
    if (uint32_t(cell.code) < 0x80 || builder.concealed) {
      builder.appendText(cell.code == 0 || builder.concealed ? ' ' : char(cell.code));
      previousPlaceholder.reset();
      col += width;
      continue;
    }

    std::string character = cell.code == 0 ? std::string(" ") : terminal->character(cell.code);
    char32_t scalar = cell.code != 0 && cell.code < CharData::firstMapKey ? char32_t(cell.code) : 0;
    bool shaped = customBlockGlyphs && scalar && addShape(builder.info, scalar, col, width, attrs.foreground);
    std::optional<KittyPlaceholderCell> placeholder;
    if (!shaped && startsWithPlaceholder(cell)) {
      std::u32string scalars = terminal->scalars(cell.code);
      placeholder = KittyPlaceholderDecoder::decode(scalars, attribute, row, col, previousPlaceholder,
                                                    previousPlaceholderAttribute);
    }
    if (shaped) {
      builder.appendSpace(attrs);
      previousPlaceholder.reset();
    } else if (placeholder) {
      builder.info.kittyPlaceholders.push_back(*placeholder);
      builder.appendSpace(attrs);
      previousPlaceholder = placeholder;
      previousPlaceholderAttribute = attribute;
    } else {
      UnicodeUtil::adjustTextPresentation(character);
      builder.appendText(character);
      previousPlaceholder.reset();
    }
    col += width;
  }
  builder.closeSegment();
  builder.info.images = line.images();
  return std::move(builder.info);
}

}  // namespace vantrelle
