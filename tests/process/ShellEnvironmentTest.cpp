// The demo's shell gets the user's environment with the terminal's variables over it.
#include <gtest/gtest.h>

#include "tools/vantrelle-demo/ShellEnvironment.h"

TEST(ShellEnvironment, KeepsTheUsersVariablesAndLetsTheTerminalsWin) {
  const char* host[] = {"PATH=/usr/bin:/bin", "TERM=dumb", "TERMINAL", "TERM_PROGRAM=other", "LANG=C",
                        "LANGUAGE=de",        nullptr};
  auto environment = vantrelle::demo::shellEnvironment(host, {"TERM=xterm-256color", "LANG=en_US.UTF-8"});
  EXPECT_EQ(environment, (std::vector<std::string>{"PATH=/usr/bin:/bin", "TERM_PROGRAM=other", "LANGUAGE=de",
                                                   "TERM=xterm-256color", "LANG=en_US.UTF-8"}));
}
