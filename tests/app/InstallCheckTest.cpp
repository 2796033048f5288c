// A broken installation is named before anything starts.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "app/InstallCheck.h"
#include "platform/Bundle.h"
#include "tests/TemporaryFolder.h"

namespace zorvel {
namespace {

namespace fs = std::filesystem;

struct Tree {
  Tree() {
    resources = root / "share" / "zorvel";
    fs::create_directories(resources / "ui");
    std::ofstream(resources / "native-bridge.js") << "window.bridge = true;\n";
    std::ofstream(resources / "ui" / "index.html") << "<html></html>\n";
  }
  std::optional<std::string> problem() const {
    return InstallCheck::problem(platform::Bundle(resources.string(), (root / "bin" / "zorvel-desktop").string()));
  }
  testing::TemporaryFolder folder{"zorvel-install"};
  fs::path root = folder.path();
  fs::path resources;
};

TEST(InstallCheck, AWholeTreePassesAndEachMissingPieceIsNamed) {
  EXPECT_EQ(Tree().problem(), std::nullopt) << "the core and Info.json have fallbacks of their own";

  struct Case {
    const char* what;
    void (*breakIt)(const fs::path& resources);
    const char* named;
  };
  const Case cases[] = {
      {"no resource folder", [](const fs::path& r) { fs::remove_all(r); }, "resource folder"},
      {"no bridge script", [](const fs::path& r) { fs::remove(r / "native-bridge.js"); },
       "native-bridge.js is missing"},
      {"a bridge script that is not UTF-8",
       [](const fs::path& r) { std::ofstream(r / "native-bridge.js") << "var a = '\xC3\x28';"; }, "not UTF-8"},
      {"no page", [](const fs::path& r) { fs::remove_all(r / "ui"); }, "index.html is missing"},
  };
  for (const auto& c : cases) {
    Tree tree;
    c.breakIt(tree.resources);
    auto problem = tree.problem();
    ASSERT_TRUE(problem) << c.what;
    EXPECT_NE(problem->find(c.named), std::string::npos) << c.what << ": " << *problem;
    EXPECT_NE(problem->find((tree.root / "bin" / "zorvel-desktop").string()), std::string::npos) << *problem;
  }
}

// Run in a program of its own: in this one an earlier test may have opened the display already,
// and the report would then show its window and wait.
TEST(InstallCheck, TheReportWithoutADisplayIsAFailureOnStandardError) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        std::exit(InstallCheck::report("the page is missing"));
      },
      [](int status) { return WIFEXITED(status) && WEXITSTATUS(status) != 0; }, "zorvel-desktop: the page is missing");
}

}  // namespace
}  // namespace zorvel
