// Glyphs with colours of their own keep them on both drawing paths, whatever the colours are (all
// greys, all white), and every outline glyph takes the text colour, also in a colour font.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <pango/pangocairo.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "Vantrelle/View/TerminalView.h"
#include "tests/gpu/CairoFrame.h"
#include "tests/gpu/ColorFontMap.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

struct Rgb {
  int red, green, blue;
};
constexpr Rgb textColor{0, 200, 0}, background{0, 0, 160};

// How the pixels of one case's cells look on one path.
struct Ink {
  int inked = 0;     // pixels not of the background
  int textTint = 0;  // pixels of the text colour
};
Ink inkIn(const std::vector<uint8_t>& px, int width, PixelBox box) {
  auto near = [](const uint8_t* p, Rgb c) {
    return std::abs(p[2] - c.red) + std::abs(p[1] - c.green) + std::abs(p[0] - c.blue) <= 24;
  };
  Ink ink;
  for (int y = box.y0; y < box.y1; y++) {
    for (int x = box.x0; x < box.x1; x++) {
      const uint8_t* p = &px[(size_t(y) * width + x) * 4];
      ink.inked += !near(p, background);
      ink.textTint += near(p, textColor);
    }
  }
  return ink;
}

struct Case {
  const char* name;
  const char* text;
  bool ownColors;
};

const Case cases[] = {
    {"black heart", "\U0001F5A4", true},
    {"white heart", "\U0001F90D", true},
    {"black circle", "\u26AB", true},
    {"white circle", "\u26AA", true},
    {"family, one glyph", "\U0001F468\u200D\U0001F469\u200D\U0001F467", true},
    {"black flag", "\U0001F3F4", true},
    {"grinning face", "\U0001F600", true},
    {"panda", "\U0001F43C", true},
    {"joined pair the font has no glyph for, drawn as two", "\U0001F43C\u200D\U0001F355", true},
    {"spade suit asked for as an emoji, in two cells", "\u2660\uFE0F", true},
    {"heart asked for as an emoji, in two cells", "\u2764\uFE0F", true},
    {"red layers", "\uE100", true},
    {"grey layers", "\uE101", true},
    {"white layers", "\uE102", true},
    {"partly grey layers", "\uE103", true},
    {"outline in a colour font", "\uE104", false},
    {"black circle asked for as text", "\u26AB\uFE0E", false},
    {"spade suit, text by default, in one cell", "\u2660", false},
    {"letter", "A", false},
    {"Cyrillic letter", "\u0416", false},
    {"star", "\u2605", false},
    {"box drawing", "\u2500", false},
};

class ColorGlyphs : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    for (const char* file : {emojiFont, layeredFont})
      ASSERT_TRUE(std::filesystem::exists(file)) << file << " is missing (scripts/install-deps installs it)";
    view = std::make_unique<TerminalView>();
    PangoFontMap* map = fontMapWithColorFonts();
    gtk_widget_set_font_map(GTK_WIDGET(view->gobj()), map);
    g_object_unref(map);
    view->size_allocate(Gtk::Allocation(0, 0, 640, 200), -1);
  }
  std::unique_ptr<TerminalView> view;
};

TEST_F(ColorGlyphs, KeepTheirOwnColorsAndOutlinesTakeTheTextColor) {
  // Each case in a short run of its own, so that the Cairo path paints it straight into the pixels
  // where it can; eight cells apart, in the text colour over a background that fills the screen.
  constexpr int perRow = 8, spacing = 8;
  std::string text = "\x1b[?25l\x1b[48;2;0;0;160m\x1b[2J";
  for (size_t i = 0; i < std::size(cases); i++) {
    text += "\x1b[" + std::to_string(i / perRow + 1) + ";" + std::to_string(i % perRow * spacing + 1) + "H";
    text += "\x1b[38;2;0;200;0;48;2;0;0;160m" + std::string(cases[i].text) + "\x1b[m";
  }
  view->feed(text);
  for (double scale : {1.0, 2.0}) {
    const PathFrames frames = bothFramesAt(*view, scale, "colour-glyphs");
    ASSERT_FALSE(frames.gpu.empty());
    ASSERT_FALSE(frames.cairo.empty());
    const int w = frames.width;
    const double cw = view->cellDimension->width * scale, ch = view->cellDimension->height * scale;
    for (size_t i = 0; i < std::size(cases); i++) {
      const Case& c = cases[i];
      // The case's cells and the next, which a glyph reaching past its cells would touch.
      const int col = int(i % perRow) * spacing, row = int(i / perRow);
      PixelBox box{int(col * cw), int(row * ch), int((col + 3) * cw), int((row + 1) * ch)};
      SCOPED_TRACE(std::string(c.name) + " at scale " + std::to_string(int(scale)));
      Ink onCairo = inkIn(frames.cairo, w, box), onGpu = inkIn(frames.gpu, w, box);
      // The glyph's box leaves its cell's corner alone: the background must still be there.
      EXPECT_EQ(inkIn(frames.cairo, w, {box.x0, box.y0, box.x0 + 1, box.y0 + 1}).inked, 0);
      EXPECT_EQ(inkIn(frames.gpu, w, {box.x0, box.y0, box.x0 + 1, box.y0 + 1}).inked, 0);
      EXPECT_GT(onCairo.inked, 0);
      if (c.ownColors) {
        EXPECT_EQ(onCairo.textTint, 0);
        EXPECT_EQ(onGpu.textTint, 0);
      } else {
        EXPECT_GT(onCairo.textTint, 0);
        EXPECT_GT(onGpu.textTint, 0);
      }
      EXPECT_LT(meanDifference(frames.cairo, frames.gpu, w, box), 5.0);
    }
  }
}

// A block cursor draws the glyph beneath it as the row does: a colour glyph in its own colours, an
// outline in the caret's text colour.
TEST_F(ColorGlyphs, UnderABlockCursorKeepTheirOwnColors) {
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  view->setCaretViewTracksFocus(false);
  auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  for (const Case& c : cases) {
    // The renderer's own shape is always tinted.
    if (std::string(c.text) == "\u2500") continue;
    SCOPED_TRACE(c.name);
    view->feed("\x1b[2J\x1b[H" + std::string(c.text) + "\x1b[H");
    DrawData d;
    path->renderer_().buildCursorDrawData(path->viewSnapshot(), d, 1, view->cellDimension->width,
                                          view->cellDimension->height, 0, 0, 0, 0, view->getTerminal().rows - 1);
    EXPECT_EQ(d.cursorGlyphVerticesColor.empty(), !c.ownColors);
    EXPECT_EQ(d.cursorGlyphVerticesGray.empty(), c.ownColors);
  }
}

}  // namespace
}  // namespace vantrelle
