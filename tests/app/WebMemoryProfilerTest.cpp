#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <limits>

#include "app/NavigationPolicy.h"
#include "app/WebMemoryProfiler.h"

using nlohmann::json;
using namespace zorvel;
namespace fs = std::filesystem;

namespace {

class Profiler : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("zorvel-profile-test-" + std::to_string(::getpid()));
    fs::remove_all(dir);
  }
  void TearDown() override {
    fs::permissions(dir / "logs" / "web-memory-profile.jsonl", fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(dir);
  }
  std::vector<std::string> lines() {
    std::ifstream in(dir / "logs" / "web-memory-profile.jsonl");
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  fs::path dir;
  std::error_code ignored;
};

}  // namespace

TEST_F(Profiler, OnlyDevelopmentBuildsWrite) {
  for (auto channel : {std::optional<std::string>(), std::optional<std::string>("stable")}) {
    WebMemoryProfiler profiler(dir, channel);
    profiler.record({{"kind", "web-memory-profile"}});
    EXPECT_FALSE(fs::exists(dir));
  }
}

TEST_F(Profiler, AppendsOneLinePerRecordWithItsOwnTimestamp) {
  WebMemoryProfiler profiler(dir, "development");
  auto at = std::chrono::system_clock::from_time_t(1769850307);  // 2026-01-31T09:05:07Z
  profiler.record({{"kind", "web-memory-profile"}, {"used", 10}, {"timestamp", "page"}}, at);
  profiler.record({{"n", std::numeric_limits<double>::infinity()}}, at);
  profiler.record({{"text", "\xff"}}, at);
  profiler.record(json::array(), at);
  profiler.record({{"kind", "second"}}, at);
  auto written = lines();
  ASSERT_EQ(written.size(), 2u);
  auto first = json::parse(written[0]);
  EXPECT_EQ(first["timestamp"], "2026-01-31T09:05:07Z");
  EXPECT_EQ(first["used"], 10);
  EXPECT_EQ(written[0].find(' '), std::string::npos);
  EXPECT_EQ(json::parse(written[1])["kind"], "second");
}

TEST_F(Profiler, AnUnwritableFileKeepsItsContent) {
  WebMemoryProfiler profiler(dir, "development");
  profiler.record({{"kind", "first"}});
  fs::permissions(profiler.logURL(), fs::perms::owner_read, fs::perm_options::replace);
  if (::access(profiler.logURL().c_str(), W_OK) == 0) GTEST_SKIP() << "running with permission to write anything";
  profiler.record({{"kind", "second"}});
  ASSERT_EQ(lines().size(), 1u);
  EXPECT_EQ(json::parse(lines()[0])["kind"], "first");
}

TEST(NativeErrorReport, Shape) {
  auto report = makeNativeErrorReport("ZorvelDesktop.WebKit", 1, "Web content process terminated", "webview-process");
  EXPECT_EQ(report, json::parse(R"({"source": "native", "exception_type": "ZorvelDesktop.WebKit",
    "message": "Web content process terminated", "stack_trace": null,
    "context": {"boundary": "webview-process", "code": 1}})"));
}
