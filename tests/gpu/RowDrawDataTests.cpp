// One row's GPU records: backgrounds to the right edge, selection colours, render modes,
// decorations, custom glyphs with their powerline join, and images.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <cmath>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "Vantrelle/View/TerminalView.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

class RowData : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->scaleFactorOverride = 1.0;
    view->size_allocate(Gtk::Allocation(0, 0, 640, 200), -1);
    path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  }
  RowDrawData row(int line, double scale = 1.0) {
    auto& r = path->renderer_();
    Buffer& buffer = *view->getTerminal().buffer;
    auto cell = *view->cellDimension;
    double yOffset = std::ceil(view->fontMetrics().descent + view->fontMetrics().leading);
    return r.buildRowDrawData(path->viewSnapshot(), line, buffer, buffer.yDisp, cell.width, cell.height, yOffset,
                              view->frame().width * scale, scale, {});
  }
  static Float4 rgba(const ViewColor& c) { return colorToSIMD(c); }
  const KittyGraphicsState& kitty() { return view->getTerminal().kittyGraphicsState; }
  std::unique_ptr<TerminalView> view;
  std::unique_ptr<GpuDrawingPath> path;
};

// The frame is cleared to the view's background first: where that is opaque, runs in it and the
// strip past the last column are left to the clear; a translucent one is painted as before.
TEST_F(RowData, AColouredRunInTheLastColumnLeavesTheEdgeInTheDefaultBackground) {
  // A view a little wider than its grid.
  double cw0 = view->cellDimension->width;
  view->size_allocate(Gtk::Allocation(0, 0, int(cw0 * 80 + cw0 / 2), 200), -1);
  int cols = view->getTerminal().cols;
  view->feed("\x1b[1;" + std::to_string(cols - 1) + "H\x1b[41mab\x1b[0m\r\n\x1b[2;1Hplain");
  double cw = view->cellDimension->width;
  auto opaque = row(0);
  ASSERT_EQ(opaque.backgroundCells.size(), 1u);
  EXPECT_FLOAT_EQ(opaque.backgroundCells[0].position.x + opaque.backgroundCells[0].size.x, float(cols * cw));
  EXPECT_TRUE(row(1).backgroundCells.empty());

  view->setNativeBackgroundColor({0.1, 0.2, 0.3, 0.5});
  auto data = row(0);
  ASSERT_GE(data.backgroundCells.size(), 3u);
  const auto& strip = data.backgroundCells[data.backgroundCells.size() - 2];
  const auto& red = data.backgroundCells.back();
  EXPECT_FLOAT_EQ(red.position.x + red.size.x, float(cols * cw));
  EXPECT_FLOAT_EQ(strip.position.x, float(cols * cw));
  EXPECT_FLOAT_EQ(strip.position.x + strip.size.x, float(view->frame().width));
  EXPECT_EQ(strip.color, rgba(view->nativeBackgroundColor()));
  // A run in the default background itself stretches to the edge.
  auto plain = row(1);
  ASSERT_FALSE(plain.backgroundCells.empty());
  EXPECT_FLOAT_EQ(plain.backgroundCells.back().position.x + plain.backgroundCells.back().size.x,
                  float(view->frame().width));
}

TEST_F(RowData, SelectedRunsUseTheSelectionColour) {
  view->feed(std::string("\x1b[41mselected\x1b[0m"));
  view->selection->setSelection({0, 0}, {4, 0});
  auto data = row(0);
  ASSERT_FALSE(data.backgroundCells.empty());
  EXPECT_EQ(data.backgroundCells.front().color, rgba(view->selectedTextBackgroundColor()));
}

TEST_F(RowData, GlyphsUnderlinesAndDoubleWidthRows) {
  view->feed(std::string("\x1b[4mab\x1b[0m\r\n\x1b#6\x1b[44mwide\x1b[m"));
  auto data = row(0);
  EXPECT_EQ(data.glyphCellsGray.size(), 2u);
  EXPECT_EQ(data.decorationCells.size(), 2u);
  double cw = view->cellDimension->width;
  EXPECT_LT(data.glyphCellsGray[1].position.x, float(2 * cw));
  auto wide = row(1);
  ASSERT_EQ(wide.glyphCellsGray.size(), 4u);
  // Every x doubles on a double-width row; nothing is clipped.
  EXPECT_GT(wide.glyphCellsGray[1].position.x, float(2 * cw));
  ASSERT_FALSE(wide.backgroundCells.empty());
  EXPECT_FLOAT_EQ(wide.backgroundCells.front().size.y, float(view->cellDimension->height));
}

