#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include "Vantrelle/GPU/GlyphRasterizer.h"
#include "Vantrelle/GPU/ShaperCache.h"

namespace vantrelle {
namespace {

struct PangoFixture : ::testing::Test {
  void SetUp() override {
    context = pango_font_map_create_context(pango_cairo_font_map_get_default());
    font = pango_font_description_from_string("Monospace 12");
  }
  void TearDown() override {
    pango_font_description_free(font);
    g_object_unref(context);
  }
  cairo_scaled_font_t* scaledFont(const char* text) {
    auto run = cache.shape(text, context, font);
    return pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(run->glyphRuns[0].font.get()));
  }
  PangoContext* context = nullptr;
  PangoFontDescription* font = nullptr;
  ShaperCache cache;
};

TEST_F(PangoFixture, ShapesOnceAndEvictsFirstInFirstOut) {
  EXPECT_EQ(cache.shape("", context, font), nullptr);
  auto run = cache.shape("abc", context, font);
  ASSERT_TRUE(run);
  EXPECT_EQ(run->glyphCount, 3);
  EXPECT_EQ(cache.shape("abc", context, font), run);
  EXPECT_EQ(cache.layoutCount, 1u);

  ShaperCache small(2);
  auto key = [](const char* t) { return ShaperKey{"F", 12, t}; };
  small.insert(key("a"), run);
  small.insert(key("b"), run);
  small.insert(key("a"), run);  // a re-insert keeps its first place
  small.insert(key("c"), run);
  EXPECT_FALSE(small.contains(key("a")));
  EXPECT_TRUE(small.contains(key("b")));
  EXPECT_TRUE(small.contains(key("c")));
}

// A frame's font descriptions are copies made for it: an equal copy finds the runs shaped with
// the original, and a description that differs only in size does not.
TEST_F(PangoFixture, EqualDescriptionsShareRunsAndSizesDoNot) {
  auto run = cache.shape("abc", context, font);
  PangoFontDescription* copy = pango_font_description_copy(font);
  EXPECT_EQ(cache.shape("abc", context, copy), run);
  pango_font_description_set_size(copy, 20 * PANGO_SCALE);
  auto larger = cache.shape("abc", context, copy);
  ASSERT_TRUE(larger);
  EXPECT_NE(larger, run);
  EXPECT_GT(larger->positions.back().x, run->positions.back().x);
  EXPECT_EQ(cache.layoutCount, 2u);
  pango_font_description_free(copy);
}

TEST_F(PangoFixture, CombiningMarksKeepTheirCluster) {
  auto run = cache.shape("e\xCC\x81x", context, font);  // e + combining acute, x
  ASSERT_TRUE(run);
  std::vector<uint32_t> clusters;
  for (auto& g : run->glyphRuns) clusters.insert(clusters.end(), g.clusters.begin(), g.clusters.end());
  ASSERT_FALSE(clusters.empty());
  EXPECT_EQ(clusters.front(), 0u);
  EXPECT_EQ(clusters.back(), 3u);
}

TEST_F(PangoFixture, FallbackFontsGiveGlyphRunsOfTheirOwn) {
  // The capital sharp s is not in the monospace face; a fallback font draws it.
  auto run = cache.shape(
      "a\xE1\xBA\x9E"
      "b",
      context, font);
  ASSERT_TRUE(run);
  ASSERT_EQ(run->glyphRuns.size(), 3u);
  auto family = [](PangoFont* f) {
    PangoFontDescription* d = pango_font_describe(f);
    std::string name = fontName(d);
    pango_font_description_free(d);
    return name;
  };
  EXPECT_NE(family(run->glyphRuns[1].font.get()), family(run->glyphRuns[0].font.get()));
  int sum = 0;
  for (const auto& g : run->glyphRuns) sum += int(g.glyphs.size());
  EXPECT_EQ(run->glyphCount, sum);
  EXPECT_EQ(run->positions.size(), size_t(sum));
  EXPECT_EQ(run->glyphRuns[2].clusters[0], 4u);  // byte offset of "b" in the whole text
}

TEST_F(PangoFixture, RasterisesInkedGlyphsOnly) {
  CoreTextGlyphRasterizer rasterizer;
  rasterizer.fontSmoothing = false;
  auto space = cache.shape(" ", context, font);
  auto* sf = pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(space->glyphRuns[0].font.get()));
  bool inkless = false;
  EXPECT_FALSE(rasterizer.rasterize(sf, space->glyphRuns[0].glyphs[0], &inkless));
  EXPECT_TRUE(inkless) << "a space is known to have no ink, not taken for a failure";
  EXPECT_FALSE(rasterizer.rasterize(nullptr, space->glyphRuns[0].glyphs[0], &inkless));
  EXPECT_FALSE(inkless) << "a failure is not taken for a glyph without ink";

  auto m = cache.shape("M", context, font);
  auto bitmap = rasterizer.rasterize(scaledFont("M"), m->glyphRuns[0].glyphs[0], &inkless);
  ASSERT_TRUE(bitmap);
  EXPECT_FALSE(inkless);
  EXPECT_GE(bitmap->width, 4);
  EXPECT_GE(bitmap->height, 6);
  EXPECT_EQ(bitmap->pixels.size(), size_t(bitmap->width * bitmap->height * 4));
  EXPECT_FALSE(bitmap->isColor);
  int inked = 0;
  for (size_t i = 3; i < bitmap->pixels.size(); i += 4) inked += bitmap->pixels[i] > 0;
  EXPECT_GT(inked, 4);
}

}  // namespace
}  // namespace vantrelle
