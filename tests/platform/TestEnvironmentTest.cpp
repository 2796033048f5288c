// Test programs keep out of the home of whoever runs them: each has a home and XDG folders of its
// own, which the programs it starts share, and which go when it ends.
#include <fcntl.h>
#include <glib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// What a shell started by this program prints.
std::string shellOutput(const std::string& command) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[256];
    while (size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, got);
    ::pclose(pipe);
  }
  return output;
}

}  // namespace

constexpr const char* userFolders[] = {"HOME",           "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                       "XDG_CACHE_HOME", "XDG_STATE_HOME",  "XDG_RUNTIME_DIR"};

// The folders as the program had them before main, before a test could set its own.
const std::map<std::string, std::string> startingFolders = [] {
  std::map<std::string, std::string> folders;
  for (const char* name : userFolders) folders[name] = variable(name);
  return folders;
}();

TEST(TestEnvironment, HomeAndUserFoldersAreTheProgramsOwn) {
  const fs::path home = startingFolders.at("HOME");
  const fs::path root = home.parent_path();
  ASSERT_EQ(root.filename().string().rfind("zorvel-test-", 0), 0u) << home;
  RecordProperty("home", home.string());
  if (const passwd* user = ::getpwuid(::getuid())) {
    EXPECT_NE(home, fs::path(user->pw_dir));
  }
  for (const auto& [name, folder] : startingFolders) {
    const auto relative = fs::path(folder).lexically_relative(root);
    EXPECT_FALSE(relative.empty() || *relative.begin() == "..") << name << " " << folder;
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0) << name << " " << folder;
    EXPECT_TRUE(S_ISDIR(info.st_mode) && (info.st_mode & 077) == 0 && info.st_uid == ::getuid()) << name;
  }

  // GLib, which GTK and WebKit ask, reads them as they are set: before it first looked.
  EXPECT_EQ(fs::path(g_get_home_dir()), fs::path(variable("HOME")));
  struct Folder {
    const char* name;
    const char* fromGLib;
  };
  for (const auto& [name, fromGLib] :
       {Folder{"XDG_CONFIG_HOME", g_get_user_config_dir()}, Folder{"XDG_DATA_HOME", g_get_user_data_dir()},
        Folder{"XDG_CACHE_HOME", g_get_user_cache_dir()}, Folder{"XDG_STATE_HOME", g_get_user_state_dir()},
        Folder{"XDG_RUNTIME_DIR", g_get_user_runtime_dir()}}) {
    EXPECT_EQ(variable(name), fromGLib) << name;
  }

  // A program a test starts lives there too.
  EXPECT_EQ(shellOutput("printf '%s|%s' \"$HOME\" \"$XDG_RUNTIME_DIR\""),
            variable("HOME") + "|" + variable("XDG_RUNTIME_DIR"));
}

TEST(TestEnvironment, TheFolderGoesWhenTheProgramEnds) {
  const std::string report = variable("HOME") + "/report.json";
  const std::string program = fs::read_symlink("/proc/self/exe").string();
  const std::string command = "'" + program + "' --gtest_filter=TestEnvironment.HomeAndUserFoldersAreTheProgramsOwn" +
                              " --gtest_output=json:'" + report + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::ifstream file(report);
  const auto json = nlohmann::json::parse(file, nullptr, false);
  ASSERT_TRUE(json.is_object());
  const std::string childHome = json["testsuites"][0]["testsuite"][0].value("home", "");
  ASSERT_FALSE(childHome.empty()) << json.dump();
  EXPECT_NE(childHome, variable("HOME")) << "two programs share a home";
  EXPECT_FALSE(fs::exists(fs::path(childHome).parent_path())) << childHome;
}

// A death test in the "threadsafe" style runs this program again as its child, which ends with
// _exit(): a home of its own would never be removed.
TEST(TestEnvironment, ADeathTestsChildLivesInItsParentsHome) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string home = variable("HOME");
  EXPECT_EXIT(
      {
        std::fprintf(stderr, "home %s\n", variable("HOME").c_str());
        ::_exit(0);
      },
      ::testing::ExitedWithCode(0), ::testing::HasSubstr("home " + home + "\n"));
}

// Run by the test below, with ZORVEL_TEST_LEAVE_A_WRITER set: leaves a process behind that writes
// into the home once this program has ended, as a web engine's helper writes its data.
TEST(TestEnvironment, LeavesAWriterBehind) {
  if (variable("ZORVEL_TEST_LEAVE_A_WRITER").empty())
    GTEST_SKIP() << "not a test of its own: AProcessLeftInTheHomeEndsBeforeItGoes runs it";
  RecordProperty("home", variable("HOME"));
  // The writer waits for the end of a pipe that only this program holds, and is orphaned.
  int programEnds[2];
  ASSERT_EQ(::pipe2(programEnds, O_CLOEXEC), 0);
  const pid_t shell = ::fork();
  if (shell == 0) {
    ::dup2(programEnds[0], 9);
    ::execl("/bin/sh", "sh", "-c", "{ cat <&9 >/dev/null; mkdir -p \"$HOME/.local/share/late\"; } &", nullptr);
    ::_exit(127);
  }
  ::close(programEnds[0]);
  ASSERT_EQ(::waitpid(shell, nullptr, 0), shell);
}

TEST(TestEnvironment, AProcessLeftInTheHomeEndsBeforeItGoes) {
  const std::string report = variable("HOME") + "/writer.json";
  const std::string program = fs::read_symlink("/proc/self/exe").string();
  // The writer inherits this pipe's end: reading it to its end waits for the writer to be gone.
  int writerGone[2];
  ASSERT_EQ(::pipe(writerGone), 0);
  ::fcntl(writerGone[0], F_SETFD, FD_CLOEXEC);
  const std::string command = "ZORVEL_TEST_LEAVE_A_WRITER=1 '" + program +
                              "' --gtest_filter=TestEnvironment.LeavesAWriterBehind --gtest_output=json:'" + report +
                              "' >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  ::close(writerGone[1]);
  char drained[64];
  while (::read(writerGone[0], drained, sizeof drained) > 0) {
  }
  ::close(writerGone[0]);
  ASSERT_EQ(status, 0);
  std::ifstream file(report);
  const auto json = nlohmann::json::parse(file, nullptr, false);
  ASSERT_TRUE(json.is_object());
  const std::string childHome = json["testsuites"][0]["testsuite"][0].value("home", "");
  ASSERT_FALSE(childHome.empty()) << json.dump();
  EXPECT_FALSE(fs::exists(fs::path(childHome).parent_path())) << childHome;
}
