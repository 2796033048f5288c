#include "Vantrelle/View/PromptFrame.h"

#include <cstring>

namespace vantrelle {

namespace {

// The timers GTK's frame clock waits with: events are flushed first, then the frame is painted.
// Both carry the clock as their data and are made one after the other, so the painting timer
// follows the flushing one closely among the sources of the main context.
constexpr const char* flushTimerName = "[gtk] gdk_frame_clock_flush_idle";
constexpr const char* paintTimerName = "[gtk] gdk_frame_clock_paint_idle";
constexpr guint paintTimerSearchSpan = 16;

bool named(GSource* source, const char* name) {
  const char* own = source ? g_source_get_name(source) : nullptr;
  return own && std::strcmp(own, name) == 0;
}

void dueNow(GSource* source) {
  // A timer's ready time is when it fires; its callback runs once and removes it.
  if (!g_source_is_destroyed(source)) g_source_set_ready_time(source, 0);
}

}  // namespace

bool startRequestedFrameNow(GdkFrameClock* clock) {
  if (!clock) return false;
  GMainContext* context = g_main_context_default();
  // The sources of a context are found in priority order: the flushing timer, when there is one,
  // comes before the painting timer.
  GSource* first = g_main_context_find_source_by_user_data(context, clock);
  if (named(first, paintTimerName)) {
    dueNow(first);
    return true;
  }
  if (!named(first, flushTimerName)) return false;
  guint flushId = g_source_get_id(first);
  for (guint id = flushId + 1; id <= flushId + paintTimerSearchSpan; id++) {
    GSource* candidate = g_main_context_find_source_by_id(context, id);
    if (named(candidate, paintTimerName)) {
      dueNow(first);
      dueNow(candidate);
      return true;
    }
  }
  return false;
}

}  // namespace vantrelle
