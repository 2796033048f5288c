#include <glib.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
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

TEST(CoreSupervisor, RequestsGoToTheReadyCoreOnlyAndToNoneFromItsExitUntilTheNextIsReady) {
  DesktopRuntimeAuthority authority;
  CoreSupervisor supervisor{authority};
  auto readyCore = supervisor.readyCoreProcess();
  platform::ChildProcess::Options options;
  options.executable = "/bin/sleep";
  options.arguments = {"30"};
  auto first = platform::ChildProcess::launch(options, nullptr);
  auto second = platform::ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(first && second);

  ASSERT_TRUE(supervisor.install(first));
  EXPECT_EQ(readyCore(), 0) << "a core that has not answered as ready";
  ASSERT_TRUE(supervisor.markReady(first));
  EXPECT_EQ(readyCore(), first->processIdentifier());
  first->kill();
  ASSERT_TRUE(first->waitUntilExit(std::chrono::seconds(5)));
  EXPECT_TRUE(supervisor.didTerminate(first));
  EXPECT_EQ(readyCore(), 0);
  ASSERT_TRUE(supervisor.install(second));
  EXPECT_EQ(readyCore(), 0);
  ASSERT_TRUE(supervisor.markReady(second));
  EXPECT_EQ(readyCore(), second->processIdentifier());
  second->terminateAndReap(std::chrono::seconds(2));
}

// Another process on the core's port, answering the probe as the core would (its pid is anyone's to
// read in /proc), is never sent the probe nor taken for the core.
TEST(CoreSupervisor, TheProbeCountsNoAnswerButFromTheCoresOwnSocket) {
  platform::ChildProcess::Options options;
  options.executable = "/bin/sleep";
  options.arguments = {"30"};
  auto core = platform::ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(core);

  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  std::mutex mutex;
  std::condition_variable connected;
  std::string received;
  int connections = 0;
  std::thread impostor([&] {
    const std::string body = "{\"kind\": \"zorvel-desktop\", \"protocol_version\": 3, \"pid\": " +
                             std::to_string(core->processIdentifier()) + "}";
    for (int connection; (connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
      std::string request;
      char chunk[4096];
      pollfd readable{connection, POLLIN, 0};
      while (request.find("\r\n\r\n") == std::string::npos && ::poll(&readable, 1, 5000) == 1) {
        ssize_t got = ::read(connection, chunk, sizeof chunk);
        if (got <= 0) break;
        request.append(chunk, static_cast<size_t>(got));
      }
      if (!request.empty()) {
        std::string answer =
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body;
        [[maybe_unused]] auto written = ::write(connection, answer.data(), answer.size());
      }
      ::close(connection);
      std::lock_guard lock(mutex);
      received += request;
      ++connections;
      connected.notify_all();
    }
  });

  DesktopRuntimeAuthority authority;
  CoreSupervisor supervisor{authority};
  auto request = supervisor.request("/bin/true", {}, {}, ntohs(address.sin_port));
  // A few rounds of the probe are enough to tell; quitting then ends it.
  std::thread quit([&] {
    {
      std::unique_lock lock(mutex);
      connected.wait_for(lock, std::chrono::seconds(10), [&] { return connections >= 2; });
    }
    supervisor.beginTermination();
  });
  EXPECT_FALSE(waitForCoreReadiness(request, core));
  quit.join();
  ::shutdown(listener, SHUT_RDWR);
  impostor.join();
  ::close(listener);
  std::lock_guard lock(mutex);
  EXPECT_GE(connections, 2);
  EXPECT_EQ(received, "") << "the probe reached another process";
  core->terminateAndReap(std::chrono::seconds(2));
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
