// Cell metrics, grid sizing, glyph fitting, window sizes for the child, and colour mapping.
#include <gtest/gtest.h>

#include "Vantrelle/View/LocalProcessTerminalView.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

TEST(CellSize, CellsAreWholeDevicePixelsWithinBounds) {
  TerminalView::FontMetrics m;
  m.advance = 7.2;
  m.ascent = 10, m.descent = 3, m.leading = 0.1;
  EXPECT_EQ(TerminalView::cellSizeFor(m, 1.0, 2.0), (ViewSize{7.0, 14.0}));
  EXPECT_EQ(TerminalView::cellSizeFor(m, 1.0, 1.0).width, 7.0);
  EXPECT_EQ(TerminalView::cellSizeFor(m, 0.0, 2.0).height, 1.0);
  m.advance = 0.1;
  EXPECT_EQ(TerminalView::cellSizeFor(m, 1.0, 1.0).width, 1.0);
  m.ascent = 1e6;
  EXPECT_EQ(TerminalView::cellSizeFor(m, 1.0, 1.0).height, 8192.0);
  m.advance = 7.25;
  EXPECT_EQ(TerminalView::cellSizeFor(m, 1.0, 2.0).width, 7.5);
}

class ViewFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
  }
  testing::RecordingHost host;
  std::unique_ptr<TerminalView> view;
};

using Sizing = ViewFixture;

TEST_F(Sizing, TheFrameIsCutIntoWholeCells) {
  view->cellDimension = ViewSize{8, 16};
  // The scroller's strip is never given to cells.
  double strip = testing::scrollerStrip(*view);
  EXPECT_TRUE(view->processSizeChange({800 + strip, 400}));
  EXPECT_EQ(view->getTerminal().cols, 100);
  EXPECT_EQ(view->getTerminal().rows, 25);
  ASSERT_EQ(host.sizes.size(), 1u);
  EXPECT_EQ(host.sizes[0], std::make_pair(100, 25));
  EXPECT_FALSE(view->processSizeChange({807 + strip, 415}));
  EXPECT_FALSE(view->processSizeChange({0, 0}));
  EXPECT_EQ(host.sizes.size(), 1u);
  EXPECT_EQ(view->getOptimalFrameSize(), (ViewRect{0, 0, 800 + strip, 400}));
}

TEST_F(Sizing, GlyphsFitIntoTheirSlots) {
  view->cellDimension = ViewSize{8, 16};
  EXPECT_EQ(view->glyphSlotFit(8, {0, 0, 8, 10}, 1), TerminalView::GlyphSlotFit{});
  auto centred = view->glyphSlotFit(12, {0, 0, 12, 12}, 2);
  EXPECT_EQ(centred.dx, 2);
  EXPECT_EQ(centred.scale, 1);
  auto tall = view->glyphSlotFit(16, {0, -4, 10, 32}, 2);
  EXPECT_DOUBLE_EQ(tall.scale, 0.5);
  EXPECT_DOUBLE_EQ(tall.dx, (16 - 0.5 * 16) * 0.5);
  auto huge = view->glyphSlotFit(16, {0, 0, 1000, 1000}, 2);
  EXPECT_DOUBLE_EQ(huge.scale, 0.1);
  // A glyph of the view's font overhangs its one cell as it is; one made for two cells, as a
  // colour glyph with no text form is, shrinks into it.
  EXPECT_EQ(view->glyphSlotFit(8.5, {-1, 0, 10, 12}, 1), TerminalView::GlyphSlotFit{});
  auto emoji = view->glyphSlotFit(20, {1, -2, 18, 16}, 1);
  EXPECT_DOUBLE_EQ(emoji.scale, 8.0 / 18);
  EXPECT_DOUBLE_EQ(emoji.dx, (8 - emoji.scale * 20) * 0.5);
}

TEST(WindowSize, PixelsAreDevicePixelsBoundedToTheRecord) {
  winsize size = windowSizeFor(80, 24, {7.5, 15}, 2.0);
  EXPECT_EQ(size.ws_col, 80);
  EXPECT_EQ(size.ws_row, 24);
  EXPECT_EQ(size.ws_xpixel, 1200);
  EXPECT_EQ(size.ws_ypixel, 720);
  winsize big = windowSizeFor(70000, 2000, {100, 8192}, 2.0);
  EXPECT_EQ(big.ws_col, 65535);
  EXPECT_EQ(big.ws_xpixel, 65535);
  EXPECT_EQ(big.ws_ypixel, 65535);
  EXPECT_EQ(windowSizeFor(80, 24, {0, 0}, 1.0).ws_xpixel, 0);
}

