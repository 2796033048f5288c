// The road of one task terminal in the real application: the reference page starts a task, a
// terminal appears and runs the core's plan, typed keys reach it, stopping it ends the child and
// revokes its token, and the sidebar width the page sets is kept.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/URLSession.h"
#include "tests/e2e/OverlayHarness.h"

namespace task_terminal_e2e {

using nlohmann::json;

// What is waited on here (files, /proc, the core's live state) belongs to other processes, which
// tell this one nothing when it changes: it is asked again and again.
bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(30)) {
  return e2e::waitUntil(condition, limit);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

using e2e::terminalChildrenOf;

class TaskTerminal : public ::testing::Test {
 protected:
  void SetUp() override { run.start(); }

  platform::URLResponse call(const std::string& method, const std::string& path, const json& body = nullptr) {
    return run.request(method, path, body);
  }

  json state() {
    auto response = call("GET", "/__test/state");
    return response.status == 200 ? json::parse(response.body, nullptr, false) : json();
  }

  size_t activeTokens() {
    auto current = state();
    return current.is_object() ? current["active_token_ids"].size() : 0;
  }

  // The reference page carries out commands that arrive on its event stream.
  void tellPage(const json& command) { call("POST", "/__test/events", {{"data", command.dump()}}); }

  e2e::DesktopRun run{{{"ZORVEL_REFCORE_SHELL", "/bin/sh"}}};
  const std::string& directory = run.directory;
  std::shared_ptr<platform::ChildProcess>& app = run.app;
};

TEST_F(TaskTerminal, APageStartedTaskRunsTakesKeysAndStops) {
  ASSERT_TRUE(waitFor([&] {
    auto current = state();
    return current.is_object() && current.value("event_streams", 0) >= 1;
  })) << "the page never opened its event stream";
  size_t tokensBefore = activeTokens();

  tellPage({{"start_task", true}});
  std::vector<pid_t> children;
  ASSERT_TRUE(waitFor([&] {
    children = terminalChildrenOf(app->processIdentifier());
    return !children.empty();
  })) << "no terminal child was started";
  EXPECT_EQ(activeTokens(), tokensBefore + 1) << "the terminal's project token is not active";
  // The planned program announces the task and hands over to the shell.
  ASSERT_TRUE(waitFor([&] { return readFile("/proc/" + std::to_string(children[0]) + "/comm") == "sh\n"; }));

  const std::string typed = directory + "/typed.txt";
  // As a user would: click into the terminal (right of the sidebar), then type. The terminal may
  // still be taking the focus from the page when the first keys arrive, so try a few times; the
  // command is the same each time.
  const std::string window = e2e::mainWindow(app->processIdentifier());
  ASSERT_FALSE(window.empty()) << "the window never showed";
  std::string command = "xdotool windowfocus --sync " + window + " mousemove --window " + window +
                        " 1000 400 click 1 && xdotool type --delay 30 'echo typed > " + typed +
                        "' && xdotool key Return";
  bool arrived = false;
  for (int attempt = 0; attempt < 3 && !arrived; attempt++) {
    ASSERT_EQ(std::system(command.c_str()), 0);
    arrived = waitFor([&] { return readFile(typed) == "typed\n"; }, std::chrono::seconds(5));
  }
  EXPECT_TRUE(arrived) << "keys typed into the window did not reach the terminal";
  if (const char* shots = std::getenv("ZORVEL_E2E_SCREENSHOTS")) {
    std::system(("import -window root " + std::string(shots) + "/task-terminal.png").c_str());
  }

  tellPage({{"stop_task", true}});
  EXPECT_TRUE(waitFor([&] { return terminalChildrenOf(app->processIdentifier()).empty(); }))
      << "stopping left the terminal's child running";
  EXPECT_TRUE(waitFor([&] { return activeTokens() == tokensBefore; }))
      << "stopping did not revoke the token: " << state().dump();
}

// Ctrl+Q in a task terminal is the program's; Ctrl+Shift+Q there quits, as Ctrl+Q does elsewhere.
TEST_F(TaskTerminal, CtrlShiftQInATerminalQuitsTheApplication) {
  ASSERT_TRUE(waitFor([&] {
    auto current = state();
    return current.is_object() && current.value("event_streams", 0) >= 1;
  }));
  tellPage({{"start_task", true}});
  ASSERT_TRUE(waitFor([&] { return !terminalChildrenOf(app->processIdentifier()).empty(); }));
  // Keys reach the terminal once a command typed there has run.
  const std::string typed = directory + "/typed.txt";
  const std::string window = e2e::mainWindow(app->processIdentifier());
  ASSERT_FALSE(window.empty()) << "the window never showed";
  std::string command = "xdotool windowfocus --sync " + window + " mousemove --window " + window +
                        " 1000 400 click 1 && xdotool type --delay 30 'echo typed > " + typed +
                        "' && xdotool key Return";
  bool focused = false;
  for (int attempt = 0; attempt < 3 && !focused; attempt++) {
    ASSERT_EQ(std::system(command.c_str()), 0);
    focused = waitFor([&] { return readFile(typed) == "typed\n"; }, std::chrono::seconds(5));
  }
  ASSERT_TRUE(focused) << "keys typed into the window did not reach the terminal";
  ASSERT_EQ(std::system("xdotool key ctrl+shift+q"), 0);
  ASSERT_TRUE(app->waitUntilExit(std::chrono::seconds(10))) << "the application did not quit";
  auto status = app->terminationStatus();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST_F(TaskTerminal, TheSidebarWidthThePageSetsIsKeptClamped) {
  ASSERT_TRUE(waitFor([&] {
    auto current = state();
    return current.is_object() && current.value("event_streams", 0) >= 1;
  }));
  const std::string defaults = directory + "/config/zorvel/defaults.conf";
  tellPage({{"sidebar_width", 420}});
  EXPECT_TRUE(waitFor([&] { return readFile(defaults).find("zorvel.sidebarWidth=420") != std::string::npos; }));
  tellPage({{"sidebar_width", 9000}});
  EXPECT_TRUE(waitFor([&] { return readFile(defaults).find("zorvel.sidebarWidth=560") != std::string::npos; }));
}

}  // namespace task_terminal_e2e

namespace task_terminal_e2e {

// Development builds keep a diagnostic line for every step of a layout change; a window resized
// while a terminal shows goes through its begin, end and settle steps, and the settle step finds
// the terminal's pseudo-terminal at the grid the view shows.
TEST_F(TaskTerminal, AResizedWindowOrSidebarSettlesItsTerminalAndLogsEachStep) {
  if (std::string(ZORVEL_CHANNEL) != "development") GTEST_SKIP() << "only development builds keep the layout log";
  ASSERT_TRUE(waitFor([&] {
    auto current = state();
    return current.is_object() && current.value("event_streams", 0) >= 1;
  }));
  tellPage({{"start_task", true}});
  ASSERT_TRUE(waitFor([&] { return !terminalChildrenOf(app->processIdentifier()).empty(); }));

  const std::string log = directory + "/data/terminal-resize.log";
  ASSERT_TRUE(waitFor([&] { return readFile(log).find("[launch]") != std::string::npos; }))
      << "the window's launch layout was not written";
  const std::string window = e2e::mainWindow(app->processIdentifier());
  ASSERT_FALSE(window.empty()) << "the window never showed";
  ASSERT_EQ(std::system(("xdotool windowsize " + window + " 1300 760").c_str()), 0);
  ASSERT_TRUE(waitFor([&] { return readFile(log).find("Zorvel terminal resize [settled]") != std::string::npos; }))
      << readFile(log);
  std::string text = readFile(log);
  auto begin = text.find("Zorvel terminal resize [window-begin]");
  auto end = text.find("Zorvel terminal resize [window-end]");
  auto settled = text.find("Zorvel terminal resize [settled]");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  EXPECT_LT(begin, end);
  EXPECT_LT(end, settled);

  // "... grid=CxR pty=CxR ioctl=0 ...": the child sees the size the view shows.
  auto line = text.substr(settled, text.find('\n', settled) - settled);
  auto grid = line.find(" grid=");
  auto pty = line.find(" pty=");
  ASSERT_NE(grid, std::string::npos);
  ASSERT_NE(pty, std::string::npos);
  EXPECT_EQ(line.substr(grid + 6, line.find(' ', grid + 1) - grid - 6),
            line.substr(pty + 5, line.find(' ', pty + 1) - pty - 5))
      << line;
  EXPECT_NE(line.find(" ioctl=0 "), std::string::npos) << line;
  EXPECT_EQ(line.find(" pty=0x0 "), std::string::npos) << line;
  EXPECT_NE(text.find("Zorvel window layout [launch] fullscreen=false"), std::string::npos);
  EXPECT_NE(text.find(" safeAreaCompatibility=missing screen=("), std::string::npos) << text;

  // A sidebar drag: its widths move the terminal, the one that ends it is kept, and it settles too.
  const std::string defaults = directory + "/config/zorvel/defaults.conf";
  tellPage({{"post", {{"kind", "sidebar-resize-start"}}}});
  tellPage({{"post", {{"kind", "sidebar-width"}, {"width", 420}}}});
  tellPage({{"post", {{"kind", "sidebar-resize-end"}, {"width", 430}}}});
  ASSERT_TRUE(waitFor([&] {
    return readFile(log).find("Zorvel terminal resize [end] sidebar=430.0") != std::string::npos;
  })) << readFile(log);
  EXPECT_NE(readFile(log).find("Zorvel terminal resize [begin] sidebar=360.0"), std::string::npos);
  EXPECT_NE(readFile(defaults).find("zorvel.sidebarWidth=430"), std::string::npos);
  EXPECT_TRUE(waitFor([&] {
    auto now = readFile(log);
    return now.find("Zorvel terminal resize [settled] sidebar=430.0") != std::string::npos;
  }));
}

}  // namespace task_terminal_e2e

namespace task_terminal_e2e {

// A task's program that ignores both the hang-up and the request to end would outlive the
// application that quits before its grace period is over, and go on working with nobody to see it.
TEST(TaskTerminalQuit, QuittingEndsATaskProgramThatIgnoresTheRequestToEnd) {
  e2e::DesktopRun run;
  const std::string program = run.directory + "/stubborn-agent";
  std::ofstream(program) << "#!/bin/sh\ntrap '' TERM HUP\nwhile :; do sleep 1; done\n";
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  run.environment["ZORVEL_REFCORE_SHELL"] = program;
  run.start();
  auto state = [&] { return json::parse(run.request("GET", "/__test/state").body, nullptr, false); };
  ASSERT_TRUE(waitFor([&] {
    auto current = state();
    return current.is_object() && current.value("event_streams", 0) >= 1;
  })) << "the page never opened its event stream";
  run.request("POST", "/__test/events", {{"data", json{{"start_task", true}}.dump()}});
  pid_t agent = 0;
  auto isAgent = [&] { return readFile("/proc/" + std::to_string(agent) + "/comm") == "stubborn-agent\n"; };
  ASSERT_TRUE(waitFor([&] {
    auto children = terminalChildrenOf(run.app->processIdentifier());
    agent = children.empty() ? 0 : children[0];
    return agent != 0 && isAgent();
  })) << "the task's program never started";

  run.stop();
  EXPECT_TRUE(waitFor([&] { return !e2e::processExists(agent) || !isAgent(); }, std::chrono::seconds(10)))
      << "the task's program outlived the application";
  if (e2e::processExists(agent) && isAgent()) ::kill(-agent, SIGKILL);
}

}  // namespace task_terminal_e2e
