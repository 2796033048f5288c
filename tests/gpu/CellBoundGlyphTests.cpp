// Glyphs stay within the cells the buffer gave their characters, on both drawing paths and under
// the caret. A symbol that is text by default, written without a selector, has one cell and is
// drawn as text in the rendition's colour, as shell prompts, git and test runners print it; asked
// for as an emoji it has two cells and keeps its colours; a glyph made for a wider place (a fallback
// font's wide glyph, a colour glyph with no text form) is fitted into its one cell.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
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
  double red, green, blue;
};
constexpr Rgb textColor{0, 200, 0}, background{0, 0, 160};
const std::string rendition = "\x1b[38;2;0;200;0;48;2;0;0;160m";

// Where a pixel lies against the blend from the background to the text colour: how far along it
// (0 is the background, 1 the text colour) and how far off it.
struct Tint {
  double along, off;
};
Tint tintOf(const uint8_t* p) {
  const double d[] = {textColor.red - background.red, textColor.green - background.green,
                      textColor.blue - background.blue};
  const double v[] = {p[2] - background.red, p[1] - background.green, p[0] - background.blue};
  const double length2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  const double t = std::clamp((v[0] * d[0] + v[1] * d[1] + v[2] * d[2]) / length2, 0.0, 1.0);
  double off2 = 0;
  for (int i = 0; i < 3; i++) off2 += (v[i] - t * d[i]) * (v[i] - t * d[i]);
  return {t, std::sqrt(off2)};
}

// How the pixels of a box look.
struct Ink {
  int inked = 0;    // pixels not of the background
  int seen = 0;     // pixels of ink that shows, not only the faint edge of a glyph next door
  int tinted = 0;   // pixels nearer the text colour than the background, on the blend between them
  int colored = 0;  // pixels off that blend: colours of the glyph's own
};
Ink inkIn(const std::vector<uint8_t>& px, int width, PixelBox box) {
  Ink ink;
  for (int y = box.y0; y < box.y1; y++) {
    for (int x = box.x0; x < box.x1; x++) {
      Tint tint = tintOf(&px[(size_t(y) * width + x) * 4]);
      ink.inked += tint.along > 0.06 || tint.off > 12;
      ink.seen += tint.along > 0.25 || tint.off > 40;
      ink.tinted += tint.along > 0.5 && tint.off <= 40;
      ink.colored += tint.off > 40;
    }
  }
  return ink;
}

enum class Look {
  text,       // in the rendition's colour only
  ownColors,  // in colours of its own
  fitted,     // only within its cells: a colour glyph with no text form, shrunk into one cell
};

struct Case {
  const char* name;
  const char* text;
  int cells;
  Look look;
  bool lastColumn = false;
};

const Case cases[] = {
    {"play sign", "\u25B6", 1, Look::text},
    {"check mark", "\u2714", 1, Look::text},
    {"trade mark", "\u2122", 1, Look::text},
    {"left right arrow", "\u2194", 1, Look::text},
    {"smiling face", "\u263A", 1, Look::text},
    {"heart", "\u2764", 1, Look::text},
    {"multiplication x", "\u2716", 1, Look::text},
    {"right arrow", "\u27A1", 1, Look::text},
    {"facsimile sign, from a fallback font's wide glyph", "\u213B", 1, Look::text},
    {"thermometer, which only the colour font has", "\U0001F321", 1, Look::fitted},
    {"heart asked for as an emoji", "\u2764\uFE0F", 2, Look::ownColors},
    {"check mark asked for as an emoji", "\u2714\uFE0F", 2, Look::ownColors},
    {"heart asked for as an emoji in the last column, with one cell", "\u2764\uFE0F", 1, Look::fitted, true},
};

class CellBoundGlyphs : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    PangoFontMap* map = fontMapWithColorFonts();
    gtk_widget_set_font_map(GTK_WIDGET(view->gobj()), map);
    g_object_unref(map);
    view->size_allocate(Gtk::Allocation(0, 0, 640, 300), -1);
    // The strip past the last column shows the view's own background: the rows' one.
    view->setNativeBackgroundColor(ViewColor(background.red / 255, background.green / 255, background.blue / 255, 1));
  }
  // The column a case's character starts at: the third, or the last.
  int columnOf(const Case& c) const { return c.lastColumn ? view->getTerminal().cols - 1 : 2; }
  std::unique_ptr<TerminalView> view;
};

