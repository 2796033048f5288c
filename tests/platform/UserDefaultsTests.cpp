#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/UserDefaults.h"

namespace fs = std::filesystem;
using platform::UserDefaults;

namespace {

class DefaultsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zorvel-defaults-XXXXXX").string();
    dir = mkdtemp(pattern.data());
    file = dir / "nested" / "zorvel" / "defaults.conf";
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
  fs::path file;
};

std::string keyFor(int writer, int index) {
  std::string key = "k";
  key += std::to_string(writer);
  key += '_';
  key += std::to_string(index);
  return key;
}

}  // namespace

TEST_F(DefaultsTest, TypedValuesSurviveAReload) {
  {
    UserDefaults defaults(file.string());
    EXPECT_TRUE(defaults.set("zorvel.sidebarWidth", 412.5));
    EXPECT_TRUE(defaults.set("name", std::string("line one\nline two = [x]")));
    EXPECT_TRUE(defaults.set("flag", true));
    EXPECT_TRUE(defaults.set("count", int64_t{-9007199254740993}));
    EXPECT_TRUE(defaults.set("literal", "text"));
  }
  UserDefaults reloaded(file.string());
  EXPECT_EQ(reloaded.doubleForKey("zorvel.sidebarWidth"), 412.5);
  EXPECT_EQ(reloaded.stringForKey("name"), "line one\nline two = [x]");
  EXPECT_EQ(reloaded.boolForKey("flag"), true);
  EXPECT_EQ(reloaded.integerForKey("count"), int64_t{-9007199254740993});
  EXPECT_EQ(reloaded.stringForKey("literal"), "text");
  EXPECT_EQ(reloaded.boolForKey("literal"), std::nullopt);
}

TEST_F(DefaultsTest, WrongTypesAndMissingKeysReadAsAbsent) {
  UserDefaults defaults(file.string());
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), std::nullopt);
  EXPECT_TRUE(defaults.set("zorvel.sidebarWidth", std::string("wide")));
  EXPECT_EQ(defaults.doubleForKey("zorvel.sidebarWidth"), std::nullopt);
  EXPECT_EQ(defaults.integerForKey("zorvel.sidebarWidth"), std::nullopt);
  EXPECT_TRUE(defaults.set("whole", 300));
  EXPECT_EQ(defaults.doubleForKey("whole"), 300.0);
}

TEST_F(DefaultsTest, RemovedKeysStayRemoved) {
  {
    UserDefaults defaults(file.string());
    ASSERT_TRUE(defaults.set("a", 1));
    ASSERT_TRUE(defaults.set("b", 2));
    EXPECT_TRUE(defaults.removeObject("a"));
    EXPECT_TRUE(defaults.removeObject("never-set"));
  }
  UserDefaults reloaded(file.string());
  EXPECT_EQ(reloaded.integerForKey("a"), std::nullopt);
  EXPECT_EQ(reloaded.integerForKey("b"), 2);
}

TEST_F(DefaultsTest, KeysThatWouldCorruptTheFileAreRefused) {
  UserDefaults defaults(file.string());
  ASSERT_TRUE(defaults.set("good", 1));
  for (const std::string key : {"", "a=b", "[group]", "line\nbreak", " padded", "#comment"}) {
    EXPECT_FALSE(defaults.set(key, 5)) << key;
    EXPECT_EQ(defaults.integerForKey(key), std::nullopt) << key;
  }
  EXPECT_FALSE(defaults.set("bytes", std::string("\xff\xfe")));
  UserDefaults reloaded(file.string());
  EXPECT_EQ(reloaded.integerForKey("good"), 1);
}

TEST_F(DefaultsTest, UnreadableFileIsSetAsideNotOverwritten) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "this is not a key file\n\x01\x02";
  UserDefaults defaults(file.string());
  EXPECT_TRUE(defaults.set("fresh", true));
  const fs::path aside = file.string() + ".unreadable";
  ASSERT_TRUE(fs::exists(aside));
  std::stringstream kept;
  kept << std::ifstream(aside).rdbuf();
  EXPECT_NE(kept.str().find("not a key file"), std::string::npos);
  EXPECT_EQ(UserDefaults(file.string()).boolForKey("fresh"), true);
}

TEST_F(DefaultsTest, WriteFailureIsReported) {
  fs::create_directories(dir / "blocked");
  std::ofstream(dir / "blocked" / "zorvel") << "a file where the folder should be";
  UserDefaults defaults((dir / "blocked" / "zorvel" / "defaults.conf").string());
  EXPECT_FALSE(defaults.set("key", 1));
  EXPECT_EQ(defaults.integerForKey("key"), 1);
}

TEST_F(DefaultsTest, ConcurrentWritersLoseNothing) {
  UserDefaults defaults(file.string());
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([&, t] {
      for (int i = 0; i < 10; ++i) defaults.set(keyFor(t, i), i);
    });
  }
  for (auto& writer : writers) writer.join();
  UserDefaults reloaded(file.string());
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 10; ++i) EXPECT_EQ(reloaded.integerForKey(keyFor(t, i)), i);
  }
}