// Hidden text (SGR 8) keeps its background and loses its glyphs, shapes and lines.
TEST_F(RowData, ConcealedCellsDrawOnlyTheirBackground) {
  view->feed(std::string("\x1b[8;4;9;41mab\xe2\x94\x80\xee\x82\xb0\x1b[m"));
  auto data = row(0);
  EXPECT_TRUE(data.glyphCellsGray.empty());
  EXPECT_TRUE(data.glyphCellsColor.empty());
  EXPECT_TRUE(data.decorationCells.empty());
  EXPECT_TRUE(data.powerlineJoinCells.empty());
  ASSERT_FALSE(data.backgroundCells.empty());
  EXPECT_EQ(data.backgroundCells.front().color, rgba(ViewColor::make(view->getTerminal().ansiColors[1])));
}

TEST_F(RowData, DoubleHeightRowsStayInsideTheirBand) {
  view->feed(std::string("\x1b#3TOP"));
  auto data = row(0);
  ASSERT_FALSE(data.glyphCellsGray.empty());
  float bottom = float(view->frame().height - view->cellDimension->height);
  float top = float(view->frame().height);
  for (const auto& g : data.glyphCellsGray) {
    EXPECT_GE(g.position.y, bottom - 0.01f);
    EXPECT_LE(g.position.y + g.size.y, top + 0.01f);
  }
}

TEST_F(RowData, PowerlineShapesBringAJoinStrip) {
  view->feed(std::string("\x1b[34m\xee\x82\xb0\xe2\x94\x80"));
  auto data = row(0);
  EXPECT_EQ(data.glyphCellsGray.size(), 2u);  // the shape and the box-drawing line
  ASSERT_EQ(data.powerlineJoinCells.size(), 1u);
  EXPECT_FLOAT_EQ(data.powerlineJoinCells[0].position.x, -1);
  EXPECT_FLOAT_EQ(data.powerlineJoinCells[0].size.x, 1);
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

TEST_F(RowData, KittyTexturesFollowTheImageStore) {
  auto& r = path->renderer_();
  // A 1 by 1 RGBA image under id 5, sent twice with the same bytes, then with others.
  view->feed(std::string("\x1b_Ga=t,f=32,s=1,v=1,i=5,q=2;AAAA/w==\x1b\\"));
  auto first = r.kittyTexture(kitty(), 5);
  ASSERT_NE(first, nullptr);
  view->feed(std::string("\x1b_Ga=t,f=32,s=1,v=1,i=5,q=2;AAAA/w==\x1b\\"));
  EXPECT_EQ(r.kittyTexture(kitty(), 5), first);
  view->feed(std::string("\x1b_Ga=t,f=32,s=1,v=1,i=5,q=2;/wAA/w==\x1b\\"));
  auto second = r.kittyTexture(kitty(), 5);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, first);
  EXPECT_EQ(r.kittyTexture(kitty(), 6), nullptr);

  view->feed(std::string("\x1b_Ga=d,d=I,i=5,q=2\x1b\\"));
  r.pruneKittyTextureCache(kitty());
  EXPECT_TRUE(r.kittyTextureCache.empty());
}

