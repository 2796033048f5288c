// The test harnesses' account of the outside programs a command runs, which makes a test that
// lacks one fail at once by name.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "tests/Programs.h"

namespace P = testing::programs;
using Programs = std::vector<std::string>;

TEST(TestPrograms, TheProgramsOfACommand) {
  struct Case {
    const char* command;
    Programs programs;
  };
  for (const auto& [command, programs] : std::initializer_list<Case>{
           {"xprop -id 0x1 WM_CLASS", {"xprop"}},
           {"xwininfo -root | grep -E 'Width|Height'", {"xwininfo", "grep"}},
           {"import -window \"$(xdotool search --sync --name '^Zorvel$' | head -1)\" /tmp/a.png",
            {"import", "xdotool", "head"}},
           {"xdotool search --sync --name 'a;b' >/dev/null 2>&1 && xdotool key ctrl+q", {"xdotool", "xdotool"}},
           {"timeout 10 /usr/bin/python3 /x/labels.py 12 'Open a file'", {"timeout", "/usr/bin/python3"}},
           {"LC_ALL=C convert a.png -format '%[fx:round(mean*w*h)]' info:", {"convert"}},
           {"true || false; sh -c 'vim x'", {"true", "false", "sh"}},
       })
    EXPECT_EQ(P::ofCommand(command), programs) << command;
}

TEST(TestPrograms, AMissingOrUnlistedProgramIsNamed) {
  EXPECT_EQ(P::problem("no-such-program --help"), "no-such-program is not listed in scripts/programs");
  EXPECT_EQ(P::problem("/usr/bin/no-such-program"), "no-such-program is not listed in scripts/programs");
  EXPECT_EQ(P::problem("locale-gen"), "locale-gen is run only with root's rights, by scripts/install-deps");

  const char* saved = std::getenv("PATH");
  std::shared_ptr<void> restore(nullptr,
                                [path = std::string(saved ? saved : "")](void*) { ::setenv("PATH", path.c_str(), 1); });
  ::setenv("PATH", "/nonexistent", 1);
  EXPECT_EQ(P::problem("xprop -id 1 | grep x"), "missing xprop (package x11-utils)");
  EXPECT_THROW(P::require("xwininfo -root"), std::runtime_error);
  EXPECT_EQ(P::problem("sh -c true"), "missing sh (package dash)");
  ::setenv("PATH", saved ? saved : "", 1);
  EXPECT_EQ(P::problem("sh -c true"), std::nullopt);
}
