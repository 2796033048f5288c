#pragma once
// Work queues in the manner the application was designed around: a main queue that runs on the
// GLib main context of the main thread, serial queues each on a thread of their own, and global
// concurrent pools by priority. Delayed work hands back a cancellable work item.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

enum class QoS { userInteractive, userInitiated, utility, background };

// Nanoseconds of the monotonic clock, the time base of delayed work, frame pacing and input stamps.
inline uint64_t uptimeNanoseconds() {
  return uint64_t(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// A block that can be cancelled before it runs; cancelling one that already ran does nothing.
class DispatchWorkItem {
 public:
  explicit DispatchWorkItem(std::function<void()> block);
  DispatchWorkItem(const DispatchWorkItem&) = delete;
  DispatchWorkItem& operator=(const DispatchWorkItem&) = delete;

  void perform();
  void cancel();
  bool isCancelled() const;

 private:
  std::function<void()> block;
  std::atomic<bool> cancelled{false};
};

class DispatchExecutor;

class DispatchQueue {
 public:
  // The GLib default main context; it runs whenever the main thread iterates it.
  static DispatchQueue& main();
  // A concurrent pool per priority, created on first use and kept for the life of the process.
  static DispatchQueue& global(QoS qos = QoS::userInitiated);

  // A serial queue on a thread of its own. Blocks queued before destruction still run; delayed
  // blocks that are not yet due are dropped.
  explicit DispatchQueue(std::string label);
  ~DispatchQueue();
  DispatchQueue(const DispatchQueue&) = delete;
  DispatchQueue& operator=(const DispatchQueue&) = delete;

  void async(std::function<void()> block);
  // Runs the block once the queue has nothing more urgent to do. On the main queue that is after
  // pending input, timers and frames, so that a long run of work cut into slices lets the window
  // draw between them; elsewhere it is async.
  void asyncWhenIdle(std::function<void()> block);
  std::shared_ptr<DispatchWorkItem> asyncAfter(std::chrono::nanoseconds delay, std::function<void()> block);
  void asyncAfter(std::chrono::nanoseconds delay, std::shared_ptr<DispatchWorkItem> item);
  // Runs the block and waits for it. Called from the queue's own thread (or from the main thread
  // for the main queue) it runs the block in place rather than deadlocking.
  void sync(std::function<void()> block);

  const std::string& label() const;
  static bool isMainThread();

 private:
  DispatchQueue(std::string label, std::unique_ptr<DispatchExecutor> executor);
  static DispatchQueue* makeGlobal(QoS qos);

  std::string queueLabel;
  std::unique_ptr<DispatchExecutor> executor;
};

}  // namespace platform
