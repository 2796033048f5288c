// Painting the visible rows with Pango and Cairo: backgrounds, images below the text, shape
// glyphs, text with underline and strikethrough, images above the text. Glyphs are placed at
// explicit cell positions, so the grid never depends on the font's advances.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "Vantrelle/Render/AsciiGlyphs.h"
#include "Vantrelle/Render/CellGlyphs.h"
#include "Vantrelle/Render/GlyphColors.h"
#include "Vantrelle/View/TerminalView+Images.h"
#include "Vantrelle/View/TerminalView.h"
#include "platform/CairoPtr.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"
#include "platform/PangoPtr.h"

namespace vantrelle {

struct ShapedItem {
  platform::GObjectPtr<PangoFont> font;
  std::vector<TerminalView::ShapedGlyph> glyphs;
  // The font's own Cairo font, which lives as long as the font.
  cairo_scaled_font_t* scaled = nullptr;
  // The cells of the piece holding a character that no font has, each drawn as a box.
  std::vector<int> missingCells;
  // The glyphs' coverage masks, looked up once for the mask generation they were found in; empty
  // when a glyph needs Cairo.
  mutable std::vector<const CoverageMask*> masks;
  mutable uint64_t maskGeneration = 0;
};

namespace {

void setSource(cairo_t* cr, const ViewColor& c) { cairo_set_source_rgba(cr, c.red, c.green, c.blue, c.alpha); }

// The index of the cell whose text contains the byte at `offset`.
int cellAt(const std::vector<uint32_t>& offsets, int offset) {
  auto it = std::upper_bound(offsets.begin(), offsets.end(), uint32_t(offset));
  return std::max(int(it - offsets.begin()) - 1, 0);
}

// Plain ASCII in a face that allows it is laid out without the shaper (see AsciiGlyphs), into the
// same glyphs; `ascii` may be null to always shape.
std::vector<ShapedItem> shape(PangoContext* context, const AttributedPiece& piece, const PangoFontDescription* font,
                              AsciiGlyphs* ascii) {
  std::vector<ShapedItem> result;
  platform::PangoGlyphStringPtr shapedGlyphs(pango_glyph_string_new());
  PangoGlyphString* glyphs = shapedGlyphs.get();
  // A cell's marks may come in an item of another font than its base: the pen runs on over items.
  CellGlyphPlacer placer;
  double pen = 0;
  // The glyphs of one item, at `offset` in the piece's text and in `itemFont`.
  auto addItem = [&](int offset, PangoFont* itemFont) {
    ShapedItem shaped;
    shaped.glyphs.reserve(size_t(glyphs->num_glyphs));
    if (itemFont) shaped.font.reset(PANGO_FONT(g_object_ref(itemFont)));
    if (shaped.font) shaped.scaled = pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(shaped.font.get()));
    double clusterX = 0;
    int clusterStart = -1;
    std::vector<std::pair<size_t, double>> clusterStarts;
    for (int i = 0; i < glyphs->num_glyphs; i++) {
      const PangoGlyphInfo& info = glyphs->glyphs[i];
      int cluster = offset + glyphs->log_clusters[i];
      if (cluster != clusterStart) {
        clusterStart = cluster;
        clusterX = 0;
        clusterStarts.emplace_back(shaped.glyphs.size(), 0);
      }
      double width = double(info.geometry.width) / PANGO_SCALE;
      int cell = cellAt(piece.cellOffsets, cluster);
      if (info.glyph & PANGO_GLYPH_UNKNOWN_FLAG) {
        if (isMissingGlyph(info.glyph) && (shaped.missingCells.empty() || shaped.missingCells.back() != cell))
          shaped.missingCells.push_back(cell);
      } else if (info.glyph != PANGO_GLYPH_EMPTY) {
        double x = placer.place(cell, cluster, itemFont, info.glyph, pen, double(info.geometry.x_offset) / PANGO_SCALE);
        shaped.glyphs.push_back({info.glyph, cell, x, double(info.geometry.y_offset) / PANGO_SCALE, 0});
      }
      pen += width;
      clusterX += width;
      clusterStarts.back().second = clusterX;
    }
    // Every glyph learns its cluster's natural advance; that of the cluster opening a cell fits the
    // cell's glyph into its slot.
    for (size_t c = 0; c < clusterStarts.size(); c++) {
      size_t end = c + 1 < clusterStarts.size() ? clusterStarts[c + 1].first : shaped.glyphs.size();
      for (size_t g = clusterStarts[c].first; g < end; g++) shaped.glyphs[g].advance = clusterStarts[c].second;
    }
    result.push_back(std::move(shaped));
  };
  if (PangoFont* laid = ascii ? ascii->lay(context, font, piece.text, glyphs) : nullptr) {
    addItem(0, laid);
    return result;
  }
  platform::PangoAttrListPtr attrs(pango_attr_list_new());
  pango_attr_list_insert(attrs.get(), pango_attr_font_desc_new(font));
  platform::PangoItemListPtr items(
      pango_itemize(context, piece.text.c_str(), 0, int(piece.text.size()), attrs.get(), nullptr));
  for (GList* l = items.get(); l; l = l->next) {
    auto* item = static_cast<PangoItem*>(l->data);
    const char* text = piece.text.c_str() + item->offset;
    pango_shape_full(text, item->length, piece.text.c_str(), int(piece.text.size()), &item->analysis, glyphs);
    addItem(item->offset, item->analysis.font);
  }
  return result;
}

}  // namespace

// Pieces of a few bytes shaped once and kept across frames: output that changes its rendition at
// every cell cuts each row into one-character pieces, and shaping every one of them anew on every
// frame was most of the frame. Font changes drop the cache (resetCaches).
struct TerminalView::ShapeCache {
  static constexpr size_t longestText = 8;
  static constexpr size_t mostEntries = 8192;
  struct Key {
    PangoContext* context;
    FontFace face;
    std::string text;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const {
      return std::hash<std::string>()(key.text) ^ (size_t(key.face) << 1) ^ std::hash<void*>()(key.context);
    }
  };
  std::unordered_map<Key, std::vector<ShapedItem>, KeyHash> entries;
  uint64_t textsShaped = 0;
  // Plain ASCII laid out without the shaper where its face allows; off only to compare the two.
  AsciiGlyphs ascii;
  bool useAscii = true;

  // Longer texts (a row of one rendition, as a log or a listing has), kept by what shapes them: the
  // face, the text and where its cells start. A row that only moved, as the rows of a scrolling
  // region do, or that is drawn again unchanged, is then not shaped again. Two generations, so that
  // the texts of the last screens stay without an order to keep: a text found in the older one moves
  // to the newer, and once the newer holds its share of glyphs the older goes and the newer takes
  // its place.
  struct TextKey {
    FontFace face;
    std::string text;
    std::vector<uint32_t> cellOffsets;
  };
  struct TextKeyView {
    FontFace face;
    std::string_view text;
    std::span<const uint32_t> cellOffsets;
  };
  struct TextKeyHash {
    using is_transparent = void;
    size_t operator()(const TextKey& key) const { return (*this)(TextKeyView{key.face, key.text, key.cellOffsets}); }
    size_t operator()(const TextKeyView& key) const {
      return std::hash<std::string_view>()(key.text) * 31 + key.cellOffsets.size() * 4 + size_t(key.face);
    }
  };
  struct TextKeyEqual {
    using is_transparent = void;
    template <typename A, typename B>
    bool operator()(const A& a, const B& b) const {
      return a.face == b.face && std::string_view(a.text) == std::string_view(b.text) &&
             std::ranges::equal(a.cellOffsets, b.cellOffsets);
    }
  };
  using Texts = std::unordered_map<TextKey, std::vector<ShapedItem>, TextKeyHash, TextKeyEqual>;
  // Glyphs and texts the newer generation holds before it takes the older one's place: a few
  // screens of a wide window.
  static constexpr size_t textsShare = 1 << 15;
  Texts newerTexts, olderTexts;
  size_t newerTextsHeld = 0;
  PangoContext* textsContext = nullptr;
  void noteText(const std::vector<ShapedItem>& items) {
    newerTextsHeld++;
    for (const auto& item : items) newerTextsHeld += item.glyphs.size();
  }
  void clearTexts() {
    newerTexts.clear();
    olderTexts.clear();
    newerTextsHeld = 0;
  }
  // The entries of single ASCII characters by face and character, for one Pango context: found
  // without building and hashing a key. Entries stay in place until clear().
  PangoContext* asciiContext = nullptr;
  std::array<const std::vector<ShapedItem>*, 4 * 128> asciiEntries{};

