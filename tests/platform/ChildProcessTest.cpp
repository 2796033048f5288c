#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>

#include "platform/ChildProcess.h"
#include "platform/RunningApplications.h"
#include "tests/Programs.h"

using platform::ChildProcess;
using namespace std::chrono_literals;

namespace {

std::string readAll(int fd) {
  std::string text;
  char chunk[256];
  ssize_t got;
  while ((got = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(got));
  return text;
}

bool isZombieOrGone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;
  return line[line.rfind(')') + 2] == 'Z';
}

}  // namespace

TEST(ChildProcess, RunsWithChosenArgumentsEnvironmentAndPipes) {
  ChildProcess::Options options;
  options.executable = "/bin/sh";
  options.arguments = {"-c", "read line; echo \"$line $GREETING\"; echo oops >&2; exit 4"};
  options.environment = std::vector<std::string>{"GREETING=hello"};
  options.input = options.output = options.error = ChildProcess::Stream::pipe;
  auto child = ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(child);
  ASSERT_EQ(::write(child->inputDescriptor(), "ping\n", 5), 5);
  child->closeInput();
  EXPECT_EQ(readAll(child->outputDescriptor()), "ping hello\n");
  EXPECT_EQ(readAll(child->errorDescriptor()), "oops\n");
  ASSERT_TRUE(child->waitUntilExit(5s));
  EXPECT_EQ(WEXITSTATUS(*child->terminationStatus()), 4);
  // Our ends never leak into the child.
  EXPECT_NE(::fcntl(child->outputDescriptor(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST(ChildProcess, AFailedStartIsReportedNotMistakenForAnExit) {
  for (bool ownSession : {false, true}) {
    ChildProcess::Options options;
    options.executable = "/nonexistent/program";
    options.ownSession = ownSession;
    std::string failure;
    EXPECT_FALSE(ChildProcess::launch(options, &failure));
    EXPECT_NE(failure.find("No such file or directory"), std::string::npos) << failure;
  }
}

TEST(ChildProcess, ExitIsReapedAndReportedOnceEvenWhenAlreadyOver) {
  ChildProcess::Options options;
  options.executable = "/bin/true";
  auto child = ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(child);
  pid_t pid = child->processIdentifier();
  ASSERT_TRUE(child->waitUntilExit(5s));
  EXPECT_TRUE(isZombieOrGone(pid));
  EXPECT_FALSE(std::ifstream("/proc/" + std::to_string(pid) + "/stat").good() && !isZombieOrGone(pid));
  std::atomic<int> calls = 0;
  child->setTerminationHandler([&] { ++calls; });  // already over: called at once
  EXPECT_EQ(calls, 1);
  child->terminate();  // the id may be someone else's now; nothing is sent
}

TEST(ChildProcess, TerminateAndReapKillsAChildThatIgnoresTheRequest) {
  ChildProcess::Options options;
  options.executable = "/bin/sh";
  options.arguments = {"-c", "trap '' TERM; echo ready; while :; do sleep 1; done"};
  options.output = ChildProcess::Stream::pipe;
  auto child = ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(child);
  char c;
  ASSERT_EQ(::read(child->outputDescriptor(), &c, 1), 1);
  std::promise<void> handled;
  child->setTerminationHandler([&] { handled.set_value(); });
  auto started = std::chrono::steady_clock::now();
  child->terminateAndReap(300ms);
  EXPECT_FALSE(child->isRunning());
  EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
  EXPECT_TRUE(WIFSIGNALED(*child->terminationStatus()));
  // The handler runs on the watcher thread just after the waiters are woken.
  EXPECT_EQ(handled.get_future().wait_for(5s), std::future_status::ready);
}

TEST(ChildProcess, ChildrenStartWithDefaultSignalsEvenWhenWeIgnoreSomeAndFindOurselves) {
  auto previous = ::signal(SIGPIPE, SIG_IGN);
  ChildProcess::Options options;
  options.executable = "/bin/sh";
  options.arguments = {"-c", "grep SigIgn /proc/self/status"};
  options.output = ChildProcess::Stream::pipe;
  auto child = ChildProcess::launch(options, nullptr);
  ::signal(SIGPIPE, previous);
  ASSERT_TRUE(child);
  std::string ignored = readAll(child->outputDescriptor());
  // SIGPIPE is signal 13: bit 12 of the mask, the "1" in ...1000.
  auto mask = std::stoull(ignored.substr(ignored.find(':') + 1), nullptr, 16);
  EXPECT_EQ(mask & (1ull << 12), 0u) << ignored;

  bool foundSelf = false;
  for (auto& running : platform::runningApplications()) {
    if (running.processIdentifier == ::getpid()) {
      foundSelf = running.executablePath == platform::ownExecutablePath() && !running.isTerminated;
    }
  }
  EXPECT_TRUE(foundSelf);
}

TEST(ChildProcess, ChildrenGetOnlyTheirStandardStreamsNotOurOtherDescriptors) {
  int stray = ::open("/dev/null", O_RDONLY);  // without close-on-exec, as a library may leave one
  ASSERT_GE(stray, 3);
  // Under a keeper too: none of the keeper's own pipes reaches the child.
  for (bool ownSession : {false, true}) {
    ChildProcess::Options options;
    options.executable = "/bin/ls";
    options.arguments = {"/proc/self/fd"};
    options.input = ChildProcess::Stream::null;
    options.output = ChildProcess::Stream::pipe;
    options.ownSession = ownSession;
    auto child = ChildProcess::launch(options, nullptr);
    ASSERT_TRUE(child);
    // ls itself holds one more, the directory it lists.
    EXPECT_EQ(readAll(child->outputDescriptor()), "0\n1\n2\n3\n") << ownSession;
  }
  ::close(stray);
}

namespace {

// The process ids a shell prints, one a line, held by descriptor as they are read.
std::vector<int> heldProcesses(int output, int count) {
  std::vector<int> held;
  std::string line;
  char c;
  while (static_cast<int>(held.size()) < count && ::read(output, &c, 1) == 1) {
    if (c != '\n') {
      line += c;
      continue;
    }
    held.push_back(platform::openProcessDescriptor(std::stoi(line)));
    line.clear();
  }
  return held;
}

bool endsWithin(int process, std::chrono::milliseconds wait) {
  pollfd ended{process, POLLIN, 0};
  return ::poll(&ended, 1, static_cast<int>(wait.count())) == 1;
}

}  // namespace

// What a child with a session of its own started ends when the child does, however it ends, and
// also what left the session, even where its parent had gone first; a process started beside it
// does not.
TEST(ChildProcess, WhatAChildWithASessionOfItsOwnStartedEndsWithIt) {
  testing::programs::require("setsid");
  struct Case {
    const char* name;
    const char* script;  // prints the ids of what it started, then waits
    bool crash;          // killed, rather than asked to end
    size_t ended;        // the shell between counts too
  };
  const Case cases[] = {
      // In the session, and one that left it but whose parent is there still.
      {"crash", "sleep 1000 & echo $!; sh -c 'setsid sleep 1000 & echo $!; wait' & wait", true, 3},
      // Its own children that left the session, one of them after its parent had ended.
      {"crash, left", "setsid sleep 1000 & echo $!; sh -c 'setsid sleep 1000 & echo $!'; wait", true, 2},
      {"quit", "trap 'exit 3' TERM; setsid sleep 1000 & echo $!; sleep 1000 & echo $!; wait", false, 2},
  };
  for (const auto& item : cases) {
    ChildProcess::Options beside;
    beside.executable = "/bin/sleep";
    beside.arguments = {"1000"};
    auto sibling = ChildProcess::launch(beside, nullptr);
    ASSERT_TRUE(sibling);

    ChildProcess::Options options;
    options.executable = "/bin/sh";
    options.arguments = {"-c", item.script};
    options.output = ChildProcess::Stream::pipe;
    options.ownSession = true;
    auto child = ChildProcess::launch(options, nullptr);
    ASSERT_TRUE(child);
    auto started = heldProcesses(child->outputDescriptor(), 2);
    ASSERT_EQ(started.size(), 2u) << item.name;
    if (item.crash) {
      child->kill();
    } else {
      child->terminate();
    }
    ASSERT_TRUE(child->waitUntilExit(10s)) << item.name;
    for (int process : started) {
      EXPECT_TRUE(endsWithin(process, 5s)) << item.name << ": a process it started outlived it";
      ::syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0);
      ::close(process);
    }
    EXPECT_EQ(child->processesEndedWithIt(), item.ended) << item.name;
    // The status is the child's own.
    const int status = *child->terminationStatus();
    if (item.crash) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << item.name << ": " << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3) << item.name << ": " << status;
    }
    EXPECT_TRUE(sibling->isRunning()) << item.name << ": a process beside it was ended too";
    sibling->terminateAndReap(2s);
  }
}

// Killed outright, the process that started the child cannot end what the child left: the child
// ends on its own (here when its input closes), and what it started, in a session of its own, ends
// with it.
TEST(ChildProcess, WhatTheChildStartedEndsWithItAlsoWhenItsStarterIsKilled) {
  testing::programs::require("setsid");
  int report[2];
  ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
  const pid_t starter = ::fork();
  ASSERT_GE(starter, 0);
  if (starter == 0) {
    ::dup2(report[1], STDOUT_FILENO);
    ChildProcess::Options options;
    options.executable = "/bin/sh";
    options.arguments = {"-c", "echo $$; setsid sleep 1000 & echo $!; read line"};
    options.input = ChildProcess::Stream::pipe;
    options.ownSession = true;
    auto child = ChildProcess::launch(options, nullptr);
    if (!child) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(report[1]);
  auto started = heldProcesses(report[0], 2);
  ::close(report[0]);
  ::kill(starter, SIGKILL);
  ::waitpid(starter, nullptr, 0);
  ASSERT_EQ(started.size(), 2u);
  EXPECT_TRUE(endsWithin(started[0], 5s)) << "the child outlived its starter";
  EXPECT_TRUE(endsWithin(started[1], 5s)) << "what the child started outlived it";
  for (int process : started) {
    ::syscall(SYS_pidfd_send_signal, process, SIGKILL, nullptr, 0);
    ::close(process);
  }
}
