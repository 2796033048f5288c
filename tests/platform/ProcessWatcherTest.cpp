#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>

#include "platform/ChildProcess.h"
#include "platform/ProcessWatcher.h"

using namespace std::chrono_literals;

TEST(ProcessWatcher, ReportsEachWatchedProcessOnceWhenItIsGone) {
  std::vector<std::shared_ptr<platform::ChildProcess>> sleepers;
  for (int i = 0; i < 5; ++i) {
    platform::ChildProcess::Options options;
    options.executable = "/bin/sleep";
    options.arguments = {"30"};
    sleepers.push_back(platform::ChildProcess::launch(options, nullptr));
    ASSERT_TRUE(sleepers.back());
  }
  std::mutex mutex;
  std::condition_variable changed;
  std::multiset<int> reported;
  platform::ProcessWatcher watcher;
  auto report = [&](int which) {
    return [&, which] {
      std::lock_guard guard(mutex);
      reported.insert(which);
      changed.notify_all();
    };
  };
  // A process that is already gone is reported at once.
  sleepers[3]->kill();
  ASSERT_TRUE(sleepers[3]->waitUntilExit(3s));
  watcher.watch(sleepers[3]->processIdentifier(), report(3));
  for (int i = 0; i < 3; ++i) watcher.watch(sleepers[i]->processIdentifier(), report(i));
  EXPECT_EQ(watcher.watchedCount(), 3u);

  auto waitFor = [&](size_t count) {
    std::unique_lock guard(mutex);
    return changed.wait_for(guard, 2s, [&] { return reported.size() >= count; });
  };
  ASSERT_TRUE(waitFor(1));
  sleepers[1]->kill();
  ASSERT_TRUE(waitFor(2));
  {
    std::lock_guard guard(mutex);
    EXPECT_EQ(reported, (std::multiset<int>{1, 3}));
  }
  sleepers[2]->kill();
  sleepers[0]->kill();
  ASSERT_TRUE(waitFor(4));
  // Each pass of the watcher goes over every entry in the order watched, so a process watched and
  // gone after the others is reported no sooner than any repeat of theirs would be.
  watcher.watch(sleepers[4]->processIdentifier(), report(4));
  sleepers[4]->kill();
  ASSERT_TRUE(waitFor(5));
  std::lock_guard guard(mutex);
  EXPECT_EQ(reported, (std::multiset<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(watcher.watchedCount(), 0u);
}