  // Glyphs painted straight into the pixels: each one's coverage, taken once from Cairo itself
  // drawing it in the same font, options and scale; none for a glyph only Cairo can paint.
  struct GlyphKey {
    cairo_scaled_font_t* font;
    uint32_t glyph;
    bool smoothing;
    double scale;
    bool operator==(const GlyphKey&) const = default;
  };
  struct GlyphKeyHash {
    size_t operator()(const GlyphKey& key) const {
      return std::hash<void*>()(key.font) * 31 + key.glyph * 2 + key.smoothing + std::hash<double>()(key.scale);
    }
  };
  std::unordered_map<GlyphKey, std::optional<CoverageMask>, GlyphKeyHash> glyphMasks;
  // The fonts the glyph keys name, held so that no other font can take their address.
  std::vector<platform::CairoScaledFontPtr> heldFonts;
  // Moves on whenever mask pointers kept by shaped items may no longer hold: the masks were
  // dropped, or a pass paints at another scale or smoothing.
  uint64_t maskGeneration = 1;
  std::optional<std::pair<double, bool>> maskPass;
  // Scratch space for painting one item's glyphs.
  std::vector<PixelCanvas::Placed> placed;
  // The runs of the rows the last pass drew, kept for the next pass to cut its rows into.
  std::vector<AttributedPiece> spareRuns;
  CoverageMask summed;

  // The underline and the strikethrough of one cell, by their styles, with the same coverage.
  struct DecorationKey {
    int underline;  // -1 for none
    int strikethrough;
    double scale;
    bool operator==(const DecorationKey&) const = default;
  };
  struct Decoration {
    CoverageMask underline;
    CoverageMask strikethrough;
  };
  std::vector<std::pair<DecorationKey, std::optional<Decoration>>> decorations;
  // The scale and smoothing printable ASCII was last prepared for (see prepareAsciiGlyphs).
  std::optional<std::pair<double, bool>> preparedGlyphs;
  // Whether printable ASCII reaches past a row's band, by face, at the scale and smoothing it was
  // measured for; kept until the font changes.
  std::array<std::optional<bool>, 4> asciiReaches;
  std::pair<double, bool> asciiReachPass;

  ~ShapeCache() { clear(); }
  void clear() {
    entries.clear();
    clearTexts();
    asciiContext = nullptr;
    asciiEntries.fill(nullptr);
    clearMasks();
    decorations.clear();
  }
  void clearMasks() {
    glyphMasks.clear();
    heldFonts.clear();
    maskGeneration++;
  }
};

size_t TerminalView::glyphMasksHeld() const { return shapeCache ? shapeCache->glyphMasks.size() : 0; }

uint64_t TerminalView::textsShaped() const { return shapeCache ? shapeCache->textsShaped : 0; }

void TerminalView::dropShapeCache() {
  if (!shapeCache) return;
  shapeCache->clear();
  shapeCache->preparedGlyphs.reset();
  shapeCache->asciiReaches.fill(std::nullopt);
}

namespace {
const std::vector<ShapedItem>& shapedShortPiece(TerminalView::ShapeCache& cache, PangoContext* context,
                                                const AttributedPiece& piece, const PangoFontDescription* font) {
  const std::vector<ShapedItem>** ascii = nullptr;
  if (piece.text.size() == 1 && uint8_t(piece.text[0]) < 0x80) {
    if (cache.asciiContext != context) {
      cache.asciiEntries.fill(nullptr);
      cache.asciiContext = context;
    }
    ascii = &cache.asciiEntries[size_t(piece.attributes.font) * 128 + uint8_t(piece.text[0])];
    if (*ascii) return **ascii;
  }
  TerminalView::ShapeCache::Key key{context, piece.attributes.font, piece.text};
  auto found = cache.entries.find(key);
  if (found == cache.entries.end()) {
    if (cache.entries.size() >= TerminalView::ShapeCache::mostEntries) cache.clear();
    found = cache.entries.emplace(std::move(key), shape(context, piece, font, cache.useAscii ? &cache.ascii : nullptr))
                .first;
    cache.textsShaped++;
    if (ascii) cache.asciiContext = context;
  }
  if (ascii) *ascii = &found->second;
  return found->second;
}

const std::vector<ShapedItem>& shapedText(TerminalView::ShapeCache& cache, PangoContext* context,
                                          const AttributedPiece& piece, const PangoFontDescription* font) {
  using Cache = TerminalView::ShapeCache;
  if (cache.textsContext != context) {
    cache.clearTexts();
    cache.textsContext = context;
  }
  Cache::TextKeyView key{piece.attributes.font, piece.text, piece.cellOffsets};
  if (auto found = cache.newerTexts.find(key); found != cache.newerTexts.end()) return found->second;
  // Taken out of the older generation before that goes, so that it outlives the change.
  Cache::Texts::node_type kept;
  if (auto older = cache.olderTexts.find(key); older != cache.olderTexts.end()) kept = cache.olderTexts.extract(older);
  if (cache.newerTextsHeld >= Cache::textsShare) {
    cache.olderTexts = std::exchange(cache.newerTexts, {});
    cache.newerTextsHeld = 0;
  }
  if (!kept) {
    cache.textsShaped++;
    auto made = cache.newerTexts.emplace(Cache::TextKey{piece.attributes.font, piece.text, piece.cellOffsets},
                                         shape(context, piece, font, cache.useAscii ? &cache.ascii : nullptr));
    cache.noteText(made.first->second);
    return made.first->second;
  }
  cache.noteText(kept.mapped());
  return cache.newerTexts.insert(std::move(kept)).position->second;
}

std::optional<CoverageMask> makeGlyphMask(cairo_scaled_font_t* font, uint32_t glyph, double scale,
                                          const cairo_font_options_t* options);
void holdFont(TerminalView::ShapeCache& cache, cairo_scaled_font_t* font);

// Cairo rasterises a glyph, hinting included, the first time it is drawn in a font and keeps it
// with the font, and the coverage painted straight into the pixels is taken from such a drawing.
// Done inside the frames that first show a screen of text in all four faces, that cost several
// hundred glyphs at once, so printable ASCII in each face is drawn once ahead, on a worker thread,
// when the view first draws with a font, and the coverages taken there join the view's cache. What
// gets drawn is the same either way.
void prepareAsciiGlyphs(const std::shared_ptr<TerminalView::ShapeCache>& cache, PangoContext* context,
                        const FontSet& fonts, double scale, bool smoothing) {
  std::string ascii;
  for (char c = '!'; c < 127; c++) ascii += c;
  // A font's glyphs, and then their coverages; the font is held until the cache holds it.
  struct FontGlyphs {
    platform::CairoScaledFontPtr font;
    std::vector<uint32_t> glyphs;
    std::vector<std::optional<CoverageMask>> masks;
  };
  auto work = std::make_shared<std::vector<FontGlyphs>>();
  platform::PangoGlyphStringPtr shapedGlyphs(pango_glyph_string_new());
  PangoGlyphString* shaped = shapedGlyphs.get();
  for (FontFace face : {FontFace::normal, FontFace::bold, FontFace::italic, FontFace::boldItalic}) {
    platform::PangoAttrListPtr attrs(pango_attr_list_new());
    pango_attr_list_insert(attrs.get(), pango_attr_font_desc_new(fonts.face(face).gobj()));
    platform::PangoItemListPtr items(pango_itemize(context, ascii.c_str(), 0, int(ascii.size()), attrs.get(), nullptr));
    for (GList* l = items.get(); l; l = l->next) {
      auto* item = static_cast<PangoItem*>(l->data);
      cairo_scaled_font_t* font =
          item->analysis.font ? pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(item->analysis.font)) : nullptr;
      if (font && cairo_scaled_font_status(font) == CAIRO_STATUS_SUCCESS) {
        pango_shape_full(ascii.c_str() + item->offset, item->length, ascii.c_str(), int(ascii.size()), &item->analysis,
                         shaped);
        FontGlyphs entry{platform::CairoScaledFontPtr(cairo_scaled_font_reference(font)), {}, {}};
        for (int i = 0; i < shaped->num_glyphs; i++) {
          PangoGlyph glyph = shaped->glyphs[i].glyph;
          if (!(glyph & PANGO_GLYPH_UNKNOWN_FLAG) && glyph != PANGO_GLYPH_EMPTY) entry.glyphs.push_back(glyph);
        }
        work->push_back(std::move(entry));
      }
    }
  }
  std::weak_ptr<TerminalView::ShapeCache> weakCache = cache;
  platform::DispatchQueue::global(platform::QoS::utility).async([work, weakCache, scale, smoothing] {
    platform::CairoFontOptionsPtr options(cairo_font_options_create());
    cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
    // Rasterising is most of the cost, and a frame that comes first does it itself for any glyph
    // not yet done: every face's glyphs are rasterised in one call each, drawn at one point inside a
    // small surface, before any coverage is taken from them.
    constexpr int sizePx = 256;
    platform::CairoSurfacePtr scratch(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, sizePx, sizePx));
    cairo_surface_set_device_scale(scratch.get(), scale, scale);
    for (auto& font : *work) {
      std::vector<cairo_glyph_t> glyphs;
      for (uint32_t glyph : font.glyphs) glyphs.push_back({glyph, sizePx / 2 / scale, sizePx / 2 / scale});
      platform::CairoPtr cr(cairo_create(scratch.get()));
      cairo_set_source_rgba(cr.get(), 1, 1, 1, 1);
      cairo_set_scaled_font(cr.get(), font.font.get());
      if (!smoothing) cairo_set_font_options(cr.get(), options.get());
      cairo_show_glyphs(cr.get(), glyphs.data(), int(glyphs.size()));
    }
    for (auto& font : *work) {
      for (uint32_t glyph : font.glyphs)
        font.masks.push_back(makeGlyphMask(font.font.get(), glyph, scale, smoothing ? nullptr : options.get()));
    }
    platform::DispatchQueue::main().async([work, weakCache, scale, smoothing] {
      auto cache = weakCache.lock();
      if (!cache) return;
      using Cache = TerminalView::ShapeCache;
      for (auto& font : *work) {
        if (cache->glyphMasks.size() + font.glyphs.size() >= Cache::mostEntries) break;
        holdFont(*cache, font.font.get());
        for (size_t i = 0; i < font.glyphs.size(); i++)
          cache->glyphMasks.try_emplace(Cache::GlyphKey{font.font.get(), font.glyphs[i], smoothing, scale},
                                        std::move(font.masks[i]));
      }
    });
  });
}