TEST(ViewColorConversions, InverseDimAndTerminalForms) {
  EXPECT_EQ(ViewColor(1, 1, 1, 0.5).inverseColor(), ViewColor(0, 0, 0, 0.5));
  EXPECT_EQ(ViewColor::white().dimmedColor(ViewColor(0, 0, 0, 0.2)), ViewColor(0.5, 0.5, 0.5, 1));
  Color c(0x1234, 0xabcd, 0xffff);
  EXPECT_EQ(ViewColor::make(c).getTerminalColor(), c);
  EXPECT_EQ(ViewColor(1.5, -0.2, 0.5).getTerminalColor(), Color(65535, 0, 32767));
}

using Colors = ViewFixture;

TEST_F(Colors, PaletteIndicesFollowBoldAndBrightSettings) {
  auto& palette = view->getTerminal().ansiColors;
  auto bold = [&](int code) { return view->mapColor(Attribute::Color::ansi256(uint8_t(code)), true, true, true); };
  EXPECT_EQ(bold(1), ViewColor::make(palette[9]));
  EXPECT_EQ(bold(7), ViewColor::make(palette[7]));
  EXPECT_EQ(bold(12), ViewColor::make(palette[12]));
  EXPECT_EQ(view->mapColor(Attribute::Color::ansi256(9), true, false, false), ViewColor::make(palette[1]));
  // Without bright colours the cube and the grey ramp keep their own entries.
  EXPECT_EQ(view->mapColor(Attribute::Color::ansi256(196), true, false, false), ViewColor::make(palette[196]));
  EXPECT_EQ(view->mapColor(Attribute::Color::ansi256(16), true, true, false), ViewColor::make(palette[16]));
  EXPECT_EQ(view->mapColor(Attribute::Color::ansi256(3), true, true, false), ViewColor::make(palette[3]));
  EXPECT_EQ(view->mapColor(Attribute::Color::defaultColor, true, false, true), view->nativeForegroundColor());
  EXPECT_EQ(view->mapColor(Attribute::Color::defaultInvertedColor, false, false, true),
            view->nativeBackgroundColor().inverseColor());
}

TEST_F(Colors, CachesDropWhatChanged) {
  view->mapColor(Attribute::Color::ansi256(3), true, false, true);
  view->mapColor(Attribute::Color::ansi256(4), true, false, true);
  view->colorChanged(view->getTerminal(), 3);
  EXPECT_FALSE(view->runStyle.colors[3]);
  EXPECT_TRUE(view->runStyle.colors[4]);
  view->colorChanged(view->getTerminal(), 300);
  view->colorChanged(view->getTerminal(), std::nullopt);
  EXPECT_FALSE(view->runStyle.colors[4]);
}

// Output may use any number of renditions (every cell its own true colour); the cache of their
// run attributes must not grow with them.
TEST_F(Colors, TheRunAttributeCacheStaysBounded) {
  for (int i = 0; i < 3 * int(TerminalView::attributeCacheLimit); i++) {
    Attribute attribute = Terminal::defaultAttribute();
    attribute.fg = Attribute::Color::trueColor(uint8_t(i), uint8_t(i >> 8), 7);
    const RunAttributes& made = view->getAttributes(attribute, false);
    EXPECT_EQ(made.foreground, ViewColor(uint8_t(i) / 255.0, uint8_t(i >> 8) / 255.0, 7 / 255.0, 1.0));
    ASSERT_LE(view->runStyle.runs.size(), TerminalView::attributeCacheLimit);
  }
}

TEST_F(Colors, InstallingColorsRebuildsThePaletteOnlyForSixteen) {
  std::vector<Color> eight(8, Color(1, 2, 3));
  auto before = view->getTerminal().ansiColors;
  view->getAttributes(Terminal::defaultAttribute(), false);
  view->installColors(eight);
  EXPECT_EQ(view->getTerminal().ansiColors, before);
  EXPECT_TRUE(view->runStyle.runs.empty());
  std::vector<Color> sixteen(16, Color(0x1111, 0x2222, 0x3333));
  view->installColors(sixteen);
  EXPECT_EQ(view->getTerminal().ansiColors[5], Color(0x1111, 0x2222, 0x3333));
}

