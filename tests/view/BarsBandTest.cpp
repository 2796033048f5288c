// The view's bars (the find bar the user opens, the progress bar a program asks for) take a band
// above the rows and cover none of them: every row the program was told of is in sight, whole,
// and the rows come back when the bar goes.
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "DrawnPixels.h"
#include "InputTestSupport.h"

namespace vantrelle {
namespace {

// Two backgrounds no other part of the view has, row by row in turn, so each row is one run.
constexpr uint32_t rowColours[] = {0x01fe03u, 0x0301feu};

class RealInputBarsBand : public testing::RealWindowInputTest {
 protected:
  RealInputBarsBand() : RealWindowInputTest("BarsBandTerminal", "command -v xdotool") {}

  // As a full-screen program does for the size it was last told.
  void paintRows() {
    std::string output;
    for (int row = 0; row < view->getTerminal().rows; row++) {
      uint32_t c = rowColours[row % 2];
      output += "\x1b[" + std::to_string(row + 1) + ";1H\x1b[48;2;" + std::to_string(c >> 16) + ";" +
                std::to_string((c >> 8) & 0xff) + ";" + std::to_string(c & 0xff) + "m\x1b[K";
    }
    view->feed(output + "\x1b[m\x1b[H");
    paintedRows = view->getTerminal().rows;
  }

  // The heights of the painted rows down one column, top to bottom; a row partly covered shows
  // shorter, one wholly covered not at all.
  static std::vector<int> paintedRunsDown(const testing::DrawnPixels& pixels, int x) {
    std::vector<int> runs;
    uint32_t last = 0;
    for (int y = 0; y < pixels.height; y++) {
      uint32_t c = pixels.rgb(x, y);
      bool painted = c == rowColours[0] || c == rowColours[1];
      if (painted && c == last) {
        runs.back()++;
      } else if (painted) {
        runs.push_back(1);
      }
      last = painted ? c : 0;
    }
    return runs;
  }

  // Whether the drawing shows every row the program was told of, each a whole cell high. The
  // rows are painted again whenever the program is told of another size, as a program would.
  bool showsEveryRowWhole(const testing::DrawnPixels& pixels) {
    if (view->getTerminal().rows != paintedRows) {
      paintRows();
      return false;
    }
    runs = paintedRunsDown(pixels, int(pixels.width * 0.6));
    if (int(runs.size()) != paintedRows) return false;
    for (int height : runs) {
      if (height < int(view->cellDimension->height) - 1) return false;
    }
    return true;
  }

  int paintedRows = 0;
  std::vector<int> runs;
};

std::string shown(const std::vector<int>& runs) {
  std::string text;
  for (int height : runs) text += std::to_string(height) + " ";
  return text;
}

TEST_F(RealInputBarsBand, EachBarLiesAboveTheRowsAndTheRowsComeBackWhenItGoes) {
  struct Bar {
    const char* name;
    std::function<void()> show, hide;
    std::function<Gtk::Widget*()> widget;
    // Whether it is drawn as it will stay.
    std::function<bool()> settled = [] { return true; };
  };
  auto strip = [this] { return view->progress.progressBarView.get(); };
  const std::vector<Bar> bars = {
      {"the find bar, opened and closed from the keyboard",
       [] { ASSERT_EQ(std::system("xdotool key ctrl+shift+f"), 0); },
       [] { ASSERT_EQ(std::system("xdotool key Escape"), 0); },
       [this] { return static_cast<Gtk::Widget*>(view->findState.findBar.get()); }},
      {"the progress bar of a program's report", [this] { view->feed("\x1b]9;4;1;100\x07"); },
       [this] { view->feed("\x1b]9;4;0\x07"); }, strip,
       // Grown to the percentage across the whole strip.
       [strip] {
         return strip()->barFrame().width > 0 && strip()->barFrame().width == strip()->targetBarFrame().width;
       }},
  };
  const int rows = view->getTerminal().rows;
  for (const auto& bar : bars) {
    SCOPED_TRACE(bar.name);
    paintRows();
    bar.show();
    ASSERT_TRUE(testing::pumpUntil(
        [&] {
          Gtk::Widget* shown = bar.widget();
          return shown && shown->get_visible() && shown->get_height() > 0 && bar.settled();
        },
        std::chrono::seconds(5)))
        << "the bar did not show";
    testing::drawnOnceShowing(*view, [&](const testing::DrawnPixels& p) { return showsEveryRowWhole(p); });
    EXPECT_EQ(int(runs.size()), paintedRows) << "rows in sight, with their heights: " << shown(runs);
    for (int height : runs) EXPECT_GE(height, int(view->cellDimension->height) - 1) << shown(runs);

    bar.hide();
    ASSERT_TRUE(testing::pumpUntil([&] { return !bar.widget()->get_visible(); }, std::chrono::seconds(5)));
    testing::drawnOnceShowing(
        *view, [&](const testing::DrawnPixels& p) { return showsEveryRowWhole(p) && paintedRows == rows; });
    EXPECT_EQ(paintedRows, rows) << "the rows were not given back";
    EXPECT_EQ(int(runs.size()), rows) << shown(runs);
  }
}

// The find bar opens on the last term and selects its match; the rows it then takes, and gives back
// when it closes, leave the match selected for the user to copy.
TEST_F(RealInputBarsBand, TheMatchTheFindBarSelectsStaysSelectedAsItsBandComesAndGoes) {
  feed("one\r\ntwo apple\r\nthree\r\n");
  TerminalFindBarView::findPasteboard() = "apple";
  ASSERT_EQ(std::system("xdotool key ctrl+shift+f"), 0);
  ASSERT_TRUE(
      testing::pumpUntil([&] { return view->rowsTop() > 0 && view->selectionActive(); }, std::chrono::seconds(5)))
      << "the match was let go when the band was taken";
  EXPECT_EQ(view->selection->start(), Position(4, 1));
  ASSERT_EQ(std::system("xdotool key Escape"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->rowsTop() == 0; }, std::chrono::seconds(5)));
  EXPECT_TRUE(view->selectionActive()) << "the match was let go when the band went";
  TerminalFindBarView::findPasteboard().reset();
}

}  // namespace
}  // namespace vantrelle