// Whether printable ASCII in `font` has ink above `top` or below `bottom` (points from the baseline,
// y down), as Cairo measures it when drawing at the pass's scale and with its options.
bool asciiReaches(PangoContext* context, const PangoFontDescription* font, const TerminalView::DrawingPass& pass,
                  double top, double bottom) {
  std::string ascii;
  for (char c = '!'; c < 127; c++) ascii += c;
  platform::CairoSurfacePtr scratch(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
  cairo_surface_set_device_scale(scratch.get(), pass.scale, pass.scale);
  platform::CairoPtr cr(cairo_create(scratch.get()));
  TerminalView::InkSpan ink;
  std::vector<cairo_glyph_t> glyphs;
  for (const auto& item : shape(context, AttributedPiece{ascii, {}, {0}}, font, nullptr)) {
    if (!item.scaled || item.glyphs.empty()) continue;
    cairo_set_scaled_font(cr.get(), item.scaled);
    cairo_set_font_options(cr.get(), pass.fontOptions.get());
    glyphs.clear();
    for (const auto& g : item.glyphs) glyphs.push_back({g.glyph, 0, 0});
    cairo_text_extents_t drawn;
    cairo_glyph_extents(cr.get(), glyphs.data(), int(glyphs.size()), &drawn);
    ink.add(drawn.y_bearing, drawn.y_bearing + drawn.height);
  }
  return !ink.empty && (ink.top < top - 1e-6 || ink.bottom > bottom + 1e-6);
}

// The most runs kept from one pass for the next to reuse.
constexpr size_t spareRunsKept = 4096;

// The longest run whose glyphs are painted straight into the pixels.
constexpr int directRunCells = 8;

// Whether every byte of `text` is ASCII, looked at eight at a time.
bool plainAscii(const std::string& text) {
  uint64_t bytes = 0;
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    bytes |= word;
  }
  for (; i < text.size(); i++) bytes |= uint8_t(text[i]);
  return !(bytes & 0x8080808080808080u);
}

// The whole device pixel a coordinate lies on, to within rounding error, or none. A positive value
// is rounded by truncating it plus a half, without a call into the maths library: once the value
// lies that close to an integer, that is the integer std::round gives.
std::optional<int> wholePixel(double value) {
  if (value >= 0 && value < 1e9) {
    int nearest = int(value + 0.5);
    if (std::abs(value - nearest) < 1e-6) return nearest;
    return std::nullopt;
  }
  if (std::abs(value - std::round(value)) < 1e-6) return int(std::lround(value));
  return std::nullopt;
}

bool isWhole(double value) { return wholePixel(value).has_value(); }

// A glyph's coverage as Cairo paints it in `font` at `scale`, with `options` when given (grey
// antialiasing without font smoothing). None for a glyph with colours of its own, which only
// Cairo paints, even when they are white. Cairo guards its fonts, so any thread may make one.
std::optional<CoverageMask> makeGlyphMask(cairo_scaled_font_t* font, uint32_t glyph, double scale,
                                          const cairo_font_options_t* options) {
  if (glyphHasOwnColors(font, glyph)) return std::nullopt;
  cairo_glyph_t measured{glyph, 0, 0};
  cairo_text_extents_t extents;
  cairo_scaled_font_glyph_extents(font, &measured, 1, &extents);
  // Generous room around the measured ink: hinting may move it a little, and a mask that reaches
  // the edge of its scratch surface is left to Cairo.
  int margin = 4 + int(std::ceil(2 * scale));
  int x0 = int(std::floor(extents.x_bearing * scale)) - margin;
  int x1 = int(std::ceil((extents.x_bearing + extents.width) * scale)) + margin;
  int y0 = int(std::floor(extents.y_bearing * scale)) - margin;
  int y1 = int(std::ceil((extents.y_bearing + extents.height) * scale)) + margin;
  cairo_text_extents_t drawn{};
  auto mask = coverageOf(x1 - x0, y1 - y0, scale, -x0, -y0, [&](cairo_t* cr, double x, double y) {
    cairo_set_scaled_font(cr, font);
    if (options) cairo_set_font_options(cr, options);
    cairo_glyph_t placed{glyph, x, y};
    cairo_show_glyphs(cr, &placed, 1);
    cairo_glyph_extents(cr, &measured, 1, &drawn);
  });
  if (mask) {
    mask->extentsX0 = int(std::floor(drawn.x_bearing * scale));
    mask->extentsY0 = int(std::floor(drawn.y_bearing * scale));
    mask->extentsX1 = int(std::ceil((drawn.x_bearing + drawn.width) * scale));
    mask->extentsY1 = int(std::ceil((drawn.y_bearing + drawn.height) * scale));
  }
  return mask;
}

// Keeps `font` from being freed, and so its address from being taken by another font, while masks
// are kept under it.
void holdFont(TerminalView::ShapeCache& cache, cairo_scaled_font_t* font) {
  auto held = [font](const platform::CairoScaledFontPtr& kept) { return kept.get() == font; };
  if (std::none_of(cache.heldFonts.begin(), cache.heldFonts.end(), held))
    cache.heldFonts.emplace_back(cairo_scaled_font_reference(font));
}

// A glyph's coverage as Cairo paints it with the drawing pass's options, taken once.
const std::optional<CoverageMask>& glyphMask(TerminalView::ShapeCache& cache, cairo_scaled_font_t* font, uint32_t glyph,
                                             bool smoothing, const TerminalView::DrawingPass& pass) {
  using Cache = TerminalView::ShapeCache;
  Cache::GlyphKey key{font, glyph, smoothing, pass.canvas->scale};
  if (auto found = cache.glyphMasks.find(key); found != cache.glyphMasks.end()) return found->second;
  holdFont(cache, font);
  auto mask = makeGlyphMask(font, glyph, pass.canvas->scale, smoothing ? nullptr : pass.fontOptions.get());
  return cache.glyphMasks.emplace(key, std::move(mask)).first->second;
}

