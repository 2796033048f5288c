// A shown view redraws coalesced output on the display's next frame, once per request, even though
// a timer stays armed as the bound for a view whose frames stop; output delivery stops for that
// frame; frames that draw a run of output keep the clock's beat.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include <cstdlib>
#include <vector>

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
    platform::DispatchQueue::main().asyncAfter(std::chrono::nanoseconds(TerminalView::shownDisplayBoundNs + 1'000'000),
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
  EXPECT_LE(due, uint64_t(g_get_monotonic_time()) * 1000 + TerminalView::shownDisplayBoundNs);
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

// Output that arrives between frames, as a flood's does, is drawn on frames the clock stamps on its
// steady beat (whole refresh intervals apart), also after the view moved to another window.
TEST(ShownView, OutputArrivingBetweenFramesIsDrawnOnTheClocksSteadyBeat) {
  auto shown = shownView();
  auto& view = shown.second;
  auto onBeatShare = [&] {
    if (!testing::pumpUntil([&] { return view->get_mapped() && !view->pendingDisplay; })) return 0.0;
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view->gobj()));
    struct Run {
      TerminalView* view;
      uint64_t drawn;
      std::vector<gint64> frameTimes;
      std::shared_ptr<int> running = std::make_shared<int>();
    } run{view.get(), view->contentFramesDrawn, {}};
    // Each frame that drew asks for more output a little after it, from the main loop.
    gulong handler =
        g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock* c, Run* r) {
                           if (r->view->contentFramesDrawn == r->drawn) return;
                           r->drawn = r->view->contentFramesDrawn;
                           r->frameTimes.push_back(gdk_frame_clock_get_frame_time(c));
                           std::weak_ptr<int> running = r->running;
                           TerminalView* view = r->view;
                           platform::DispatchQueue::main().asyncAfter(std::chrono::milliseconds(4), [running, view] {
                             if (running.lock()) view->feed("line\r\n");
                           });
                         }),
                         &run);
    view->feed("line\r\n");
    bool ran = testing::pumpUntil([&] { return run.frameTimes.size() >= 21; });
    g_signal_handler_disconnect(clock, handler);
    if (!ran) return 0.0;
    gint64 interval = 0, presentation = 0;
    gdk_frame_clock_get_refresh_info(clock, run.frameTimes.back(), &interval, &presentation);
    int onBeat = 0;
    for (size_t i = 1; i < run.frameTimes.size(); i++) {
      gint64 apart = run.frameTimes[i] - run.frameTimes[i - 1];
      gint64 beats = std::max<gint64>((apart + interval / 2) / interval, 1);
      if (std::llabs(apart - beats * interval) <= 20) onBeat++;
    }
    return double(onBeat) / double(run.frameTimes.size() - 1);
  };
  // A late wake-up leaves a frame off the beat now and then; a clock that went idle between frames
  // stamps most of them late.
  EXPECT_GE(onBeatShare(), 0.75);

  shown.first->unset_child();
  shown.first->destroy();
  Gtk::Window other;
  other.set_default_size(480, 240);
  other.set_child(*view);
  other.present();
  EXPECT_GE(onBeatShare(), 0.75) << "in another window";
  other.unset_child();
  other.destroy();
}

}  // namespace
}  // namespace vantrelle
