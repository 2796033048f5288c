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

}  // namespace
}  // namespace vantrelle
