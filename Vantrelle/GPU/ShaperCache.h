#pragma once
// Shaped text, once per distinct (font, size, text): a terminal redraws the same short strings
// constantly, so most runs become one lookup. Eviction is first in, first out.
#include <pango/pango.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Vantrelle/Render/AsciiGlyphs.h"
#include "Vantrelle/Render/AttributedRuns.h"
#include "platform/PangoPtr.h"

namespace vantrelle {

using FontRef = std::shared_ptr<PangoFont>;
FontRef retainFont(PangoFont* font);
// The font's family and style without its size, e.g. "Monospace Bold".
std::string fontName(const PangoFontDescription* description);

struct ShaperKey {
  std::string fontName;
  double fontSize = 0;
  std::string text;
  bool operator==(const ShaperKey&) const = default;
};
// A key made of the caller's strings, so that a lookup copies neither the name nor the text.
struct ShaperKeyView {
  std::string_view fontName;
  double fontSize = 0;
  std::string_view text;
};
struct ShaperKeyHash {
  using is_transparent = void;
  size_t operator()(const ShaperKey& k) const { return (*this)(ShaperKeyView{k.fontName, k.fontSize, k.text}); }
  size_t operator()(const ShaperKeyView& k) const;
};
struct ShaperKeyEqual {
  using is_transparent = void;
  template <typename A, typename B>
  bool operator()(const A& a, const B& b) const {
    return a.fontSize == b.fontSize && std::string_view(a.text) == std::string_view(b.text) &&
           std::string_view(a.fontName) == std::string_view(b.fontName);
  }
};

struct ShaperPosition {
  double x = 0;
  double y = 0;
};

struct ShaperGlyphRun {
  FontRef font;
  std::vector<uint32_t> glyphs;
  std::vector<ShaperPosition> positions;
  // Byte offset in the shaped text of each glyph's cluster, so glyphs map back to their cells.
  std::vector<uint32_t> clusters;
  // The advance of each glyph's cluster in points, which tells a glyph too wide for its one cell
  // without measuring it, and fits it as the Cairo path does.
  std::vector<float> advances;
  // The shaper's pen before each glyph (its position less its offset), for placing marks.
  std::vector<double> pens;
};

struct ShaperRun {
  std::vector<ShaperGlyphRun> glyphRuns;
  std::vector<ShaperPosition> positions;
  int glyphCount = 0;
  // Byte offsets of the clusters holding a character that no font has, drawn as boxes.
  std::vector<uint32_t> missingClusters;
};

struct ShapedRun {
  RunAttributes attributes;
  std::shared_ptr<const ShaperRun> shaperRun;
  // Byte offsets of the run's cells in its text (from the piece it came from).
  std::vector<uint32_t> cellOffsets;
  // Cells of the segment before this run; runs that shaped to nothing are left out, so the run's
  // place cannot be counted from the runs kept.
  int cellStart = 0;
  // The run is blank: it has glyphs to measure but no ink to draw.
  bool blank = false;
};

struct ShapedSegment {
  const ViewLineSegment* segment = nullptr;
  std::vector<ShapedRun> runs;
};

class ShaperCache {
 public:
  explicit ShaperCache(size_t maxEntries = 2048) : maxEntries(maxEntries) {}
  ShaperCache(const ShaperCache&) = delete;
  ShaperCache& operator=(const ShaperCache&) = delete;
  std::shared_ptr<const ShaperRun> shape(const std::string& text, PangoContext* context,
                                         const PangoFontDescription* font);
  void insert(const ShaperKey& key, std::shared_ptr<const ShaperRun> run);
  size_t count() const { return cache.size(); }
  bool contains(const ShaperKey& key) const { return cache.count(key) > 0; }
  // How many texts were laid out rather than found.
  uint64_t layoutCount = 0;
  // Plain ASCII laid out without the shaper where its face allows; off only to compare the two.
  bool laysAscii = true;

  const size_t maxEntries;

 private:
  // A description's name and size. Printing a description to name it costs more than shaping
  // from the cache, and a frame looks up every run of every changed row; the view uses a handful
  // of faces, so their names are kept.
  struct NamedFont {
    platform::PangoFontDescriptionPtr description;
    std::string name;
    double size;
  };
  const NamedFont& named(const PangoFontDescription* font);
  std::vector<NamedFont> names;
  AsciiGlyphs ascii;

  std::unordered_map<ShaperKey, std::shared_ptr<const ShaperRun>, ShaperKeyHash, ShaperKeyEqual> cache;
  std::deque<ShaperKey> order;
};

}  // namespace vantrelle
