#pragma once
// The terminal's timer service on a dispatch queue (the main queue unless another is given), for
// hosts that feed a Terminal from that queue.
#include <memory>

#include "Vantrelle/Terminal/Scheduler.h"

namespace platform {
class DispatchQueue;
}

namespace vantrelle {

class DispatchWorkScheduler : public WorkScheduler {
 public:
  explicit DispatchWorkScheduler(platform::DispatchQueue* queue = nullptr);
  std::shared_ptr<ScheduledWork> schedule(double seconds, std::function<void()> work) override;

 private:
  platform::DispatchQueue& queue;
};

}  // namespace vantrelle
