// A home or XDG folder that is a file stops the launch with its name, where the web view's
// sandbox would otherwise abort the application.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "app/UserFolderCheck.h"
#include "tests/TemporaryFolder.h"

namespace zorvel {
namespace {

namespace fs = std::filesystem;

TEST(UserFolderCheck, OnlyAFolderThatIsAFileOrLiesInOneIsAProblem) {
  const testing::TemporaryFolder folder("zorvel-folders");
  const fs::path& root = folder.path();
  const fs::path file = root / "plain-file";
  std::ofstream(file) << "not a folder\n";
  fs::create_directories(root / "folder");
  fs::create_directories(root / "unwritable");
  fs::permissions(root / "unwritable", fs::perms::owner_read | fs::perms::owner_exec);

  struct Case {
    fs::path path;
    std::optional<std::string> variable;
    bool problem;
  };
  const Case cases[] = {
      {root / "folder", "XDG_CACHE_HOME", false},     {root / "not-there-yet", "XDG_CACHE_HOME", false},
      {root / "unwritable", "XDG_CACHE_HOME", false}, {file, "XDG_CACHE_HOME", true},
      {file / "cache", "XDG_CACHE_HOME", true},       {file / ".cache", std::nullopt, true},
  };
  for (const auto& c : cases) {
    auto problem = UserFolderCheck::problem(
        {{"home", (root / "folder").string(), "HOME"}, {"cache", c.path.string(), c.variable}});
    ASSERT_EQ(problem.has_value(), c.problem) << c.path << ": " << problem.value_or("");
    if (!problem) continue;
    EXPECT_NE(problem->find("cache folder " + c.path.string()), std::string::npos) << *problem;
    const std::string advice = c.variable ? "Set " + *c.variable : "Move the file";
    EXPECT_NE(problem->find(advice), std::string::npos) << *problem;
  }
}

}  // namespace
}  // namespace zorvel