// The glyphs of one shaped item painted into the pixels; false, with nothing painted, when one of
// them needs Cairo.
bool paintGlyphItem(TerminalView::ShapeCache& cache, const ShapedItem& item, int firstCol, double cellWidth,
                    double baseline, uint32_t pixel, bool smoothing, TerminalView::DrawingPass& pass,
                    TerminalView::InkSpan* ink) {
  if (!item.font || !item.scaled) return true;
  if (std::pair maskPass{pass.canvas->scale, smoothing}; cache.maskPass != maskPass) {
    cache.maskPass = maskPass;
    cache.maskGeneration++;
  }
  if (item.maskGeneration != cache.maskGeneration) {
    item.masks.clear();
    if (cairo_scaled_font_status(item.scaled) != CAIRO_STATUS_SUCCESS) return false;
    // Emptied only here, before this item's masks are looked up, so that they stay in place.
    if (cache.glyphMasks.size() + item.glyphs.size() >= TerminalView::ShapeCache::mostEntries) cache.clearMasks();
    for (const auto& g : item.glyphs) {
      // A glyph too wide for its cell is fitted into it, which Cairo does.
      if (glyphOverflowsSlot(g.advance, 1, cellWidth)) {
        item.masks.clear();
        break;
      }
      const auto& mask = glyphMask(cache, item.scaled, g.glyph, smoothing, pass);
      if (!mask) {
        item.masks.clear();
        break;
      }
      item.masks.push_back(&*mask);
    }
    item.maskGeneration = cache.maskGeneration;
  }
  if (item.masks.size() != item.glyphs.size()) return false;
  PixelCanvas& canvas = *pass.canvas;
  cache.placed.clear();
  for (size_t i = 0; i < item.glyphs.size(); i++) {
    const auto& g = item.glyphs[i];
    cache.placed.push_back({item.masks[i], canvas.devicePixel(cellWidth * (firstCol + g.cell) + g.offsetX),
                            canvas.devicePixel(baseline + g.offsetY)});
  }
  if (ink) {
    for (const auto& placed : cache.placed) {
      if (!placed.mask->empty())
        ink->add((placed.y + placed.mask->extentsY0) / canvas.scale,
                 (placed.y + placed.mask->extentsY1) / canvas.scale);
    }
  }
  canvas.paintTogether(cache.placed, pixel, cache.summed);
  return true;
}

// A row drawn at twice the size goes through Cairo's transformation, clipped to its band when it is
// twice as tall, with the pixel canvas put aside; a plain row is left as it is.
class RowTransform {
 public:
  RowTransform(cairo_t* cr, BufferLine::RenderLineMode mode, double top, double ch, double width,
               std::optional<PixelCanvas>& canvas)
      : cr(cr), canvas(canvas), transformed(mode != BufferLine::RenderLineMode::single) {
    if (!transformed) return;
    cairo_save(cr);
    if (mode == BufferLine::RenderLineMode::doubleWidth) {
      cairo_scale(cr, 2, 1);
    } else {
      // Double-height rows show the upper or the lower half of glyphs twice the size.
      double pivot = mode == BufferLine::RenderLineMode::doubledTop ? top : top + ch;
      cairo_rectangle(cr, 0, top, width, ch);
      cairo_clip(cr);
      cairo_translate(cr, 0, pivot);
      cairo_scale(cr, 2, 2);
      cairo_translate(cr, 0, -pivot);
    }
    std::swap(kept, canvas);
  }
  ~RowTransform() {
    if (!transformed) return;
    cairo_restore(cr);
    std::swap(kept, canvas);
  }
  RowTransform(const RowTransform&) = delete;
  RowTransform& operator=(const RowTransform&) = delete;

 private:
  cairo_t* cr;
  std::optional<PixelCanvas>& canvas;
  std::optional<PixelCanvas> kept;
  bool transformed;
};

}  // namespace

void TerminalView::pending(const std::string& message) const {
  std::string line = "   -> ";
  for (size_t i = 0; i < drawingRects.size(); i++) {
    const ViewRect& r = drawingRects[i];
    char text[128];
    std::snprintf(text, sizeof text, "%s(%g, %g, %g, %g)", i ? ", " : "", r.x, r.y, r.width, r.height);
    line += text;
  }
  std::printf("%s\n%s\n", message.c_str(), line.c_str());
  std::fflush(stdout);
}

void TerminalView::drawTerminalContents(ViewRect dirtyRect, cairo_t* cr, int bufferOffset) {
  lastPassRowCount = 0;
  if (!cellDimension || !terminal) return;
  drawingRects.assign(1, dirtyRect);
  struct PassEnd {
    std::vector<ViewRect>& rects;
    ~PassEnd() { rects.clear(); }
  } passEnd{drawingRects};
  const double ch = cellDimension->height;
  Buffer& buffer = *terminal->buffer;
  int first = bufferOffset + int(std::max(dirtyRect.minY(), 0.0) / ch);
  int last = bufferOffset + int(std::max(dirtyRect.maxY(), 0.0) / ch);

  DrawingPass pass;
  pass.dirty = dirtyRect;
  bool alternate = terminal->isCurrentBufferAlternate();
  for (const auto& [key, record] : terminal->kittyGraphicsState.placementsByKey) {
    if (record.isVirtual && record.isAlternateBuffer == alternate)
      pass.virtualPlacements[record.imageId].push_back(&record);
  }
  pruneFittedPlaceholders(pass.virtualPlacements);
  pass.pango = get_pango_context()->gobj();
  // Without font smoothing glyphs are antialiased in grey only, never by subpixel.
  pass.fontOptions.reset(cairo_font_options_create());
  if (!_fontSmoothing) cairo_font_options_set_antialias(pass.fontOptions.get(), CAIRO_ANTIALIAS_GRAY);
  pass.scale = backingScaleFactor();
  if (!shapeCache) shapeCache = std::make_shared<ShapeCache>();
  if (std::pair prepared{pass.scale, _fontSmoothing}; shapeCache->preparedGlyphs != prepared) {
    shapeCache->preparedGlyphs = prepared;
    prepareAsciiGlyphs(shapeCache, pass.pango, fontSet, pass.scale, _fontSmoothing);
  }
  if (std::pair measured{pass.scale, _fontSmoothing}; shapeCache->asciiReachPass != measured) {
    shapeCache->asciiReaches.fill(std::nullopt);
    shapeCache->asciiReachPass = measured;
  }
  if (paintsCellsDirectly) {
    pass.canvas = PixelCanvas::of(cr);
    if (pass.canvas && pass.canvas->scale != pass.scale) pass.canvas.reset();
  }
  int lineCount = buffer.lines().count();
  const auto shownRows = size_t(std::max(std::ceil(frameSize.height / ch), 0.0));
  if (rowReaches.size() != shownRows) rowReaches.assign(shownRows, {});
  auto reachOf = [&](int row) {
    const auto screenRow = size_t(row - bufferOffset);
    return row >= bufferOffset && screenRow < rowReaches.size() ? rowReaches[screenRow] : RowReach{};
  };
  int farthest = 0;
  for (const RowReach& reach : rowReaches) farthest = std::max({farthest, int(reach.above), int(reach.below)});
  // The rows whose bands the pass repaints, with what their text reached before, and the rows
  // outside it whose text reaches into it: that text is drawn again over the new backgrounds.
  struct PassRow {
    int row;
    ViewLineInfo info;
    bool repainted;
    RowReach before;
  };
  std::vector<PassRow> rows;
  rows.reserve(size_t(std::max(last - first + 1, 0) + 2 * farthest));
  RowAnalysis analysis = rowAnalysis();
  analysis.spareRuns = &shapeCache->spareRuns;
  auto reachesIn = [&](int row) {
    if (row >= 0 && row < lineCount)
      rows.push_back({row, analysis.cut(row, *buffer.lines()[row], buffer.cols()), false, {}});
  };
  for (int row = std::max(first - farthest, bufferOffset); row < first; row++) {
    if (reachOf(row).below >= first - row) reachesIn(row);
  }
  // Opaque backgrounds painted straight into the pixels overwrite their whole band, which then
  // needs no clearing; the other bands are cleared before any row paints, since a row's glyphs may
  // reach into the next.
  inkBeyondPass = {};
  for (int row = first; row <= last; row++) {
    double top = ch * (row - bufferOffset);
    if (top >= frameSize.height) continue;
    if (row < 0 || row >= lineCount) {
      clearBand(cr, top, ch, pass);
      noteRowReach(row - bufferOffset, reachOf(row), dirtyRect, InkSpan{});
      continue;
    }
    const BufferLine& line = *buffer.lines()[row];
    ViewLineInfo info = analysis.cut(row, line, buffer.cols());
    bool transformed = line.renderMode != BufferLine::RenderLineMode::single;
    if (transformed || !backgroundsOverwriteRow(info, top, pass.canvas ? &*pass.canvas : nullptr))
      clearBand(cr, top, ch, pass);
    rows.push_back({row, std::move(info), true, reachOf(row)});
  }
  for (int row = last + 1; row <= last + farthest && ch * (row - bufferOffset) < frameSize.height; row++) {
    if (reachOf(row).above >= row - last) reachesIn(row);
  }
  auto imagesAbove = [&](int row) {
    const LineImages* above = row > 0 ? &buffer.lines()[row - 1]->images() : nullptr;
    return above && *above ? &**above : nullptr;
  };
  // Every row's backgrounds first, and then every row's text, as the GPU path layers them: ink that
  // reaches past its row lies over the next row's background.
  for (const auto& passRow : rows) {
    if (!passRow.repainted) continue;
    pass.imagesAbove = imagesAbove(passRow.row);
    drawRowUnder(*buffer.lines()[passRow.row], passRow.info, ch * (passRow.row - bufferOffset), cr, pass);
  }
  for (const auto& [row, info, repainted, before] : rows) {
    const BufferLine& line = *buffer.lines()[row];
    const double top = ch * (row - bufferOffset);
    if (!repainted) {
      RowTransform transform(cr, line.renderMode, top, ch, frameSize.width, pass.canvas);
      drawRowText(info, top + ch - std::ceil(metrics.descent + metrics.leading), cr, pass);
      continue;
    }
    lastPassRowCount++;
    pass.imagesAbove = imagesAbove(row);
    // A row at double height is clipped to its band.
    InkSpan ink;
    const bool clipped = line.renderMode == BufferLine::RenderLineMode::doubledTop ||
                         line.renderMode == BufferLine::RenderLineMode::doubledDown;
    pass.ink = clipped ? nullptr : &ink;
    drawRowOver(line, info, top, cr, pass);
    pass.ink = nullptr;
    noteRowReach(row - bufferOffset, before, dirtyRect, ink);
  }
  pass.imagesAbove = nullptr;
  // At most a screenful of runs is kept: one pass's worth of a row that changes at every cell.
  auto& spare = shapeCache->spareRuns;
  for (auto& passRow : rows) {
    for (auto& segment : passRow.info.segments) {
      for (auto& piece : segment.attributedString) {
        if (spare.size() >= spareRunsKept) break;
        spare.push_back(std::move(piece));
      }
    }
  }
  if (pass.canvas) cairo_surface_mark_dirty(cairo_get_target(cr));

  // The strip below the last whole row, which no row covers.
  double rowsHeight = std::floor(frameSize.height / ch) * ch;
  ViewRect strip{0, rowsHeight, frameSize.width, frameSize.height - rowsHeight};
  if (dirtyRect.intersects(strip)) {
    clearBand(cr, strip.y, strip.height, pass);
    setSource(cr, nativeBackgroundColor());
    cairo_rectangle(cr, strip.x, strip.y, strip.width, strip.height);
    cairo_fill(cr);
  }
}

