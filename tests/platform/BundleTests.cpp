#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/Bundle.h"

namespace fs = std::filesystem;
using platform::Bundle;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "zorvel-test-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

void writeFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

}  // namespace

TEST(Bundle, ReadsInfoStringsByName) {
  TempDir dir;
  writeFile(dir.path / "Info.json",
            R"({"CFBundleIdentifier": "local.zorvel.desktop", "ZorvelCLIPath": "/opt/core", "Count": 3})");
  Bundle bundle(dir.path.string());
  EXPECT_EQ(bundle.bundleIdentifier(), "local.zorvel.desktop");
  EXPECT_EQ(bundle.infoString("ZorvelCLIPath"), "/opt/core");
  EXPECT_EQ(bundle.infoString("Count"), std::nullopt);
  EXPECT_EQ(bundle.infoString("Missing"), std::nullopt);
}

TEST(Bundle, MissingOrMalformedInfoGivesNoKeys) {
  TempDir dir;
  EXPECT_EQ(Bundle(dir.path.string()).bundleIdentifier(), std::nullopt);
  writeFile(dir.path / "Info.json", "{not json");
  EXPECT_EQ(Bundle(dir.path.string()).bundleIdentifier(), std::nullopt);
  writeFile(dir.path / "Info.json", "[1, 2]");
  EXPECT_EQ(Bundle(dir.path.string()).bundleIdentifier(), std::nullopt);
}

TEST(Bundle, ResourcesAreFoundOnlyInsideTheBundle) {
  TempDir dir;
  writeFile(dir.path / "share" / "native-bridge.js", "//");
  writeFile(dir.path / "share" / "runner" / "zorvel-runner", "");
  writeFile(dir.path / "outside.txt", "");
  Bundle bundle((dir.path / "share").string());
  EXPECT_EQ(bundle.pathForResource("native-bridge", "js"), (dir.path / "share" / "native-bridge.js").string());
  EXPECT_EQ(bundle.pathForResource("runner/zorvel-runner"), (dir.path / "share" / "runner" / "zorvel-runner").string());
  EXPECT_EQ(bundle.pathForResource("missing", "js"), std::nullopt);
  EXPECT_EQ(bundle.pathForResource("runner"), std::nullopt);
  EXPECT_EQ(bundle.pathForResource("../outside", "txt"), std::nullopt);
  EXPECT_EQ(bundle.pathForResource((dir.path / "outside").string(), "txt"), std::nullopt);
}

TEST(Bundle, MainBundleIsFoundFromTheExecutablePath) {
  const Bundle& bundle = Bundle::main();
  const fs::path executable = bundle.executablePath();
  ASSERT_TRUE(fs::exists(executable));
  EXPECT_EQ(fs::path(bundle.resourcePath()), executable.parent_path().parent_path() / "share" / "zorvel");
  EXPECT_EQ(fs::path(bundle.helperPath()), executable.parent_path().parent_path() / "libexec" / "zorvel");
}

TEST(Bundle, BuildBundleCarriesTheBuildInfo) {
  Bundle bundle(std::string(ZORVEL_BUNDLE_DIR) + "/share/zorvel");
  EXPECT_EQ(bundle.bundleIdentifier(), "local.zorvel.desktop");
  EXPECT_TRUE(bundle.infoString("CFBundleShortVersionString").has_value());
}
