#pragma once
// Tells a terminal's host when the program's output has come to rest: nothing fed for a quiet
// interval, as once a command has finished and its prompt waits. Work the terminal keeps for then
// (packing the rows a flood scrolled off) would be wasted on a flood, which the reads of a
// pseudo-terminal cut into pieces of a few kilobytes, each of them as short as a prompt.
#include <cstdint>
#include <functional>
#include <memory>

#include "Vantrelle/Terminal/Scheduler.h"

namespace vantrelle {

class OutputRestWatch {
 public:
  // Nanoseconds of a monotonic clock.
  using Clock = std::function<uint64_t()>;
  static constexpr uint64_t defaultQuietNs = 100'000'000;

  // `rests` runs on the scheduler's queue, the one the terminal is fed on, once per rest.
  OutputRestWatch(WorkScheduler& scheduler, std::function<void()> rests, uint64_t quietNs = defaultQuietNs,
                  Clock clock = {});
  ~OutputRestWatch();
  OutputRestWatch(const OutputRestWatch&) = delete;
  OutputRestWatch& operator=(const OutputRestWatch&) = delete;

  // Output was fed just now. One wait runs at a time, however many reads come meanwhile: a flood
  // costs a clock read a read and a wake-up a quiet interval.
  void noteOutput();

 private:
  void await(uint64_t delayNs);
  void check();

  WorkScheduler& scheduler;
  std::function<void()> rests;
  uint64_t quietNs;
  Clock clock;
  uint64_t lastOutputNs = 0;
  std::shared_ptr<ScheduledWork> wait;
};

}  // namespace vantrelle
