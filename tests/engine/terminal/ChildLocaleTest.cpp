// Child programs are always started in a UTF-8 locale that the system can load.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "Vantrelle/Terminal/ChildLocale.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

TEST(ChildLocale, EnUsWhereTheSystemHasItOtherwiseCUtf8) {
  EXPECT_EQ(chooseChildLocale([](const char*) { return true; }), "en_US.UTF-8");
  EXPECT_EQ(chooseChildLocale([](const char*) { return false; }), "C.UTF-8");

  // A locale path with no generated locales hides en_US.UTF-8 as a fresh system does; the C
  // library's own C.UTF-8 stays. It is looked at in a child: the C library keeps the parsed path
  // of every lookup that fails, and the variable would reach the other tests.
  auto empty = std::filesystem::temp_directory_path() / ("no-locales-" + std::to_string(::getpid()));
  std::filesystem::create_directories(empty);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv("LOCPATH", empty.c_str(), 1);
    bool fallsBack = !localeIsAvailable("en_US.UTF-8") && localeIsAvailable("C.UTF-8") &&
                     chooseChildLocale(localeIsAvailable) == "C.UTF-8";
    ::_exit(fallsBack ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::filesystem::remove(empty);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "without en_US.UTF-8 the child gets C.UTF-8";
  EXPECT_FALSE(localeIsAvailable("xx_NOWHERE.UTF-8"));

  const auto env = Terminal::getEnvironmentVariables(std::nullopt, false);
  ASSERT_GE(env.size(), 2u);
  EXPECT_EQ(env[1], "LANG=" + childLocale());
}

}  // namespace
}  // namespace vantrelle
