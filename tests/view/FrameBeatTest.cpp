// A shown view redraws coalesced output on the display's next frame, once per request, even though
// a timer stays armed as the bound for a view whose frames stop; output delivery stops for that
// frame; frames that draw a run of output keep the clock's beat.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include <cstdlib>
#include <cstring>
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
  ASSERT_TRUE(testing::pumpUntil(
      [&] { return view->get_mapped() && !view->pendingDisplay && view->framePacing.lastFrameNs(); }));
  EXPECT_EQ(view->nextFrameDueNs(), 0u) << "nothing to draw";
  view->feed("output\r\n");
  uint64_t due = view->nextFrameDueNs();
  EXPECT_GT(due, view->framePacing.lastFrameNs());
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

// GTK's timer for the clock's next frame; its flush timer may come first. Both carry the clock.
GSource* paintTimerOf(GdkFrameClock* clock) {
  GSource* first = g_main_context_find_source_by_user_data(nullptr, clock);
  const char* name = first ? g_source_get_name(first) : nullptr;
  if (!name || std::strcmp(name, "[gtk] gdk_frame_clock_flush_idle") != 0) return first;
  int priority = g_source_get_priority(first);
  g_source_set_priority(first, G_MAXINT);
  GSource* second = g_main_context_find_source_by_user_data(nullptr, clock);
  g_source_set_priority(first, priority);
  return second == first ? nullptr : second;
}

// Shown, its first frames drawn (and timed, which the drawing ahead needs), nothing waiting.
bool readyToDrawAhead(TerminalView& view) {
  return view.get_mapped() && !view.pendingDisplay && view.framePacing.lastFrameNs() &&
         view.drawingPath().expectedPrepareNs() > 0;
}

// Output that keeps coming is drawn when delivery stops for the frame, before the frame: that frame
// starts on the beat and has nothing left to draw, and output fed after the drawing shows in the
// frame after it, none of it lost.
TEST(ShownView, OutputDrawnAheadOfItsFrameLeavesTheFrameOnlyTheHandingOver) {
  auto shown = shownView();
  auto& view = shown.second;
  ASSERT_TRUE(testing::pumpUntil([&] { return readyToDrawAhead(*view); }));
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view->gobj()));
  struct Frame {
    int rowsDrawnInFrame;
    uint64_t drawnAheadNs;
  };
  struct Seen {
    TerminalView* view;
    uint64_t drawn;
    std::vector<Frame> frames;
  } seen{view.get(), view->contentFramesDrawn, {}};
  gulong painted = g_signal_connect(
      clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, Seen* s) {
        if (s->view->contentFramesDrawn == s->drawn) return;
        s->drawn = s->view->contentFramesDrawn;
        s->frames.push_back({s->view->rowsDrawnInLastPass(), s->view->drawingPath().lastDrawnAheadNs()});
      }),
      &seen);
  view->feed("ahead\r\n");
  ASSERT_NE(view->nextFrameDueNs(), 0u);
  ASSERT_TRUE(view->drawAheadOfFrame());
  EXPECT_FALSE(view->pendingDisplay);
  GSource* paint = paintTimerOf(clock);
  ASSERT_NE(paint, nullptr) << "no frame awaited";
  EXPECT_LE(g_source_get_ready_time(paint), gint64(view->framePacing.drawnAheadForNs() / 1000))
      << "GTK's timer rounded past the beat";
  view->feed("after\r\n");
  bool ran = testing::pumpUntil([&] { return seen.frames.size() >= 2; });
  g_signal_handler_disconnect(clock, painted);
  ASSERT_TRUE(ran);
  EXPECT_EQ(seen.frames[0].rowsDrawnInFrame, 0);
  EXPECT_GT(seen.frames[0].drawnAheadNs, 0u);
  EXPECT_GT(seen.frames[1].rowsDrawnInFrame, 0) << "the output fed after the drawing";
  EXPECT_EQ(seen.frames[1].drawnAheadNs, 0u);
  shown.first->unset_child();
  shown.first->destroy();
}

// Nothing is drawn ahead with no frame due, nor while the user types: output then follows the rules
// for typing.
TEST(ShownView, NothingIsDrawnAheadWhileTheUserTypesOrWithNoFrameDue) {
  auto shown = shownView();
  auto& view = shown.second;
  ASSERT_TRUE(testing::pumpUntil([&] { return readyToDrawAhead(*view); }));
  view->feed("output\r\n");
  EXPECT_FALSE(view->drawAheadOfFrame()) << "no frame asked for yet";
  view->nextFrameDueNs();
  view->send("x");
  EXPECT_FALSE(view->drawAheadOfFrame()) << "just after a keystroke";
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->pendingDisplay; }));
  shown.first->unset_child();
  shown.first->destroy();
}

