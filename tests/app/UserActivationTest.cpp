#include <gtest/gtest.h>

#include <vector>

#include "app/UserActivation.h"

using namespace zorvel;
using namespace std::chrono_literals;

namespace {

enum class Step { press, release, consume };

struct Event {
  Step step;
  std::chrono::milliseconds at;
  bool opens = false;  // for a consume: whether it may open
};

// Plays the events on one page's activation; each consume must answer as the table says.
void play(const char* name, const std::vector<Event>& events) {
  UserActivation activation;
  const auto start = UserActivation::Clock::time_point{} + 1h;
  for (size_t i = 0; i < events.size(); ++i) {
    const auto& event = events[i];
    const auto now = start + event.at;
    switch (event.step) {
      case Step::press:
        activation.press(now);
        break;
      case Step::release:
        activation.release(now);
        break;
      case Step::consume:
        EXPECT_EQ(activation.consume(now), event.opens) << name << ", event " << i;
        break;
    }
  }
}

}  // namespace

TEST(UserActivation, EachPressOpensOneThingForAShortWhile) {
  using S = Step;
  const auto life = std::chrono::duration_cast<std::chrono::milliseconds>(UserActivation::lifetime);
  play("nothing pressed", {{S::consume, 0ms, false}});
  play("one click, five openings", {{S::press, 0ms},
                                    {S::release, 80ms},
                                    {S::consume, 90ms, true},
                                    {S::consume, 91ms, false},
                                    {S::consume, 92ms, false}});
  play("two quick clicks, their openings after both", {{S::press, 0ms},
                                                       {S::release, 50ms},
                                                       {S::press, 100ms},
                                                       {S::consume, 150ms, true},
                                                       {S::consume, 160ms, true},
                                                       {S::consume, 170ms, false}});
  play("saved for later", {{S::press, 0ms}, {S::release, 50ms}, {S::consume, 51ms + life, false}});
  play("held long before letting go", {{S::press, 0ms}, {S::release, 2 * life}, {S::consume, 2 * life + 100ms, true}});
  play("letting go grants nothing", {{S::release, 0ms}, {S::consume, 10ms, false}});
  play("letting go after the opening was taken",
       {{S::press, 0ms}, {S::consume, 10ms, true}, {S::release, 900ms}, {S::consume, 950ms, false}});
  play(
      "an old press lapses while a new one stays",
      {{S::press, 0ms}, {S::press, life - 100ms}, {S::consume, life + 500ms, true}, {S::consume, life + 510ms, false}});
}

TEST(UserActivation, HoldsNoMorePressesThanAPersonMakes) {
  UserActivation activation;
  const auto now = UserActivation::Clock::time_point{} + 1h;
  for (size_t i = 0; i < 3 * UserActivation::maximumOpenings; ++i) activation.press(now);
  size_t opened = 0;
  while (activation.consume(now)) ++opened;
  EXPECT_EQ(opened, UserActivation::maximumOpenings);
}
