// The demo runs the program a command names and exits with the status that program exits with.
#include <gtest/gtest.h>
#include <signal.h>

#include "tools/vantrelle-demo/ChildCommand.h"

namespace {

TEST(ChildCommand, FindsProgramsAsAShellDoes) {
  auto sh = vantrelle::demo::programPath("sh");
  ASSERT_TRUE(sh);
  EXPECT_EQ(sh->front(), '/');
  EXPECT_EQ(vantrelle::demo::programPath("/bin/sh"), "/bin/sh");
  EXPECT_FALSE(vantrelle::demo::programPath("no-such-program-of-the-demo"));
  EXPECT_FALSE(vantrelle::demo::programPath("/no/such/program"));
  EXPECT_FALSE(vantrelle::demo::programPath(""));
}

TEST(ChildCommand, ReportsTheChildsStatus) {
  EXPECT_EQ(vantrelle::demo::exitStatusOf(0), 0);
  EXPECT_EQ(vantrelle::demo::exitStatusOf(3 << 8), 3);
  EXPECT_EQ(vantrelle::demo::exitStatusOf(127 << 8), 127);
  EXPECT_EQ(vantrelle::demo::exitStatusOf(SIGKILL), 128 + SIGKILL);
  EXPECT_EQ(vantrelle::demo::exitStatusOf(std::nullopt), 0);
}

}  // namespace
