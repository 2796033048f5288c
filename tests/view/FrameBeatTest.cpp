// A shown view redraws coalesced output on the display's next frame, once per request, even though
// a timer stays armed as the bound for a view whose frames stop; output delivery stops for that
// frame.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "ViewTestSupport.h"
#include "platform/Dispatch.h"

namespace vantrelle {
namespace {

// A view shown in a window, with a prompt on it.
std::pair<std::unique_ptr<Gtk::Window>, std::unique_ptr<TerminalView>> shownView() {
  testing::ensureGtk();
  auto window = std::make_unique<Gtk::Window>();
  window->set_default_size(480, 240);
  auto view = std::make_unique<TerminalView>();
  window->set_child(*view);
  window->present();
  view->feed("prompt$ ");
  return {std::move(window), std::move(view)};
}

TEST(ShownView, OutputIsRedrawnOnTheNextFrameOnce) {
  auto shown = shownView();
  auto& window = shown.first;
  auto& view = shown.second;
  ASSERT_TRUE(testing::pumpUntil([&] { return view->get_mapped() && !view->pendingDisplay; }));
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view->gobj()));
  ASSERT_NE(clock, nullptr);

  for (int round = 0; round < 3; round++) {
    uint64_t before = view->displayCount;
    int64_t frame = gdk_frame_clock_get_frame_counter(clock);
    view->feed("output\r\n");
    ASSERT_TRUE(view->pendingDisplay);
    // Queued after the view's own timer with a later deadline, so it runs after that timer has.
    bool timerPassed = false;
    platform::DispatchQueue::main().asyncAfter(std::chrono::nanoseconds(TerminalView::displayCoalescingNs + 1'000'000),
                                               [&] { timerPassed = true; });
    ASSERT_TRUE(testing::pumpUntil([&] { return !view->pendingDisplay; }));
    EXPECT_GT(gdk_frame_clock_get_frame_counter(clock), frame) << "drawn from a frame";
    ASSERT_TRUE(testing::pumpUntil([&] { return timerPassed; }));
    EXPECT_EQ(view->displayCount, before + 1) << "round " << round;
  }
  window->unset_child();
  window->destroy();
}

// The process's output stops for the frame that is to draw it, and only for a frame that comes.
TEST(ShownView, OutputAwaitingAFrameAsksDeliveryToStopForIt) {
  auto shown = shownView();
  auto& window = shown.first;
  auto& view = shown.second;
  ASSERT_TRUE(
      testing::pumpUntil([&] { return view->get_mapped() && !view->pendingDisplay && view->lastFrameUptimeNs; }));
  EXPECT_EQ(view->nextFrameDueNs(), 0u) << "nothing to draw";
  view->feed("output\r\n");
  uint64_t due = view->nextFrameDueNs();
  EXPECT_GT(due, view->lastFrameUptimeNs);
  EXPECT_LE(due, uint64_t(g_get_monotonic_time()) * 1000 + TerminalView::displayCoalescingNs);
  // While the user types, the echo's rules decide when output is drawn, and delivery goes on.
  view->send("x");
  EXPECT_TRUE(view->pendingDisplay);
  EXPECT_EQ(view->nextFrameDueNs(), 0u) << "just after a keystroke";
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->pendingDisplay; }));

  window->hide();
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->get_mapped(); }));
  {
    std::lock_guard<std::mutex> lock(view->userInputLock);
    view->lastUserInputUptimeNs = 0;  // the keystroke long past
  }
  view->feed("hidden\r\n");
  EXPECT_TRUE(view->pendingDisplay);
  EXPECT_EQ(view->nextFrameDueNs(), 0u) << "a hidden view has no frames to wait for";
  window->unset_child();
  window->destroy();
}

}  // namespace
}  // namespace vantrelle
