// The scroll wheel's loan of mouse reporting to a terminal view: given back after the event, and
// never to a view that is gone by then.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "app/MainWindow.h"
#include "tests/app/GtkTestSupport.h"

namespace zorvel {
namespace {

struct ReportingView : Gtk::Box, MouseReportingView {
  explicit ReportingView(int& writes) : writes(writes) {}
  bool allowMouseReporting() const override { return allow; }
  void setAllowMouseReporting(bool value) override {
    allow = value;
    ++writes;
  }
  bool allow = false;
  int& writes;
};

void runPendingWork() {
  while (g_main_context_iteration(nullptr, false)) {
  }
}

TEST(ScrollWheelLoan, TheViewGetsItsSettingBackUnlessItIsGone) {
  if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
  int writes = 0;
  auto view = std::make_unique<ReportingView>(writes);

  ZorvelWindow::lendMouseReporting(*view, *view);
  EXPECT_TRUE(view->allow);
  runPendingWork();
  EXPECT_FALSE(view->allow);
  EXPECT_EQ(writes, 2);

  view->allow = true;  // a view that reports anyway keeps doing so
  ZorvelWindow::lendMouseReporting(*view, *view);
  runPendingWork();
  EXPECT_TRUE(view->allow);

  writes = 0;
  ZorvelWindow::lendMouseReporting(*view, *view);
  view.reset();  // stopped while the event was still being delivered
  runPendingWork();
  EXPECT_EQ(writes, 1);
}

}  // namespace
}  // namespace zorvel

TEST(WindowSizes, FitASmallOrScaledScreenAndKeepTheUsualSizeOnLargeOnes) {
  struct Case {
    std::optional<std::pair<int, int>> screen;
    int width, height, minimumWidth, minimumHeight;
  };
  const Case cases[] = {
      {std::nullopt, 1400, 820, 900, 560},
      {std::pair(1920, 1080), 1400, 820, 900, 560},
      {std::pair(1366, 768), 1229, 691, 900, 560},
      {std::pair(960, 540), 864, 486, 768, 432},  // 1920 x 1080 at twice the scale
      {std::pair(0, 0), 1400, 820, 900, 560},
  };
  for (const auto& c : cases) {
    auto sizes = zorvel::windowSizesFor(c.screen);
    EXPECT_EQ(sizes.width, c.width);
    EXPECT_EQ(sizes.height, c.height);
    EXPECT_EQ(sizes.minimumWidth, c.minimumWidth);
    EXPECT_EQ(sizes.minimumHeight, c.minimumHeight);
  }
}
