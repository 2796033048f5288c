// The application's display tests run on a bare display, where nothing moves the keyboard but the
// application and the test, and again (those about dialogs, focus and keys) under a window manager
// that gives a new dialog and a raised window the keyboard, as the desktops users have do. A test
// program started with ZORVEL_TEST_WINDOW_MANAGER=openbox runs its tests under openbox, which it
// starts on the display before the first test and ends after the last.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "platform/ChildProcess.h"
#include "tests/Programs.h"

namespace {

std::string output(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char chunk[256];
    while (size_t got = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, got);
    ::pclose(pipe);
  }
  return text;
}

// Whether a window manager has the display: the root window names a window of the manager's that
// is there (a manager that has ended leaves the name behind).
bool managed() {
  const std::string named = output("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null");
  const auto id = named.find("window id # ");
  if (id == std::string::npos) return false;
  const std::string window = named.substr(id + 12, named.find_first_of(" \n", id + 12) - id - 12);
  return output("xprop -id " + window + " _NET_SUPPORTING_WM_CHECK 2>/dev/null").find("window id") != std::string::npos;
}

// A test under a window manager that did not get one would pass for the wrong reason: the program
// stops with the reason instead.
[[noreturn]] void cannotManage(const std::string& reason) {
  std::fprintf(stderr, "No window manager for the tests: %s\n", reason.c_str());
  std::exit(2);
}

class WindowManager : public ::testing::Environment {
 public:
  void SetUp() override {
    const char* wanted = std::getenv("ZORVEL_TEST_WINDOW_MANAGER");
    if (!wanted || std::string(wanted).empty()) return;
    if (std::string(wanted) != "openbox") cannotManage("the tests know only openbox");
    testing::programs::require("xprop");
    if (managed()) cannotManage("the display has one already");
    platform::ChildProcess::Options options;
    options.executable = testing::programs::path("openbox");
    options.arguments = {"--sm-disable"};
    options.input = options.output = options.error = platform::ChildProcess::Stream::null;
    std::string failure;
    manager = platform::ChildProcess::launch(options, &failure);
    if (!manager) cannotManage("openbox did not start: " + failure);
    // Nothing tells this process when another takes the display: it asks until it has.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!managed() && manager->isRunning() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!managed()) cannotManage("openbox did not take the display");
  }

  void TearDown() override {
    if (!manager) return;
    manager->terminate();
    if (!manager->waitUntilExit(std::chrono::seconds(10))) manager->kill();
    manager->waitUntilExit(std::chrono::seconds(5));
    manager.reset();
  }

 private:
  std::shared_ptr<platform::ChildProcess> manager;
};

const auto* registered = ::testing::AddGlobalTestEnvironment(new WindowManager);

}  // namespace
