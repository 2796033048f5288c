#pragma once

#include <chrono>
#include <optional>

namespace zorvel {

// How long to wait before starting the core again once a ready core has exited. The first
// restart comes after a quarter of a second. Each further core that exits soon after it became
// ready doubles the wait, up to half a minute, so a core that fails at every start is not started
// again and again several times a second for as long as the application runs; a core that ran a
// while brings the wait back to a quarter of a second.
class CoreRestartBackoff {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds firstDelay{250};
  static constexpr std::chrono::milliseconds longestDelay{30000};
  // A core that ran this long after it became ready did not fail at its start.
  static constexpr std::chrono::seconds steadyRun{60};

  void coreBecameReady(Clock::time_point now) { readySince = now; }
  // The wait before the next start, for a core that exited now.
  std::chrono::milliseconds delayAfterExit(Clock::time_point now);
  // How many cores in a row exited soon after they became ready.
  int quickExitsInARow() const { return quickExits; }

 private:
  std::optional<Clock::time_point> readySince;
  int quickExits = 0;
};

}  // namespace zorvel
