#pragma once
// Shaped text, once per distinct (font, size, text): a terminal redraws the same short strings
// constantly, so most runs become one lookup. Eviction is first in, first out.
#include <pango/pango.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Vantrelle/Render/AttributedRuns.h"

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
struct ShaperKeyHash {
  size_t operator()(const ShaperKey& k) const;
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
};

struct ShaperRun {
  std::vector<ShaperGlyphRun> glyphRuns;
  std::vector<ShaperPosition> positions;
  int glyphCount = 0;
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
  std::shared_ptr<const ShaperRun> shape(const std::string& text, PangoContext* context,
                                         const PangoFontDescription* font);
  void insert(const ShaperKey& key, std::shared_ptr<const ShaperRun> run);
  size_t count() const { return cache.size(); }
  bool contains(const ShaperKey& key) const { return cache.count(key) > 0; }
  // How many texts were laid out rather than found.
  uint64_t layoutCount = 0;

  const size_t maxEntries;

 private:
  std::unordered_map<ShaperKey, std::shared_ptr<const ShaperRun>, ShaperKeyHash> cache;
  std::deque<ShaperKey> order;
};

}  // namespace vantrelle
