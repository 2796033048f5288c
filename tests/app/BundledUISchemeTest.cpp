#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/BundledUIURLSchemeHandler.h"

using namespace zorvel;
namespace fs = std::filesystem;

namespace {

class BundledUIScheme : public ::testing::Test {
 protected:
  void SetUp() override {
    base = fs::temp_directory_path() / ("zorvel-ui-test-" + std::to_string(::getpid()));
    fs::create_directories(base / "ui" / "assets");
    std::ofstream(base / "ui" / "index.html") << "<html></html>";
    std::ofstream(base / "ui" / "assets" / "app.js") << "1";
    std::ofstream(base / "Info.json") << "{}";
  }
  void TearDown() override { fs::remove_all(base); }

  fs::path served(const char* url) {
    auto result = handler().resolve(url);
    auto* resource = std::get_if<BundledUIURLSchemeHandler::Resource>(&result);
    return resource ? resource->file.lexically_relative(base / "ui") : fs::path("<refused>");
  }
  std::string failure(const char* url) {
    auto result = handler().resolve(url);
    auto* f = std::get_if<BundledUIURLSchemeHandler::Failure>(&result);
    return f ? f->message : "<served>";
  }
  BundledUIURLSchemeHandler handler() { return BundledUIURLSchemeHandler(base / "ui" / ""); }

  fs::path base;
};

}  // namespace

TEST_F(BundledUIScheme, ServesFilesOfTheUIDirectory) {
  EXPECT_EQ(served("zorvel-ui://app/"), "index.html");
  EXPECT_EQ(served("zorvel-ui://app"), "index.html");
  EXPECT_EQ(served("zorvel-ui://app/index.html?native-overlay#x"), "index.html");
  EXPECT_EQ(served("zorvel-ui://app//assets/app.js/"), "assets/app.js");
  EXPECT_EQ(served("zorvel-ui://app/assets/%61pp.js"), "assets/app.js");
  EXPECT_EQ(served("zorvel-ui://app/assets/../index.html"), "index.html");
}

TEST_F(BundledUIScheme, RefusesOtherHostsAndEscapes) {
  EXPECT_EQ(failure("zorvel-ui://other/index.html"), "Invalid bundled UI URL");
  EXPECT_EQ(failure("http://app/index.html"), "Invalid bundled UI URL");
  EXPECT_EQ(failure("zorvel-ui:///index.html"), "Invalid bundled UI URL");
  EXPECT_EQ(BundledUIURLSchemeHandler(std::nullopt).resolve("zorvel-ui://app/").index(), 1u);
  EXPECT_EQ(failure("zorvel-ui://app/../Info.json"), "Bundled UI resource not found: ../Info.json");
  EXPECT_EQ(failure("zorvel-ui://app/%2e%2e/Info.json"), "Bundled UI resource not found: ../Info.json");
  EXPECT_EQ(failure("zorvel-ui://app/%2E%2E%2FInfo.json"), "Bundled UI resource not found: ../Info.json");
  EXPECT_EQ(failure("zorvel-ui://app/assets/../../ui2/x"), "Bundled UI resource not found: assets/../../ui2/x");
  EXPECT_NE(failure("zorvel-ui://app/a%00b"), "<served>");
}

TEST_F(BundledUIScheme, ReadsOnlyFilesWhoseRealPathIsInside) {
  fs::create_directory_symlink("/etc", base / "ui" / "etc-link");
  fs::create_symlink(base / "Info.json", base / "ui" / "info.json");
  fs::create_directory_symlink(base / "ui" / "assets", base / "ui" / "static");
  auto read = [&](const char* url) -> std::string {
    auto resolved = handler().resolve(url);
    auto* resource = std::get_if<BundledUIURLSchemeHandler::Resource>(&resolved);
    if (!resource) return "<refused>";
    auto contents = handler().read(*resource);
    if (auto* failure = std::get_if<BundledUIURLSchemeHandler::Failure>(&contents)) return failure->message;
    return std::get<std::string>(contents);
  };
  EXPECT_EQ(read("zorvel-ui://app/etc-link/passwd"), "Bundled UI resource not found: etc-link/passwd");
  EXPECT_EQ(read("zorvel-ui://app/info.json"), "Bundled UI resource not found: info.json");
  EXPECT_EQ(read("zorvel-ui://app/static/app.js"), "1");
  EXPECT_EQ(read("zorvel-ui://app/assets"), "Bundled UI resource not found: assets");
  EXPECT_EQ(read("zorvel-ui://app/"), "<html></html>");
}

TEST(BundledUIMimeTable, ByLowerCaseExtension) {
  EXPECT_EQ(BundledUIURLSchemeHandler::mimeType("HTML"), "text/html");
  EXPECT_EQ(BundledUIURLSchemeHandler::mimeType("js"), "text/javascript");
  EXPECT_EQ(BundledUIURLSchemeHandler::mimeType("PNG"), "image/png");
  EXPECT_EQ(BundledUIURLSchemeHandler::mimeType("woff2"), "font/woff2");
  EXPECT_EQ(BundledUIURLSchemeHandler::mimeType("bin"), "application/octet-stream");
  EXPECT_EQ(BundledUIURLSchemeHandler::mimeType(""), "application/octet-stream");
  EXPECT_EQ(BundledUIURLSchemeHandler::textEncodingName("svg"), "utf-8");
  EXPECT_FALSE(BundledUIURLSchemeHandler::textEncodingName("png"));
  EXPECT_FALSE(BundledUIURLSchemeHandler::textEncodingName("bin"));
}
