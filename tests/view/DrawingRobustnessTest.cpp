// Whatever a program prints, every row can be laid out and painted: mixed widths at the last
// column, clusters, line sizes, shape glyphs, placeholders and images, across resizes.
#include <gtest/gtest.h>

#include <random>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

TEST(DrawingRobustness, MixedOutputAndResizesAlwaysPaint) {
  testing::ensureGtk();
  TerminalView view;
  testing::RecordingHost host;
  view.terminalDelegate = &host;
  view.scaleFactorOverride = 2.0;
  view.size_allocate(Gtk::Allocation(0, 0, 640, 360), -1);
  const std::vector<std::string> fragments = {"plain text ",
                                              "\xe4\xb8\xad\xe6\x96\x87",
                                              "e\xcc\x81",
                                              "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",
                                              "\xe2\x94\xbc\xe2\x95\xac",
                                              "\xe2\x96\x92\xe2\x96\x9f",
                                              "\xee\x82\xb0\xee\x82\xb6",
                                              "\x1b#6",
                                              "\x1b#3",
                                              "\x1b#4",
                                              "\x1b[1;4:3;9;2;7m",
                                              "\x1b[0m",
                                              "\x1b[38;2;1;2;3;48;5;200m",
                                              "\r\n",
                                              "\x1b[999C",
                                              "\x1b[H",
                                              "\x1b[?1049h",
                                              "\x1b[?1049l",
                                              "\xf4\x8e\xbb\xae\xcc\x85",
                                              "\x1b[K",
                                              "\x1b[2J",
                                              "\x1b[S",
                                              "\x1b[5L",
                                              "\t",
                                              "\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\",
                                              "\xcc\x81",
                                              "\x1b[58;5;3m",
                                              "\x1b[4:5m"};
  std::mt19937 random(1234);
  auto& path = static_cast<CairoDrawingPath&>(view.drawingPath());
  for (int round = 0; round < 300; round++) {
    std::string chunk;
    for (int i = 0; i < 12; i++) chunk += fragments[random() % fragments.size()];
    view.feed(chunk);
    if (round % 37 == 0) {
      int w = 40 + int(random() % 900), h = 20 + int(random() % 500);
      view.size_allocate(Gtk::Allocation(0, 0, w, h), -1);
    }
    if (round % 11 == 0) view.scrollTo(int(random() % 50), false);
    if (round % 17 == 0) view.selectAll();
    view.updateDisplay(false);
    path.invalidateAll();
    ASSERT_NE(path.render(), nullptr);
  }
  EXPECT_GT(view.displayCount, 0u);
}

}  // namespace
}  // namespace vantrelle
