#include "Vantrelle/Process/OutputRestWatch.h"

#include <utility>

#include "platform/Dispatch.h"

namespace vantrelle {

OutputRestWatch::OutputRestWatch(WorkScheduler& scheduler, std::function<void()> rests, uint64_t quietNs, Clock clock)
    : scheduler(scheduler),
      rests(std::move(rests)),
      quietNs(quietNs),
      clock(clock ? std::move(clock) : Clock(platform::uptimeNanoseconds)) {}

OutputRestWatch::~OutputRestWatch() {
  if (wait) wait->cancel();
}

void OutputRestWatch::noteOutput() {
  lastOutputNs = clock();
  if (!wait) await(quietNs);
}

void OutputRestWatch::await(uint64_t delayNs) {
  wait = scheduler.schedule(double(delayNs) / 1e9, [this] { check(); });
}

void OutputRestWatch::check() {
  wait.reset();
  const uint64_t quietFor = clock() - lastOutputNs;
  if (quietFor < quietNs) {
    await(quietNs - quietFor);
    return;
  }
  rests();
}

}  // namespace vantrelle
