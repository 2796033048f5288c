// Child programs are always started in a UTF-8 locale that the system can load.
#include <gtest/gtest.h>
#include <stdlib.h>
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
  // library's own C.UTF-8 stays.
  auto empty = std::filesystem::temp_directory_path() / ("no-locales-" + std::to_string(::getpid()));
  std::filesystem::create_directories(empty);
  ::setenv("LOCPATH", empty.c_str(), 1);
  EXPECT_FALSE(localeIsAvailable("en_US.UTF-8"));
  EXPECT_TRUE(localeIsAvailable("C.UTF-8"));
  EXPECT_EQ(chooseChildLocale(localeIsAvailable), "C.UTF-8");
  ::unsetenv("LOCPATH");
  std::filesystem::remove(empty);
  EXPECT_FALSE(localeIsAvailable("xx_NOWHERE.UTF-8"));

  const auto env = Terminal::getEnvironmentVariables(std::nullopt, false);
  ASSERT_GE(env.size(), 2u);
  EXPECT_EQ(env[1], "LANG=" + childLocale());
}

}  // namespace
}  // namespace vantrelle
