#include "platform/MainLoopTimers.h"

#include <array>
#include <cstring>
#include <memory>

namespace platform {

RepeatingTimer::RepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick) {
  // The callback belongs to the source, which GLib keeps until a running tick has returned.
  auto owned = std::make_unique<std::function<void()>>(std::move(tick));
  source.reset(g_timeout_add_full(
      G_PRIORITY_DEFAULT, static_cast<guint>(interval.count()),
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_CONTINUE;
      },
      owned.release(), [](gpointer data) { delete static_cast<std::function<void()>*>(data); }));
}

namespace {

bool named(GSource* source, const char* name) {
  const char* own = source ? g_source_get_name(source) : nullptr;
  return own && std::strcmp(own, name) == 0;
}

// The first two live sources of `context` that carry `owner`, in the order the context runs them.
// GLib finds only the first; the second is found while the first, one of the two timers, is set
// behind every other source, and the first is put back at once. No other source is touched.
std::array<GSource*, 2> firstTwoSourcesOf(GMainContext* context, const void* owner, const char* timerName,
                                          const char* partnerName) {
  gpointer data = const_cast<void*>(owner);
  std::array<GSource*, 2> found{g_main_context_find_source_by_user_data(context, data), nullptr};
  if (!named(found[0], timerName) && !named(found[0], partnerName)) return found;
  int priority = g_source_get_priority(found[0]);
  g_source_set_priority(found[0], G_MAXINT);
  found[1] = g_main_context_find_source_by_user_data(context, data);
  g_source_set_priority(found[0], priority);
  if (found[1] == found[0]) found[1] = nullptr;
  return found;
}

void dueBy(GSource* source, int64_t readyTimeUs) {
  // A timer's ready time is when it fires; its callback runs once and removes it.
  if (!source || g_source_is_destroyed(source)) return;
  gint64 ready = g_source_get_ready_time(source);
  if (ready < 0 || readyTimeUs < ready) g_source_set_ready_time(source, readyTimeUs);
}

}  // namespace

bool bringTimerForward(const void* owner, const char* timerName, const char* partnerName, int64_t monotonicUs) {
  if (!owner) return false;
  GMainContext* context = g_main_context_default();
  // Held for the look-up, so no other thread runs or removes the sources meanwhile.
  if (!g_main_context_acquire(context)) return false;
  GSource* timer = nullptr;
  GSource* partner = nullptr;
  for (GSource* source : firstTwoSourcesOf(context, owner, timerName, partnerName)) {
    if (named(source, timerName)) timer = source;
    if (named(source, partnerName)) partner = source;
  }
  if (timer) {
    dueBy(partner, monotonicUs);
    dueBy(timer, monotonicUs);
  }
  g_main_context_release(context);
  return timer != nullptr;
}

}  // namespace platform
