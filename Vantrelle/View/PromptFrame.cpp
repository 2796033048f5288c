#include "Vantrelle/View/PromptFrame.h"

#include <array>
#include <cstring>

namespace vantrelle {

namespace {

// The timers GTK's frame clock waits with: events are flushed first, then the frame is painted.
// Both carry the clock as their data. A flush alone would hold the window's input back until the
// paint, so the two go together or not at all; a GTK that names them differently is left alone.
constexpr const char* flushTimerName = "[gtk] gdk_frame_clock_flush_idle";
constexpr const char* paintTimerName = "[gtk] gdk_frame_clock_paint_idle";

bool named(GSource* source, const char* name) {
  const char* own = source ? g_source_get_name(source) : nullptr;
  return own && std::strcmp(own, name) == 0;
}

bool isClockTimer(GSource* source) { return named(source, flushTimerName) || named(source, paintTimerName); }

// The first two live sources of `context` that carry `clock`, in the order the context runs them.
// GLib finds only the first; the second is found while the first, one of the clock's own timers,
// is set behind every other source, and the first is put back at once. Only this clock's sources
// are looked at, and only its timers touched.
std::array<GSource*, 2> firstTwoSourcesOf(GMainContext* context, GdkFrameClock* clock) {
  std::array<GSource*, 2> found{g_main_context_find_source_by_user_data(context, clock), nullptr};
  if (!isClockTimer(found[0])) return found;
  int priority = g_source_get_priority(found[0]);
  g_source_set_priority(found[0], G_MAXINT);
  found[1] = g_main_context_find_source_by_user_data(context, clock);
  g_source_set_priority(found[0], priority);
  if (found[1] == found[0]) found[1] = nullptr;
  return found;
}

void dueBy(GSource* source, gint64 readyTimeUs) {
  // A timer's ready time is when it fires; its callback runs once and removes it. One that fires
  // sooner is left so: the window's input is flushed with the frame, and would wait.
  if (!source || g_source_is_destroyed(source)) return;
  gint64 ready = g_source_get_ready_time(source);
  if (ready < 0 || readyTimeUs < ready) g_source_set_ready_time(source, readyTimeUs);
}

}  // namespace

bool startRequestedFrameNow(GdkFrameClock* clock) { return startRequestedFrameBy(clock, 0); }

bool startRequestedFrameBy(GdkFrameClock* clock, gint64 monotonicUs) {
  if (!clock) return false;
  GMainContext* context = g_main_context_default();
  // Held for the look-up, so no other thread runs or removes the sources meanwhile; a context that
  // another thread runs is left alone.
  if (!g_main_context_acquire(context)) return false;
  GSource* flush = nullptr;
  GSource* paint = nullptr;
  for (GSource* source : firstTwoSourcesOf(context, clock)) {
    if (named(source, flushTimerName)) flush = source;
    if (named(source, paintTimerName)) paint = source;
  }
  if (paint) {
    dueBy(flush, monotonicUs);
    dueBy(paint, monotonicUs);
  }
  g_main_context_release(context);
  return paint != nullptr;
}

}  // namespace vantrelle
