#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <thread>

#include "ProcessTestSupport.h"
#include "Vantrelle/Terminal/ChildLocale.h"
#include "platform/Dispatch.h"
#include "tests/TemporaryFolder.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {

size_t openDescriptorCount() {
  size_t count = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) count++;
  return count;
}

bool processGone(pid_t pid) {
  // A zombie still has its /proc entry; only a reaped child loses it.
  return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

std::string withCarriageReturns(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

TEST(LocalProcess, OutputThenExitWithRawWaitStatus) {
  ProcessFixture f;
  f.runShell("printf hello; exit 3");
  EXPECT_GT(f.process->shellPid(), 0);
  ASSERT_TRUE(f.waitForExit());
  EXPECT_EQ(f.delegate->output, "hello");
  EXPECT_EQ(f.delegate->outputAtExit, 5u);
  EXPECT_EQ(f.delegate->exitCode, 3 << 8);
  EXPECT_FALSE(f.process->running());
  EXPECT_EQ(f.process->childfd(), -1);
}

TEST(LocalProcess, MissingExecutableExitsWith127) {
  ProcessFixture f;
  f.process->startProcess("/nonexistent/program");
  ASSERT_TRUE(f.waitForExit());
  EXPECT_EQ(f.delegate->exitCode, 127 << 8);
}

TEST(LocalProcess, ArgumentZeroEnvironmentAndDirectory) {
  ProcessFixture f;
  f.process->startProcess("/bin/sh", {"-c", "printf '%s|' \"$0\" \"$TERM\" \"$COLORTERM\" \"$LANG\" \"$PWD\""},
                          std::nullopt, "custom-name", "/tmp");
  ASSERT_TRUE(f.waitForExit());
  EXPECT_EQ(f.delegate->output, "custom-name|xterm-256color|truecolor|" + childLocale() + "|/tmp|");

  ProcessFixture g;
  g.runShell("printf '%s' \"$ONLY\"", std::vector<std::string>{"ONLY=this"});
  ASSERT_TRUE(g.waitForExit());
  EXPECT_EQ(g.delegate->output, "this");
}

TEST(LocalProcess, TheDefaultEnvironmentGivesTheChildAUtf8Locale) {
  ProcessFixture f;
  f.process->startProcess("/bin/sh", {"-c", "locale charmap"});
  ASSERT_TRUE(f.waitForExit());
  EXPECT_EQ(f.delegate->output, "UTF-8\r\n");
}

TEST(LocalProcess, StartWhileRunningIsIgnoredAndRestartAfterExitWorks) {
  ProcessFixture f;
  f.runShell("read line; printf 'first:%s' \"$line\"");
  pid_t first = f.process->shellPid();
  f.runShell("printf second");
  EXPECT_EQ(f.process->shellPid(), first);
  std::string input = "x\n";
  f.process->send({reinterpret_cast<const uint8_t*>(input.data()), input.size()});
  ASSERT_TRUE(f.waitForExit());
  EXPECT_NE(f.delegate->output.find("first:x"), std::string::npos);

  f.delegate->terminated = false;
  f.delegate->output.clear();
  f.runShell("printf again");
  EXPECT_NE(f.process->shellPid(), first);
  ASSERT_TRUE(f.waitForExit());
  EXPECT_EQ(f.delegate->output, "again");
}

TEST(LocalProcess, ChildStartsCleanWithNoInheritedDescriptorsOrSignalState) {
  int opened = open("/dev/null", O_RDONLY);
  int stray = dup2(opened, 57);  // deliberately not close-on-exec
  close(opened);
  ASSERT_EQ(stray, 57);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction oldPipe {
  }, oldHup{};
  sigaction(SIGPIPE, &ignore, &oldPipe);
  sigaction(SIGHUP, &ignore, &oldHup);
  sigset_t block, oldMask;
  sigemptyset(&block);
  sigaddset(&block, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &block, &oldMask);

  ProcessFixture f;
  f.process->startProcess("/bin/ls", {"/proc/self/fd"});
  ProcessFixture g;
  g.process->startProcess("/bin/grep", {"-E", "^Sig(Blk|Ign)", "/proc/self/status"});
  bool finished = f.waitForExit() && g.waitForExit();

  pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
  sigaction(SIGPIPE, &oldPipe, nullptr);
  sigaction(SIGHUP, &oldHup, nullptr);
  close(stray);
  ASSERT_TRUE(finished);
  // ls itself opens one descriptor to list the directory.
  std::istringstream listed(f.delegate->output);
  std::vector<std::string> fds{std::istream_iterator<std::string>(listed), {}};
  EXPECT_LE(fds.size(), 4u) << f.delegate->output;
  for (auto& fd : fds) EXPECT_NE(fd, std::to_string(stray));
  EXPECT_NE(g.delegate->output.find("SigBlk:\t0000000000000000"), std::string::npos) << g.delegate->output;
  EXPECT_NE(g.delegate->output.find("SigIgn:\t0000000000000000"), std::string::npos) << g.delegate->output;
}

TEST(LocalProcess, TerminateSignalsWithoutReportAndStillReaps) {
  ProcessFixture f;
  f.runShell("sleep 30");
  pid_t pid = f.process->shellPid();
  f.process->terminate();
  EXPECT_FALSE(f.process->running());
  EXPECT_EQ(f.process->childfd(), -1);
  EXPECT_TRUE(pumpMainUntil([&] { return processGone(pid); }, std::chrono::seconds(5)));
  // Nothing marks the moment the session's watcher is done with the reaped child, so the report
  // that must not come is given a while to show up.
  pumpMainUntil([] { return false; }, std::chrono::milliseconds(100));
  EXPECT_FALSE(f.delegate->terminated);

  std::string input = "ignored";
  f.process->send({reinterpret_cast<const uint8_t*>(input.data()), input.size()});
  EXPECT_EQ(f.process->sendCount(), 0u);
}

TEST(LocalProcess, ChildIgnoringTerminationIsKilledAfterGracePeriod) {
  ProcessFixture f;
  f.runShell("trap '' TERM HUP; printf ready; while :; do sleep 1; done");
  ASSERT_TRUE(pumpMainUntil([&] { return f.delegate->output == "ready"; }));
  pid_t pid = f.process->shellPid();
  f.process->terminate();
  EXPECT_TRUE(pumpMainUntil([&] { return processGone(pid); }, std::chrono::seconds(6)));
}

TEST(LocalProcess, ReleasedProcessLeavesNoZombieAndNoDescriptor) {
  // The main context opens its own wake-up descriptor on first use; count after that.
  platform::DispatchQueue::main();
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  size_t before = openDescriptorCount();
  pid_t pid;
  {
    ProcessFixture f;
    f.runShell("printf done");
    pid = f.process->shellPid();
    ASSERT_TRUE(f.waitForExit());
  }
  {
    ProcessFixture f;
    f.runShell("printf ready; sleep 30");
    ASSERT_TRUE(pumpMainUntil([&] { return f.delegate->output == "ready"; }));
  }  // released while running: the hang-up ends the shell, and it is reaped
  EXPECT_TRUE(
      pumpMainUntil([&] { return processGone(pid) && openDescriptorCount() <= before; }, std::chrono::seconds(5)))
      << openDescriptorCount() << " descriptors open, " << before << " before";
}

TEST(LocalProcess, FloodArrivesCompleteInOrderWithinBackPressureBound) {
  auto path = std::filesystem::temp_directory_path() / ("lp-flood-" + std::to_string(getpid()));
  std::string content;
  for (int i = 1; content.size() < 24'000'000; i++) content += std::to_string(i) + " abcdefghijklmnopqrstuvwxyz\n";
  std::ofstream(path, std::ios::binary) << content;

  ProcessFixture f;
  size_t maxPending = 0;
  bool stalled = false;
  f.delegate->onData = [&](std::span<const uint8_t> slice) {
    // The consumer first stalls until the reader has run ahead by half the bound: on a loaded
    // machine the pty alone can deliver no faster than the slow consumer below takes it, and the
    // bound would never be reached.
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         !stalled && f.process->pendingBytes() < LocalProcess::pendingHighWaterBytes / 2 &&
         std::chrono::steady_clock::now() < until;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stalled = true;
    maxPending = std::max(maxPending, f.process->pendingBytes());
    std::this_thread::sleep_for(std::chrono::nanoseconds(50 * slice.size()));  // a slow consumer, 20 MB/s
  };
  // A window's frames run at a priority below ordinary main-queue work; the slices of a flood must
  // leave room for them rather than hold the loop until the child is done.
  struct Frames {
    ProcessFixture* fixture;
    int whileFlooding = 0;
  } frames{&f};
  guint frameSource = g_timeout_add_full(
      G_PRIORITY_HIGH_IDLE + 20, 5,
      [](gpointer data) -> gboolean {
        auto* frames = static_cast<Frames*>(data);
        if (!frames->fixture->delegate->exitCode) frames->whileFlooding++;
        return G_SOURCE_CONTINUE;
      },
      &frames, nullptr);
  f.runShell("cat '" + path.string() + "'; exit 7");
  bool exited = f.waitForExit(std::chrono::seconds(60));
  g_source_remove(frameSource);
  std::filesystem::remove(path);
  ASSERT_TRUE(exited);
  EXPECT_GT(frames.whileFlooding, 2);
  std::string expected = withCarriageReturns(content);
  EXPECT_EQ(f.delegate->output.size(), expected.size());
  EXPECT_TRUE(f.delegate->output == expected);
  EXPECT_EQ(f.delegate->outputAtExit, expected.size());  // exit only after all output
  EXPECT_EQ(f.delegate->exitCode, 7 << 8);
  EXPECT_GE(maxPending, LocalProcess::pendingHighWaterBytes / 2);  // the consumer really was behind
  EXPECT_LE(maxPending, LocalProcess::pendingHighWaterBytes + LocalProcess::readSize);
}

TEST(LocalProcess, InputIsWrittenInOrderAndCounted) {
  ProcessFixture f;
  // Nothing is sent until the terminal is raw, or the line discipline would rework it.
  f.process->startProcess("/bin/sh", {"-c", "stty raw -echo; printf ready; head -c 20000"});
  ASSERT_TRUE(pumpMainUntil([&] { return f.delegate->output == "ready"; }));
  f.delegate->output.clear();
  std::string sent;
  for (int i = 0; i < 2000; i++) {
    std::string piece = std::to_string(i % 10) + "abcdefghi";
    sent += piece;
    f.process->send({reinterpret_cast<const uint8_t*>(piece.data()), piece.size()});
  }
  ASSERT_TRUE(f.waitForExit());
  EXPECT_EQ(f.delegate->output, sent);
  EXPECT_EQ(f.process->sendCount(), 2000u);
  EXPECT_TRUE(pumpMainUntil([&] { return f.process->total() == sent.size(); }));
}

// A program asking for reports faster than it reads them: the replies it has not read stay within
// their bound and the rest are dropped; once it reads, replies go through again.
TEST(LocalProcess, UnreadRepliesStayWithinTheirBound) {
  ::testing::TemporaryFolder folder;
  const std::string go = (folder.path() / "go").string();
  ProcessFixture f;
  f.runShell("stty raw -echo; printf ready; while [ ! -e '" + go + "' ]; do sleep 0.05; done; cat >/dev/null");
  ASSERT_TRUE(pumpMainUntil([&] { return f.delegate->output == "ready"; }));
  std::vector<uint8_t> reply(64 << 10, 'r');
  for (int i = 0; i < 64; i++) f.process->sendReply(reply);
  EXPECT_LE(f.process->queuedReplyBytes(), LocalProcess::maximumQueuedReplyBytes);
  EXPECT_GT(f.process->droppedReplies(), 0u);

  std::ofstream(go).put('\n');
  ASSERT_TRUE(pumpMainUntil([&] { return f.process->queuedReplyBytes() == 0; }));
  const size_t dropped = f.process->droppedReplies();
  f.process->sendReply(reply);
  EXPECT_EQ(f.process->droppedReplies(), dropped);
  f.process->terminate();
}

TEST(LocalProcess, WritesRacingWithTerminationAreHarmless) {
  std::vector<pid_t> pids;
  for (int round = 0; round < 20; round++) {
    ProcessFixture f;
    f.process->startProcess("/bin/sleep", {"10"});  // never reads, so writes block in the pty
    pids.push_back(f.process->shellPid());
    std::vector<uint8_t> block(8192, 'x');
    for (int i = 0; i < 4; i++) f.process->send(block);
    f.process->terminate();
    f.process->send(block);
  }
  // Every child ended and reaped: the sessions have played out their terminations.
  EXPECT_TRUE(pumpMainUntil([&] { return std::all_of(pids.begin(), pids.end(), processGone); }));
}

TEST(LocalProcess, ReleasedDelegateDropsOutputAndExitSilently) {
  auto delegate = std::make_shared<RecordingDelegate>();
  auto process = std::make_shared<LocalProcess>(delegate);
  process->startProcess("/bin/sh", {"-c", "sleep 0.2; printf late"});
  delegate.reset();
  EXPECT_TRUE(pumpMainUntil([&] { return !process->running(); }));
}

TEST(LocalProcess, HostLoggingWritesOneFilePerReadInOrder) {
  auto dir = std::filesystem::temp_directory_path() / ("lp-log-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ProcessFixture f;
  f.process->setHostLogging(dir.string());
  f.runShell("printf one; sleep 0.1; printf two");
  ASSERT_TRUE(f.waitForExit());
  std::string joined;
  for (int i = 0; std::filesystem::exists(dir / ("log-" + std::to_string(i))); i++) {
    std::ifstream in(dir / ("log-" + std::to_string(i)), std::ios::binary);
    joined += std::string(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_EQ(joined, "onetwo");
  std::filesystem::remove_all(dir);
}

// Reads that pile up while the main queue is busy reach the delegate as one chunk, in order.
TEST(LocalProcess, OutputReadWhileTheQueueIsBusyArrivesJoined) {
  auto dir = std::filesystem::temp_directory_path() / ("lp-join-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ProcessFixture f;
  f.process->setHostLogging(dir.string());
  std::string expected;
  for (int i = 0; i < 8; i++) expected += "line " + std::to_string(i) + "\r\n";
  f.runShell("for i in 0 1 2 3 4 5 6 7; do echo line $i; sleep 0.02; done");
  // The main queue is not run until every line waits, so none is delivered meanwhile.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (f.process->pendingBytes() < expected.size() && std::chrono::steady_clock::now() < until)
    std::this_thread::yield();
  ASSERT_TRUE(f.waitForExit());
  EXPECT_EQ(f.delegate->output, expected);
  EXPECT_TRUE(std::filesystem::exists(dir / "log-1")) << "the lines came in one read";
  EXPECT_EQ(f.delegate->chunks, 1u);
  std::filesystem::remove_all(dir);
}

TEST(LocalProcess, DeliversSynchronouslyOnAnotherQueue) {
  struct EndingDelegate : RecordingDelegate {
    std::promise<void> ended;
    void processTerminated(LocalProcess& process, std::optional<int32_t> code) override {
      RecordingDelegate::processTerminated(process, code);
      ended.set_value();
    }
  };
  platform::DispatchQueue queue("delegate-queue");
  auto delegate = std::make_shared<EndingDelegate>();
  auto process = std::make_shared<LocalProcess>(delegate, &queue);
  auto ended = delegate->ended.get_future();
  process->startProcess("/bin/sh", {"-c", "printf abc; exit 2"});
  ASSERT_EQ(ended.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  queue.sync([&] {
    EXPECT_TRUE(delegate->terminated);
    EXPECT_EQ(delegate->output, "abc");
    EXPECT_EQ(delegate->exitCode, 2 << 8);
  });
}
