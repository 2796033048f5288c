#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "platform/MainLoopTimers.h"
#include "tests/MainLoop.h"

namespace {

// Something a callback holds, which notes whether it goes while that callback still runs.
struct Held {
  const bool& ticking;
  bool& freedMidTick;
  bool& freed;
  ~Held() {
    freedMidTick = ticking;
    freed = true;
  }
};

}  // namespace

// A repeating timer let go from inside its own tick (a cursor that stops blinking as it blinks)
// ticks no more, and the callback, still running then, is freed only once it has returned.
TEST(RepeatingTimer, LetGoInsideItsTickStopsAndFreesItsCallbackAfterTheTick) {
  bool ticking = false, freedMidTick = false, freed = false;
  int ticks = 0;
  std::shared_ptr<Held> held(new Held{ticking, freedMidTick, freed});
  platform::RepeatingTimer timer;
  timer = platform::RepeatingTimer(std::chrono::milliseconds(1), [&, held] {
    ticking = true;
    if (++ticks == 3) timer.reset();
    ticking = false;
  });
  held.reset();
  ASSERT_TRUE(runMainUntil([&] { return freed; })) << "the callback was never freed";
  EXPECT_FALSE(freedMidTick);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(timer);
}
