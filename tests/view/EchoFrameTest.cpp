// The frame that shows the echo of a key starts as soon as the main loop is free, even when the key
// came just after a frame of other output, where GTK would wait out the rest of the interval.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include <optional>

#include "Vantrelle/View/PromptFrame.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

struct EchoProbe {
  TerminalView* view = nullptr;
  bool armed = false;
  bool echoed = false;
  bool echoFrameBegan = false;
  // Whether the main loop, once it had nothing more urgent to run, found the echo's frame begun.
  std::optional<bool> frameBeganBeforeIdle;
};

// Right after a frame: the user types, the program echoes, and an idle callback looks whether the
// echo's frame has begun. A frame that only waits for its interval comes after that callback; one
// started at once comes before it, as GTK paints before it runs idle callbacks.
gboolean echoAfterFrame(gpointer data) {
  auto* probe = static_cast<EchoProbe*>(data);
  probe->view->send("a");
  probe->view->feed("a");
  probe->echoed = true;
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer data) -> gboolean {
        auto* probe = static_cast<EchoProbe*>(data);
        probe->frameBeganBeforeIdle = probe->echoFrameBegan;
        return G_SOURCE_REMOVE;
      },
      probe, nullptr);
  return G_SOURCE_REMOVE;
}

TEST(EchoFrame, StartsAtOnceAfterAFrameOfOtherOutput) {
  testing::ensureGtk();
  Gtk::Window window;
  window.set_default_size(480, 240);
  TerminalView view;
  window.set_child(view);
  window.present();
  ASSERT_TRUE(
      testing::pumpUntil([&] { return view.get_mapped() && !view.pendingDisplay && view.framePacing.lastFrameNs(); }));
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(view.gobj()));
  ASSERT_NE(clock, nullptr);

  EchoProbe probe;
  probe.view = &view;
  gulong painted = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, EchoProbe* p) {
                                      // The frame of other output: the echo follows once it is over.
                                      if (p->armed) {
                                        p->armed = false;
                                        g_idle_add_full(G_PRIORITY_HIGH, echoAfterFrame, p, nullptr);
                                      }
                                    }),
                                    &probe);
  gulong began = g_signal_connect(clock, "before-paint", G_CALLBACK(+[](GdkFrameClock*, EchoProbe* p) {
                                    if (p->echoed) p->echoFrameBegan = true;
                                  }),
                                  &probe);
  probe.armed = true;
  view.feed("other output\r\n");
  bool looked = testing::pumpUntil([&] { return probe.frameBeganBeforeIdle.has_value() && probe.echoFrameBegan; });
  g_signal_handler_disconnect(clock, painted);
  g_signal_handler_disconnect(clock, began);
  ASSERT_TRUE(looked);
  EXPECT_TRUE(*probe.frameBeganBeforeIdle) << "the echo's frame waited for the interval";
  window.unset_child();
  window.destroy();
}

// Without a frame asked for there is nothing to start.
TEST(EchoFrame, NothingToStartWithoutARequestedFrame) {
  testing::ensureGtk();
  Gtk::Window window;
  window.set_default_size(200, 100);
  window.present();
  ASSERT_TRUE(testing::pumpUntil([&] { return window.get_mapped(); }));
  GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj()));
  ASSERT_NE(clock, nullptr);
  ASSERT_TRUE(testing::pumpUntil([&] { return !g_main_context_find_source_by_user_data(nullptr, clock); }));
  EXPECT_FALSE(startRequestedFrameNow(clock));
  EXPECT_FALSE(startRequestedFrameNow(nullptr));
  window.destroy();
}

// Stand-ins for frame clocks' timers: each carries its clock as data and fires far in the future
// unless it is made due.
struct ClockTimer {
  GSource* source;
  ClockTimer(const char* name, int priority, void* clock) : source(g_timeout_source_new_seconds(3600)) {
    g_source_set_name(source, name);
    g_source_set_priority(source, priority);
    g_source_set_callback(
        source, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, clock, nullptr);
    g_source_attach(source, nullptr);
  }
  ClockTimer(const ClockTimer&) = delete;
  ClockTimer& operator=(const ClockTimer&) = delete;
  ~ClockTimer() {
    g_source_destroy(source);
    g_source_unref(source);
  }
  bool due() const { return g_source_get_ready_time(source) == 0; }
};

// Only the clock's own two timers are made due, and both or neither: another window's timers stay
// as they are, and a flush without its paint would hold the window's input back.
TEST(EchoFrame, StartsOnlyThatClocksFrame) {
  testing::ensureGtk();
  constexpr const char* flushName = "[gtk] gdk_frame_clock_flush_idle";
  constexpr const char* paintName = "[gtk] gdk_frame_clock_paint_idle";
  constexpr int flushPriority = G_PRIORITY_DEFAULT + 1, paintPriority = G_PRIORITY_HIGH_IDLE + 20;
  int ownClock = 0, otherClock = 0;
  auto* own = reinterpret_cast<GdkFrameClock*>(&ownClock);
  {
    // The paint timer made before the flush timer, another window's made right after them.
    ClockTimer paint(paintName, paintPriority, own), flush(flushName, flushPriority, own);
    ClockTimer otherFlush(flushName, flushPriority, &otherClock), otherPaint(paintName, paintPriority, &otherClock);
    EXPECT_TRUE(startRequestedFrameNow(own));
    EXPECT_TRUE(flush.due() && paint.due());
    EXPECT_FALSE(otherFlush.due() || otherPaint.due()) << "another window's frame was started";
  }
  {
    ClockTimer flush(flushName, flushPriority, own), otherPaint(paintName, paintPriority, &otherClock);
    EXPECT_FALSE(startRequestedFrameNow(own));
    EXPECT_FALSE(flush.due() || otherPaint.due());
  }
  {
    // A GTK whose timers have other names.
    ClockTimer flush("flush", flushPriority, own), paint("paint", paintPriority, own);
    EXPECT_FALSE(startRequestedFrameNow(own));
    EXPECT_FALSE(flush.due() || paint.due());
  }
}

}  // namespace
}  // namespace vantrelle
