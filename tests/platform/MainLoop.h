#pragma once
#include <glib.h>

#include <chrono>
#include <functional>

// Iterates the default main context until the condition holds or the time runs out.
inline bool runMainUntil(const std::function<bool()>& condition,
                         std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

// Iterates the default main context for a while, running whatever falls due.
inline void runMainFor(std::chrono::milliseconds duration) {
  runMainUntil([] { return false; }, duration);
}
