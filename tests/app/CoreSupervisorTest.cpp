#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "app/CoreRestartBackoff.h"
#include "app/CoreSupervisor.h"
#include "app/RuntimeAuthority.h"
#include "platform/ChildProcess.h"
#include "tests/MainLoop.h"

namespace zorvel {
namespace {

// A start over a request, run in the background as the application runs it, with the events
// recorded on the main thread and bound to a supervisor's rules.
struct StartRecord {
  DesktopRuntimeAuthority authority;
  CoreSupervisor supervisor{authority};
  int installs = 0;
  std::vector<std::string> failures;
  std::vector<CoreProcess> terminated;

  CoreLaunchEvents events() {
    return CoreLaunchEvents{
        [this](const CoreProcess& process) {
          ++installs;
          return supervisor.install(process);
        },
        [this](const CoreProcess& process) { return supervisor.markReady(process); },
        [](const CoreProcess&) {},
        [] {},
        [this](const CoreProcess& process) {
          supervisor.didTerminate(process);
          terminated.push_back(process);
        },
        [this](const std::string& reason) { failures.push_back(reason); },
    };
  }

  // Runs the start to its end, serving the main thread meanwhile, then lets its last reports in.
  void run(const std::string& executable, std::vector<std::string> arguments, bool expectExit) {
    // As in the application: the bootstrap line may meet a core that has already gone.
    ::signal(SIGPIPE, SIG_IGN);
    // Port 9 on the loopback has no listener: every readiness probe is refused at once.
    auto request = supervisor.request(executable, std::move(arguments), {"PATH=/usr/bin:/bin"}, 9);
    std::atomic<bool> done{false};
    std::thread start([&done, request, reports = events()] {
      launchCore(request, reports);
      done = true;
      wakeMain();
    });
    spinUntil([&] { return done.load(); });
    start.join();
    if (expectExit) spinUntil([&] { return !terminated.empty() && !failures.empty(); });
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }

  // The events come through the main queue, which wakes the main context.
  static void spinUntil(const std::function<bool()>& condition) { runMainUntil(condition, std::chrono::seconds(30)); }
};

TEST(CoreSupervisor, AStartThatFailsIsReportedOnceWithItsReasonAndLeavesNoCore) {
  StartRecord missing;
  missing.run("/nonexistent/zorvel-runner", {}, false);
  EXPECT_EQ(missing.installs, 0);
  ASSERT_EQ(missing.failures.size(), 1u);
  EXPECT_FALSE(missing.failures[0].empty());

  StartRecord failing;
  failing.run("/bin/sh", {"-c", "echo 'cannot open the data folder' >&2; exit 3"}, true);
  ASSERT_EQ(failing.failures.size(), 1u);
  EXPECT_NE(failing.failures[0].find("cannot open the data folder"), std::string::npos) << failing.failures[0];
  EXPECT_FALSE(failing.supervisor.hasReadyCore());
  EXPECT_TRUE(failing.supervisor.mayStart()) << "an exited core is not left current";
}

TEST(CoreSupervisor, AStartWhileQuittingIsNotInstalledEndsTheCoreAndReportsNothing) {
  StartRecord quitting;
  quitting.supervisor.beginTermination();
  quitting.run("/bin/sh", {"-c", "exec sleep 30"}, false);
  StartRecord::spinUntil([&] { return !quitting.terminated.empty(); });
  ASSERT_EQ(quitting.terminated.size(), 1u);
  EXPECT_FALSE(quitting.terminated[0]->isRunning());
  EXPECT_EQ(quitting.installs, 1);
  EXPECT_TRUE(quitting.failures.empty());
  EXPECT_FALSE(quitting.supervisor.mayStart());
}

}  // namespace
}  // namespace zorvel

namespace zorvel {

TEST(CoreRestartBackoff, QuickExitsInARowDoubleTheWaitUpToItsBoundAndASteadyRunResetsIt) {
  using namespace std::chrono_literals;
  CoreRestartBackoff restarts;
  auto now = CoreRestartBackoff::Clock::time_point{} + 1h;
  auto quickExit = [&] {
    restarts.coreBecameReady(now);
    now += 2s;
    return restarts.delayAfterExit(now);
  };
  EXPECT_EQ(quickExit(), 250ms);
  EXPECT_EQ(quickExit(), 500ms);
  EXPECT_EQ(quickExit(), 1000ms);
  for (int i = 0; i < 40; ++i) quickExit();
  EXPECT_EQ(quickExit(), 30000ms);

  restarts.coreBecameReady(now);
  now += 61s;
  EXPECT_EQ(restarts.delayAfterExit(now), 250ms) << "a core that ran a minute did not fail at its start";
  EXPECT_EQ(restarts.quickExitsInARow(), 0);
  EXPECT_EQ(quickExit(), 250ms);
}

}  // namespace zorvel
