#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/LayoutDiagnostics.h"
#include "app/LogFile.h"
#include "app/WebMemoryProfiler.h"

using namespace zorvel;
namespace fs = std::filesystem;

namespace {

class LogFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("zorvel-logfile-test-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    previousMask = ::umask(022);
  }
  void TearDown() override {
    ::umask(previousMask);
    fs::remove_all(dir);
  }
  static std::string text(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static unsigned mode(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
  }
  fs::path dir;
  mode_t previousMask = 0;
};

}  // namespace

TEST_F(LogFiles, BothWritersMakePrivateFoldersAndFiles) {
  WebMemoryProfiler profiler(dir / "data", "development");
  profiler.record({{"kind", "web-memory-profile"}});
  LayoutDiagnostics::append(dir / "data" / "terminal-resize.log", "launch", 0);
  EXPECT_EQ(mode(dir / "data"), 0700u);
  EXPECT_EQ(mode(dir / "data" / "logs"), 0700u);
  EXPECT_EQ(mode(profiler.logURL()), 0600u);
  EXPECT_EQ(mode(dir / "data" / "terminal-resize.log"), 0600u);
  EXPECT_EQ(text(dir / "data" / "terminal-resize.log"), "1970-01-01T00:00:00Z launch\n");
}

TEST_F(LogFiles, AFullFileIsMovedAsideWholeAndOverlongLinesAreDropped) {
  auto file = dir / "x.log";
  const std::string line = std::string(19, 'a') + "\n";  // 20 bytes; three fit in 64
  for (int i = 0; i < 3; ++i) LogFile::appendLine(file, line, 64);
  EXPECT_EQ(text(file), line + line + line);
  LogFile::appendLine(file, "b\n", 64);
  EXPECT_EQ(text(file), line + line + line + "b\n");
  LogFile::appendLine(file, "cc\n", 64);  // 65 bytes would pass the limit
  EXPECT_EQ(text(file), "cc\n");
  EXPECT_EQ(text(fs::path(file.string() + ".1")), line + line + line + "b\n");
  EXPECT_EQ(mode(file), 0600u);

  LogFile::appendLine(file, std::string(65, 'z') + "\n", 64);
  EXPECT_EQ(text(file), "cc\n");
  for (int i = 0; i < 10; ++i) LogFile::appendLine(file, line, 64);
  EXPECT_LE(fs::file_size(file), 64u);
  EXPECT_LE(fs::file_size(fs::path(file.string() + ".1")), 64u);
  EXPECT_EQ(text(file).back(), '\n') << "a line was split";
}

TEST_F(LogFiles, ALinkInPlaceOfTheFileIsNotFollowed) {
  fs::create_directories(dir);
  auto target = dir / "elsewhere";
  std::ofstream(target) << "kept\n";
  fs::create_symlink(target, dir / "x.log");
  LogFile::appendLine(dir / "x.log", "line\n");
  EXPECT_EQ(text(target), "kept\n");
}

// A full disk takes part of a line: what was written of it goes, and the lines around it stay whole.
TEST_F(LogFiles, ALineTheDiskHasNoRoomForLeavesNoPartOfItBehind) {
  auto file = dir / "x.log";
  LogFile::appendLine(file, "first\n");
  pid_t child = ::fork();
  if (child == 0) {
    // Writing past this size fails as a full disk does, part way through the line.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{10, 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    LogFile::appendLine(file, "second line\n");
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(text(file), "first\n");
  LogFile::appendLine(file, "third\n");
  EXPECT_EQ(text(file), "first\nthird\n");
}