void TerminalView::drawRowUnder(const BufferLine& line, const ViewLineInfo& info, double top, cairo_t* cr,
                                DrawingPass& pass) {
  const double ch = cellDimension->height;
  RowTransform transform(cr, line.renderMode, top, ch, frameSize.width, pass.canvas);
  drawRowBackgrounds(info, top, cr, pass.canvas ? &*pass.canvas : nullptr);
  // A row at twice the size has a geometry of its own, which the slices above it do not share.
  const bool transformed = line.renderMode != BufferLine::RenderLineMode::single;
  SplitImages hanging = !transformed && pass.imagesAbove ? hangingSlices(*pass.imagesAbove) : SplitImages{};
  drawRowImages(hanging.below, splitImages(info.images).below, top, cr, pass, true);
}

void TerminalView::drawRowOver(const BufferLine& line, const ViewLineInfo& info, double top, cairo_t* cr,
                               DrawingPass& pass) {
  const double ch = cellDimension->height;
  RowTransform transform(cr, line.renderMode, top, ch, frameSize.width, pass.canvas);
  ViewPoint lineOrigin{0, top};
  if (!info.boxDrawings.empty()) drawBoxDrawings(info.boxDrawings, lineOrigin, cr);
  if (!info.blockElements.empty()) drawBlockElements(info.blockElements, lineOrigin, cr);
  if (!info.powerlineGlyphs.empty()) drawPowerlineGlyphs(info.powerlineGlyphs, lineOrigin, line.renderMode, cr);
  drawRowText(info, top + ch - std::ceil(metrics.descent + metrics.leading), cr, pass);
  for (const auto& cell : info.kittyPlaceholders) {
    drawPlaceholderCell(cell, pass.virtualPlacements, pass.placeholderImages, cr, top, pass.scale);
  }
  const bool transformed = line.renderMode != BufferLine::RenderLineMode::single;
  SplitImages hanging = !transformed && pass.imagesAbove ? hangingSlices(*pass.imagesAbove) : SplitImages{};
  auto images = splitImages(info.images);
  drawRowImages(hanging.above, images.above, top, cr, pass, true);
  drawRowImages({}, images.other, top, cr, pass, false);
}

// Slices of the row above that hang into this one, then the row's own, clipped to its band.
void TerminalView::drawRowImages(const std::vector<InlineImageSlice*>& hanging,
                                 const std::vector<InlineImageSlice*>& own, double top, cairo_t* cr,
                                 const DrawingPass& pass, bool kittyOffsets) {
  const ViewSize cell = *cellDimension;
  for (const auto* image : hanging) {
    drawImage(static_cast<const AppleImage&>(*image), cr, top - cell.height, pass.scale, kittyOffsets, cell, top);
  }
  for (const auto* image : own) {
    drawImage(static_cast<const AppleImage&>(*image), cr, top, pass.scale, kittyOffsets, cell, top);
  }
}

// Keeps what the text of a repainted screen row reaches now, and marks the rows outside the pass's
// rectangle that it reaches or reached before.
void TerminalView::noteRowReach(int screenRow, RowReach before, ViewRect dirtyRect, const InkSpan& ink) {
  const double ch = cellDimension->height, top = ch * screenRow, bottom = top + ch;
  RowReach now;
  if (!ink.empty) {
    auto rows = [&](double past) { return uint8_t(std::clamp(std::ceil(past / ch - 1e-6), 0.0, 255.0)); };
    now = {rows(top - ink.top), rows(ink.bottom - bottom)};
  }
  if (screenRow >= 0 && size_t(screenRow) < rowReaches.size()) rowReaches[size_t(screenRow)] = now;
  if (top >= dirtyRect.maxY() || bottom <= dirtyRect.minY()) return;
  const int above = std::max(before.above, now.above), below = std::max(before.below, now.below);
  const double above0 = std::max(top - ch * above, 0.0), above1 = std::min(top, dirtyRect.minY());
  if (above1 > above0) inkBeyondPass = inkBeyondPass.united({0, above0, frameSize.width, above1 - above0});
  const double below0 = std::max(bottom, dirtyRect.maxY()), below1 = std::min(bottom + ch * below, frameSize.height);
  if (below1 > below0) inkBeyondPass = inkBeyondPass.united({0, below0, frameSize.width, below1 - below0});
}

template <typename Fill>
void TerminalView::eachBackground(const ViewLineInfo& info, double top, Fill&& fill) {
  const double cw = cellDimension->width, ch = cellDimension->height;
  for (const auto& segment : info.segments) {
    int column = segment.column;
    for (const auto& piece : segment.attributedString) {
      int firstCol = column, endCol = column + piece.cellCount() * segment.columnWidth;
      column = endCol;
      if (endCol <= firstCol) continue;
      const ViewColor& color = piece.attributes.selectionBackgroundColor ? *piece.attributes.selectionBackgroundColor
                                                                         : piece.attributes.background;
      double x = cw * firstCol, width = cw * (endCol - firstCol);
      // The last run reaches the view's right edge, past the last whole column.
      bool last = endCol >= terminal->cols;
      if (last && color == nativeBackgroundColor()) width = std::max(frameSize.width - x, width);
      fill(color, x, top, width, ch);
      if (last && x + width < frameSize.width)
        fill(nativeBackgroundColor(), x + width, top, frameSize.width - x - width, ch);
    }
  }
}

void TerminalView::drawRowBackgrounds(const ViewLineInfo& info, double top, cairo_t* cr, PixelCanvas* canvas) {
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  // A rectangle of whole device pixels is filled straight into them.
  eachBackground(info, top, [&](const ViewColor& color, double x, double y, double width, double height) {
    if (canvas) {
      double s = canvas->scale;
      auto x0 = wholePixel(x * s), y0 = wholePixel(y * s), x1 = wholePixel((x + width) * s),
           y1 = wholePixel((y + height) * s);
      if (x0 && y0 && x1 && y1) {
        canvas->fill(*x0, *y0, *x1, *y1, PixelCanvas::pixel(color));
        return;
      }
    }
    setSource(cr, color);
    cairo_rectangle(cr, x, y, width, height);
    cairo_fill(cr);
  });
  cairo_restore(cr);
}

