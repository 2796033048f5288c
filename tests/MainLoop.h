#pragma once
#include <glib.h>

#include <chrono>
#include <functional>

// Runs the default main context until the condition holds or the time runs out. Each iteration
// blocks until a source is ready, so the condition must be made true by something the context
// dispatches; work on another thread that changes it wakes the context (wakeMain) after doing so.
inline bool runMainUntil(const std::function<bool()>& condition,
                         std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  bool expired = false;
  const guint guard = g_timeout_add(
      static_cast<guint>(limit.count()),
      [](gpointer flag) -> gboolean {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
      },
      &expired);
  while (!condition() && !expired) g_main_context_iteration(nullptr, TRUE);
  if (!expired) g_source_remove(guard);
  return condition();
}

// Wakes the default main context from any thread; a wake-up sent before the context blocks is
// kept, so none is lost.
inline void wakeMain() { g_main_context_wakeup(nullptr); }
