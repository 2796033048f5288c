// Where the ink of a cell lands: combining marks over their base, whatever the face, and a box for
// a character that no font has, on both ways the Cairo path paints cells, and under the caret.
#include <gtest/gtest.h>
#include <pango/pangocairo.h>

#include "CellInkCases.h"
#include "Vantrelle/Render/CellGlyphs.h"
#include "ViewTestSupport.h"
#include "platform/GLibPtr.h"

namespace vantrelle {
namespace {

using testing::Case;
using testing::markCases;
using testing::missingCases;
using testing::placement;
using testing::Placement;

using Frame = testing::SurfacePixels;

Frame drawn(TerminalView& view, const std::string& screen, bool direct) {
  view.feed("\x1b[H\x1b[2J" + screen);
  view.updateDisplay(false);
  view.paintsCellsDirectly = direct;
  auto& path = static_cast<CairoDrawingPath&>(view.drawingPath());
  path.invalidateAll();
  return testing::copyPixels(path.render());
}

class CellInk : public ::testing::TestWithParam<double> {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->scaleFactorOverride = GetParam();
    view->setFont(Pango::FontDescription("Monospace 20"));
    view->size_allocate(Gtk::Allocation(0, 0, 800, 200), -1);
  }
  // The case drawn alone in a run of its own (painted into the pixels) and inside a long run
  // (drawn by Cairo), each way of painting: the ink `text` adds to `plain`, with the cells' slot
  // in device pixels.
  template <typename Check>
  void eachDrawing(const Case& c, Check&& check) {
    const std::string colour = std::string("\x1b[0;33") + (*c.rendition ? ";" : "") + c.rendition + "m";
    for (bool longRun : {false, true}) {
      const std::string before = longRun ? "abcdefghij" : "";
      const int column = 3 + int(before.size());
      auto screen = [&](const char* cell) { return "ab " + colour + before + cell + "klm\x1b[m c"; };
      for (bool direct : {true, false}) {
        SCOPED_TRACE(std::string(longRun ? "long run, " : "own run, ") + (direct ? "direct" : "through Cairo"));
        Frame with = drawn(*view, screen(c.text), direct), without = drawn(*view, screen(c.plain), direct);
        const double px = view->cellDimension->width * GetParam();
        check(testing::differingColumns(with.pixels, without.pixels, with.width, with.stride, 0), column * px,
              (column + c.width) * px);
      }
    }
  }
  std::unique_ptr<TerminalView> view;
};

TEST_P(CellInk, MarksLieOverTheirBase) {
  for (const Case& c : markCases) {
    SCOPED_TRACE(c.name);
    eachDrawing(c, [&](const std::vector<int>& marks, double x0, double x1) {
      ASSERT_FALSE(marks.empty());
      // An oblique face's marks lean a little past the cell, as its letters do.
      const double slack = (x1 - x0) / c.width / 8;
      Placement p = placement(marks, x0 - slack, x1 + slack);
      EXPECT_TRUE(p.centred);
      EXPECT_GE(p.inside, c.inside);
    });
  }
}

TEST_P(CellInk, ACharacterNoFontHasShowsABoxInItsCells) {
  for (const Case& c : missingCases) {
    SCOPED_TRACE(c.name);
    eachDrawing(c, [&](const std::vector<int>& box, double x0, double x1) {
      ASSERT_FALSE(box.empty());
      EXPECT_EQ(placement(box, x0, x1).inside, 1.0);
      // Both sides of the box, not a mark in the middle.
      double quarter = (x1 - x0) / 4;
      EXPECT_GT(placement(box, x0, x0 + quarter).inside, 0.1);
      EXPECT_GT(placement(box, x1 - quarter, x1).inside, 0.1);
    });
  }
}

// Ink past its row: at this size the dot below q and the line of n reach into the row below. It
// lies over that row's background, whatever the background, and stays right while output rewrites
// either row or scrolls them: the screen drawn bit by bit as output comes is the screen drawn at
// once, neither missing the ink nor keeping it where it no longer is.
TEST_P(CellInk, InkPastItsRowLiesOverTheNextRowAndFollowsBothRows) {
  view->setFont(Pango::FontDescription("Monospace 24"));
  view->size_allocate(Gtk::Allocation(0, 0, 600, 240), -1);
  view->paintsCellsDirectly = true;
  auto& path = static_cast<CairoDrawingPath&>(view->drawingPath());
  path.invalidateAll();
  const double px = GetParam();
  const int rowPx = int(std::lround(view->cellDimension->height * px));
  // The pixels of the third row's band that differ between two frames.
  auto inThirdRow = [&](const Frame& a, const Frame& b) {
    const size_t from = size_t(2 * rowPx * a.stride), to = size_t(3 * rowPx * a.stride);
    std::vector<uint8_t> bandA(a.pixels.begin() + from, a.pixels.begin() + to),
        bandB(b.pixels.begin() + from, b.pixels.begin() + to);
    return testing::differingColumns(bandA, bandB, a.width, a.stride, 0).size();
  };
  // Output as it comes, drawn into the view's own surface where only changed rows are repainted,
  // against the same screen drawn afresh.
  auto show = [&](const std::string& bytes) {
    view->feed(bytes);
    view->updateDisplay(false);
    Frame shown = testing::copyPixels(path.render());
    CairoDrawingPath fresh(*view);
    Frame whole = testing::copyPixels(fresh.render());
    EXPECT_EQ(testing::differingColumns(shown.pixels, whole.pixels, shown.width, shown.stride, 0).size(), 0u);
    return whole;
  };
  // Marks that reach below and above their row in short coloured runs, painted straight into the
  // pixels, and in a long run, drawn through Cairo.
  auto shortRuns = [](bool marks) {
    return std::string("ab \x1b[33mq") + (marks ? "\u0323\u0307" : "") + "\x1b[m \x1b[33mM" +
           (marks ? "\u0302\u0301" : "") + "\x1b[m cd";
  };
  auto longRun = [](bool marks) {
    return std::string("ab q") + (marks ? "\u0323\u0307" : "") + " n" + (marks ? "\u0329" : "") + " x" +
           (marks ? "\u0301\u0300" : "") + " M" + (marks ? "\u0302\u0301" : "") + " cd";
  };
  for (auto line : {+shortRuns, +longRun}) {
    const std::string marked = line(true), plain = line(false);
    for (const char* below : {"", "XXXXXXXXXXXX", "\x1b[7mXXXXXXXXXXXX", "\x1b[44m            "}) {
      SCOPED_TRACE(plain + ", over " + below);
      show("\x1b[m\x1b[H\x1b[2J\r\n" + plain + "\r\n" + below + "\x1b[m");
      Frame without = show("\x1b[2;1H" + plain);
      Frame with = show("\x1b[2;1H" + marked);
      EXPECT_GT(inThirdRow(with, without), 0u);
      // The row below written again, then the row itself without its marks, then with them again,
      // and the row above; the cursor away from them meanwhile.
      const std::string away = "\x1b[6;1H";
      show(away);
      show("\x1b[3;1H\x1b[7mYYYYYYYY\x1b[m" + away);
      show("\x1b[2;1H" + plain + away);
      show("\x1b[2;1H" + marked + away);
      show("\x1b[1;1Habcdefgh" + away);
      // Scrolled up a row, a line at a time.
      show("\x1b[99;1H\n");
      show("\x1b[99;1H\n" + marked);
    }
    // A selection on the row below, which output leaves in place.
    view->allowMouseReporting = false;
    show("\x1b[H\x1b[2J\r\n" + plain + "\r\nXXXXXXXXXXXX");
    view->selection->setSelection(Position(0, 2), Position(12, 2));
    Frame without = show("");
    Frame with = show("\x1b[2;1H" + marked);
    EXPECT_GT(inThirdRow(with, without), 0u);
    view->selectNone();
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, CellInk, ::testing::Values(1.0, 2.0));

// Glyphs the shaper keeps in one cluster (a ligature, a syllable of an Indic script) keep its
// layout side by side; a mark moved over its base takes the rest of its cluster along.
TEST(CellGlyphPlacement, ClustersKeepTheShapersLayout) {
  testing::ensureGtk();
  TerminalView view;
  platform::GObjectPtr<PangoFont> font(pango_context_load_font(view.get_pango_context()->gobj(), view.font().gobj()));
  hb_font_t* hb = pango_font_get_hb_font(font.get());
  hb_codepoint_t q = 0, acute = 0;
  ASSERT_TRUE(hb_font_get_nominal_glyph(hb, 'q', &q));
  ASSERT_TRUE(hb_font_get_nominal_glyph(hb, 0x301, &acute));
  PangoRectangle logical;
  pango_font_get_glyph_extents(font.get(), q, nullptr, &logical);
  const double advance = double(logical.width) / PANGO_SCALE;

  CellGlyphPlacer syllable;
  EXPECT_EQ(syllable.place(0, 0, font.get(), q, 0, 0), 0);
  EXPECT_EQ(syllable.place(0, 0, font.get(), q, advance, 0), advance);

  CellGlyphPlacer marks;
  EXPECT_EQ(marks.place(0, 0, font.get(), q, 0, 0), 0);
  // A mark the font laid beside its base, as a spacing glyph, and a second glyph of its cluster.
  EXPECT_EQ(marks.place(0, 1, font.get(), acute, advance, 0), 0);
  EXPECT_EQ(marks.place(0, 1, font.get(), acute, 2 * advance, 0), advance);
  // The next cell starts afresh.
  EXPECT_EQ(marks.place(1, 3, font.get(), q, 3 * advance, 0), 0);
  EXPECT_TRUE(marks.openedCell());
}

// The caret draws the character under it as the row does: a face whose marks the font puts beside
// their base showed them outside the caret, and so not at all.
TEST(CaretInk, TheCellUnderABlockCaretShowsItsMarksAndTheBoxOfAMissingCharacter) {
  testing::ensureGtk();
  TerminalView view;
  view.setFont(Pango::FontDescription("Monospace 20"));
  CaretView& caret = *view.caretView;
  caret.style = CursorStyle::steadyBlock;
  caret.caretColor = ViewColor(0, 0, 0, 1);
  caret.caretTextColor = ViewColor(1, 1, 1, 1);
  const ViewSize size = *view.cellDimension;
  auto inked = [&](const Case& c, const char* text) {
    view.feed(std::string("\x1b[H\x1b[2J\x1b[0;") + (*c.rendition ? c.rendition : "0") + "m" + text + "\x1b[m\x1b[H");
    caret.setText(view.getTerminal().buffer->lines()[0]->operator[](0));
    testing::Canvas canvas(int(std::ceil(size.width * c.width)), int(std::ceil(size.height)));
    caret.drawCursor(canvas.cr, size.width * c.width, size.height, true);
    std::vector<std::pair<int, int>> ink;
    for (int y = 0; y < canvas.height(); y++) {
      for (int x = 0; x < canvas.width(); x++) {
        if ((canvas.pixel(x, y) & 0xff) > 0x40) ink.emplace_back(x, y);
      }
    }
    return ink;
  };
  for (const Case& c : markCases) {
    if (c.inside < 1) continue;  // an enclosing mark is wider than the caret
    SCOPED_TRACE(c.name);
    EXPECT_GT(inked(c, c.text).size(), inked(c, c.plain).size());
  }
  for (const Case& c : missingCases) {
    SCOPED_TRACE(c.name);
    auto box = inked(c, c.text);
    ASSERT_FALSE(box.empty());
    int left = box.front().first, right = left;
    for (auto [x, y] : box) left = std::min(left, x), right = std::max(right, x);
    EXPECT_GT(right - left, size.width * c.width / 2);
  }
}

}  // namespace
}  // namespace vantrelle