// While the user types, output that answers no key (a log scrolling in a region) still waits for
// its spaced frame, but is drawn at once: the frame that shows the next key's echo draws only the
// echo's rows, not the region's as well.
TEST(ShownView, OutputWhileTypingIsDrawnAheadAndTheEchoFrameDrawsOnlyTheEcho) {
  auto shown = shownView();
  auto& view = shown.second;
  ASSERT_TRUE(testing::pumpUntil([&] { return readyToDrawAhead(*view); }));
  view->send("x");
  view->feed("x");
  {
    // Still typing, but past the interval in which output answers the key.
    std::lock_guard<std::mutex> lock(view->userInputLock);
    view->lastUserInputUptimeNs -= 30'000'000;
  }
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->drawingPath().drawnAheadUnshown(); }));
  view->feed(
      "\x1b"
      "7\x1b[4;9r\x1b[9;1H\nrequest served\x1b[r\x1b"
      "8");
  EXPECT_NE(view->typingDisplayQueuedNs, 0u) << "its frame keeps its spacing";
  EXPECT_TRUE(view->drawingPath().drawnAheadUnshown()) << "the region was not drawn ahead";
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view->gobj()));
  struct Seen {
    TerminalView* view;
    uint64_t drawn;
    int rows = -1;
  } seen{view.get(), view->contentFramesDrawn};
  gulong painted = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, Seen* s) {
                                      if (s->rows >= 0 || s->view->contentFramesDrawn == s->drawn) return;
                                      s->rows = s->view->rowsDrawnInLastPass();
                                    }),
                                    &seen);
  view->send("y");
  view->feed("y");
  bool ran = testing::pumpUntil([&] { return seen.rows >= 0; });
  g_signal_handler_disconnect(clock, painted);
  ASSERT_TRUE(ran);
  // The echo's row and the few its repaint takes in; the region's six rows lie below them.
  EXPECT_LE(seen.rows, 3);
  EXPECT_FALSE(view->drawingPath().drawnAheadUnshown()) << "the region's rows were shown with the echo";
  shown.first->unset_child();
  shown.first->destroy();
}

// After a frame that ran past the beat, the next starts at once and is stamped with the beat nearest
// its start: output delivered up to the due time it is given is drawn one beat after the late frame.
TEST(ShownView, AfterAFrameRanPastTheBeatOutputIsDeliveredUntilTheNextBeatCanStillBeMet) {
  auto shown = shownView();
  auto& view = shown.second;
  ASSERT_TRUE(testing::pumpUntil(
      [&] { return view->get_mapped() && !view->pendingDisplay && view->framePacing.lastFrameNs(); }));
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view->gobj()));
  view->feed("output\r\n");
  view->nextFrameDueNs();  // the view starts watching the clock
  struct Probe {
    TerminalView* view;
    uint64_t drawn;
    gint64 lateFrame = 0, nextFrame = 0, nextFrameBegan = 0;
    uint64_t askedAt = 0, due = 0;
  } probe{view.get(), view->contentFramesDrawn};
  // The frame that draws the output runs 20 ms past its time.
  gulong paint = g_signal_connect(clock, "paint", G_CALLBACK(+[](GdkFrameClock* c, Probe* p) {
                                    if (p->lateFrame || p->view->contentFramesDrawn == p->drawn) return;
                                    p->lateFrame = gdk_frame_clock_get_frame_time(c);
                                    while (g_get_monotonic_time() < p->lateFrame + 20'000) {
                                    }
                                  }),
                                  &probe);
  // Once it is painted, output comes in pieces until the due time.
  gulong painted = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, Probe* p) {
                                      if (!p->lateFrame || p->due) return;
                                      p->drawn = p->view->contentFramesDrawn;
                                      p->view->feed("more\r\n");
                                      p->askedAt = uint64_t(g_get_monotonic_time()) * 1000;
                                      p->due = p->view->nextFrameDueNs();
                                      while (uint64_t(g_get_monotonic_time()) * 1000 < p->due)
                                        p->view->feed("more\r\n");
                                    }),
                                    &probe);
  gulong began = g_signal_connect(clock, "before-paint", G_CALLBACK(+[](GdkFrameClock* c, Probe* p) {
                                    if (p->due && !p->nextFrameBegan) {
                                      p->nextFrameBegan = g_get_monotonic_time();
                                      p->nextFrame = gdk_frame_clock_get_frame_time(c);
                                    }
                                  }),
                                  &probe);
  bool ran = testing::pumpUntil([&] { return probe.nextFrame != 0; });
  g_signal_handler_disconnect(clock, paint);
  g_signal_handler_disconnect(clock, painted);
  g_signal_handler_disconnect(clock, began);
  ASSERT_TRUE(ran);
  gint64 interval = 0, presentation = 0;
  gdk_frame_clock_get_refresh_info(clock, probe.lateFrame, &interval, &presentation);
  uint64_t late = uint64_t(probe.lateFrame) * 1000, beat = uint64_t(interval) * 1000;
  EXPECT_GT(probe.due, late + beat) << "not the beat already passed";
  // Unless the loaded machine held the late frame or the next one back past the middle between the
  // beats.
  if (probe.askedAt < late + beat + beat / 2 - FramePacer::overdueFrameMarginNs) {
    EXPECT_LE(probe.due, late + beat + beat / 2 - FramePacer::overdueFrameMarginNs);
  }
  if (uint64_t(probe.nextFrameBegan) * 1000 < late + beat + beat / 2) {
    EXPECT_EQ(probe.nextFrame, probe.lateFrame + interval);
  }
  EXPECT_GT(view->contentFramesDrawn, probe.drawn);
  shown.first->unset_child();
  shown.first->destroy();
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
    bool ran = testing::pumpUntil([&] { return run.frameTimes.size() >= 31; });
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
  // A late wake-up leaves a frame off the beat now and then, more often on a loaded machine (down to
  // half of them at load 10); a clock that went idle between frames stamps nearly all of them late.
  EXPECT_GE(onBeatShare(), 0.4);

  shown.first->unset_child();
  shown.first->destroy();
  Gtk::Window other;
  other.set_default_size(480, 240);
  other.set_child(*view);
  other.present();
  EXPECT_GE(onBeatShare(), 0.4) << "in another window";
  other.unset_child();
  other.destroy();
}

}  // namespace
}  // namespace vantrelle