bool TerminalView::backgroundsOverwriteRow(const ViewLineInfo& info, double top, const PixelCanvas* canvas) {
  if (!canvas) return false;
  const double s = canvas->scale;
  auto rowWidth = wholePixel(frameSize.width * s);
  if (!rowWidth || !wholePixel(top * s) || !wholePixel((top + cellDimension->height) * s)) return false;
  // The rectangles must follow each other from the left edge to the right one.
  int reached = 0;
  bool overwrites = true;
  eachBackground(info, top, [&](const ViewColor& color, double x, double, double width, double) {
    auto x0 = wholePixel(x * s), x1 = wholePixel((x + width) * s);
    overwrites = overwrites && color.alpha >= 1 && x0 && x1 && *x0 == reached;
    if (overwrites) reached = *x1;
  });
  return overwrites && reached == *rowWidth;
}

// Clears the part of a band of rows that the pass repaints.
void TerminalView::clearBand(cairo_t* cr, double top, double height, const DrawingPass& pass) {
  double y0 = std::max(top, pass.dirty.minY()), y1 = std::min(top + height, pass.dirty.maxY());
  if (y1 <= y0) return;
  cairo_save(cr);
  cairo_rectangle(cr, pass.dirty.x, y0, pass.dirty.width, y1 - y0);
  cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
  cairo_fill(cr);
  cairo_restore(cr);
}

// Ink is measured only where it may reach past the row: text that is not plain ASCII, or a face
// whose plain ASCII does at this size.
bool TerminalView::mayReachPastRow(const ViewLineInfo& info, const DrawingPass& pass) {
  uint8_t bytes = 0;
  unsigned faces = 0;
  for (const auto& segment : info.segments) {
    for (const auto& piece : segment.attributedString) {
      faces |= 1u << unsigned(piece.attributes.font);
      const std::string& text = piece.text;
      bytes |= text.size() == 1 ? uint8_t(text[0]) : plainAscii(text) ? 0 : 0x80;
    }
  }
  if (bytes & 0x80) return true;
  for (unsigned face = 0; face < 4; face++) {
    if ((faces >> face & 1) && asciiReachesPastRow(FontFace(face), pass)) return true;
  }
  return false;
}

bool TerminalView::asciiReachesPastRow(FontFace face, const DrawingPass& pass) {
  auto& reaches = shapeCache->asciiReaches[size_t(face)];
  if (!reaches) {
    const double below = std::ceil(metrics.descent + metrics.leading);
    reaches = asciiReaches(pass.pango, fontSet.face(face).gobj(), pass, below - cellDimension->height, below);
  }
  return *reaches;
}

void TerminalView::drawRowText(const ViewLineInfo& info, double baseline, cairo_t* cr, DrawingPass& pass) {
  const double cw = cellDimension->width;
  const double cellTop = baseline + std::ceil(metrics.descent + metrics.leading) - cellDimension->height;
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
  if (!shapeCache) shapeCache = std::make_shared<ShapeCache>();
  if (shapeCache->useAscii != laysAsciiDirectly) {
    shapeCache->clear();
    shapeCache->useAscii = laysAsciiDirectly;
  }
  InkSpan* ink = pass.ink && mayReachPastRow(info, pass) ? pass.ink : nullptr;
  std::vector<ViewPoint> positions;
  std::vector<cairo_glyph_t> batch;
  CellFit cellFit;
  for (const auto& segment : info.segments) {
    int column = segment.column;
    for (const auto& piece : segment.attributedString) {
      int firstCol = column;
      column += piece.cellCount() * segment.columnWidth;
      positions.clear();
      for (int k = 0; k < piece.cellCount(); k++)
        positions.push_back({cw * (firstCol + k * segment.columnWidth), baseline});
      if (piece.text.find_first_not_of(' ') != std::string::npos) {
        // Narrow glyphs at their natural size are painted straight into the pixels when they can
        // be; wide ones may need fitting to their slot and stay with Cairo. So do long runs, where
        // the cost of a Cairo call is spread over many glyphs and its compositor is the faster.
        bool direct = pass.canvas && segment.columnWidth == 1 && piece.cellCount() <= directRunCells;
        uint32_t pixel = direct ? PixelCanvas::pixel(piece.attributes.foreground) : 0;
        cellFit.cell = -1;
        auto draw = [&](const ShapedItem& item) {
          if (!item.missingCells.empty()) [[unlikely]] {
            setSource(cr, piece.attributes.foreground);
            for (int cell : item.missingCells)
              drawMissingGlyphBox(cr, cw * (firstCol + cell * segment.columnWidth), cellTop, segment.columnWidth,
                                  pass.scale);
          }
          // Marks of a cell whose glyph an earlier item fitted into it follow that fit, with Cairo.
          if (direct && !cellFit.continuedBy(item.glyphs) &&
              paintGlyphItem(*shapeCache, item, firstCol, cw, baseline, pixel, _fontSmoothing, pass, ink))
            return;
          setSource(cr, piece.attributes.foreground);
          drawGlyphItem(item.font.get(), item.glyphs, firstCol, segment.columnWidth, baseline, cr, pass, batch, cellFit,
                        ink);
        };
        if (piece.text.size() <= ShapeCache::longestText) {
          const auto* font = fontSet.face(piece.attributes.font).gobj();
          for (auto& item : shapedShortPiece(*shapeCache, pass.pango, piece, font)) draw(item);
        } else {
          const auto* font = fontSet.face(piece.attributes.font).gobj();
          for (auto& item : shapedText(*shapeCache, pass.pango, piece, font)) draw(item);
        }
      }
      if (!pass.canvas || !paintRunAttributes(piece.attributes, positions, pass))
        drawRunAttributes(piece.attributes, positions, cr);
    }
  }
  cairo_restore(cr);
}

// The fit of the glyph that opens a cell, which the cell's other glyphs (its marks) follow: a wide
// character's glyph fits its slot, and a glyph made for a wider place than its one cell fits that
// cell, both by the advance of the glyph's cluster.
GlyphSlotFit TerminalView::cellGlyphFit(PangoFont* font, const ShapedGlyph& g, int columnWidth) const {
  PangoRectangle ink, logical;
  pango_font_get_glyph_extents(font, g.glyph, &ink, &logical);
  ViewRect bounds{double(ink.x) / PANGO_SCALE, -double(ink.y + ink.height) / PANGO_SCALE,
                  double(ink.width) / PANGO_SCALE, double(ink.height) / PANGO_SCALE};
  // A mark that opens its cell (its base drawn as a box) takes no room of the shaper's.
  double advance = g.advance > 0 ? g.advance : double(logical.width) / PANGO_SCALE;
  return glyphSlotFit(advance, bounds, columnWidth);
}

// Glyphs go out in one call; only a glyph that must shrink to fit its slot is drawn alone. A cell's
// marks take the fit of its first glyph.
void TerminalView::drawGlyphItem(PangoFont* font, const std::vector<ShapedGlyph>& glyphs, int firstCol, int columnWidth,
                                 double baseline, cairo_t* cr, DrawingPass& pass, std::vector<cairo_glyph_t>& batch,
                                 CellFit& cellFit, InkSpan* ink) {
  if (!font) return;
  cairo_scaled_font_t* scaled = pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(font));
  if (!scaled) return;
  cairo_set_scaled_font(cr, scaled);
  if (!_fontSmoothing) cairo_set_font_options(cr, pass.fontOptions.get());
  const double cw = cellDimension->width;
  batch.clear();
  size_t i = 0;
  // Glyphs that keep to their one cell, as nearly all do, go straight out, up to the first that
  // does not; a cell fitted by an earlier item has its marks follow its fit.
  if (columnWidth < 2 && !cellFit.continuedBy(glyphs)) {
    for (; i < glyphs.size() && !glyphOverflowsSlot(glyphs[i].advance, columnWidth, cw); i++) {
      const auto& g = glyphs[i];
      batch.push_back({g.glyph, cw * (firstCol + g.cell) + g.offsetX, baseline + g.offsetY});
    }
    if (i > 0) cellFit = {glyphs[i - 1].cell, {}};
  }
  for (; i < glyphs.size(); i++) {
    const auto& g = glyphs[i];
    if (g.cell != cellFit.cell) {
      const bool keeps = columnWidth < 2 && !glyphOverflowsSlot(g.advance, columnWidth, cw);
      cellFit = {g.cell, keeps ? GlyphSlotFit{} : cellGlyphFit(font, g, columnWidth)};
    }
    const GlyphSlotFit& fit = cellFit.fit;
    double x = cw * (firstCol + g.cell * columnWidth) + fit.dx + fit.scale * g.offsetX;
    double y = baseline + fit.scale * g.offsetY - fit.dy;
    if (fit.scale == 1.0) {
      batch.push_back({g.glyph, x, y});
      continue;
    }
    cairo_glyph_t glyph{g.glyph, 0, 0};
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, fit.scale, fit.scale);
    cairo_show_glyphs(cr, &glyph, 1);
    if (ink) {
      cairo_text_extents_t drawn;
      cairo_glyph_extents(cr, &glyph, 1, &drawn);
      ink->add(y + fit.scale * drawn.y_bearing, y + fit.scale * (drawn.y_bearing + drawn.height));
    }
    cairo_restore(cr);
  }
  if (batch.empty()) return;
  cairo_show_glyphs(cr, batch.data(), int(batch.size()));
  if (ink) {
    // Measured as Cairo draws them: from the first glyph's origin, in whole device pixels.
    cairo_text_extents_t drawn;
    cairo_glyph_extents(cr, batch.data(), int(batch.size()), &drawn);
    ink->add(batch[0].y + drawn.y_bearing, batch[0].y + drawn.y_bearing + drawn.height);
  }
}

