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
