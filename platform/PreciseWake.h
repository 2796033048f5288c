#pragma once
// Wakes the main loop at a moment given to the microsecond. GLib waits for its timers in whole
// milliseconds, so a timer may run up to a millisecond after its time while the loop sleeps; a
// frame that is to start on the display's beat would start that much late.
#include <glib.h>

#include <cstdint>

#include "platform/GLibPtr.h"

namespace platform {

class PreciseWake {
 public:
  PreciseWake();
  ~PreciseWake();
  PreciseWake(const PreciseWake&) = delete;
  PreciseWake& operator=(const PreciseWake&) = delete;
  // The default main context wakes at `monotonicNs` (uptimeNanoseconds); a later call replaces it.
  // Whatever is due by then runs as the loop goes on; the wake itself runs nothing.
  void at(uint64_t monotonicNs);

 private:
  int timer = -1;
  AttachedSourcePtr source;
};

}  // namespace platform
