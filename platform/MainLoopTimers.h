#pragma once
// Timers of the main loop for the view and the renderers: one that repeats for as long as it is
// held, and the bringing forward of timers another library set, found by what they carry.
#include <chrono>
#include <cstdint>
#include <functional>

#include "platform/GLibPtr.h"

namespace platform {

// Runs `tick` on the default main context every `interval` until the holder lets go, which may
// happen inside `tick` itself.
class RepeatingTimer {
 public:
  RepeatingTimer() = default;
  RepeatingTimer(std::chrono::milliseconds interval, std::function<void()> tick);

  explicit operator bool() const { return bool(source); }
  void reset() { source.reset(); }

 private:
  SourceId source;
};

// Has a timer that another library attached to the default main context fire no later than
// `monotonicUs` (g_get_monotonic_time; 0 for at once); one due sooner is left as it is. The timer
// is the one named `timerName` among the first two live sources that carry `owner` as their data,
// in the order the context runs them; the one named `partnerName` beside it, if there, is brought
// forward with it, as the two must fire together. Only sources that carry `owner` are looked at,
// and a context another thread runs is left alone. Returns whether the timer was found.
bool bringTimerForward(const void* owner, const char* timerName, const char* partnerName, int64_t monotonicUs);

}  // namespace platform
