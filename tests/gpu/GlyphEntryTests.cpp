// Glyph and custom-glyph entries in the atlases, and what atlas growth and reset invalidate.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <pango/pangocairo.h>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "Vantrelle/View/TerminalView.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

class GlyphEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->scaleFactorOverride = 1.0;
    view->size_allocate(Gtk::Allocation(0, 0, 640, 200), -1);
    path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  }
  MetalTerminalRenderer& renderer() { return path->renderer_(); }
  // The device-scaled font of the view's normal face and the glyph of `text`'s first character.
  std::pair<const ScaledFont*, uint32_t> glyphOf(const char* text) {
    auto run = renderer().shaperCache.shape(text, view->get_pango_context()->gobj(), view->font().gobj());
    const auto& g = run->glyphRuns[0];
    return {renderer().scaledFontFor(g.font.get(), 1.0), g.glyphs[0]};
  }
  std::unique_ptr<TerminalView> view;
  std::unique_ptr<GpuDrawingPath> path;
};

TEST_F(GlyphEntries, GlyphsAreRasterisedOnceIntoTheGrayscaleAtlas) {
  auto [font, glyph] = glyphOf("A");
  ASSERT_NE(font, nullptr);
  EXPECT_EQ(renderer().scaledFontFor(nullptr, 1.0), nullptr);
  auto first = renderer().glyphEntry(*font, glyph);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->atlasKind, GlyphAtlasKind::grayscale);
  EXPECT_FALSE(first->isColor);
  int cursor = renderer().grayscaleAtlas->nextX;
  auto again = renderer().glyphEntry(*font, glyph);
  EXPECT_EQ(again->region, first->region);
  EXPECT_EQ(renderer().grayscaleAtlas->nextX, cursor);
  auto space = glyphOf(" ");
  EXPECT_FALSE(renderer().glyphEntry(*space.first, space.second));
  // One font object at another scale is another scaled font.
  auto run = renderer().shaperCache.shape("A", view->get_pango_context()->gobj(), view->font().gobj());
  const ScaledFont* doubled = renderer().scaledFontFor(run->glyphRuns[0].font.get(), 2.0);
  ASSERT_NE(doubled, nullptr);
  EXPECT_DOUBLE_EQ(doubled->size, 2 * font->size);
  EXPECT_EQ(renderer().scaledFontFor(run->glyphRuns[0].font.get(), 1.0), font);
}

TEST_F(GlyphEntries, CustomGlyphsAreKeyedByTheRoundedScale) {
  auto& r = renderer();
  ASSERT_TRUE(r.customGlyphEntry(0x2500, 8, 16, 0.4, 1, false));
  ASSERT_TRUE(r.customGlyphEntry(0x2500, 8, 16, 1.0, 1, false));
  EXPECT_EQ(r.customGlyphCache.size(), 1u);
  ASSERT_TRUE(r.customGlyphEntry(0xE0B0, 8, 16, 2.5, 0, true));
  ASSERT_TRUE(r.customGlyphEntry(0xE0B0, 8, 16, 3.0, 0, true));
  EXPECT_EQ(r.customGlyphCache.size(), 2u);
  EXPECT_FALSE(r.customGlyphEntry(0x41, 8, 16, 1, 0, false));
  EXPECT_FALSE(r.customGlyphEntry(0x2588, 0, 16, 1, 0, false));

  // A full block covers the whole cell; the triangle's tip sits on a whole pixel row.
  auto block = r.customGlyphEntry(0x2588, 8, 16, 1, 0, false);
  ASSERT_TRUE(block);
  const auto& atlas = *r.grayscaleAtlas;
  auto at = [&](int x, int y) { return atlas.data[size_t(block->region.y + y) * atlas.size + block->region.x + x]; };
  EXPECT_EQ(at(0, 0), 255);
  EXPECT_EQ(at(7, 15), 255);
}

TEST_F(GlyphEntries, GrowthKeepsGlyphsAndResetDropsThem) {
  auto& r = renderer();
  auto [font, glyph] = glyphOf("A");
  r.grayscaleAtlas = GlyphAtlas::make(r.device, 256, 512, GlyphAtlasFormat::grayscale);
  ASSERT_TRUE(r.glyphEntry(*font, glyph));
  r.rowCache[0] = {};
  // Big custom glyphs fill the atlas: the first one beyond 256 grows it.
  ASSERT_TRUE(r.customGlyphEntry(0x2588, 200, 200, 1, 0, false));
  r.atlasInvalidatedDuringBuild = false;
  ASSERT_TRUE(r.customGlyphEntry(0x2588, 200, 201, 1, 0, false));
  EXPECT_EQ(r.grayscaleAtlas->size, 512);
  EXPECT_TRUE(r.atlasInvalidatedDuringBuild);
  EXPECT_TRUE(r.rowCache.empty());
  EXPECT_EQ(r.glyphCache.size(), 1u);

  ASSERT_TRUE(r.customGlyphEntry(0x2588, 200, 202, 1, 0, false));
  ASSERT_TRUE(r.customGlyphEntry(0x2588, 200, 203, 1, 0, false));  // no room at the maximum: reset
  EXPECT_TRUE(r.grayscaleAtlas->didReset);
  EXPECT_TRUE(r.glyphCache.empty());
  EXPECT_EQ(r.customGlyphCache.size(), 1u);
}

