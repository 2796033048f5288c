// The main window: the scroll wheel's loan of mouse reporting to a terminal view, given back
// after the event and never to a view that is gone by then; the room the error label takes; the
// window's sizes on small screens.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "app/MainWindow.h"
#include "app/TerminalFactory.h"
#include "app/ZorvelAppDelegate.h"
#include "tests/MainLoop.h"
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

// Where a widget lies in the window, as drawn; an empty rectangle for one that is not.
graphene_rect_t boundsIn(Gtk::Widget& widget, Gtk::Window& window) {
  graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, 0, 0);
  if (!gtk_widget_compute_bounds(widget.gobj(), GTK_WIDGET(window.gobj()), &bounds))
    return GRAPHENE_RECT_INIT(0, 0, 0, 0);
  return bounds;
}

// A core failure stays on the label until the core is back, while the task terminals go on: the
// label takes a band of its own above the terminal, which gives up rows for it, so no row of a
// full-screen program lies under the text. The rows come back once the text goes.
TEST(ErrorLabel, ACoreFailureLeavesEveryTerminalRowInSight) {
  if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
  auto delegate = std::make_shared<ZorvelAppDelegate>();
  delegate->layOutWindowContent();
  auto window = std::make_unique<Gtk::Window>();
  window->set_default_size(1000, 640);
  window->set_child(delegate->windowContent);
  window->present();
  std::shared_ptr<vantrelle::LocalProcessTerminalView> view = TerminalFactory::make(*delegate);
  delegate->terminalSessions.insert(view, "t", std::nullopt);
  delegate->enterTerminalLayout();
  delegate->show(view, "t", false);
  auto rows = [&] { return view->getTerminal().getDims().second; };
  auto laidOut = [&](Gtk::Widget& widget) { return widget.get_mapped() && widget.get_height() > 0; };
  ASSERT_TRUE(runMainUntil([&] { return laidOut(*view) && rows() > 20; }));
  const int allRows = rows();

  delegate->showCoreFailure("the runner exited with status 1");
  auto& label = delegate->webErrorLabel;
  EXPECT_TRUE(runMainUntil([&] { return laidOut(label) && rows() < allRows; })) << "the terminal kept its rows";
  auto text = boundsIn(label, *window), terminal = boundsIn(*view, *window);
  EXPECT_FALSE(graphene_rect_intersection(&text, &terminal, nullptr))
      << "the text covers the terminal from y = " << terminal.origin.y << " to " << text.origin.y + text.size.height;
  EXPECT_LE(terminal.origin.y + terminal.size.height, window->get_height());

  label.set_visible(false);
  EXPECT_TRUE(runMainUntil([&] { return rows() == allRows; }));

  delegate->stopTerminal("t");
  window->unset_child();
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
