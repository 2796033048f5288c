#include "app/CoreRestartBackoff.h"

#include <algorithm>

namespace zorvel {

std::chrono::milliseconds CoreRestartBackoff::delayAfterExit(Clock::time_point now) {
  bool quick = readySince && now - *readySince < steadyRun;
  readySince.reset();
  quickExits = quick ? quickExits + 1 : 0;
  auto delay = firstDelay;
  for (int i = 1; i < quickExits && delay < longestDelay; ++i) delay *= 2;
  return std::min(delay, longestDelay);
}

}  // namespace zorvel
