#include "platform/Dispatch.h"

#include <unistd.h>

#include <algorithm>
#include <future>
#include <thread>

#include "platform/DispatchExecutor.h"

namespace platform {

DispatchWorkItem::DispatchWorkItem(std::function<void()> block) : block(std::move(block)) {}

void DispatchWorkItem::perform() {
  if (!cancelled.load(std::memory_order_acquire) && block) block();
}

void DispatchWorkItem::cancel() { cancelled.store(true, std::memory_order_release); }

bool DispatchWorkItem::isCancelled() const { return cancelled.load(std::memory_order_acquire); }

DispatchQueue::DispatchQueue(std::string label)
    : DispatchQueue(label, std::make_unique<ThreadPoolExecutor>(label, 1, 0)) {}

DispatchQueue::DispatchQueue(std::string label, std::unique_ptr<DispatchExecutor> executor)
    : queueLabel(std::move(label)), executor(std::move(executor)) {}

DispatchQueue::~DispatchQueue() = default;

DispatchQueue& DispatchQueue::main() {
  // Never destroyed: blocks may still be posted from other threads while the process exits.
  static auto* queue = new DispatchQueue("main", std::make_unique<MainContextExecutor>());
  return *queue;
}

namespace {

struct GlobalQueueSettings {
  const char* label;
  int niceness;
};

GlobalQueueSettings settingsFor(QoS qos) {
  switch (qos) {
    case QoS::userInteractive:
      return {"global.userInteractive", 0};
    case QoS::userInitiated:
      return {"global.userInitiated", 0};
    case QoS::utility:
      return {"global.utility", 5};
    case QoS::background:
      return {"global.background", 10};
  }
  return {"global.userInitiated", 0};
}

}  // namespace

DispatchQueue& DispatchQueue::global(QoS qos) {
  // Each pool starts its threads the first time its priority is asked for.
  switch (qos) {
    case QoS::userInteractive: {
      static DispatchQueue* queue = makeGlobal(QoS::userInteractive);
      return *queue;
    }
    case QoS::userInitiated:
      break;
    case QoS::utility: {
      static DispatchQueue* queue = makeGlobal(QoS::utility);
      return *queue;
    }
    case QoS::background: {
      static DispatchQueue* queue = makeGlobal(QoS::background);
      return *queue;
    }
  }
  static DispatchQueue* queue = makeGlobal(QoS::userInitiated);
  return *queue;
}

DispatchQueue* DispatchQueue::makeGlobal(QoS qos) {
  const GlobalQueueSettings settings = settingsFor(qos);
  const unsigned threads = std::max(2u, std::thread::hardware_concurrency());
  return new DispatchQueue(settings.label,
                           std::make_unique<ThreadPoolExecutor>(settings.label, threads, settings.niceness));
}

void DispatchQueue::async(std::function<void()> block) { executor->post(std::move(block)); }

void DispatchQueue::asyncWhenIdle(std::function<void()> block) { executor->postWhenIdle(std::move(block)); }

std::shared_ptr<DispatchWorkItem> DispatchQueue::asyncAfter(std::chrono::nanoseconds delay,
                                                            std::function<void()> block) {
  auto item = std::make_shared<DispatchWorkItem>(std::move(block));
  asyncAfter(delay, item);
  return item;
}

void DispatchQueue::asyncAfter(std::chrono::nanoseconds delay, std::shared_ptr<DispatchWorkItem> item) {
  if (!item) return;
  executor->postAfter(delay, [item = std::move(item)] { item->perform(); });
}

void DispatchQueue::sync(std::function<void()> block) {
  if (executor->isCurrent()) {
    block();
    return;
  }
  std::promise<void> done;
  auto finished = done.get_future();
  executor->post([&] {
    try {
      block();
      done.set_value();
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  finished.get();
}

const std::string& DispatchQueue::label() const { return queueLabel; }

bool DispatchQueue::isMainThread() { return gettid() == getpid(); }

}  // namespace platform