TEST_F(GlyphEntries, AnAtlasThatGrowsDuringABuildCostsOneMorePass) {
  auto& r = renderer();
  r.grayscaleAtlas = GlyphAtlas::make(r.device, 256, 2048, GlyphAtlasFormat::grayscale);
  view->setFont(Pango::FontDescription("Monospace 36"));
  view->size_allocate(Gtk::Allocation(0, 0, 1200, 400), -1);
  std::string text;
  for (char c = '!'; c <= '~'; c++) text += c;
  view->feed(text);
  ASSERT_TRUE(path->render());
  EXPECT_GT(r.grayscaleAtlas->size, 256);
  EXPECT_EQ(r.passesInLastBuild, 2);
  ASSERT_TRUE(path->render());
  EXPECT_EQ(r.passesInLastBuild, 1);
}

TEST_F(GlyphEntries, AWorkingSetBeyondTheMaximumEndsWithFrozenAtlases) {
  auto& r = renderer();
  r.grayscaleAtlas = GlyphAtlas::make(r.device, 256, 256, GlyphAtlasFormat::grayscale);
  view->setFont(Pango::FontDescription("Monospace 40"));
  view->size_allocate(Gtk::Allocation(0, 0, 1200, 400), -1);
  std::string text;
  for (char c = '!'; c <= '~'; c++) text += c;
  view->feed(text);
  ASSERT_TRUE(path->render());
  EXPECT_EQ(r.passesInLastBuild, 6);
  EXPECT_FALSE(r.grayscaleAtlas->frozen);
}

}  // namespace
}  // namespace vantrelle

#include <pango/pangocairo.h>

namespace vantrelle {
namespace {

// A desktop that asks for subpixel text bakes it into the fonts it hands out; the grayscale atlas
// must still get plain coverage, and no letter is taken for a colour glyph for its fringes.
TEST_F(GlyphEntries, SubpixelDesktopTextStaysCoverage) {
  PangoContext* context = view->get_pango_context()->gobj();
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_SUBPIXEL);
  cairo_font_options_set_subpixel_order(options, CAIRO_SUBPIXEL_ORDER_RGB);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
  auto run = renderer().shaperCache.shape("Wq", context, view->font().gobj());
  ASSERT_TRUE(run);
  const auto& g = run->glyphRuns[0];
  // The font as the desktop hands it out renders in colour fringes.
  auto* desktopFont = pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(g.font.get()));
  auto fringed = CoreTextGlyphRasterizer().rasterize(desktopFont, g.glyphs[0]);
  ASSERT_TRUE(fringed);
  bool hasFringes = false;
  for (size_t i = 0; i + 3 < fringed->pixels.size(); i += 4)
    hasFringes |= fringed->pixels[i] != fringed->pixels[i + 1] || fringed->pixels[i + 1] != fringed->pixels[i + 2];
  ASSERT_TRUE(hasFringes) << "the font backend no longer renders subpixel text here";
  EXPECT_FALSE(fringed->isColor);

  for (double scale : {1.0, 2.0}) {
    const ScaledFont* font = renderer().scaledFontFor(g.font.get(), scale);
    ASSERT_NE(font, nullptr);
    for (uint32_t glyph : g.glyphs) {
      auto entry = renderer().glyphEntry(*font, glyph);
      ASSERT_TRUE(entry);
      EXPECT_FALSE(entry->isColor);
      EXPECT_EQ(entry->atlasKind, GlyphAtlasKind::grayscale);
    }
  }
}

// Full hinting, which a desktop may ask for, moves a glyph's edges to whole pixels, a pixel or two
// past the outline's extents: each bitmap still holds all the ink the font draws for its glyph.
TEST_F(GlyphEntries, HintedGlyphsKeepAllTheirInk) {
  PangoContext* context = view->get_pango_context()->gobj();
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  pango_cairo_context_set_font_options(context, options);
  std::string ascii;
  for (char c = '!'; c <= '~'; c++) ascii += c;
  // The ink of a glyph drawn with room all round, as a sum of coverage.
  auto ink = [&](cairo_scaled_font_t* font, uint32_t glyph) {
    const int side = 256;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side);
    cairo_t* cr = cairo_create(surface);
    cairo_set_scaled_font(cr, font);
    cairo_set_font_options(cr, options);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_glyph_t placed{glyph, side / 3.0, side * 2 / 3.0};
    cairo_show_glyphs(cr, &placed, 1);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    long sum = 0;
    const uint8_t* data = cairo_image_surface_get_data(surface);
    for (int y = 0; y < side; y++)
      for (int x = 0; x < side; x++) sum += data[y * cairo_image_surface_get_stride(surface) + x * 4 + 3];
    cairo_surface_destroy(surface);
    return sum;
  };
  for (const char* size : {"Monospace 10", "Monospace 11", "Monospace 15"}) {
    view->setFont(Pango::FontDescription(size));
    auto run = renderer().shaperCache.shape(ascii, context, view->font().gobj());
    ASSERT_TRUE(run);
    for (const auto& g : run->glyphRuns) {
      const ScaledFont* font = renderer().scaledFontFor(g.font.get(), 1.0);
      ASSERT_NE(font, nullptr);
      for (size_t i = 0; i < g.glyphs.size(); i++) {
        SCOPED_TRACE(std::string(size) + " " + ascii[g.clusters[i]]);
        auto bitmap = CoreTextGlyphRasterizer().rasterize(font->font.get(), g.glyphs[i]);
        ASSERT_TRUE(bitmap);
        long kept = 0;
        for (size_t p = 3; p < bitmap->pixels.size(); p += 4) kept += bitmap->pixels[p];
        EXPECT_EQ(kept, ink(font->font.get(), g.glyphs[i]));
      }
    }
  }
  cairo_font_options_destroy(options);
}

}  // namespace
}  // namespace vantrelle
