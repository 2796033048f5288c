// Plain ASCII laid out without the shaper: the same glyph string as the shaper's, face by face, and
// the same pixels on both drawing paths; faces and texts it cannot match keep the shaper.
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include <random>
#include <string>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/Render/AsciiGlyphs.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "platform/PangoPtr.h"
#include "tests/gpu/CairoFrame.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

std::string randomAscii(std::mt19937& random, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; i++) text += char(' ' + random() % 95);
  return text;
}

// The shaper's glyphs for `text` when it makes one item of it, in `font`; otherwise none.
bool shapedByPango(PangoContext* context, const PangoFontDescription* description, const std::string& text,
                   PangoGlyphString* glyphs, PangoFont** font) {
  platform::PangoAttrListPtr attrs(pango_attr_list_new());
  pango_attr_list_insert(attrs.get(), pango_attr_font_desc_new(description));
  platform::PangoItemListPtr items(pango_itemize(context, text.c_str(), 0, int(text.size()), attrs.get(), nullptr));
  if (!items || items->next) return false;
  auto* item = static_cast<PangoItem*>(items->data);
  pango_shape_full(text.c_str(), int(text.size()), text.c_str(), int(text.size()), &item->analysis, glyphs);
  *font = item->analysis.font;
  return true;
}

TEST(AsciiLayout, GivesTheShapersGlyphsOrLeavesTheTextToIt) {
  PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
  AsciiGlyphs ascii;
  std::mt19937 random(5);
  platform::PangoGlyphStringPtr laid(pango_glyph_string_new()), shaped(pango_glyph_string_new());
  // Again after a change of the context's resolution, and of its font options: either changes
  // advances or glyphs, and what was learnt before it no longer holds.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
  for (int pass = 0; pass < 3; pass++)
    for (const char* face : {"Monospace 12", "Monospace Bold 12", "Monospace Italic 9", "Monospace Bold Italic 17"}) {
      SCOPED_TRACE(face);
      if (pass == 1) pango_cairo_context_set_resolution(context, 144);
      if (pass == 2) pango_cairo_context_set_font_options(context, options);
      platform::PangoFontDescriptionPtr description(pango_font_description_from_string(face));
      ASSERT_TRUE(ascii.usable(context, description.get()));
      std::vector<std::string> texts = {" ", "~", "a  b", "fi fl ffi -> => != === www 0x10 <!-- --> ::", "|||||"};
      for (int i = 0; i < 40; i++) texts.push_back(randomAscii(random, 1 + random() % 120));
      for (const auto& text : texts) {
        SCOPED_TRACE(text);
        PangoFont* font = nullptr;
        ASSERT_TRUE(shapedByPango(context, description.get(), text, shaped.get(), &font));
        ASSERT_EQ(ascii.lay(context, description.get(), text, laid.get()), font);
        ASSERT_EQ(laid->num_glyphs, shaped->num_glyphs);
        for (int g = 0; g < laid->num_glyphs; g++) {
          const PangoGlyphInfo &a = laid->glyphs[g], &b = shaped->glyphs[g];
          EXPECT_EQ(a.glyph, b.glyph);
          EXPECT_EQ(a.geometry.width, b.geometry.width);
          EXPECT_EQ(a.geometry.x_offset, b.geometry.x_offset);
          EXPECT_EQ(a.geometry.y_offset, b.geometry.y_offset);
          EXPECT_EQ(a.attr.is_cluster_start, b.attr.is_cluster_start);
          EXPECT_EQ(a.attr.is_color, b.attr.is_color);
          EXPECT_EQ(laid->log_clusters[g], shaped->log_clusters[g]);
        }
      }
      // Anything but printable ASCII is the shaper's.
      for (const char* text : {"tab\there", "caf\xc3\xa9", "\x7f", "e\xcc\x81", "\x1b[m", ""})
        EXPECT_EQ(ascii.lay(context, description.get(), text, laid.get()), nullptr) << text;
    }
  // A proportional font's characters differ in advance, and its pairs kern.
  platform::PangoFontDescriptionPtr sans(pango_font_description_from_string("Sans 12"));
  EXPECT_FALSE(ascii.usable(context, sans.get()));
  EXPECT_EQ(ascii.lay(context, sans.get(), "AV To", laid.get()), nullptr);
  cairo_font_options_destroy(options);
  g_object_unref(context);
}

// Rows of plain ASCII in every face and decoration, with a non-ASCII run among them, drawn with and
// without the shaper: not one pixel differs, on either path, at either scale.
class AsciiLayoutPixels : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->setFont(Pango::FontDescription("Monospace 13"));
    view->size_allocate(Gtk::Allocation(0, 0, 720, 240), -1);
    view->getTerminal().cursorHidden = true;
    std::mt19937 random(11);
    const char* renditions[] = {"0", "1", "3", "1;3", "4", "9", "7", "2", "38;5;202", "4:3;58;5;33"};
    std::string screen = "\x1b[H\x1b[2J";
    for (int row = 0; row < 10; row++) {
      for (int run = 0; run < 3; run++)
        screen += std::string("\x1b[") + renditions[random() % std::size(renditions)] + "m" +
                  randomAscii(random, 3 + random() % 20) + "\x1b[m";
      if (row == 4) screen += "\xc3\xa9t\xc3\xa9 \xe2\x9c\x94 fi";
      screen += "\r\n";
    }
    view->feed(screen);
  }
  std::unique_ptr<TerminalView> view;
};

TEST_F(AsciiLayoutPixels, CairoPathDrawsTheSamePixels) {
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    view->scaleFactorOverride = scale;
    std::vector<uint8_t> frames[2];
    for (bool direct : {true, false}) {
      view->laysAsciiDirectly = direct;
      frames[direct] = cairoFrame(*view, int(720 * scale), int(240 * scale));
      ASSERT_FALSE(frames[direct].empty());
    }
    EXPECT_TRUE(frames[0] == frames[1]);
  }
}

TEST_F(AsciiLayoutPixels, OpenGlPathDrawsTheSamePixels) {
  for (double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    view->scaleFactorOverride = scale;
    view->setMetalScaleFactorOverride(scale);
    std::vector<uint8_t> frames[2];
    for (bool direct : {true, false}) {
      auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
      path->renderer_().shaperCache.laysAscii = direct;
      auto frame = path->render();
      ASSERT_TRUE(frame);
      frames[direct] = std::move(frame->pixels);
    }
    ASSERT_FALSE(frames[0].empty());
    EXPECT_TRUE(frames[0] == frames[1]);
  }
}

}  // namespace
}  // namespace vantrelle
