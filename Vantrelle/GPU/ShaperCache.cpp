#include "Vantrelle/GPU/ShaperCache.h"

#include <algorithm>
#include <functional>

#include "Vantrelle/Render/CellGlyphs.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

FontRef retainFont(PangoFont* font) {
  if (!font) return nullptr;
  g_object_ref(font);
  return FontRef(font, platform::GObjectUnref());
}

std::string fontName(const PangoFontDescription* description) {
  platform::PangoFontDescriptionPtr copy(pango_font_description_copy(description));
  pango_font_description_unset_fields(copy.get(), PANGO_FONT_MASK_SIZE);
  platform::GCharPtr text(pango_font_description_to_string(copy.get()));
  return text ? text.get() : "";
}

size_t ShaperKeyHash::operator()(const ShaperKeyView& k) const {
  size_t h = std::hash<std::string_view>()(k.fontName);
  h = h * 31 + std::hash<double>()(k.fontSize);
  return h * 31 + std::hash<std::string_view>()(k.text);
}

namespace {

// Enough for the four faces at a few sizes and the fonts of a zoom; past it the oldest goes.
constexpr size_t maxNamedFonts = 32;

}  // namespace

const ShaperCache::NamedFont& ShaperCache::named(const PangoFontDescription* font) {
  for (const auto& entry : names) {
    if (pango_font_description_equal(entry.description.get(), font)) return entry;
  }
  if (names.size() >= maxNamedFonts) names.erase(names.begin());
  return names.emplace_back(NamedFont{platform::PangoFontDescriptionPtr(pango_font_description_copy(font)),
                                      fontName(font), double(pango_font_description_get_size(font)) / PANGO_SCALE});
}

std::shared_ptr<const ShaperRun> ShaperCache::shape(const std::string& text, PangoContext* context,
                                                    const PangoFontDescription* font) {
  if (text.empty() || !context || !font) return nullptr;
  const NamedFont& face = named(font);
  if (auto it = cache.find(ShaperKeyView{face.name, face.size, text}); it != cache.end()) return it->second;
  layoutCount++;
  ShaperKey key{face.name, face.size, text};

  auto run = std::make_shared<ShaperRun>();
  platform::PangoGlyphStringPtr shaped(pango_glyph_string_new());
  PangoGlyphString* glyphs = shaped.get();
  double penX = 0;
  // The glyphs of one item, at `offset` in the text and in `font`.
  auto addItem = [&](int offset, PangoFont* itemFont) {
    ShaperGlyphRun glyphRun;
    glyphRun.font = retainFont(itemFont);
    // Every glyph of a cluster learns the cluster's whole advance, its blank glyphs included.
    int lastCluster = -1;
    size_t clusterStart = 0;
    double clusterAdvance = 0;
    auto endCluster = [&] {
      std::fill(glyphRun.advances.begin() + ptrdiff_t(clusterStart), glyphRun.advances.end(), float(clusterAdvance));
    };
    for (int i = 0; i < glyphs->num_glyphs; i++) {
      const PangoGlyphInfo& info = glyphs->glyphs[i];
      const double pen = penX, x = penX + double(info.geometry.x_offset) / PANGO_SCALE;
      const auto cluster = uint32_t(offset + glyphs->log_clusters[i]);
      const double advance = double(info.geometry.width) / PANGO_SCALE;
      penX += advance;
      if (glyphs->log_clusters[i] != lastCluster) {
        endCluster();
        lastCluster = glyphs->log_clusters[i];
        clusterStart = glyphRun.advances.size();
        clusterAdvance = 0;
      }
      clusterAdvance += advance;
      if (info.glyph & PANGO_GLYPH_UNKNOWN_FLAG) {
        if (isMissingGlyph(info.glyph) && (run->missingClusters.empty() || run->missingClusters.back() != cluster))
          run->missingClusters.push_back(cluster);
        continue;
      }
      if (info.glyph == PANGO_GLYPH_EMPTY) continue;
      glyphRun.glyphs.push_back(info.glyph);
      glyphRun.advances.push_back(0);
      // Pango's y offsets grow downward; the renderer's y grows upward.
      glyphRun.positions.push_back({x, -double(info.geometry.y_offset) / PANGO_SCALE});
      glyphRun.clusters.push_back(cluster);
      glyphRun.pens.push_back(pen);
    }
    endCluster();
    if (glyphRun.glyphs.empty() || !glyphRun.font) return;
    run->positions.insert(run->positions.end(), glyphRun.positions.begin(), glyphRun.positions.end());
    run->glyphCount += int(glyphRun.glyphs.size());
    run->glyphRuns.push_back(std::move(glyphRun));
  };
  if (PangoFont* laid = laysAscii ? ascii.lay(context, font, text, glyphs) : nullptr) {
    addItem(0, laid);
  } else {
    platform::PangoAttrListPtr attrs(pango_attr_list_new());
    pango_attr_list_insert(attrs.get(), pango_attr_font_desc_new(font));
    // Itemising picks a fallback font per item, so one text may come back in several fonts.
    platform::PangoItemListPtr items(pango_itemize(context, text.c_str(), 0, int(text.size()), attrs.get(), nullptr));
    for (GList* l = items.get(); l; l = l->next) {
      auto* item = static_cast<PangoItem*>(l->data);
      pango_shape_full(text.c_str() + item->offset, item->length, text.c_str(), int(text.size()), &item->analysis,
                       glyphs);
      addItem(item->offset, item->analysis.font);
    }
  }
  insert(key, run);
  return run;
}

void ShaperCache::insert(const ShaperKey& key, std::shared_ptr<const ShaperRun> run) {
  auto [it, added] = cache.insert_or_assign(key, std::move(run));
  if (added) order.push_back(key);
  while (order.size() > maxEntries) {
    cache.erase(order.front());
    order.pop_front();
  }
}

}  // namespace vantrelle
