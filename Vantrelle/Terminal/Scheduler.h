#pragma once

#include <functional>
#include <memory>

namespace vantrelle {

// A piece of deferred work that can be called off before it runs.
class ScheduledWork {
 public:
  virtual ~ScheduledWork() = default;
  virtual void cancel() = 0;
};

// The host's timer service: runs work on the thread that feeds the terminal after a delay.
// The engine itself starts no threads and knows no main loop.
class WorkScheduler {
 public:
  virtual ~WorkScheduler() = default;
  virtual std::shared_ptr<ScheduledWork> schedule(double seconds, std::function<void()> work) = 0;
};

}  // namespace vantrelle
