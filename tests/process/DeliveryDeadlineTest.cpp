// Output is handed over in slices that end early when the delegate needs the queue for itself (a
// frame due), a deadline long passed (frames that stopped) no longer shortens them, and output
// waiting for its slice can be taken at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "ProcessTestSupport.h"
#include "platform/Dispatch.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {

uint64_t steadyNowNs() {
  return uint64_t(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

struct DeadlineDelegate : RecordingDelegate {
  std::function<uint64_t()> deadline;
  uint64_t deliveryDeadlineNs() override { return deadline ? deadline() : 0; }
};

// Counts the slices, so that each chunk knows the slice it came in.
struct CountingProcess : LocalProcess {
  using LocalProcess::LocalProcess;
  size_t slices = 0;
  void drainReceivedData() override {
    slices++;
    LocalProcess::drainReceivedData();
  }
};

TEST(OutputDelivery, SlicesEndAtTheDelegatesDeadlineUnlessItIsLongPast) {
  struct Case {
    const char* name;
    std::function<uint64_t()> deadline;
    bool oneChunkPerSlice;
  };
  const Case cases[] = {
      {"no deadline", nullptr, false},
      {"a frame due now", [] { return steadyNowNs(); }, true},
      {"a frame due a second ago, frames stopped", [] { return steadyNowNs() - 1'000'000'000; }, false},
  };
  for (const Case& c : cases) {
    auto delegate = std::make_shared<DeadlineDelegate>();
    auto process = std::make_shared<CountingProcess>(delegate);
    delegate->deadline = c.deadline;
    size_t lastSlice = 0, inSlice = 0, mostInOneSlice = 0;
    delegate->onData = [&](std::span<const uint8_t>) {
      inSlice = process->slices == lastSlice ? inSlice + 1 : 1;
      lastSlice = process->slices;
      mostInOneSlice = std::max(mostInOneSlice, inSlice);
      // A slow consumer: it returns only once more output waits behind it (or, at the end of the
      // output, when nothing more comes), so every slice has more than one chunk to offer.
      const auto guard = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
      while (process->pendingBytes() == 0 && std::chrono::steady_clock::now() < guard) std::this_thread::yield();
    };
    process->startProcess("/bin/sh", {"-c", "head -c 400000 /dev/zero | tr '\\0' x"});
    ASSERT_TRUE(pumpMainUntil([&] { return delegate->terminated; }, std::chrono::seconds(60))) << c.name;
    EXPECT_EQ(delegate->output, std::string(400000, 'x')) << c.name;
    if (c.oneChunkPerSlice) {
      EXPECT_EQ(mostInOneSlice, 1u) << c.name;
    } else {
      EXPECT_GT(mostInOneSlice, 1u) << c.name;
    }
  }
}

}  // namespace

// After a frame that ran late the view takes output that waits for the drain at once: it comes in
// order, up to the deadline, without the drain, and the drain still delivers the rest.
TEST(OutputDelivery, WaitingOutputIsDeliveredOnTheSpotAndTheDrainDeliversTheRest) {
  auto delegate = std::make_shared<DeadlineDelegate>();
  auto process = std::make_shared<CountingProcess>(delegate);
  delegate->deadline = [] { return steadyNowNs(); };
  process->startProcess("/bin/sh", {"-c", "head -c 400000 /dev/zero | tr '\\0' x"});
  // The main loop is not run, so the output waits for its drain.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (process->pendingBytes() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
  ASSERT_GT(process->pendingBytes(), 0u);
  process->deliverPendingNow();
  EXPECT_FALSE(delegate->output.empty());
  EXPECT_EQ(process->slices, 0u);
  ASSERT_TRUE(pumpMainUntil([&] { return delegate->terminated; }, std::chrono::seconds(60)));
  EXPECT_EQ(delegate->output, std::string(400000, 'x'));
  EXPECT_GT(process->slices, 0u);
}

// A delegate may hold the rest of the output back at its deadline (until the frame it stops for):
// nothing comes until it asks for it, or, should it never ask, until the hold's time limit has
// passed; either way all of it comes, in order.
TEST(OutputDelivery, HeldOutputWaitsForTheDelegateOrTheHoldsTimeLimit) {
  struct HoldingDelegate : DeadlineDelegate {
    std::function<void()> held;
    bool deliveryDeadlineReached() override {
      held();
      return true;
    }
  };
  for (bool asks : {true, false}) {
    auto delegate = std::make_shared<HoldingDelegate>();
    auto process = std::make_shared<CountingProcess>(delegate);
    delegate->deadline = [] { return steadyNowNs(); };
    uint64_t heldAt = 0, shortestWait = UINT64_MAX;
    size_t holds = 0;
    // Counted by blocks that may run after this round ends.
    auto askedFor = std::make_shared<size_t>(0);
    delegate->held = [&] {
      holds++;
      heldAt = steadyNowNs();
      if (!asks) return;
      std::weak_ptr<CountingProcess> weak = process;
      platform::DispatchQueue::main().async([weak, askedFor] {
        ++*askedFor;
        if (auto p = weak.lock()) p->deliverPendingNow();
      });
    };
    delegate->onData = [&](std::span<const uint8_t>) {
      if (heldAt) shortestWait = std::min(shortestWait, steadyNowNs() - heldAt);
      heldAt = 0;
    };
    process->startProcess("/bin/sh", {"-c", "head -c 400000 /dev/zero | tr '\\0' x"});
    ASSERT_TRUE(pumpMainUntil([&] { return delegate->terminated; }, std::chrono::seconds(60))) << asks;
    EXPECT_EQ(delegate->output, std::string(400000, 'x')) << asks;
    EXPECT_GT(holds, 0u) << asks;
    if (asks) {
      EXPECT_GT(*askedFor, 0u);
    } else {
      EXPECT_GE(shortestWait, LocalProcess::heldDeliveryLimitNs) << "output came while held";
    }
  }
}

// A flood's reads wait on the reader for the ones that follow; a flood that stops without the child
// ending leaves none of its output waiting, however its last reads fell, and each pause shows all
// that came before it.
TEST(OutputDelivery, AFloodThatPausesIsDeliveredWhole) {
  struct GatherCounting : CountingProcess {
    using CountingProcess::CountingProcess;
    size_t gathered = 0;
    bool enqueueReceivedData(std::vector<uint8_t> chunk, bool moreComing) override {
      gathered += moreComing;
      return CountingProcess::enqueueReceivedData(std::move(chunk), moreComing);
    }
  };
  auto delegate = std::make_shared<DeadlineDelegate>();
  auto process = std::make_shared<GatherCounting>(delegate);
  process->startProcess("/bin/sh",
                        {"-c",
                         "stty -echo; for n in 300000 2049 65536 4095; do head -c $n /dev/zero | tr '\\0' x; "
                         "read -r go; done; sleep 30"});
  size_t expected = 0;
  for (size_t n : {300000, 2049, 65536, 4095}) {
    expected += n;
    ASSERT_TRUE(pumpMainUntil([&] { return delegate->output.size() >= expected; }, std::chrono::seconds(20)))
        << delegate->output.size() << " of " << expected;
    process->send(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("\n"), 1));
  }
  EXPECT_EQ(delegate->output.find_first_not_of('x'), std::string::npos);
  EXPECT_GT(process->gathered, 0u);
}

// A program writing lines reaches the pty a line or a few at a time. Reads that follow one another
// are one stream, whatever their size: they wait on the reader for what follows, and wake the main
// queue once for many of them rather than once for each.
TEST(OutputDelivery, AStreamOfShortLinesIsGathered) {
  struct ReadCounting : LocalProcess {
    using LocalProcess::LocalProcess;
    std::atomic<size_t> reads = 0, gathered = 0;
    bool enqueueReceivedData(std::vector<uint8_t> chunk, bool moreComing) override {
      reads++;
      gathered += moreComing;
      return LocalProcess::enqueueReceivedData(std::move(chunk), moreComing);
    }
  };
  auto delegate = std::make_shared<DeadlineDelegate>();
  auto process = std::make_shared<ReadCounting>(delegate);
  process->startProcess("/bin/sh", {"-c", "stty -echo; seq 30000; sleep 30"});
  const size_t expected = 168894 + 30000;  // the digits and newlines, and a carriage return before each newline
  ASSERT_TRUE(pumpMainUntil([&] { return delegate->output.size() >= expected; }, std::chrono::seconds(20)))
      << delegate->output.size() << " of " << expected;
  EXPECT_GT(process->gathered * 2, process->reads.load())
      << process->gathered << " of " << process->reads << " reads gathered";
}
