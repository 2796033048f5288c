// Where the OpenGL path puts the ink of a cell, against the Cairo path: combining marks over their
// base in every face, and a box for a character that no font has, in the row and under the cursor.
#include <gtest/gtest.h>

#include <cmath>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "tests/gpu/CairoFrame.h"
#include "tests/view/CellInkCases.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

using testing::Case;

class CellInkOnGpu : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->scaleFactorOverride = 1.0;
    view->setFont(Pango::FontDescription("Monospace 20"));
    view->size_allocate(Gtk::Allocation(0, 0, 640, 200), -1);
    view->getTerminal().cursorHidden = true;
    path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  }
  PathFrames frames(const Case& c, const char* cell) {
    view->feed(std::string("\x1b[H\x1b[2Jab \x1b[0;33") + (*c.rendition ? ";" : "") + c.rendition + "m" + cell +
               "klm\x1b[m c");
    return bothFrames(*view, *path);
  }
  // The ink that `text` adds to `plain` on each path, with the cells' slot in device pixels.
  template <typename Check>
  void compare(const Case& c, Check&& check) {
    PathFrames with = frames(c, c.text), without = frames(c, c.plain);
    ASSERT_FALSE(with.gpu.empty());
    ASSERT_EQ(with.cairo.size(), with.gpu.size());
    const double cw = view->cellDimension->width;
    // The two rasterisations differ a little at glyph edges; a mark's ink differs by far more.
    auto marks = [&](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
      return testing::differingColumns(a, b, with.width, with.width * 4, 8);
    };
    check(marks(with.gpu, without.gpu), marks(with.cairo, without.cairo), 3 * cw, (3 + c.width) * cw);
  }
  std::unique_ptr<TerminalView> view;
  std::unique_ptr<GpuDrawingPath> path;
};

TEST_F(CellInkOnGpu, MarksLieOverTheirBaseAsOnTheCairoPath) {
  for (const Case& c : testing::markCases) {
    SCOPED_TRACE(c.name);
    compare(c, [&](const std::vector<int>& gpu, const std::vector<int>& cairo, double x0, double x1) {
      ASSERT_FALSE(gpu.empty());
      const double slack = (x1 - x0) / c.width / 8;
      auto onGpu = testing::placement(gpu, x0 - slack, x1 + slack);
      EXPECT_TRUE(onGpu.centred);
      EXPECT_GE(onGpu.inside, c.inside);
      EXPECT_NEAR(onGpu.mean, testing::placement(cairo, x0, x1).mean, 1.5);
    });
  }
}

TEST_F(CellInkOnGpu, ACharacterNoFontHasShowsTheCairoPathsBox) {
  for (const Case& c : testing::missingCases) {
    SCOPED_TRACE(c.name);
    compare(c, [&](const std::vector<int>& gpu, const std::vector<int>& cairo, double x0, double x1) {
      ASSERT_FALSE(gpu.empty());
      EXPECT_EQ(testing::placement(gpu, x0, x1).inside, 1.0);
      // The same bars, pixel for pixel.
      EXPECT_EQ(gpu, cairo);
    });
  }
}

// Ink that reaches past its row (the dot below q, the line of n at this size) lies over the next
// row's background on both paths, in the same place, whatever that background.
TEST_F(CellInkOnGpu, InkPastItsRowLiesOverTheNextRowAsOnTheCairoPath) {
  view->setFont(Pango::FontDescription("Monospace 24"));
  path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  const int rowPx = int(std::lround(view->cellDimension->height));
  for (const char* below : {"", "\x1b[7mXXXXXXXXXXXX", "\x1b[44m            "}) {
    SCOPED_TRACE(std::string("over ") + below);
    auto screen = [&](bool marks) {
      view->feed(std::string("\x1b[m\x1b[H\x1b[2J\r\nab q") + (marks ? "\u0323\u0307" : "") + " n" +
                 (marks ? "\u0329" : "") + " cd\r\n" + below + "\x1b[m");
      return bothFrames(*view, *path);
    };
    PathFrames with = screen(true), without = screen(false);
    ASSERT_FALSE(with.gpu.empty());
    ASSERT_EQ(with.cairo.size(), with.gpu.size());
    // The third row's band of each frame.
    const auto from = ptrdiff_t(2 * rowPx * with.width * 4), to = ptrdiff_t(3 * rowPx * with.width * 4);
    auto ink = [&](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
      return testing::differingColumns({a.begin() + from, a.begin() + to}, {b.begin() + from, b.begin() + to},
                                       with.width, with.width * 4, 8);
    };
    const auto onGpu = ink(with.gpu, without.gpu), onCairo = ink(with.cairo, without.cairo);
    ASSERT_FALSE(onGpu.empty());
    ASSERT_FALSE(onCairo.empty());
    EXPECT_NEAR(testing::placement(onCairo, 0, with.width).mean, testing::placement(onGpu, 0, with.width).mean, 1.5);
    EXPECT_NEAR(double(onCairo.size()) / double(onGpu.size()), 1, 0.5);
  }
}