// One cell's text in the current source, as a row draws it: the caret shows the character under it
// this way. `top` is the cell's top edge, `baseline` its baseline.
void TerminalView::drawCellText(cairo_t* cr, const std::string& text, FontFace face, int columnWidth, double top,
                                double baseline) {
  if (!cellDimension || text.empty()) return;
  AttributedPiece piece{text, {}, {0}};
  DrawingPass pass;
  pass.fontOptions.reset(cairo_font_options_create());
  if (!_fontSmoothing) cairo_font_options_set_antialias(pass.fontOptions.get(), CAIRO_ANTIALIAS_GRAY);
  pass.scale = backingScaleFactor();
  std::vector<cairo_glyph_t> batch;
  CellFit cellFit;
  cairo_save(cr);
  for (const auto& item : shape(get_pango_context()->gobj(), piece, fontSet.face(face).gobj(), nullptr)) {
    if (!item.missingCells.empty()) drawMissingGlyphBox(cr, 0, top, columnWidth, pass.scale);
    drawGlyphItem(item.font.get(), item.glyphs, 0, columnWidth, baseline, cr, pass, batch, cellFit);
  }
  cairo_restore(cr);
}

// A box in the cells' slot, in the current source, for a character that no font has.
void TerminalView::drawMissingGlyphBox(cairo_t* cr, double left, double top, int columnWidth, double scale) {
  if (scale <= 0) return;
  MissingGlyphBox box = missingGlyphBox(left, top, cellDimension->width * columnWidth, cellDimension->height,
                                        metrics.underlineThickness, scale);
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  for (const auto& [x0, y0, x1, y1] : box.bars) {
    if (x1 > x0 && y1 > y0) cairo_rectangle(cr, x0 / scale, y0 / scale, (x1 - x0) / scale, (y1 - y0) / scale);
  }
  cairo_fill(cr);
  cairo_restore(cr);
}

void TerminalView::drawPlaceholderCell(
    const KittyPlaceholderCell& cell,
    const std::unordered_map<uint32_t, std::vector<const KittyPlacementRecord*>>& virtualPlacements,
    std::unordered_map<uint32_t, Cairo::RefPtr<Cairo::ImageSurface>>& images, cairo_t* cr, double top, double scale) {
  auto found = virtualPlacements.find(cell.imageId);
  if (found == virtualPlacements.end()) return;
  const KittyPlacementRecord* placement = nullptr;
  for (const auto* record : found->second) {
    bool matches = cell.placementId == 0 || record->placementId == cell.placementId;
    if (matches && record->cols > cell.placeholderCol && record->rows > cell.placeholderRow && record->cols >= 1 &&
        record->rows >= 1) {
      placement = record;
      break;
    }
  }
  if (!placement) return;
  std::optional<KittyPixelSize> size = placeholderNaturalSize(cell.imageId);
  if (!size || size->width <= 0 || size->height <= 0) return;
  const double cw = cellDimension->width, ch = cellDimension->height;
  if (scale <= 0) scale = 1;
  ViewRect rect{double(placement->pixelOffsetX) / scale + cw * (cell.col - cell.placeholderCol),
                double(placement->pixelOffsetY) / scale + top - ch * cell.placeholderRow, cw * double(placement->cols),
                ch * double(placement->rows)};
  if (rect.width <= 0 || rect.height <= 0) return;
  ViewRect fit = kittyAspectFitRect({double(size->width), double(size->height)}, rect);
  auto decode = [&] { return kittyPlaceholderImage(cell.imageId, images); };
  auto image = fittedPlaceholderImage(cell.imageId, int(std::lround(fit.width * scale)),
                                      int(std::lround(fit.height * scale)), decode);
  if (!image) image = decode();
  if (!image) return;
  double iw = image->get_width(), ih = image->get_height();
  // Each placeholder cell paints only its own slice of the fitted image.
  cairo_save(cr);
  cairo_rectangle(cr, cw * cell.col, top, cw, ch);
  cairo_clip(cr);
  cairo_translate(cr, fit.x, fit.y);
  cairo_scale(cr, fit.width / iw, fit.height / ih);
  cairo_rectangle(cr, 0, 0, iw, ih);
  cairo_clip(cr);
  cairo_set_source_surface(cr, image->cobj(), 0, 0);
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_restore(cr);
}

namespace {

// The style of a run's underline: the rendition's own when present, else read from the
// platform value.
UnderlineStyle resolveUnderlineStyle(const RunAttributes& attributes) {
  if (attributes.vantrelleUnderlineStyle) {
    if (auto style = underlineStyle(uint8_t(*attributes.vantrelleUnderlineStyle))) return *style;
  }
  int v = attributes.underlineStyle.value_or(0);
  if ((v & 9) == 9) return UnderlineStyle::double_;
  if (v & 0x100) return UnderlineStyle::dotted;
  if (v & 0x600) return UnderlineStyle::dashed;
  if (v != 0) return UnderlineStyle::single;
  return UnderlineStyle::none;
}

void strokeLine(cairo_t* cr, double x0, double x1, double y) {
  cairo_move_to(cr, x0, y);
  cairo_line_to(cr, x1, y);
  cairo_stroke(cr);
}

}  // namespace

void TerminalView::drawRunAttributes(const RunAttributes& attributes, std::span<const ViewPoint> positions,
                                     cairo_t* cr) {
  if (!attributes.underlineStyle && !attributes.strikethroughStyle) return;
  if (!cellDimension) return;
  cairo_save(cr);
  double scale = backingScaleFactor();
  double span = std::ceil(cellDimension->width);
  double t = std::max(0.5, std::round(scale * metrics.underlineThickness) / scale);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  cairo_set_line_width(cr, t);
  if (attributes.underlineStyle) {
    setSource(cr, attributes.underlineColor.value_or(nativeForegroundColor()));
    double pos = metrics.underlinePosition;
    UnderlineStyle style = resolveUnderlineStyle(attributes);
    double step = std::max(1.0, t);
    for (const auto& p : positions) {
      double y = p.y - pos;
      switch (style) {
        case UnderlineStyle::none:
          break;
        case UnderlineStyle::single:
          strokeLine(cr, p.x, p.x + span, y);
          break;
        case UnderlineStyle::double_:
          strokeLine(cr, p.x, p.x + span, y);
          strokeLine(cr, p.x, p.x + span, y + t + 1);
          break;
        case UnderlineStyle::curly: {
          double period = std::max(4.0, 4 * t);
          cairo_move_to(cr, p.x, y);
          for (double x = p.x; x <= p.x + span; x += step) {
            cairo_line_to(cr, x, y - step * std::sin(2 * M_PI * (x - p.x) / period));
          }
          cairo_stroke(cr);
          break;
        }
        case UnderlineStyle::dotted: {
          double dashes[] = {step, 2 * step};
          cairo_save(cr);
          cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
          cairo_set_dash(cr, dashes, 2, 0);
          strokeLine(cr, p.x, p.x + span, y);
          cairo_restore(cr);
          break;
        }
        case UnderlineStyle::dashed: {
          double dashes[] = {std::max(2.0, 2 * t)};
          cairo_save(cr);
          cairo_set_dash(cr, dashes, 1, 0);
          strokeLine(cr, p.x, p.x + span, y);
          cairo_restore(cr);
          break;
        }
      }
    }
  }
  if (attributes.strikethroughStyle) {
    int s = *attributes.strikethroughStyle;
    setSource(cr, attributes.strikethroughColor.value_or(nativeForegroundColor()));
    double offset = (metrics.xHeight + t) * 0.5;
    double dash[] = {2.0};
    for (const auto& p : positions) {
      cairo_save(cr);
      if (s & 0x200) cairo_set_dash(cr, dash, 1, 0);
      strokeLine(cr, p.x, p.x + span, p.y - offset);
      if ((s & 9) == 9) strokeLine(cr, p.x, p.x + span, p.y - offset + t + 1);
      cairo_restore(cr);
    }
  }
  cairo_restore(cr);
}