// Frames of an animation sent under one id often begin alike: a picture that differs only past its
// first pixels is still a new picture.
TEST_F(RowData, KittyTextureFollowsChangesPastTheFirstPixels) {
  auto& r = path->renderer_();
  // 24 pixels: all clear, then the same with the last one opaque red.
  const std::string clear(128, 'A'), lastRed = std::string(120, 'A') + "AAD/AAD/";
  view->feed("\x1b_Ga=t,f=32,s=24,v=1,i=7,q=2;" + clear + "\x1b\\");
  auto first = r.kittyTexture(kitty(), 7);
  ASSERT_NE(first, nullptr);
  view->feed("\x1b_Ga=t,f=32,s=24,v=1,i=7,q=2;" + lastRed + "\x1b\\");
  EXPECT_NE(r.kittyTexture(kitty(), 7), first);
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

TEST_F(RowData, ShapedSegmentsKeepTheirRunsInPlace) {
  RunAttributes plain;
  ViewLineSegment empty{0, 1, 0, {{"", plain, {}}}};
  ViewLineSegment mixed{3, 1, 5, {{"ab", plain, {0, 1}}, {"", plain, {}}, {"  ", plain, {0, 1}}, {"c", plain, {0}}}};
  std::vector<ViewLineSegment> segments{empty, mixed};  // the shaped segments point into these
  auto shaped = path->renderer_().buildShapedSegments(segments, path->viewSnapshot());
  ASSERT_EQ(shaped.size(), 1u);  // the segment of one empty run is left out
  ASSERT_EQ(shaped[0].runs.size(), 3u);
  EXPECT_EQ(shaped[0].segment->column, 3);
  EXPECT_EQ(shaped[0].runs[0].cellStart, 0);
  EXPECT_EQ(shaped[0].runs[1].cellStart, 2);
  EXPECT_TRUE(shaped[0].runs[1].blank);
  EXPECT_EQ(shaped[0].runs[2].cellStart, 4);
  EXPECT_EQ(shaped[0].runs[2].shaperRun->glyphCount, 1);

  // Underlined blanks draw their line but no glyphs; the letter after them keeps its column.
  view->feed(std::string("\x1b[4m  \x1b[0mx"));
  auto data = row(0);
  EXPECT_EQ(data.decorationCells.size(), 2u);
  ASSERT_EQ(data.glyphCellsGray.size(), 1u);
  double cw = view->cellDimension->width;
  EXPECT_GT(data.glyphCellsGray[0].position.x, float(2 * cw) - 1);
  EXPECT_LT(data.glyphCellsGray[0].position.x, float(3 * cw));
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

struct StubImage : TerminalImage {
  int pixelWidth() const override { return 2; }
  int pixelHeight() const override { return 2; }
  int col() const override { return 0; }
  void setCol(int) override {}
};

TEST_F(RowData, AnImageObjectLoadsOneTextureForAsLongAsItLives) {
  auto& r = path->renderer_();
  auto surface = Cairo::ImageSurface::create(Cairo::Surface::Format::ARGB32, 2, 2);
  auto image = std::make_shared<StubImage>();
  auto first = r.texture(image, surface);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(r.texture(image, surface), first);  // drawn on a second row
  EXPECT_EQ(r.texture(nullptr, surface), nullptr);
  EXPECT_EQ(r.texture(std::make_shared<StubImage>(), Cairo::RefPtr<Cairo::ImageSurface>()), nullptr);

  // Once the image is gone its texture goes at the next lookup, and a new image starts afresh.
  image.reset();
  auto other = std::make_shared<StubImage>();
  ASSERT_NE(r.texture(other, surface), nullptr);
  EXPECT_EQ(r.imageTextureCache.size(), 1u);
}

TEST_F(RowData, GlyphsFromAFallbackFontStayInTheirCells) {
  view->feed(
      std::string("a\xE1\xBA\x9E"
                  "b"));
  auto data = row(0);
  ASSERT_EQ(data.glyphCellsGray.size(), 3u);
  double cw = view->cellDimension->width;
  for (int i = 0; i < 3; i++) {
    EXPECT_GE(data.glyphCellsGray[i].position.x, float(i * cw) - 2) << i;
    EXPECT_LT(data.glyphCellsGray[i].position.x, float((i + 1) * cw)) << i;
  }
}

TEST_F(RowData, AChangedKittyStoreRebuildsEveryRow) {
  auto& r = path->renderer_();
  view->feed(std::string("one\r\ntwo"));
  ASSERT_TRUE(path->render());
  ASSERT_TRUE(path->render());
  EXPECT_EQ(r.rowsBuiltInLastBuild, 0);
  view->feed(std::string("\x1b_Ga=t,f=32,s=1,v=1,i=9,q=2;AAAA/w==\x1b\\"));
  ASSERT_TRUE(path->render());
  EXPECT_EQ(r.rowsBuiltInLastBuild, view->getTerminal().rows);
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// A wide glyph shrunk into its slot is rasterised at the shrunk size and drawn pixel for pixel:
// the plain bitmap shrunk by the sampler came out blurred.
TEST_F(RowData, GlyphsShrunkIntoTheirSlotAreDrawnAtTheirBitmapsOwnSize) {
  view->feed(std::string("\xe2\x9a\xa1\xe2\x98\x94"));
  auto& r = path->renderer_();
  Buffer& buffer = *view->getTerminal().buffer;
  FrameSnapshot frame = path->viewSnapshot();
  const float plainHeight = row(0).glyphCellsGray.at(0).size.y;
  // Cells too small for these glyphs.
  frame.cellSize = ViewSize{3, 6};
  auto data = r.buildRowDrawData(frame, 0, buffer, buffer.yDisp, 3, 6, 2, view->frame().width, 1, {});
  ASSERT_EQ(data.glyphCellsGray.size(), 2u);
  const float side = float(r.grayscaleAtlas->size);
  for (const auto& cell : data.glyphCellsGray) {
    EXPECT_LT(cell.size.y, plainHeight);
    EXPECT_FLOAT_EQ(cell.size.x, std::round(cell.texSize.x * side));
    EXPECT_FLOAT_EQ(cell.size.y, std::round(cell.texSize.y * side));
    EXPECT_FLOAT_EQ(cell.position.x, std::round(cell.position.x));
  }
}

}  // namespace
}  // namespace vantrelle