TEST_F(CellBoundGlyphs, StayWithinTheirCellsOnBothPaths) {
  // Each case on a row of its own, between blank cells, over a background that fills the screen.
  std::string text = "\x1b[?25l\x1b[48;2;0;0;160m\x1b[2J";
  for (size_t i = 0; i < std::size(cases); i++) {
    text += "\x1b[" + std::to_string(i + 1) + ";" + std::to_string(columnOf(cases[i]) + 1) + "H" + rendition +
            cases[i].text + "\x1b[m";
  }
  view->feed(text);
  for (size_t i = 0; i < std::size(cases); i++) {
    std::optional<CharData> cell = view->getTerminal().getCharData(columnOf(cases[i]), int(i));
    ASSERT_TRUE(cell);
    ASSERT_EQ(std::max<int>(cell->width, 1), cases[i].cells) << cases[i].name;
  }
  for (double scale : {1.0, 2.0}) {
    const PathFrames frames = bothFramesAt(*view, scale, "cell-bound-glyphs");
    ASSERT_FALSE(frames.gpu.empty());
    ASSERT_FALSE(frames.cairo.empty());
    const int w = frames.width;
    const double cw = view->cellDimension->width * scale, ch = view->cellDimension->height * scale;
    auto cells = [&](int row, int first, int count) {
      return PixelBox{int(std::lround(first * cw)), int(std::lround(row * ch)), int(std::lround((first + count) * cw)),
                      int(std::lround((row + 1) * ch))};
    };
    for (size_t i = 0; i < std::size(cases); i++) {
      const Case& c = cases[i];
      const int row = int(i), col = columnOf(c);
      SCOPED_TRACE(std::string(c.name) + " at scale " + std::to_string(int(scale)));
      const PixelBox own = cells(row, col, c.cells), left = cells(row, col - 1, 1);
      for (const auto* px : {&frames.cairo, &frames.gpu}) {
        const bool gpu = px == &frames.gpu;
        Ink ink = inkIn(*px, w, own);
        EXPECT_GT(ink.inked, 0) << (gpu ? "OpenGL" : "Cairo");
        EXPECT_EQ(inkIn(*px, w, left).seen, 0) << (gpu ? "OpenGL" : "Cairo") << ": ink in the cell to the left";
        // Right of the last column lies the strip the view has past its grid.
        PixelBox right = cells(row, col + c.cells, 1);
        right.x1 = std::min(right.x1, w);
        if (right.x1 > right.x0) {
          EXPECT_EQ(inkIn(*px, w, right).seen, 0) << (gpu ? "OpenGL" : "Cairo") << ": ink to the right";
        }
        if (c.look == Look::text) {
          EXPECT_GT(ink.tinted, 0) << (gpu ? "OpenGL" : "Cairo");
          EXPECT_EQ(ink.colored, 0) << (gpu ? "OpenGL" : "Cairo");
        } else if (c.look == Look::ownColors) {
          EXPECT_GT(ink.colored, 0) << (gpu ? "OpenGL" : "Cairo");
        }
      }
      const PixelBox around{left.x0, own.y0, std::min(cells(row, col + c.cells, 1).x1, w), own.y1};
      EXPECT_LT(meanDifference(frames.cairo, frames.gpu, w, around), 5.0);
    }
  }
}

// A block caret over a one-cell symbol shows the glyph the row shows, in the caret's colours: the
// symbol does not change as the caret passes over it.
TEST_F(CellBoundGlyphs, UnderABlockCaretKeepTheGlyphOfTheRow) {
  view->scaleFactorOverride = 1.0;
  view->setMetalScaleFactorOverride(1.0);
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  view->setCaretViewTracksFocus(false);
  CaretView& caret = *view->caretView;
  caret.caretColor = ViewColor(1, 0, 0, 1);
  caret.caretTextColor = ViewColor(0, 0, 1, 1);
  auto path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  const ViewSize cell = *view->cellDimension;
  for (const char* symbol : {"\u25B6", "\u2714", "\u263A", "\u2764", "\u2660"}) {
    SCOPED_TRACE(symbol);
    view->feed("\x1b[48;2;0;0;160m\x1b[2J\x1b[H" + rendition + symbol + "\x1b[m\x1b[H");
    // OpenGL: the row's glyph and the caret's both come from the coverage atlas.
    RowDrawData row = path->renderer_().buildRowDrawData(
        path->viewSnapshot(), 0, *view->getTerminal().buffer, 0, cell.width, cell.height,
        std::ceil(view->fontMetrics().descent + view->fontMetrics().leading), view->frame().width, 1, {});
    EXPECT_TRUE(row.glyphCellsColor.empty());
    EXPECT_FALSE(row.glyphCellsGray.empty());
    DrawData d;
    path->renderer_().buildCursorDrawData(path->viewSnapshot(), d, 1, cell.width, cell.height, 0, 0, 0, 0,
                                          view->getTerminal().rows - 1);
    EXPECT_TRUE(d.cursorGlyphVerticesColor.empty());
    EXPECT_FALSE(d.cursorGlyphVerticesGray.empty());

    // Cairo: the caret's text has the ink of the row's glyph, in amount and in place.
    const int w = int(view->frame().width), h = int(view->frame().height);
    std::vector<uint8_t> frame = cairoFrame(*view, w, h);
    ASSERT_FALSE(frame.empty());
    caret.setText(*view->getTerminal().getCharData(0, 0));
    vantrelle::testing::Canvas canvas(int(cell.width), int(cell.height));
    caret.drawCursor(canvas.cr, cell.width, cell.height, true);
    struct Mass {
      double total = 0, x = 0, y = 0;
      void add(double amount, int px, int py) { total += amount, x += amount * px, y += amount * py; }
    } rowInk, caretInk;
    for (int y = 0; y < canvas.height(); y++) {
      for (int x = 0; x < canvas.width(); x++) {
        rowInk.add(tintOf(&frame[(size_t(y) * w + x) * 4]).along, x, y);
        caretInk.add((canvas.pixel(x, y) & 0xff) / 255.0, x, y);  // the caret's text is blue
      }
    }
    ASSERT_GT(caretInk.total, 0);
    EXPECT_NEAR(rowInk.total / caretInk.total, 1, 0.2);
    if (rowInk.total > 0) {
      EXPECT_NEAR(rowInk.x / rowInk.total, caretInk.x / caretInk.total, 0.75);
      EXPECT_NEAR(rowInk.y / rowInk.total, caretInk.y / caretInk.total, 0.75);
    }
  }
}

}  // namespace
}  // namespace vantrelle
