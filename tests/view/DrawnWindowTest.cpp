// The view in a real window, read back pixel by pixel as GTK draws it, scroller and all: images
// that arrive before the first layout, and the last column beside the scroller.
#include <gtest/gtest.h>
#include <gtkmm/scrollbar.h>
#include <gtkmm/window.h>

#include <cmath>
#include <functional>
#include <string>

#include "DrawnPixels.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

// A solid red Sixel image; its height a whole number of six-pixel bands.
std::string redSixel(int width, int height) {
  std::string image = "\x1bPq#1;2;100;0;0#1";
  for (int band = 0; band < height / 6; band++) {
    if (band > 0) image.append("-");
    image.append("!").append(std::to_string(width)).append("~");
  }
  return image.append("\x1b\\");
}

class DrawnWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
    window = std::make_unique<Gtk::Window>();
    window->set_default_size(800, 480);
    window->set_child(*view);
  }
  void TearDown() override {
    window->unset_child();
    window->close();
  }
  void showAndSettle() {
    window->present();
    ASSERT_TRUE(testing::pumpUntil([&] { return view->get_mapped() && view->frame().width > 0; }));
  }
  double cellWidth() const { return view->cellDimension->width; }
  double cellHeight() const { return view->cellDimension->height; }

  testing::RecordingHost host;
  std::unique_ptr<TerminalView> view;
  std::unique_ptr<Gtk::Window> window;
};

TEST_F(DrawnWindow, AnImageSentBeforeTheFirstLayoutIsPlacedAndDrawn) {
  // Programs start before their view is laid out, and some draw at once.
  ASSERT_EQ(view->frame().width, 0);
  std::string output = "\x1b[2;3H";
  output.append(redSixel(24, 42)).append("after");
  view->feed(output);
  showAndSettle();
  Buffer& buffer = *view->getTerminal().buffer;
  ASSERT_EQ(testing::imageSlices(*view).size(), size_t(std::ceil(42 / cellHeight())));
  // The rows are kept for the image and the text goes on below it.
  int textRow = 1 + int(std::ceil(42 / cellHeight()));
  EXPECT_EQ(view->getTerminal().getText({2, textRow}, {7, textRow}), "after");
  EXPECT_EQ(int(buffer.y), textRow);
  double left = 2 * cellWidth(), top = cellHeight();
  testing::DrawnPixels pixels = testing::drawnOnceShowing(
      *view, [&](const testing::DrawnPixels& p) { return p.rgb(left + 2, top + 2) == 0xff0000u; });
  ASSERT_FALSE(pixels.data.empty());
  EXPECT_EQ(pixels.rgb(left + 2, top + 2), 0xff0000u);
  EXPECT_EQ(pixels.rgb(left + 21, top + 40), 0xff0000u);
  EXPECT_NE(pixels.rgb(left + 30, top + 2), 0xff0000u);
}

TEST_F(DrawnWindow, TheGridKeepsItsWidthBesideTheScroller) {
  showAndSettle();
  Gtk::Scrollbar& scroller = *view->scrollerWidget();
  ASSERT_TRUE(testing::pumpUntil([&] { return scroller.get_width() > 0; }));
  // The strip is the scroller's before there is anything to scroll.
  double scrollerLeft = view->frame().width - scroller.get_width();
  int cols = view->getTerminal().cols, rows = view->getTerminal().rows;
  EXPECT_EQ(cols, int(scrollerLeft / cellWidth()));
  EXPECT_FALSE(scroller.get_sensitive());
  size_t resizes = host.sizes.size();

  // Scrollback appears, and the screen switches away and back, ending on a line that fills the row.
  std::string output;
  for (int i = 1; i <= 60; i++) output += std::to_string(i) + "\r\n";
  view->feed(output);
  EXPECT_TRUE(scroller.get_sensitive());
  view->feed("\x1b[?1049h");
  EXPECT_FALSE(scroller.get_sensitive());
  view->feed(std::string("\x1b[?1049l").append(size_t(cols - 1), '0').append("|\r\n"));
  EXPECT_TRUE(scroller.get_sensitive());

  // Its last cell is drawn left of the scroller, in a frame laid out after all of it.
  int row = view->getTerminal().buffer->y - 1;
  double left = (cols - 1) * cellWidth(), middle = row * cellHeight() + cellHeight() / 2;
  ASSERT_LE(left + cellWidth(), scrollerLeft);
  auto inked = [&](const testing::DrawnPixels& p) {
    for (double x = left + 1; x < left + cellWidth() - 1; x++) {
      if (p.rgb(x, middle) != p.rgb(left, middle)) return true;
    }
    return false;
  };
  testing::DrawnPixels pixels = testing::drawnOnceShowing(*view, inked);
  ASSERT_FALSE(pixels.data.empty());
  EXPECT_TRUE(inked(pixels));
  EXPECT_EQ(pixels.rgb(left + cellWidth() - 1, middle), pixels.rgb(left, middle));
  // The program was never told of a new size.
  EXPECT_EQ(view->getTerminal().cols, cols);
  EXPECT_EQ(view->getTerminal().rows, rows);
  EXPECT_EQ(host.sizes.size(), resizes);
}

}  // namespace
}  // namespace vantrelle
