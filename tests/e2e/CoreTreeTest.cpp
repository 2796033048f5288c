// What the core starts ends with it. A worker it forked keeps the core's listening socket, and
// left running after the core has gone it holds the port: the next core could not listen there,
// and the application would stay without one until the user found and killed the worker.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>

#include "tests/e2e/DesktopHarness.h"

using e2e::DesktopRun;
using namespace std::chrono_literals;

namespace {

bool failed(const DesktopRun& run) { return run.log().find("could not start") != std::string::npos; }

size_t readyCores(const DesktopRun& run) {
  size_t ready = 0;
  const std::string log = run.log();
  for (size_t at = log.find("is ready"); at != std::string::npos; at = log.find("is ready", at + 1)) ++ready;
  return ready;
}

// The worker the core started, held by a descriptor while it is still the core's.
class Worker {
 public:
  explicit Worker(const DesktopRun& run) {
    EXPECT_TRUE(run.waitUntil([&] { return !run.ofType("child").empty(); }, 20s)) << run.log();
    auto children = run.ofType("child");
    if (children.empty()) return;
    pid = children.front().value("pid", 0);
    process = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  }
  ~Worker() {
    if (process < 0) return;
    ::syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0);
    ::close(process);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  bool running() const { return process >= 0 && !endsWithin(0ms); }
  bool endsWithin(std::chrono::milliseconds wait) const {
    pollfd ended{process, POLLIN, 0};
    return ::poll(&ended, 1, static_cast<int>(wait.count())) == 1;
  }

  pid_t pid = 0;

 private:
  int process = -1;
};

}  // namespace

TEST(CoreTree, ACrashedCoresWorkerEndsWithItAndTheNextCoreGetsThePort) {
  // In the core's process group, in a group of its own within the core's session, and in a session
  // of its own, which the core's end leaves without a parent.
  for (const char* mode : {"group", "own-group", "own-session"}) {
    DesktopRun run(std::map<std::string, std::string>{{"ZORVEL_REFCORE_CHILD_KEEPS_PORT", mode}});
    run.start();
    ASSERT_TRUE(run.waitUntil([&] { return readyCores(run) == 1; }, 30s)) << run.log();
    Worker worker(run);
    ASSERT_TRUE(worker.running()) << mode;

    run.killCore(run.corePIDs().at(0));
    EXPECT_TRUE(run.waitUntil([&] { return readyCores(run) == 2 || failed(run); }, 30s)) << run.log();
    EXPECT_FALSE(failed(run)) << mode << ": the restarted core could not listen\n" << run.log();
    EXPECT_TRUE(worker.endsWithin(5s)) << mode << ": the worker outlived its core";
    EXPECT_NE(run.log().find("left 1 processes running"), std::string::npos) << run.log();
  }
}

TEST(CoreTree, AfterAQuitNothingTheCoreStartedRunsAndARelaunchConnects) {
  struct Case {
    const char* mode;
    bool crashFirst;  // the core is killed just before the quit, as by a crash
  };
  // A worker in a session of its own has left the core's, but not before the quit took note of it.
  for (auto item : {Case{"group", true}, Case{"own-session", false}}) {
    DesktopRun run(std::map<std::string, std::string>{{"ZORVEL_REFCORE_CHILD_KEEPS_PORT", item.mode}});
    run.start();
    ASSERT_TRUE(run.waitUntil([&] { return readyCores(run) == 1; }, 30s)) << run.log();
    Worker worker(run);
    ASSERT_TRUE(worker.running()) << item.mode;
    if (item.crashFirst) run.killCore(run.corePIDs().at(0));
    run.stop();
    EXPECT_TRUE(worker.endsWithin(5s)) << item.mode << ": the worker outlived the application";

    // A relaunch on the same port connects to a core of its own.
    const size_t readyBefore = readyCores(run);
    run.environment.erase("ZORVEL_REFCORE_CHILD_KEEPS_PORT");
    run.start();
    EXPECT_TRUE(run.waitUntil([&] { return readyCores(run) > readyBefore || failed(run); }, 30s)) << run.log();
    EXPECT_FALSE(failed(run)) << item.mode << ": the relaunch could not start its core\n" << run.log();
  }
}

// Task terminals are the application's, not the core's: a core's end takes none of them along.
TEST(CoreTree, ACrashedCoreTakesNoTaskTerminalWithIt) {
  DesktopRun run(std::map<std::string, std::string>{{"ZORVEL_REFCORE_CHILD_KEEPS_PORT", "group"},
                                                    {"ZORVEL_REFCORE_SHELL", "/bin/sh"}});
  run.start();
  ASSERT_TRUE(e2e::waitUntil(
      [&] {
        auto state = nlohmann::json::parse(run.request("GET", "/__test/state").body, nullptr, false);
        return state.is_object() && state.value("event_streams", 0) >= 1;
      },
      30s))
      << "the page never opened its event stream";
  // The reference page carries out commands that arrive on its event stream.
  run.request("POST", "/__test/events", {{"data", nlohmann::json{{"start_task", true}}.dump()}});
  std::vector<pid_t> terminals;
  ASSERT_TRUE(e2e::waitUntil(
      [&] {
        terminals = e2e::terminalChildrenOf(run.app->processIdentifier());
        return !terminals.empty();
      },
      30s));
  const int terminal = static_cast<int>(::syscall(SYS_pidfd_open, terminals.front(), 0));
  Worker worker(run);

  run.killCore(run.corePIDs().at(0));
  ASSERT_TRUE(run.waitUntil([&] { return readyCores(run) == 2 || failed(run); }, 30s)) << run.log();
  EXPECT_TRUE(worker.endsWithin(5s));
  pollfd ended{terminal, POLLIN, 0};
  EXPECT_EQ(::poll(&ended, 1, 0), 0) << "the task terminal's program ended with the core";
  ::close(terminal);
}
