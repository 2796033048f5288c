// Pixel geometry of block elements, box drawing and powerline glyphs on offscreen surfaces.
#include <gtest/gtest.h>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

using testing::Canvas;

// Draws one box-drawing character into a cell at the origin of a fresh canvas.
void drawBox(Canvas& canvas, uint32_t cp, int w, int h, int base = 1) {
  BoxDrawingRenderer::draw(cp, canvas.cr, {0, 0}, {double(w), double(h)}, 1.0, ViewColor::white(), base);
}

std::vector<int> opaqueColumns(Canvas& c, int y) {
  std::vector<int> cols;
  for (int x = 0; x < c.width(); x++) {
    if (c.opaque(x, y)) cols.push_back(x);
  }
  return cols;
}

std::vector<int> opaqueRows(Canvas& c, int x) {
  std::vector<int> rows;
  for (int y = 0; y < c.height(); y++) {
    if (c.opaque(x, y)) rows.push_back(y);
  }
  return rows;
}

TEST(BoxDrawing, ALightCrossSitsOnCentredBandsOfTheLightThickness) {
  Canvas c(9, 19);
  drawBox(c, 0x253c, 9, 19, 2);
  EXPECT_EQ(opaqueColumns(c, 0), (std::vector<int>{3, 4}));
  EXPECT_EQ(opaqueRows(c, 0), (std::vector<int>{8, 9}));
  EXPECT_EQ(opaqueColumns(c, 18), (std::vector<int>{3, 4}));
  EXPECT_EQ(opaqueRows(c, 8), (std::vector<int>{8, 9}));
}

TEST(BoxDrawing, HeavyArmsAreTwiceTheLightThickness) {
  Canvas c(10, 20);
  drawBox(c, 0x2501, 10, 20, 2);
  EXPECT_EQ(opaqueRows(c, 0), (std::vector<int>{8, 9, 10, 11}));
}

TEST(BoxDrawing, DoubleLinesMeetInInnerAndOuterCorners) {
  Canvas c(11, 21);
  drawBox(c, 0x256c, 11, 21, 1);  // all four arms double
  // Light bands: x 5, y 10; the two lines of each arm lie one pixel either side.
  EXPECT_EQ(opaqueColumns(c, 0), (std::vector<int>{4, 6}));
  EXPECT_EQ(opaqueRows(c, 0), (std::vector<int>{9, 11}));
  // The middle of the cross is the gap of both axes: empty.
  EXPECT_TRUE(c.clear(5, 10));
  Canvas corner(11, 21);
  drawBox(corner, 0x2554, 11, 21, 1);  // double down and right
  EXPECT_TRUE(corner.opaque(4, 9));    // outer corner
  EXPECT_TRUE(corner.opaque(6, 11));   // inner corner
  EXPECT_TRUE(corner.clear(5, 10));
  EXPECT_TRUE(corner.clear(3, 9));  // nothing left of the outer corner
}

TEST(BoxDrawing, DashesAndTheirNarrowFallback) {
  Canvas c(12, 20);
  drawBox(c, 0x2504, 12, 20, 1);  // three light dashes
  auto cols = opaqueColumns(c, 9);
  EXPECT_GT(cols.size(), 3u);
  EXPECT_LT(cols.size(), 12u);
  Canvas narrow(5, 20);
  drawBox(narrow, 0x2504, 5, 20, 1);
  EXPECT_EQ(opaqueColumns(narrow, 9).size(), 5u);
}

TEST(BoxDrawing, ArcsDiagonalsAndCharactersOutsideTheRange) {
  Canvas arc(10, 20);
  drawBox(arc, 0x256d, 10, 20, 1);  // down and right
  EXPECT_TRUE(arc.opaque(4, 19));
  EXPECT_TRUE(arc.opaque(9, 9));
  EXPECT_TRUE(arc.clear(0, 0));
  EXPECT_TRUE(arc.clear(4, 0));
  Canvas diagonal(10, 20);
  drawBox(diagonal, 0x2571, 10, 20, 1);
  EXPECT_FALSE(diagonal.clear(9, 0));
  EXPECT_FALSE(diagonal.clear(0, 19));
  EXPECT_TRUE(diagonal.clear(0, 0));
  Canvas none(10, 20);
  drawBox(none, 0x2580, 10, 20, 1);
  for (int y = 0; y < 20; y++) EXPECT_TRUE(opaqueColumns(none, y).empty());
}