// A block cursor over such a character draws its box in the cursor's text colour, inside the cursor.
TEST_F(CellInkOnGpu, TheBoxShowsUnderABlockCursor) {
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  view->setCaretViewTracksFocus(false);
  view->getTerminal().cursorHidden = false;
  for (const Case& c : testing::missingCases) {
    SCOPED_TRACE(c.name);
    view->feed(std::string("\x1b[2J\x1b[H") + c.text + "\x1b[H");
    FrameSnapshot snapshot = path->viewSnapshot();
    DrawData d;
    path->renderer_().buildCursorDrawData(snapshot, d, 1, view->cellDimension->width, view->cellDimension->height, 0, 0,
                                          0, 0, view->getTerminal().rows - 1);
    ASSERT_GT(d.cursorColorVertices.size(), 6u);  // more than the block
    const Float4 text = colorToSIMD(snapshot.caretTextColor);
    const float right = float(view->cellDimension->width * c.width);
    for (size_t i = 6; i < d.cursorColorVertices.size(); i++) {
      const ColorVertex& v = d.cursorColorVertices[i];
      EXPECT_EQ(v.color, text);
      EXPECT_GE(v.position.x, 0);
      EXPECT_LE(v.position.x, right);
    }
  }
}

// The cursor draws the character under it through the row's own code: the same glyphs from the same
// atlas entries at the same places, clipped to its cell, for marks in every face, a wide character,
// a fallback font's glyph fitted into its cell and a missing character's box. Its own copy drew a
// fitted glyph from the bitmap of its plain size, shrunk by the sampler, where the row drew one
// rasterised at the fitted size.
TEST_F(CellInkOnGpu, TheCursorDrawsItsCellAsTheRowDoes) {
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  view->setCaretViewTracksFocus(false);
  view->getTerminal().cursorHidden = false;
  std::vector<Case> cases(std::begin(testing::markCases), std::end(testing::markCases));
  cases.insert(cases.end(), std::begin(testing::missingCases), std::end(testing::missingCases));
  cases.push_back({"a fallback font's wide glyph", "", "\u213b", " ", 1, 1});
  for (double scale : {1.0, 2.0}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " at scale " + std::to_string(int(scale)));
      view->feed(std::string("\x1b[H\x1b[2J\x1b[0;") + (*c.rendition ? c.rendition : "0") + "m" + c.text +
                 "\x1b[m\x1b[H");
      const ViewSize cell = *view->cellDimension;
      const double baseline = std::ceil(view->fontMetrics().descent + view->fontMetrics().leading);
      FrameSnapshot snapshot = path->viewSnapshot();
      RowDrawData row =
          path->renderer_().buildRowDrawData(snapshot, 0, *view->getTerminal().buffer, 0, cell.width, cell.height,
                                             baseline, view->frame().width * scale, scale, {});
      DrawData cursor;
      path->renderer_().buildCursorDrawData(snapshot, cursor, scale, cell.width, cell.height,
                                            view->fontMetrics().descent, view->fontMetrics().leading, 0, 0,
                                            view->getTerminal().rows - 1);
      // The cursor's box, and each of its quads as the corners of the rectangle it covers.
      const float top = float(scale * view->frame().height), height = float(scale * cell.height);
      const ClipRect box{0, top - height, float(scale * cell.width * c.width), top};
      auto corners = [](const std::vector<GlyphVertex>& quads) {
        std::vector<TexturedRect> rects;
        for (size_t i = 0; i + 6 <= quads.size(); i += 6) {
          rects.push_back({quads[i].position.x, quads[i].position.y, quads[i + 4].position.x, quads[i + 4].position.y,
                           quads[i].texCoord.x, quads[i].texCoord.y, quads[i + 4].texCoord.x, quads[i + 4].texCoord.y});
        }
        return rects;
      };
      auto clipped = [&](const std::vector<TextCell>& cells) {
        std::vector<TexturedRect> rects;
        for (const TextCell& t : cells) {
          auto r = clipRect({t.position.x, t.position.y, t.position.x + t.size.x, t.position.y + t.size.y,
                             t.texOrigin.x, t.texOrigin.y, t.texOrigin.x + t.texSize.x, t.texOrigin.y + t.texSize.y},
                            box);
          if (r) rects.push_back(*r);
        }
        return rects;
      };
      auto same = [](const std::vector<TexturedRect>& a, const std::vector<TexturedRect>& b) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); i++) {
          const float x[] = {a[i].x0, a[i].y0, a[i].x1, a[i].y1, a[i].s0, a[i].t0, a[i].s1, a[i].t1};
          const float y[] = {b[i].x0, b[i].y0, b[i].x1, b[i].y1, b[i].s0, b[i].t0, b[i].s1, b[i].t1};
          for (int k = 0; k < 8; k++) {
            if (std::abs(x[k] - y[k]) > 1e-4f) return false;
          }
        }
        return true;
      };
      ASSERT_FALSE(row.glyphCellsGray.empty() && row.decorationCells.empty());
      EXPECT_TRUE(same(corners(cursor.cursorGlyphVerticesGray), clipped(row.glyphCellsGray)));
      EXPECT_TRUE(same(corners(cursor.cursorGlyphVerticesColor), clipped(row.glyphCellsColor)));
      // The block, then the box of a missing character.
      EXPECT_EQ(cursor.cursorColorVertices.size(), 6 * (1 + row.decorationCells.size()));
    }
  }
}

}  // namespace
}  // namespace vantrelle
