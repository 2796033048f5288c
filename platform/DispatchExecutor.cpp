#include "platform/DispatchExecutor.h"

#include <glib.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "platform/GLibPtr.h"

namespace platform {

namespace {

// GLib timers have millisecond resolution; round up so a block never runs early.
guint millisecondsRoundedUp(std::chrono::nanoseconds delay) {
  if (delay.count() <= 0) return 0;
  const auto ms = (delay.count() + 999'999) / 1'000'000;
  return static_cast<guint>(std::min<long long>(ms, G_MAXUINT));
}

gboolean runOnce(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void destroyBlock(gpointer data) { delete static_cast<std::function<void()>*>(data); }

// Keeps "now + delay" from overflowing the clock for absurd delays.
std::chrono::nanoseconds clampedDelay(std::chrono::nanoseconds delay) {
  constexpr std::chrono::nanoseconds longest = std::chrono::hours(24 * 365 * 100);
  return std::clamp(delay, std::chrono::nanoseconds::zero(), longest);
}

}  // namespace

void MainContextExecutor::post(std::function<void()> block) {
  std::lock_guard lock(mutex);
  pending.push_back(std::move(block));
  if (scheduled) return;
  scheduled = true;
  GSourcePtr source(g_idle_source_new());
  g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
  g_source_set_callback(source.get(), &MainContextExecutor::drain, this, nullptr);
  g_source_attach(source.get(), g_main_context_default());
}

int MainContextExecutor::drain(void* self) {
  auto* executor = static_cast<MainContextExecutor*>(self);
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard lock(executor->mutex);
    batch.swap(executor->pending);
    executor->scheduled = false;
  }
  // Blocks posted while this batch runs go to a fresh idle source, after this batch.
  for (auto& block : batch) block();
  return G_SOURCE_REMOVE;
}

void MainContextExecutor::postAfter(std::chrono::nanoseconds delay, std::function<void()> block) {
  GSourcePtr source(g_timeout_source_new(millisecondsRoundedUp(delay)));
  g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
  g_source_set_callback(source.get(), runOnce, new std::function<void()>(std::move(block)), destroyBlock);
  g_source_attach(source.get(), g_main_context_default());
}

void MainContextExecutor::postWhenIdle(std::function<void()> block) {
  GSourcePtr source(g_idle_source_new());
  g_source_set_priority(source.get(), G_PRIORITY_DEFAULT_IDLE);
  g_source_set_callback(source.get(), runOnce, new std::function<void()>(std::move(block)), destroyBlock);
  g_source_attach(source.get(), g_main_context_default());
}

bool MainContextExecutor::isCurrent() const { return gettid() == getpid(); }

struct ThreadPoolExecutor::State {
  using Clock = std::chrono::steady_clock;

  std::string label;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> ready;
  std::multimap<Clock::time_point, std::function<void()>> delayed;
  std::vector<std::thread::id> threadIds;
  bool stopping = false;

  // Waits for the next block: ready blocks first, then delayed blocks as they fall due. Returns
  // false once the pool stops and no ready block is left.
  bool next(std::function<void()>& block) {
    std::unique_lock lock(mutex);
    for (;;) {
      const auto now = Clock::now();
      while (!delayed.empty() && delayed.begin()->first <= now && !stopping) {
        ready.push_back(std::move(delayed.begin()->second));
        delayed.erase(delayed.begin());
      }
      if (!ready.empty()) {
        block = std::move(ready.front());
        ready.pop_front();
        return true;
      }
      if (stopping) return false;
      if (delayed.empty()) {
        wake.wait(lock);
      } else {
        wake.wait_until(lock, delayed.begin()->first);
      }
    }
  }
};

ThreadPoolExecutor::ThreadPoolExecutor(std::string label, unsigned threadCount, int niceness)
    : state(std::make_shared<State>()) {
  state->label = std::move(label);
  std::lock_guard lock(state->mutex);
  for (unsigned i = 0; i < std::max(1u, threadCount); ++i) {
    threads.emplace_back(&ThreadPoolExecutor::run, state, niceness);
    state->threadIds.push_back(threads.back().get_id());
  }
}

ThreadPoolExecutor::~ThreadPoolExecutor() {
  {
    std::lock_guard lock(state->mutex);
    state->stopping = true;
    state->delayed.clear();
  }
  state->wake.notify_all();
  for (auto& thread : threads) {
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }
}

void ThreadPoolExecutor::run(std::shared_ptr<State> state, int niceness) {
  {
    // Waiting on the mutex makes sure the constructor has recorded this thread's id.
    std::lock_guard lock(state->mutex);
    pthread_setname_np(pthread_self(), state->label.substr(0, 15).c_str());
  }
  // On Linux the nice value is per thread, which is what lowers a background pool.
  if (niceness != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), niceness);
  std::function<void()> block;
  while (state->next(block)) {
    block();
    block = nullptr;
  }
}

// Both posts hold their own reference to the state: the block may run, and release the queue
// (and this executor with it), before the waiting thread has been woken.
void ThreadPoolExecutor::post(std::function<void()> block) {
  const std::shared_ptr<State> shared = state;
  {
    std::lock_guard lock(shared->mutex);
    if (shared->stopping) return;
    shared->ready.push_back(std::move(block));
  }
  shared->wake.notify_one();
}

void ThreadPoolExecutor::postAfter(std::chrono::nanoseconds delay, std::function<void()> block) {
  const std::shared_ptr<State> shared = state;
  {
    std::lock_guard lock(shared->mutex);
    if (shared->stopping) return;
    shared->delayed.emplace(State::Clock::now() + clampedDelay(delay), std::move(block));
  }
  // Every waiter re-checks the earliest deadline, which this block may have moved.
  shared->wake.notify_all();
}

bool ThreadPoolExecutor::isCurrent() const {
  std::lock_guard lock(state->mutex);
  const auto self = std::this_thread::get_id();
  return std::find(state->threadIds.begin(), state->threadIds.end(), self) != state->threadIds.end();
}

}  // namespace platform
