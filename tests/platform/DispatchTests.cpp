#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Dispatch.h"
#include "tests/MainLoop.h"

using namespace std::chrono_literals;
using platform::DispatchQueue;
using platform::DispatchWorkItem;

TEST(DispatchQueue, SerialQueueRunsBlocksInOrderOneAtATime) {
  DispatchQueue queue("test.serial");
  std::vector<int> order;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  for (int i = 0; i < 200; ++i) {
    queue.async([&, i] {
      if (running.fetch_add(1) != 0) overlapped = true;
      order.push_back(i);
      running.fetch_sub(1);
    });
  }
  queue.sync([] {});
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(queue.label(), "test.serial");
}

TEST(DispatchQueue, DelayedBlocksRunByDeadlineNotBySubmission) {
  DispatchQueue queue("test.delayed");
  std::mutex mutex;
  std::vector<int> order;
  std::condition_variable recorded;
  auto record = [&](int value) {
    std::lock_guard lock(mutex);
    order.push_back(value);
    recorded.notify_all();
  };
  queue.asyncAfter(60ms, [&] { record(3); });
  queue.asyncAfter(20ms, [&] { record(2); });
  queue.async([&] { record(1); });
  std::unique_lock lock(mutex);
  ASSERT_TRUE(recorded.wait_for(lock, 10s, [&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(DispatchQueue, CancelledPendingWorkItemNeverRuns) {
  DispatchQueue queue("test.cancel");
  std::atomic<int> ran{0};
  std::promise<void> keptRan;
  auto cancelled = queue.asyncAfter(30ms, [&] { ran += 1; });
  auto kept = queue.asyncAfter(30ms, [&] {
    ran += 10;
    keptRan.set_value();
  });
  cancelled->cancel();
  EXPECT_TRUE(cancelled->isCancelled());
  // Both fall due at once and the cancelled one was queued first: once the kept one has run, the
  // cancelled one has had its turn.
  ASSERT_EQ(keptRan.get_future().wait_for(10s), std::future_status::ready);
  queue.sync([] {});
  EXPECT_EQ(ran.load(), 10);
  EXPECT_FALSE(kept->isCancelled());
}

TEST(DispatchQueue, SyncFromItsOwnThreadRunsInPlace) {
  DispatchQueue queue("test.reentrant");
  bool inner = false;
  queue.sync([&] { queue.sync([&] { inner = true; }); });
  EXPECT_TRUE(inner);
}

TEST(DispatchQueue, SyncPassesExceptionsToTheCaller) {
  DispatchQueue queue("test.throw");
  EXPECT_THROW(queue.sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
  bool after = false;
  queue.sync([&] { after = true; });
  EXPECT_TRUE(after);
}

namespace {

// Tells when the thread that first touched it has finished: thread-local objects are destroyed
// only once everything the thread ran, the state its start routine held included, has been let go.
struct ThreadEnd {
  std::shared_ptr<std::promise<void>> ended;
  ~ThreadEnd() {
    if (ended) ended->set_value();
  }
};
thread_local ThreadEnd threadEnd;

}  // namespace

TEST(DispatchQueue, QueueReleasedFromItsOwnBlockDoesNotCrash) {
  auto queue = std::make_shared<DispatchQueue>("test.selfrelease");
  auto ended = std::make_shared<std::promise<void>>();
  auto threadGone = ended->get_future();
  auto* raw = queue.get();
  raw->async([queue = std::move(queue), ended]() mutable {
    threadEnd.ended = ended;
    queue.reset();
  });
  queue.reset();
  // The queue's thread goes on after its block, tearing down what it shared with the queue.
  ASSERT_EQ(threadGone.wait_for(5s), std::future_status::ready);
}

TEST(DispatchQueue, GlobalQueuesRunConcurrently) {
  auto& queue = DispatchQueue::global();
  // Shared with the blocks, which may still be finishing when the test has seen what it needs.
  struct Meeting {
    std::atomic<int> arrived{0};
    std::atomic<int> left{0};
    std::atomic<bool> bothSeen{false};
  };
  auto meeting = std::make_shared<Meeting>();
  for (int i = 0; i < 2; ++i) {
    queue.async([meeting] {
      meeting->arrived += 1;
      const auto deadline = std::chrono::steady_clock::now() + 2s;
      while (meeting->arrived.load() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
      if (meeting->arrived.load() == 2) meeting->bothSeen = true;
      meeting->left += 1;
      wakeMain();
    });
  }
  ASSERT_TRUE(runMainUntil([&] { return meeting->left.load() == 2; }));
  EXPECT_TRUE(meeting->bothSeen);
  EXPECT_EQ(&DispatchQueue::global(platform::QoS::background), &DispatchQueue::global(platform::QoS::background));
  EXPECT_NE(&DispatchQueue::global(platform::QoS::background), &DispatchQueue::global(platform::QoS::utility));
}

TEST(MainQueue, BlockPostedFromBackgroundThreadRunsOnMainThreadInOrder) {
  ASSERT_TRUE(DispatchQueue::isMainThread());
  std::vector<int> order;
  std::atomic<bool> allOnMain{true};
  std::thread poster([&] {
    EXPECT_FALSE(DispatchQueue::isMainThread());
    for (int i = 0; i < 50; ++i) {
      DispatchQueue::main().async([&, i] {
        if (!DispatchQueue::isMainThread()) allOnMain = false;
        order.push_back(i);
      });
    }
  });
  poster.join();
  ASSERT_TRUE(runMainUntil([&] { return order.size() == 50; }));
  EXPECT_TRUE(allOnMain);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
}

// Work posted to run when idle waits for everything more urgent, GTK's frames (which run at a
// priority below plain blocks) included, and for blocks posted after it.
TEST(MainQueue, IdleWorkYieldsToBlocksAndFrames) {
  std::vector<std::string> order;
  DispatchQueue::main().asyncWhenIdle([&] { order.push_back("idle"); });
  DispatchQueue::main().async([&] { order.push_back("block"); });
  g_idle_add_full(
      G_PRIORITY_HIGH_IDLE + 20,
      [](gpointer data) -> gboolean {
        static_cast<std::vector<std::string>*>(data)->push_back("frame");
        return G_SOURCE_REMOVE;
      },
      &order, nullptr);
  ASSERT_TRUE(runMainUntil([&] { return order.size() == 3; }));
  EXPECT_EQ(order, (std::vector<std::string>{"block", "frame", "idle"}));
}

TEST(MainQueue, CancelledAsyncAfterNeverRunsAndOthersDo) {
  int ran = 0;
  auto cancelled = DispatchQueue::main().asyncAfter(20ms, [&] { ran += 1; });
  auto item = std::make_shared<DispatchWorkItem>([&] { ran += 10; });
  DispatchQueue::main().asyncAfter(20ms, item);
  cancelled->cancel();
  // Both fall due together and the cancelled one was posted first: it has had its turn once the
  // other has run.
  ASSERT_TRUE(runMainUntil([&] { return ran >= 10; }));
  EXPECT_EQ(ran, 10);
}

TEST(MainQueue, DelayedBlockDoesNotRunEarly) {
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration waited{};
  bool ran = false;
  DispatchQueue::main().asyncAfter(40ms, [&] {
    waited = std::chrono::steady_clock::now() - start;
    ran = true;
  });
  ASSERT_TRUE(runMainUntil([&] { return ran; }));
  EXPECT_GE(waited, 40ms);
}

TEST(MainQueue, SyncFromBackgroundWaitsForTheMainThread) {
  std::atomic<bool> ranOnMain{false};
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    DispatchQueue::main().sync([&] { ranOnMain = DispatchQueue::isMainThread(); });
    returned = true;
    wakeMain();
  });
  ASSERT_TRUE(runMainUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(ranOnMain);
  bool inPlace = false;
  DispatchQueue::main().sync([&] { inPlace = true; });
  EXPECT_TRUE(inPlace);
}
