#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "app/UserActivation.h"

using namespace zorvel;
using namespace std::chrono_literals;

namespace {

enum class Step { press, release, land, consume };

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
      case Step::land:
        activation.landed(now);
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
  play("a busy page gets the click late",
       {{S::press, 0ms}, {S::release, 80ms}, {S::land, life + 1s}, {S::consume, life + 2s, true}});
  play("the page's getting a press grants nothing", {{S::land, 0ms}, {S::consume, 10ms, false}});
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

// A key grants an opening only when the page's side says it went into no text field and nothing on
// the page took it; one it never tells of grants nothing.
TEST(UserActivation, AKeyOpensOnlyWhenThePageSaysItTypedNothing) {
  const auto at = UserActivation::Clock::time_point{} + 1h;
  struct Case {
    const char* name;
    std::function<void(UserActivation&)> keys;
    int opens;
  };
  const std::vector<Case> cases = {
      {"pressed, never told of", [&](UserActivation& a) { a.keyPressed(at); }, 0},
      {"into a text field", [&](UserActivation& a) { a.keyPressed(at), a.keyLanded(true, at + 5ms); }, 0},
      {"on the page, and kept",
       [&](UserActivation& a) { a.keyPressed(at), a.keyLanded(false, at + 5ms), a.keySettled(false); }, 1},
      {"on the page, taken by its editing after all",
       [&](UserActivation& a) { a.keyPressed(at), a.keyLanded(false, at + 5ms), a.keySettled(true); }, 0},
      {"told of without a press", [&](UserActivation& a) { a.keyLanded(false, at), a.keySettled(false); }, 0},
      {"told of too late",
       [&](UserActivation& a) { a.keyPressed(at), a.keyLanded(false, at + UserActivation::keyLandingWait + 1ms); }, 0},
      {"seven keys typed, one pressed on the page",
       [&](UserActivation& a) {
         for (int key = 0; key < 8; ++key) a.keyPressed(at + key * 10ms);
         for (int key = 0; key < 7; ++key) a.keyLanded(true, at + 100ms);
         a.keyLanded(false, at + 100ms);
         a.keySettled(false);
       },
       1},
  };
  for (const auto& c : cases) {
    UserActivation activation;
    c.keys(activation);
    int opened = 0;
    while (activation.consume(at + 200ms)) ++opened;
    EXPECT_EQ(opened, c.opens) << c.name;
  }
  // A key taken after all withdraws its own opening, not that of the click before it.
  UserActivation activation;
  activation.press(at);
  activation.keyPressed(at + 10ms);
  activation.keyLanded(false, at + 15ms);
  activation.keySettled(true);
  EXPECT_TRUE(activation.consume(at + 20ms));
  EXPECT_FALSE(activation.consume(at + 20ms));
}
