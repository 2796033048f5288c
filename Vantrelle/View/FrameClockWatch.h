#pragma once
#include <gdk/gdk.h>

#include <cstdint>
#include <functional>
#include <utility>

#include "platform/GLibPtr.h"

namespace vantrelle {

// Records the time of every frame a frame clock runs, as GTK counts the frames that follow: the
// frame's own time, kept on the beat, read once the frame is painted. Holds the clock while it
// watches it and lets go of it when it is pointed at another clock or destroyed.
class FrameClockWatch {
 public:
  FrameClockWatch() = default;
  FrameClockWatch(const FrameClockWatch&) = delete;
  FrameClockWatch& operator=(const FrameClockWatch&) = delete;
  ~FrameClockWatch() { stop(); }

  // Starts watching `clock` unless it is the one watched; the last frame is unknown until it paints
  // one. `painted` runs after each frame, once its time is recorded.
  void watch(GdkFrameClock* clock, std::function<void()> painted) {
    if (clock == watched.get()) return;
    stop();
    onPainted = std::move(painted);
    if (!clock) return;
    watched.reset(GDK_FRAME_CLOCK(g_object_ref(clock)));
    handler = g_signal_connect(watched.get(), "after-paint", G_CALLBACK(&FrameClockWatch::painted), this);
  }
  // The time of the watched clock's last frame (monotonic nanoseconds, 0 = none seen yet).
  uint64_t lastFrameNs() const { return lastFrame; }

 private:
  static void painted(GdkFrameClock* clock, FrameClockWatch* self) {
    gint64 time = gdk_frame_clock_get_frame_time(clock);
    self->lastFrame = time > 0 ? uint64_t(time) * 1000 : 0;
    if (self->onPainted) self->onPainted();
  }
  void stop() {
    if (!watched) return;
    // A clock whose window was destroyed has dropped its handlers already.
    if (g_signal_handler_is_connected(watched.get(), handler)) g_signal_handler_disconnect(watched.get(), handler);
    watched.reset();
    handler = 0;
    lastFrame = 0;
  }
  platform::GObjectPtr<GdkFrameClock> watched;
  gulong handler = 0;
  uint64_t lastFrame = 0;
  std::function<void()> onPainted;
};

}  // namespace vantrelle
