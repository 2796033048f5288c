// The application binary away from its install tree says why it cannot run, and exits with a
// failure instead of aborting.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/e2e/OverlayHarness.h"

namespace broken_install_e2e {

using namespace e2e;
using namespace std::chrono_literals;

class BrokenInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    // The binary alone, as a person copying it out of the tree would have it.
    std::filesystem::create_directories(desktop.directory + "/bin");
    lonely = desktop.directory + "/bin/zorvel-desktop";
    std::filesystem::copy_file(std::string(ZORVEL_BUNDLE_DIR) + "/bin/zorvel-desktop", lonely);
  }

  std::shared_ptr<platform::ChildProcess> launch() {
    platform::ChildProcess::Options options;
    options.executable = lonely;
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
      std::string text(*entry);
      auto equals = text.find('=');
      if (equals != std::string::npos) merged[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (auto& [name, value] : desktop.environment) merged[name] = value;
    merged.erase("WAYLAND_DISPLAY");
    if (withoutDisplay) merged.erase("DISPLAY");
    options.environment.emplace();
    for (auto& [name, value] : merged) options.environment->push_back(name + "=" + value);
    options.input = platform::ChildProcess::Stream::null;
    options.output = platform::ChildProcess::Stream::null;
    options.error = platform::ChildProcess::Stream::pipe;
    return platform::ChildProcess::launch(options, nullptr);
  }

  static std::string drain(int descriptor) {
    std::string text;
    char chunk[512];
    ssize_t count;
    while ((count = ::read(descriptor, chunk, sizeof chunk)) > 0) text.append(chunk, size_t(count));
    return text;
  }

  DesktopRun desktop;
  std::string lonely;
  bool withoutDisplay = false;
};

TEST_F(BrokenInstall, WithoutADisplayItSaysSoOnStandardErrorAndFails) {
  withoutDisplay = true;
  auto app = launch();
  ASSERT_TRUE(app);
  ASSERT_TRUE(app->waitUntilExit(20s));
  std::string error = drain(app->errorDescriptor());
  int status = *app->terminationStatus();
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << error;
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(error.find("installation of Zorvel is incomplete"), std::string::npos) << error;
  EXPECT_NE(error.find(desktop.directory + "/share/zorvel"), std::string::npos) << error;
  EXPECT_TRUE(desktop.starts().empty()) << "no core is started for a broken installation";
}

TEST_F(BrokenInstall, OnADisplayAWindowSaysSoUntilItIsClosed) {
  auto app = launch();
  ASSERT_TRUE(app);
  std::vector<std::string> windows;
  ASSERT_TRUE(waitUntil(
      [&] {
        windows = visibleWindows(app->processIdentifier());
        return !windows.empty();
      },
      20s));
  EXPECT_FALSE(app->waitUntilExit(300ms)) << "the window stays until it is closed";
  ASSERT_TRUE(waitUntil(
      [&] {
        focusWindow(windows.front());
        shell("xdotool key Escape");
        return app->waitUntilExit(1s);
      },
      15s));
  int status = *app->terminationStatus();
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(drain(app->errorDescriptor()).find("incomplete"), std::string::npos);
}

}  // namespace broken_install_e2e
