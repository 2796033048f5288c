#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vantrelle/Keyboard/KeyboardModeState.h"

using namespace vantrelle;

namespace {

// Runs one CSI ... u sequence, given as its marker byte(s) and parameters.
KittyKeyboardCommandResult run(KeyboardModeState& state, const std::string& collect, std::vector<int> pars) {
  const std::vector<uint8_t> bytes(collect.begin(), collect.end());
  return applyKittyKeyboardSequence(state, pars, bytes);
}

int64_t flagsOf(const KeyboardModeState& state) { return state.flags.rawValue; }

}  // namespace

TEST(KeyboardModeState, PushMasksAndSaves) {
  KeyboardModeState state;
  EXPECT_TRUE(run(state, ">", {}).handled);
  EXPECT_EQ(flagsOf(state), 0);
  ASSERT_EQ(state.stack.size(), 1u);

  run(state, ">", {255});
  EXPECT_EQ(flagsOf(state), 31);
  run(state, "<", {});
  EXPECT_EQ(flagsOf(state), 0);
  EXPECT_EQ(state.stack.size(), 1u);
}

TEST(KeyboardModeState, StackKeepsTheNewestSixteen) {
  KeyboardModeState state;
  for (int i = 1; i <= 17; ++i) {
    run(state, ">", {i});
  }
  EXPECT_EQ(flagsOf(state), 17 & 31);
  ASSERT_EQ(state.stack.size(), KeyboardModeState::maxStackDepth);
  // The first push saved 0 and is gone; the oldest left was saved by the second push (flags 1).
  EXPECT_EQ(state.stack.front().rawValue, 1);
  for (int i = 0; i < 16; ++i) {
    run(state, "<", {1});
  }
  EXPECT_EQ(flagsOf(state), 1);
  EXPECT_TRUE(state.stack.empty());
}

TEST(KeyboardModeState, PopCounts) {
  KeyboardModeState state;
  run(state, ">", {1});
  run(state, ">", {2});
  run(state, ">", {3});  // stack: 0, 1, 2; flags 3

  KeyboardModeState zero = state;
  run(zero, "<", {0});  // raised to one
  EXPECT_EQ(flagsOf(zero), 2);
  EXPECT_EQ(zero.stack.size(), 2u);

  KeyboardModeState two = state;
  run(two, "<", {2});
  EXPECT_EQ(flagsOf(two), 1);
  EXPECT_EQ(two.stack.size(), 1u);

  KeyboardModeState all = state;
  run(all, "<", {3});
  EXPECT_EQ(flagsOf(all), 0);
  EXPECT_TRUE(all.stack.empty());

  KeyboardModeState tooMany = state;
  run(tooMany, ">", {5});
  run(tooMany, "<", {5});
  EXPECT_EQ(flagsOf(tooMany), 0);
  EXPECT_TRUE(tooMany.stack.empty());

  KeyboardModeState negative = state;
  run(negative, "<", {-4});
  EXPECT_EQ(flagsOf(negative), 2);
}

TEST(KeyboardModeState, SetModes) {
  KeyboardModeState state;
  run(state, "=", {1});
  EXPECT_EQ(flagsOf(state), 1);
  run(state, "=", {6, 2});
  EXPECT_EQ(flagsOf(state), 7);
  run(state, "=", {2, 3});
  EXPECT_EQ(flagsOf(state), 5);
  EXPECT_TRUE(run(state, "=", {1, 4}).handled);
  EXPECT_EQ(flagsOf(state), 5);
  run(state, "=", {1, 0});
  EXPECT_EQ(flagsOf(state), 5);
  run(state, "=", {32});
  EXPECT_EQ(flagsOf(state), 0);
  run(state, "=", {});
  EXPECT_EQ(flagsOf(state), 0);
  EXPECT_TRUE(state.stack.empty());
}

TEST(KeyboardModeState, QueryAndForeignSequences) {
  KeyboardModeState state;
  run(state, "=", {5});
  const auto query = run(state, "?", {});
  EXPECT_TRUE(query.handled);
  ASSERT_TRUE(query.report.has_value());
  EXPECT_EQ(query.report->rawValue, 5);

  const KeyboardModeState before = state;
  for (const char* collect : {"", ">>", "$", "!"}) {
    const auto result = run(state, collect, {1});
    EXPECT_FALSE(result.handled) << collect;
    EXPECT_FALSE(result.report.has_value()) << collect;
  }
  EXPECT_EQ(state, before);
}
