// The caret's shapes, focus box and blink.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include <cstdlib>
#include <functional>
#include <utility>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

class CaretViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    caret = view->caretView.get();
    caret->caretColor = ViewColor(1, 0, 0, 1);
    caret->caretTextColor = ViewColor(0, 0, 1, 1);
  }
  std::unique_ptr<TerminalView> view;
  CaretView* caret = nullptr;
};

TEST_F(CaretViewTest, WithoutFocusEveryStyleIsTheSameHollowBox) {
  for (CursorStyle style : {CursorStyle::blinkBlock, CursorStyle::steadyUnderline, CursorStyle::steadyBar}) {
    caret->style = style;
    testing::Canvas canvas(10, 20);
    caret->drawCursor(canvas.cr, 10, 20, false);
    EXPECT_TRUE(canvas.opaque(0, 10)) << int(style);
    EXPECT_TRUE(canvas.opaque(9, 10)) << int(style);
    EXPECT_TRUE(canvas.opaque(5, 0)) << int(style);
    EXPECT_TRUE(canvas.opaque(5, 19)) << int(style);
    EXPECT_TRUE(canvas.clear(5, 10)) << int(style);
  }
}

TEST_F(CaretViewTest, FocusedStylesFillTheirShape) {
  testing::Canvas block(10, 20), underline(10, 20), bar(10, 20);
  caret->style = CursorStyle::steadyBlock;
  caret->drawCursor(block.cr, 10, 20, true);
  EXPECT_EQ(block.pixel(5, 10), 0xffff0000u);
  caret->style = CursorStyle::steadyUnderline;
  caret->drawCursor(underline.cr, 10, 20, true);
  EXPECT_TRUE(underline.opaque(5, 19));
  EXPECT_TRUE(underline.clear(5, 10));
  caret->style = CursorStyle::blinkBar;
  caret->drawCursor(bar.cr, 10, 20, true);
  EXPECT_TRUE(bar.opaque(1, 10));
  EXPECT_TRUE(bar.clear(5, 10));
}

TEST_F(CaretViewTest, ABlockDrawsTheCharacterInTheTextColour) {
  caret->style = CursorStyle::steadyBlock;
  view->feed("W\x1b[1G");
  CharData cell = view->getTerminal().buffer->lines()[0]->operator[](0);
  caret->setText(cell);
  EXPECT_EQ(caret->text, "W");
  ViewSize size = *view->cellDimension;
  testing::Canvas canvas(int(size.width), int(size.height));
  caret->drawCursor(canvas.cr, size.width, size.height, true);
  // The glyph is drawn as in its row, with the row's font options: its strongest pixels come within
  // a few levels of the colour.
  auto shows = [](testing::Canvas& c, uint32_t colour) {
    for (int y = 0; y < c.height(); y++) {
      for (int x = 0; x < c.width(); x++) {
        uint32_t p = c.pixel(x, y);
        bool near = true;
        for (int shift : {0, 8, 16, 24})
          near &= std::abs(int((p >> shift) & 0xff) - int((colour >> shift) & 0xff)) <= 16;
        if (near) return true;
      }
    }
    return false;
  };
  EXPECT_TRUE(shows(canvas, 0xff0000ffu));
  // Without a text colour of its own the character takes the view's foreground colour.
  caret->caretTextColor.reset();
  view->setNativeForegroundColor(ViewColor(0, 1, 0, 1));
  testing::Canvas plain(int(size.width), int(size.height));
  caret->drawCursor(plain.cr, size.width, size.height, true);
  EXPECT_TRUE(shows(plain, 0xff00ff00u));
  // Hidden text (SGR 8) stays hidden under the caret.
  view->feed("\x1b[8mW\x1b[m\x1b[1G");
  caret->setText(view->getTerminal().buffer->lines()[0]->operator[](0));
  EXPECT_EQ(caret->text, " ");
  // A continuation cell still counts as one column.
  CharData spacer(0, 0, Attribute::empty);
  caret->setText(spacer);
  EXPECT_EQ(caret->glyphColumnWidth, 1);
}

TEST_F(CaretViewTest, TheCaretIsHollowWhileTheViewOrItsWindowLacksFocus) {
  EXPECT_FALSE(caret->drawsFocused());
  view->setHasFocus(true);
  EXPECT_TRUE(caret->drawsFocused());
  view->setHasFocus(false);
  caret->tracksFocus = false;
  EXPECT_TRUE(caret->drawsFocused());
  caret->tracksFocus = true;
  // Focused within a window that is not the active one: nothing to type into, so hollow.
  Gtk::Window window;
  window.set_child(*view);
  view->setHasFocus(true);
  EXPECT_FALSE(view->hasFocus());
  EXPECT_FALSE(caret->drawsFocused());
  window.unset_child();
}

// The caret's drawing is made once for a look and handed over frame after frame; anything the
// drawing shows that changes makes it anew, or the caret would show what it showed before.
TEST_F(CaretViewTest, ItsDrawingIsKeptUntilSomethingItShowsChanges) {
  caret->style = CursorStyle::steadyBlock;
  caret->setText(std::string("a"));
  caret->prepare();
  ASSERT_NE(caret->drawing(), nullptr);
  const GskRenderNode* kept = caret->drawing();
  caret->prepare();
  EXPECT_EQ(caret->drawing(), kept) << "nothing changed";
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"character", [&] { caret->setText(std::string("b")); }},
      {"style", [&] { caret->style = CursorStyle::steadyBar; }},
      {"caret colour", [&] { caret->caretColor = ViewColor(0, 1, 0, 1); }},
      {"text colour", [&] { caret->caretTextColor = ViewColor(1, 1, 1, 1); }},
      {"face", [&] { caret->face = FontFace::bold; }},
      {"focus", [&] { caret->tracksFocus = !caret->tracksFocus; }},
      {"glyph width", [&] { caret->glyphColumnWidth = 2; }},
  };
  for (const auto& [what, change] : changes) {
    // Held, so that a new drawing cannot take the old one's address.
    RenderNodePtr before(gsk_render_node_ref(const_cast<GskRenderNode*>(caret->drawing())));
    change();
    caret->prepare();
    EXPECT_NE(caret->drawing(), before.get()) << what;
  }
}

TEST_F(CaretViewTest, BlinkFadesOutAndBackAndSteadyStylesStayOpaque) {
  EXPECT_DOUBLE_EQ(CaretView::blinkOpacity(0), 1.0);
  EXPECT_NEAR(CaretView::blinkOpacity(0.7), 0.0, 1e-6);
  EXPECT_NEAR(CaretView::blinkOpacity(1.4), 1.0, 1e-6);
  // Ease-in: the fade starts slowly.
  EXPECT_GT(CaretView::blinkOpacity(0.35), 0.6);
  EXPECT_NEAR(CaretView::blinkOpacity(0.35), CaretView::blinkOpacity(1.05), 1e-6);
  caret->updateAnimation(true);
  EXPECT_TRUE(caret->isBlinking());
  caret->style = CursorStyle::steadyBlock;
  caret->restartLook();
  EXPECT_FALSE(caret->isBlinking());
  EXPECT_EQ(caret->opacity(), 1.0);
}

}  // namespace
}  // namespace vantrelle