TEST(BoxDrawing, EveryStraightCharacterHasArms) {
  for (uint32_t cp = 0x2500; cp <= 0x257f; cp++) {
    bool special = (cp >= 0x2504 && cp <= 0x250b) || (cp >= 0x254c && cp <= 0x254f) || (cp >= 0x256d && cp <= 0x2573);
    EXPECT_EQ(BoxDrawingRenderer::linesFor(cp).has_value(), !special) << std::hex << cp;
  }
}

TEST(BlockElements, TheTableCoversTheRangeWithShadesAtTheirAlpha) {
  for (uint32_t cp = 0x2580; cp <= 0x259f; cp++) EXPECT_TRUE(BlockElementMapping::rects(cp)) << std::hex << cp;
  EXPECT_FALSE(BlockElementMapping::rects(0x25a0));
  EXPECT_EQ(BlockElementMapping::rects(0x2591)->at(0).alpha, BlockAlpha::light);
  EXPECT_EQ(blockAlpha(0.75), BlockAlpha::dark);
  EXPECT_EQ(blockAlpha(0.3), std::nullopt);
}

class ViewDrawing : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->cellDimension = ViewSize{10, 17};
  }
  std::unique_ptr<TerminalView> view;
};

TEST_F(ViewDrawing, BlockElementsFillTheirEighthsSnappedOutward) {
  Canvas c(10, 17);
  BlockElementRenderItem full{0, 1, 0x2588, *BlockElementMapping::rects(0x2588), ViewColor::white()};
  view->drawBlockElements({full}, {0, 0}, c.cr);
  EXPECT_TRUE(c.opaque(0, 0));
  EXPECT_TRUE(c.opaque(9, 16));
  Canvas lower(10, 17);
  BlockElementRenderItem half{0, 1, 0x2584, *BlockElementMapping::rects(0x2584), ViewColor::white()};
  view->drawBlockElements({half}, {0, 0}, lower.cr);
  EXPECT_EQ(opaqueRows(lower, 5).front(), 8);  // 8.5 snapped down to 8
  EXPECT_EQ(opaqueRows(lower, 5).back(), 16);
  Canvas shade(10, 17);
  BlockElementRenderItem light{0, 1, 0x2591, *BlockElementMapping::rects(0x2591), ViewColor::white()};
  view->drawBlockElements({light}, {0, 0}, shade.cr);
  EXPECT_NEAR(double(shade.pixel(3, 3) >> 24), 0.25 * 255, 1.5);
}

TEST_F(ViewDrawing, PowerlineGlyphsLayASeamBarUnderTheCellBefore) {
  Canvas c(30, 17);
  PowerlineRenderItem arrow{1, 1, 0xe0b0, ViewColor::white()};
  view->drawPowerlineGlyphs({arrow}, {0, 0}, BufferLine::RenderLineMode::single, c.cr);
  EXPECT_TRUE(c.opaque(9, 8));  // the seam bar, one pixel left of the cell
  EXPECT_TRUE(c.clear(8, 8));
  EXPECT_TRUE(c.opaque(10, 1));  // the base covers the cell's left edge
  EXPECT_TRUE(c.opaque(15, 8));  // towards the tip at mid height
  EXPECT_FALSE(c.clear(19, 8));
  EXPECT_TRUE(c.clear(18, 1));
}

TEST_F(ViewDrawing, UnderlinesAreDrawnPerCellInTheirStyle) {
  RunAttributes attrs;
  attrs.underlineStyle = 1;
  attrs.underlineColor = ViewColor::white();
  view->metrics.underlinePosition = -2;
  view->metrics.underlineThickness = 1;
  Canvas single(40, 17);
  ViewPoint positions[] = {{0, 10}, {10, 10}};
  view->drawRunAttributes(attrs, positions, single.cr);
  auto rowsAt = opaqueRows(single, 5);
  ASSERT_FALSE(rowsAt.empty());
  EXPECT_GE(rowsAt.front(), 11);
  EXPECT_TRUE(single.opaque(15, rowsAt.front()));
  EXPECT_TRUE(single.clear(25, rowsAt.front()));
  attrs.underlineStyle = 9;
  attrs.vantrelleUnderlineStyle.reset();
  Canvas twice(40, 17);
  view->drawRunAttributes(attrs, positions, twice.cr);
  EXPECT_GE(opaqueRows(twice, 5).size(), 2u);
  EXPECT_GT(opaqueRows(twice, 5).back() - opaqueRows(twice, 5).front(), 1);
}

}  // namespace
}  // namespace vantrelle
