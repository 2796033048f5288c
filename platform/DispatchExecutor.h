#pragma once
// The machinery behind a DispatchQueue: the main-context executor and the thread pool executor.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class DispatchExecutor {
 public:
  virtual ~DispatchExecutor() = default;
  virtual void post(std::function<void()> block) = 0;
  virtual void postAfter(std::chrono::nanoseconds delay, std::function<void()> block) = 0;
  virtual void postWhenIdle(std::function<void()> block) { post(std::move(block)); }
  // True when the calling thread is one this executor runs blocks on.
  virtual bool isCurrent() const = 0;
};

// Runs blocks on the GLib default main context. Blocks are kept in one FIFO drained by a single
// idle source, so they run in the order they were posted whatever else the loop is doing.
class MainContextExecutor final : public DispatchExecutor {
 public:
  void post(std::function<void()> block) override;
  void postAfter(std::chrono::nanoseconds delay, std::function<void()> block) override;
  // At GLib's default idle priority, below input, timers and GTK's frames.
  void postWhenIdle(std::function<void()> block) override;
  bool isCurrent() const override;

 private:
  static int drain(void* self);

  std::mutex mutex;
  std::deque<std::function<void()>> pending;
  bool scheduled = false;
};

// A pool of threads sharing one FIFO and one timer list; a pool of one thread is a serial queue.
// The threads share their state with the executor, so a queue whose last owner lets go of it
// from inside one of its own blocks does not pull the state out from under that thread.
class ThreadPoolExecutor final : public DispatchExecutor {
 public:
  ThreadPoolExecutor(std::string label, unsigned threadCount, int niceness);
  ~ThreadPoolExecutor() override;

  void post(std::function<void()> block) override;
  void postAfter(std::chrono::nanoseconds delay, std::function<void()> block) override;
  bool isCurrent() const override;

 private:
  struct State;
  static void run(std::shared_ptr<State> state, int niceness);

  std::shared_ptr<State> state;
  std::vector<std::thread> threads;
};

}  // namespace platform
