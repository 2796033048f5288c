// When a terminal's host says the output rests: once a quiet interval has passed since the last
// read, however many reads a flood came in, and once per rest.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Vantrelle/Process/OutputRestWatch.h"

namespace vantrelle {
namespace {

// Waits that run when the test says, on a clock the test sets.
struct ManualScheduler : WorkScheduler {
  struct Work : ScheduledWork {
    double seconds = 0;
    std::function<void()> run;
    bool cancelled = false;
    void cancel() override { cancelled = true; }
  };
  std::vector<std::shared_ptr<Work>> waiting;

  std::shared_ptr<ScheduledWork> schedule(double seconds, std::function<void()> work) override {
    auto item = std::make_shared<Work>();
    item->seconds = seconds;
    item->run = std::move(work);
    waiting.push_back(item);
    return item;
  }
  size_t live() const {
    size_t count = 0;
    for (const auto& work : waiting) count += !work->cancelled && work->run;
    return count;
  }
  // Runs the one wait that is due.
  void runDue() {
    ASSERT_EQ(live(), 1u);
    for (const auto& work : waiting) {
      if (work->cancelled || !work->run) continue;
      auto run = std::move(work->run);
      work->run = nullptr;
      run();
      return;
    }
  }
};

constexpr uint64_t ms = 1'000'000;

TEST(OutputRestWatch, RestsOnceAQuietIntervalHasPassedSinceTheLastRead) {
  ManualScheduler scheduler;
  uint64_t now = 0;
  int rests = 0;
  {
    OutputRestWatch watch(
        scheduler, [&] { rests++; }, 100 * ms, [&] { return now; });
    // A flood in many reads waits once.
    for (now = 0; now <= 60 * ms; now += 3 * ms) watch.noteOutput();
    ASSERT_EQ(scheduler.waiting.size(), 1u);
    EXPECT_DOUBLE_EQ(scheduler.waiting.back()->seconds, 0.1);
    // Due while the last read is still recent: it waits out the rest of the interval.
    now = 100 * ms;
    scheduler.runDue();
    EXPECT_EQ(rests, 0);
    ASSERT_EQ(scheduler.waiting.size(), 2u);
    EXPECT_DOUBLE_EQ(scheduler.waiting.back()->seconds, 0.06);
    now = 160 * ms;
    scheduler.runDue();
    EXPECT_EQ(rests, 1);
    EXPECT_EQ(scheduler.live(), 0u);
    // The next output rests again, once.
    now = 1000 * ms;
    watch.noteOutput();
    now = 1100 * ms;
    scheduler.runDue();
    EXPECT_EQ(rests, 2);
    EXPECT_EQ(scheduler.live(), 0u);
    // A watch that goes while it waits calls its wait off.
    watch.noteOutput();
    ASSERT_EQ(scheduler.live(), 1u);
  }
  EXPECT_EQ(scheduler.live(), 0u);
  EXPECT_EQ(rests, 2);
}

}  // namespace
}  // namespace vantrelle
