// Packing glyph bitmaps into the glyph atlas, the shaping cache's lookups and rasterising colour
// glyphs: the CPU side of a frame whose rows all changed. The device keeps textures in memory, so
// no GPU is needed.
#include <benchmark/benchmark.h>
#include <pango/pangocairo.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Vantrelle/GPU/GlyphAtlas.h"
#include "Vantrelle/GPU/GlyphRasterizer.h"
#include "Vantrelle/GPU/ShaperCache.h"
#include "platform/CairoPtr.h"
#include "platform/GLibPtr.h"
#include "platform/PangoPtr.h"

namespace {

using namespace vantrelle;

class MemoryTexture : public GpuTexture {
 public:
  MemoryTexture(int w, int h) : w(w), h(h) {}
  int width() const override { return w; }
  int height() const override { return h; }
  void replaceRegion(int, int, int, int, const uint8_t*, size_t) override {}
  int w, h;
};

class MemoryDevice : public GpuDevice {
 public:
  std::shared_ptr<GpuTexture> makeTexture(int w, int h, GpuPixelFormat) override {
    return std::make_shared<MemoryTexture>(w, h);
  }
  std::shared_ptr<GpuBuffer> makeBuffer(size_t) override { return nullptr; }
  bool supportsLargeTextures() const override { return false; }
};

// Regions and writes of 12 by 18 glyphs, the size of a 12-point cell, until the atlas resets.
void BM_AtlasPackAndWrite(benchmark::State& state) {
  auto device = std::make_shared<MemoryDevice>();
  auto atlas = GlyphAtlas::make(device, 1024, 1024, GlyphAtlasFormat::grayscale);
  std::vector<uint8_t> bitmap(12 * 18 * 4, 200);
  for (auto _ : state) {
    auto region = atlas->ensureRegion(12, 18);
    if (region) atlas->write(*region, bitmap.data(), 12, 18);
    benchmark::DoNotOptimize(region);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bitmap.size()));
}
BENCHMARK(BM_AtlasPackAndWrite);

// Cache hits of the shaping cache's key, the common case of an unchanged row.
void BM_ShaperCacheLookup(benchmark::State& state) {
  ShaperCache cache;
  auto run = std::make_shared<ShaperRun>();
  std::vector<ShaperKey> keys;
  for (int i = 0; i < 2048; i++) keys.push_back({"Monospace", 12, "line " + std::to_string(i) + " of text"});
  for (const auto& key : keys) cache.insert(key, run);
  size_t i = 0;
  for (auto _ : state) {
    const auto& key = keys[i++ % keys.size()];
    benchmark::DoNotOptimize(cache.contains(key));
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_ShaperCacheLookup);

// Shaping a run found in the cache, as a frame does for every run of a changed row: the font is
// a description the frame copied, so the cache must name it before it can look the text up.
void BM_ShapeCachedRun(benchmark::State& state) {
  PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
  PangoFontDescription* font = pango_font_description_from_string("DejaVu Sans Mono 12");
  ShaperCache cache;
  std::vector<std::string> texts;
  for (int i = 0; i < 256; i++) {
    char text[8];
    std::snprintf(text, sizeof text, "%c%d", '!' + i % 90, i);
    texts.emplace_back(text);
  }
  for (const auto& text : texts) cache.shape(text, context, font);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(cache.shape(texts[i++ % texts.size()], context, font));
  state.SetItemsProcessed(int64_t(state.iterations()));
  pango_font_description_free(font);
  g_object_unref(context);
}
BENCHMARK(BM_ShapeCachedRun);

// Rasterising the glyphs of the colour emoji font (fonts-noto-color-emoji) for the atlas, each as
// the first time it is drawn: the font is made anew at another size for every pass over its
// glyphs, as the renderer makes its device-sized fonts, so no bitmap comes from Cairo's own cache.
// The time is per glyph.
void BM_RasterizeColorGlyphs(benchmark::State& state) {
  PangoFontMap* map = pango_cairo_font_map_get_default();
  platform::GObjectPtr<PangoContext> context(pango_font_map_create_context(map));
  platform::PangoFontDescriptionPtr description(pango_font_description_from_string("Noto Color Emoji 15"));
  platform::GObjectPtr<PangoFont> loaded(pango_font_map_load_font(map, context.get(), description.get()));
  cairo_scaled_font_t* base = loaded ? pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(loaded.get())) : nullptr;
  // Without the font, fontconfig hands over another.
  platform::PangoFontDescriptionPtr found(base ? pango_font_describe(loaded.get()) : nullptr);
  if (!base || std::string(pango_font_description_get_family(found.get())) != "Noto Color Emoji") {
    state.SkipWithError("no colour emoji font (fonts-noto-color-emoji)");
    return;
  }
  platform::CairoFontOptionsPtr options(cairo_font_options_create());
  cairo_scaled_font_get_font_options(base, options.get());
  cairo_matrix_t identity;
  cairo_matrix_init_identity(&identity);
  // Glyph 0 is the font's missing glyph; the emoji follow it.
  constexpr uint32_t glyphs = 1024;
  CoreTextGlyphRasterizer rasterizer;
  platform::CairoScaledFontPtr font;
  uint32_t glyph = glyphs, pass = 0;
  for (auto _ : state) {
    if (glyph == glyphs) {
      cairo_matrix_t size;
      cairo_matrix_init_scale(&size, 20 + pass % 8, 20 + pass % 8);
      font.reset(cairo_scaled_font_create(cairo_scaled_font_get_font_face(base), &size, &identity, options.get()));
      glyph = 1, pass++;
    }
    benchmark::DoNotOptimize(rasterizer.rasterize(font.get(), glyph++));
  }
  state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_RasterizeColorGlyphs)->Unit(benchmark::kMicrosecond);

}  // namespace
