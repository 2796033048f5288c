#include <gtest/gtest.h>

#include <vector>

#include "app/KeyGuard.h"

using namespace zorvel;
using namespace std::chrono_literals;

namespace {

enum class Step { hold, appear, press, pressPassing, release };

struct Event {
  Step step;
  unsigned key;
  std::chrono::milliseconds at;
  bool reaches = false;  // for a press or release: whether the window gets it
};

void play(const char* name, const std::vector<Event>& events) {
  KeyGuard guard;
  const auto start = KeyGuard::Clock::time_point{} + 1h;
  for (size_t i = 0; i < events.size(); ++i) {
    const auto& event = events[i];
    const auto now = start + event.at;
    switch (event.step) {
      case Step::hold:
        guard.hold();
        break;
      case Step::appear:
        guard.appeared(now);
        break;
      case Step::press:
      case Step::pressPassing:
        EXPECT_EQ(guard.press(event.key, event.step == Step::pressPassing, now), event.reaches)
            << name << ", event " << i;
        break;
      case Step::release:
        EXPECT_EQ(guard.release(event.key), event.reaches) << name << ", event " << i;
        break;
    }
  }
}

}  // namespace

TEST(KeyGuard, AWindowTakesNoKeyMeantForWhatTheUserWasDoing) {
  using S = Step;
  const auto settle = std::chrono::duration_cast<std::chrono::milliseconds>(KeyGuard::settleTime);
  constexpr unsigned enter = 36, a = 38, escape = 9;
  play("a Return as the window comes up",
       {{S::appear, 0, 0ms}, {S::press, enter, 50ms, false}, {S::release, enter, 90ms, false}});
  play("the release of a key pressed elsewhere", {{S::appear, 0, 0ms}, {S::release, a, 10ms, false}});
  play("a key held down from before repeats past the moment", {{S::appear, 0, 0ms},
                                                               {S::press, enter, 10ms, false},
                                                               {S::press, enter, settle + 10ms, false},
                                                               {S::release, enter, settle + 40ms, false},
                                                               {S::press, enter, settle + 100ms, true},
                                                               {S::release, enter, settle + 150ms, true}});
  play("keys once the window has settled",
       {{S::appear, 0, 0ms}, {S::press, a, settle, true}, {S::release, a, settle + 5ms, true}});
  play("Escape and the Quit keys at once",
       {{S::appear, 0, 0ms}, {S::pressPassing, escape, 5ms, true}, {S::release, escape, 9ms, true}});
  play("a key coming first counts from itself",
       {{S::press, a, 0ms, false}, {S::release, a, 5ms, false}, {S::press, a, settle, true}});
  play("held before it shows, its moment counts from when it shows", {{S::hold, 0, 0ms},
                                                                      {S::press, a, 0ms, false},
                                                                      {S::release, a, 5ms, false},
                                                                      {S::press, enter, settle * 3, false},
                                                                      {S::pressPassing, escape, settle * 3, true},
                                                                      {S::appear, 0, settle * 4},
                                                                      {S::press, a, settle * 4 + 10ms, false},
                                                                      {S::press, a, settle * 5, false},
                                                                      {S::press, enter, settle * 5, false},
                                                                      {S::release, enter, settle * 5, false},
                                                                      {S::press, enter, settle * 5 + 10ms, true}});
  play("a later focus does not start over",
       {{S::appear, 0, 0ms}, {S::appear, 0, settle}, {S::press, a, settle + 1ms, true}});
}
