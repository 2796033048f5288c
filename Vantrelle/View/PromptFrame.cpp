#include "Vantrelle/View/PromptFrame.h"

#include "platform/MainLoopTimers.h"

namespace vantrelle {

namespace {

// The timers GTK's frame clock waits with: events are flushed first, then the frame is painted.
// Both carry the clock as their data. A flush alone would hold the window's input back until the
// paint, so the two go together or not at all; a GTK that names them differently is left alone.
constexpr const char* flushTimerName = "[gtk] gdk_frame_clock_flush_idle";
constexpr const char* paintTimerName = "[gtk] gdk_frame_clock_paint_idle";

}  // namespace

bool startRequestedFrameNow(GdkFrameClock* clock) { return startRequestedFrameBy(clock, 0); }

bool startRequestedFrameBy(GdkFrameClock* clock, gint64 monotonicUs) {
  return platform::bringTimerForward(clock, paintTimerName, flushTimerName, monotonicUs);
}

}  // namespace vantrelle
