#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/ProcStat.h"

using platform::ProcStat;

TEST(ProcStat, ReadsTheFieldsAfterACommandNameThatLooksLikeThem) {
  const std::string tail = " 0 -1 4194560 120 0 0 0 3 1 0 0 20 0 1 0 217722 6184960 394 18446744073709551615 1 1 0";
  struct Case {
    std::string line;
    std::optional<ProcStat> expected;
  };
  const Case cases[] = {
      {"42 (core) S 7 42 42" + tail, ProcStat{42, 'S', 7, 42, 42, 217722}},
      // A program may name itself anything, parentheses, spaces and digits included.
      {"42 (a) R 1 2 3 (b) Z 7 8 9" + tail, ProcStat{42, 'Z', 7, 8, 9, 217722}},
      {"42 () S 7 42 42" + tail, ProcStat{42, 'S', 7, 42, 42, 217722}},
      {"42 (core) S 7 42 42 0 -1", std::nullopt},  // cut short before the start time
      {"42 (core S 7 42 42" + tail, std::nullopt},
      {"core (42) S 7 42 42" + tail, std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& item : cases) {
    auto parsed = ProcStat::parse(item.line);
    ASSERT_EQ(parsed.has_value(), item.expected.has_value()) << item.line;
    if (!parsed) continue;
    EXPECT_EQ(parsed->pid, item.expected->pid) << item.line;
    EXPECT_EQ(parsed->state, item.expected->state) << item.line;
    EXPECT_EQ(parsed->parent, item.expected->parent) << item.line;
    EXPECT_EQ(parsed->processGroup, item.expected->processGroup) << item.line;
    EXPECT_EQ(parsed->session, item.expected->session) << item.line;
    EXPECT_EQ(parsed->startTime, item.expected->startTime) << item.line;
  }
  auto own = ProcStat::of(::getpid());
  ASSERT_TRUE(own);
  EXPECT_EQ(own->parent, ::getppid());
  EXPECT_EQ(own->session, ::getsid(0));
  EXPECT_FALSE(own->isZombie());
}