namespace {
std::optional<TerminalView::ShapeCache::Decoration> decorationMasks(TerminalView& view, const RunAttributes& attributes,
                                                                    double scale) {
  using ShapeCache = TerminalView::ShapeCache;
  const ViewSize cell = *view.cellDimension;
  // A cell's height of room on every side holds any line the font's metrics put near the cell.
  int cellPx = int(std::ceil(cell.height * scale));
  int width = int(std::ceil(std::ceil(cell.width) * scale)) + 2 * cellPx, height = 4 * cellPx;
  auto coverage = [&](const RunAttributes& white) {
    return coverageOf(width, height, scale, cellPx, 2 * cellPx, [&](cairo_t* cr, double x, double y) {
      ViewPoint origin{x, y};
      view.drawRunAttributes(white, std::span<const ViewPoint>(&origin, 1), cr);
    });
  };
  ShapeCache::Decoration decoration;
  if (attributes.underlineStyle) {
    RunAttributes white;
    white.underlineStyle = attributes.underlineStyle;
    white.vantrelleUnderlineStyle = attributes.vantrelleUnderlineStyle;
    white.underlineColor = ViewColor::white();
    auto mask = coverage(white);
    if (!mask) return std::nullopt;
    decoration.underline = std::move(*mask);
  }
  if (attributes.strikethroughStyle) {
    RunAttributes white;
    white.strikethroughStyle = attributes.strikethroughStyle;
    white.strikethroughColor = ViewColor::white();
    auto mask = coverage(white);
    if (!mask) return std::nullopt;
    decoration.strikethrough = std::move(*mask);
  }
  return decoration;
}
}  // namespace

// Underline and strikethrough painted into the pixels: each style's coverage for one cell is taken
// once from drawRunAttributes itself, then painted at every position. False, with nothing painted,
// when a position is not on whole device pixels or a line reaches past the room measured for it.
bool TerminalView::paintRunAttributes(const RunAttributes& attributes, std::span<const ViewPoint> positions,
                                      DrawingPass& pass) {
  if (!attributes.underlineStyle && !attributes.strikethroughStyle) return true;
  if (!cellDimension || !shapeCache) return false;
  PixelCanvas& canvas = *pass.canvas;
  const double scale = canvas.scale;
  for (const auto& p : positions)
    if (!isWhole(p.x * scale) || !isWhole(p.y * scale)) return false;
  ShapeCache::DecorationKey key{attributes.underlineStyle ? int(resolveUnderlineStyle(attributes)) : -1,
                                attributes.strikethroughStyle ? *attributes.strikethroughStyle : -1, scale};
  auto& decorations = shapeCache->decorations;
  auto found = std::find_if(decorations.begin(), decorations.end(), [&](const auto& d) { return d.first == key; });
  if (found == decorations.end()) {
    if (decorations.size() >= 64) decorations.clear();
    decorations.emplace_back(key, decorationMasks(*this, attributes, scale));
    found = decorations.end() - 1;
  }
  if (!found->second) return false;
  if (attributes.underlineStyle) {
    uint32_t pixel = PixelCanvas::pixel(attributes.underlineColor.value_or(nativeForegroundColor()));
    for (const auto& p : positions)
      canvas.paint(found->second->underline, canvas.devicePixel(p.x), canvas.devicePixel(p.y), pixel);
  }
  if (attributes.strikethroughStyle) {
    uint32_t pixel = PixelCanvas::pixel(attributes.strikethroughColor.value_or(nativeForegroundColor()));
    for (const auto& p : positions)
      canvas.paint(found->second->strikethrough, canvas.devicePixel(p.x), canvas.devicePixel(p.y), pixel);
  }
  return true;
}

void TerminalView::drawBlockElements(const std::vector<BlockElementRenderItem>& items, ViewPoint lineOrigin,
                                     cairo_t* cr) {
  if (items.empty() || !cellDimension) return;
  double scale = backingScaleFactor();
  cairo_save(cr);
  cairo_set_antialias(cr, antiAliasCustomBlockGlyphs ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
  double eighthH = cellDimension->height * 0.125;
  double top = lineOrigin.y;
  for (const auto& item : items) {
    double x = lineOrigin.x + cellDimension->width * item.column;
    double eighthW = cellDimension->width * item.columnWidth * 0.125;
    double a = item.foregroundColor.alpha;
    for (const auto& r : item.rects) {
      double minX = x + eighthW * r.x0, maxX = x + eighthW * r.x1;
      double minY = top + eighthH * r.y0, maxY = top + eighthH * r.y1;
      if (!antiAliasCustomBlockGlyphs && scale > 0) {
        minX = std::floor(scale * minX) / scale, maxX = std::ceil(scale * maxX) / scale;
        minY = std::floor(scale * minY) / scale, maxY = std::ceil(scale * maxY) / scale;
      }
      double w = std::max(maxX - minX, 0.0), h = std::max(maxY - minY, 0.0);
      if (w == 0 || h == 0) continue;
      setSource(cr, item.foregroundColor.withAlpha(std::clamp(a * rawValue(r.alpha), 0.0, 1.0)));
      cairo_rectangle(cr, minX, minY, w, h);
      cairo_fill(cr);
    }
  }
  cairo_restore(cr);
}

void TerminalView::drawBoxDrawings(const std::vector<BoxDrawingRenderItem>& items, ViewPoint lineOrigin, cairo_t* cr) {
  if (items.empty() || !cellDimension) return;
  double scale = backingScaleFactor();
  cairo_save(cr);
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  int cellWpx = std::max(int(std::lround(scale * cellDimension->width)), 1);
  int cellHpx = std::max(int(std::lround(scale * cellDimension->height)), 1);
  int base = std::max({int(std::lround(scale * metrics.underlineThickness * 1.35)), int(std::lround(scale)), 1});
  double rowY = std::round(lineOrigin.y * scale) / scale;
  double x0 = std::round(lineOrigin.x * scale);
  for (const auto& item : items) {
    ViewPoint origin{(x0 + item.column * cellWpx) / scale, rowY};
    ViewSize size{double(cellWpx * item.columnWidth) / scale, cellHpx / scale};
    ViewColor color = item.foregroundColor.withAlpha(std::clamp(item.foregroundColor.alpha, 0.0, 1.0));
    BoxDrawingRenderer::draw(item.codePoint, cr, origin, size, scale, color, base);
  }
  cairo_restore(cr);
}

void TerminalView::drawPowerlineGlyphs(const std::vector<PowerlineRenderItem>& items, ViewPoint lineOrigin,
                                       BufferLine::RenderLineMode renderMode, cairo_t* cr) {
  if (items.empty() || !cellDimension) return;
  double scale = backingScaleFactor();
  double sx = renderMode == BufferLine::RenderLineMode::single ? scale : scale * 2;
  bool doubledY =
      renderMode == BufferLine::RenderLineMode::doubledTop || renderMode == BufferLine::RenderLineMode::doubledDown;
  double sy = doubledY ? scale * 2 : scale;
  if (sx <= 0 || sy <= 0) return;
  for (const auto& item : items) {
    if (!isPowerlineGlyph(item.codePoint)) continue;
    double minX = lineOrigin.x + cellDimension->width * item.column;
    double maxX = minX + cellDimension->width * item.columnWidth;
    double minY = lineOrigin.y, maxY = minY + cellDimension->height;
    double left = std::floor(sx * minX) / sx, right = std::ceil(sx * maxX) / sx;
    double top = std::floor(sy * minY) / sy, bottom = std::ceil(sy * maxY) / sy;
    bool pointsRight = item.codePoint == 0xe0b0 || item.codePoint == 0xe0b4;
    double baseX = pointsRight ? left : right, tipX = pointsRight ? right : left;
    cairo_save(cr);
    setSource(cr, item.foregroundColor);
    // A one-pixel bar under the neighbouring cell hides the seam between glyph and background.
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_rectangle(cr, pointsRight ? left - 1 / sx : right, top, 1 / sx, bottom - top);
    cairo_fill(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_move_to(cr, baseX, bottom);
    if (item.codePoint == 0xe0b0 || item.codePoint == 0xe0b2) {
      cairo_line_to(cr, tipX, std::round(sy * (top + bottom) * 0.5) / sy);
      cairo_line_to(cr, baseX, top);
    } else {
      double control = baseX + (tipX - baseX) * 4.0 / 3.0;
      cairo_curve_to(cr, control, bottom, control, top, baseX, top);
    }
    cairo_close_path(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr);
    cairo_restore(cr);
  }
}

}  // namespace vantrelle