TEST_F(Colors, DefaultColorsComeFromTheTerminalAndProgramsMayChangeThem) {
  EXPECT_EQ(view->nativeForegroundColor(), ViewColor::make(Color::defaultForeground));
  EXPECT_EQ(view->nativeBackgroundColor(), ViewColor::make(Color::defaultBackground));
  view->setBackgroundColor(view->getTerminal(), Color(65535, 0, 0));
  EXPECT_EQ(view->nativeBackgroundColor(), ViewColor(1, 0, 0, 1));
  EXPECT_EQ(view->getTerminal().backgroundColor, Color(65535, 0, 0));
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

TEST_F(Sizing, TheScrollerKeepsItsOwnColumnsUnlessItsOwnerHidesIt) {
  view->cellDimension = ViewSize{10, 20};
  int strip = testing::scrollerStrip(*view);
  ASSERT_GT(strip, 0);
  view->size_allocate(Gtk::Allocation(0, 0, 800, 400), -1);
  // Taken from the start, so the grid does not change when history first appears.
  EXPECT_EQ(view->getTerminal().cols, (800 - strip) / 10);
  EXPECT_EQ(view->getOptimalFrameSize().width, 10.0 * view->getTerminal().cols + strip);
  for (int i = 0; i < 60; i++) view->feed("line\r\n");
  EXPECT_EQ(view->getTerminal().cols, (800 - strip) / 10);
  // Whatever its style; a font change fits the grid around the strip as well.
  view->setScrollerStyle(TerminalView::ScrollerStyle::legacy);
  view->setLineSpacing(1.0);
  EXPECT_EQ(view->getTerminal().cols, int((800 - strip) / view->cellDimension->width));
  view->setScrollerStyle(TerminalView::ScrollerStyle::overlay);
  EXPECT_EQ(view->getTerminal().cols, int((800 - strip) / view->cellDimension->width));
  // A scroller its owner hides gives the strip back, and the program's screens do not show it again.
  view->scrollerWidget()->set_visible(false);
  view->size_allocate(Gtk::Allocation(0, 0, 800, 400), -1);
  EXPECT_EQ(view->getTerminal().cols, int(800 / view->cellDimension->width));
  view->feed("\x1b[?1049h\x1b[?1049l");
  EXPECT_FALSE(view->scrollerWidget()->get_visible());
  EXPECT_EQ(view->getOptimalFrameSize().width, view->cellDimension->width * view->getTerminal().cols);
}

TEST_F(Sizing, FontChangesRecomputeTheCellAndTheGrid) {
  view->size_allocate(Gtk::Allocation(0, 0, 800, 400), -1);
  ViewSize before = *view->cellDimension;
  int rowsBefore = view->getTerminal().rows;
  host.sizes.clear();
  view->setLineSpacing(2.0);
  EXPECT_GT(view->cellDimension->height, before.height * 1.5);
  EXPECT_EQ(view->cellDimension->width, before.width);
  EXPECT_LT(view->getTerminal().rows, rowsBefore);
  ASSERT_FALSE(host.sizes.empty());
  EXPECT_EQ(host.sizes.back().second, view->getTerminal().rows);
  view->setLineSpacing(1.0);
  Pango::FontDescription bigger = view->font();
  bigger.set_size(bigger.get_size() * 2);
  view->setFont(bigger);
  EXPECT_GT(view->cellDimension->width, before.width * 1.5);
  EXPECT_LT(view->getTerminal().cols, 80);
  EXPECT_EQ(view->fontSet.bold.get_weight(), Pango::Weight::BOLD);
  EXPECT_EQ(view->fontSet.boldItalic.get_style(), Pango::Style::ITALIC);
  EXPECT_EQ(view->caretFrame().height, view->cellDimension->height);
  // Back to the default font, the cell and the grid follow at once.
  view->resetFontSize();
  EXPECT_EQ(*view->cellDimension, before);
  EXPECT_EQ(view->getTerminal().rows, rowsBefore);
}

// The program keeps the modes it set through a change of font, as through a resize.
TEST_F(Sizing, AFontChangeLeavesTheProgramsModes) {
  view->size_allocate(Gtk::Allocation(0, 0, 800, 400), -1);
  view->feed("\x1b[?25l\x1b[?1h\x1b[4h\x1b[?7l\x1b[31m");
  Pango::FontDescription bigger = view->font();
  bigger.set_size(bigger.get_size() * 2);
  view->setFont(bigger);
  const Terminal& terminal = view->getTerminal();
  EXPECT_TRUE(terminal.cursorHidden);
  EXPECT_TRUE(terminal.applicationCursor);
  EXPECT_TRUE(terminal.insertMode);
  EXPECT_FALSE(terminal.wraparound);
  EXPECT_EQ(terminal.currentAttribute().fg, Attribute::Color::ansi256(1));
}

}  // namespace
}  // namespace vantrelle
