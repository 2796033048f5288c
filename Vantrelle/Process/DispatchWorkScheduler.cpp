#include "Vantrelle/Process/DispatchWorkScheduler.h"

#include <chrono>

#include "platform/Dispatch.h"

namespace vantrelle {

namespace {
class DispatchScheduledWork : public ScheduledWork {
 public:
  explicit DispatchScheduledWork(std::shared_ptr<platform::DispatchWorkItem> item) : item(std::move(item)) {}
  void cancel() override { item->cancel(); }

 private:
  std::shared_ptr<platform::DispatchWorkItem> item;
};
}  // namespace

DispatchWorkScheduler::DispatchWorkScheduler(platform::DispatchQueue* queue)
    : queue(queue ? *queue : platform::DispatchQueue::main()) {}

std::shared_ptr<ScheduledWork> DispatchWorkScheduler::schedule(double seconds, std::function<void()> work) {
  auto delay = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(seconds));
  return std::make_shared<DispatchScheduledWork>(queue.asyncAfter(delay, std::move(work)));
}

}  // namespace vantrelle
