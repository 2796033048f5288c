#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "platform/GLibPtr.h"
#include "tests/TemporaryFolder.h"
#include "tests/e2e/DesktopHarness.h"

using e2e::commandOutput;
using e2e::DesktopRun;
using e2e::waitUntil;
using namespace std::chrono_literals;

namespace {

bool logHas(const DesktopRun& run, const std::string& text) { return run.log().find(text) != std::string::npos; }

int activations(const DesktopRun& run) {
  const std::string log = run.log(), line = "activated by another launch";
  int count = 0;
  for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + line.size())) ++count;
  return count;
}

// A session bus of its own, as another login session of the same user has. It listens in a folder
// of the test's, as the session bus's own configuration has it listen in /tmp whatever TMPDIR says.
class PrivateSessionBus {
 public:
  PrivateSessionBus() {
    platform::ChildProcess::Options options;
    options.executable = "/usr/bin/dbus-daemon";
    platform::GCharPtr escaped(g_dbus_address_escape_value(folder.path().c_str()));
    options.arguments = {"--session", "--nofork", "--print-address=1",
                         std::string("--address=unix:dir=") + escaped.get()};
    options.output = platform::ChildProcess::Stream::pipe;
    daemon = platform::ChildProcess::launch(options, nullptr);
    if (!daemon) return;
    char byte = 0;
    while (::read(daemon->outputDescriptor(), &byte, 1) == 1 && byte != '\n') address.push_back(byte);
  }
  ~PrivateSessionBus() {
    if (daemon) daemon->terminateAndReap(2s);
  }
  testing::TemporaryFolder folder{"zorvel-other-session"};
  std::string address;

 private:
  std::shared_ptr<platform::ChildProcess> daemon;
};

void expectExitedWithZero(platform::ChildProcess& process) {
  auto status = process.terminationStatus();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

}  // namespace

TEST(SingleInstance, ASecondLaunchInTheSameSessionHandsOverToTheFirstAndSaysSo) {
  DesktopRun run;
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 60s)) << run.log();
  DesktopRun secondRun;
  auto second = secondRun.launch();
  ASSERT_TRUE(second);
  ASSERT_TRUE(second->waitUntilExit(60s));
  expectExitedWithZero(*second);
  EXPECT_TRUE(secondRun.waitUntil([&] { return logHas(secondRun, "already running"); }, 10s)) << secondRun.log();
  EXPECT_TRUE(secondRun.starts().empty()) << "the second instance started a core";
  EXPECT_TRUE(run.app->isRunning());
  EXPECT_TRUE(run.waitUntil([&] { return logHas(run, "activated by another launch"); }, 30s)) << run.log();
  EXPECT_FALSE(logHas(secondRun, "did not unregister")) << secondRun.log();
  // A third launch's activation comes after all of the second's, so once it is seen, the second's
  // were all seen too: each launch activates the running instance once.
  DesktopRun thirdRun;
  auto third = thirdRun.launch();
  ASSERT_TRUE(third);
  ASSERT_TRUE(third->waitUntilExit(60s));
  EXPECT_TRUE(run.waitUntil([&] { return activations(run) >= 2; }, 30s)) << run.log();
  EXPECT_EQ(activations(run), 2) << run.log();
}

// The desktop shows a launch as busy until the window it started comes forward with the launch's
// startup id, and raises a window only for a launch that carries one; a launch that hands over
// passes its id on to the running instance.
TEST(SingleInstance, TheRunningInstanceComesForwardWithTheStartupIdOfALaunchThatHandsOver) {
  DesktopRun run;
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 60s)) << run.log();
  const std::string pid = std::to_string(run.app->processIdentifier());
  std::string leader;
  // The id is kept on the window that leads the application's windows.
  ASSERT_TRUE(waitUntil(
      [&] {
        auto windows = commandOutput("xdotool search --all --onlyvisible --pid " + pid + " --name '^Zorvel$'");
        if (windows.empty()) return false;
        auto property = commandOutput("xprop -id " + windows.substr(0, windows.find('\n')) + " WM_CLIENT_LEADER");
        auto at = property.find("# ");
        if (at == std::string::npos) return false;
        leader = property.substr(at + 2, property.find('\n', at) - at - 2);
        return !leader.empty();
      },
      60s))
      << run.log();
  DesktopRun secondRun(std::map<std::string, std::string>{{"DESKTOP_STARTUP_ID", "zorvel-handover_TIME42"}});
  auto second = secondRun.launch();
  ASSERT_TRUE(second);
  ASSERT_TRUE(second->waitUntilExit(60s));
  EXPECT_TRUE(waitUntil(
      [&] {
        return commandOutput("xprop -id " + leader + " _NET_STARTUP_ID").find("zorvel-handover_TIME42") !=
               std::string::npos;
      },
      30s))
      << commandOutput("xprop -id " + leader + " _NET_STARTUP_ID");
}

TEST(SingleInstance, AnInstanceOfAnotherSessionNeverStopsALaunch) {
  PrivateSessionBus otherSession;
  platform::GCharPtr folder(g_dbus_address_escape_value(otherSession.folder.path().c_str()));
  ASSERT_EQ(otherSession.address.rfind(std::string("unix:path=") + folder.get() + "/", 0), 0u) << otherSession.address;
  DesktopRun other({{"DBUS_SESSION_BUS_ADDRESS", otherSession.address}});
  other.start();
  ASSERT_TRUE(other.waitUntil([&] { return logHas(other, "is ready"); }, 60s)) << other.log();

  DesktopRun run;
  run.start();
  EXPECT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 60s)) << run.log();
  EXPECT_TRUE(run.app->isRunning());
  EXPECT_TRUE(other.app->isRunning());
  EXPECT_FALSE(logHas(other, "activated by another launch"));
}

TEST(SingleInstance, AnInstanceThatDoesNotAnswerIsPassedOver) {
  DesktopRun hung;
  hung.start();
  ASSERT_TRUE(hung.waitUntil([&] { return logHas(hung, "is ready"); }, 60s)) << hung.log();
  ::kill(hung.app->processIdentifier(), SIGSTOP);

  DesktopRun run;
  run.start();
  bool started = run.waitUntil([&] { return logHas(run, "is ready"); }, 90s);
  ::kill(hung.app->processIdentifier(), SIGCONT);
  EXPECT_TRUE(started) << run.log();
  EXPECT_TRUE(logHas(run, "Could not reach the Zorvel already running")) << run.log();
  EXPECT_TRUE(run.app->isRunning());
}
