#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/ControlChannel.h"
#include "app/RuntimeAuthority.h"
#include "platform/ChildProcess.h"

using zorvel::ControlLineReader;
using zorvel::decodeControlMessage;

namespace {

std::vector<nlohmann::json> feedAll(ControlLineReader& reader, std::vector<std::string> chunks) {
  std::vector<nlohmann::json> seen;
  for (const auto& chunk : chunks) {
    reader.feed(chunk, [&](nlohmann::json&& object) { seen.push_back(object); });
  }
  return seen;
}

// A stand-in core: a shell loop that echoes its input to a file and replies with chosen lines.
struct FakeCore {
  std::shared_ptr<platform::ChildProcess> process;
  explicit FakeCore(const std::string& script, bool pipeError = false) {
    platform::ChildProcess::Options options;
    options.executable = "/bin/sh";
    options.arguments = {"-c", script};
    options.input = platform::ChildProcess::Stream::pipe;
    options.output = platform::ChildProcess::Stream::pipe;
    if (pipeError) options.error = platform::ChildProcess::Stream::pipe;
    // A group of its own: a core a test has stopped would be hung up, and so end, if the test's
    // group lost its parent meanwhile (a run started in the background from a shell that exits).
    options.newProcessGroup = true;
    process = platform::ChildProcess::launch(options, nullptr);
  }
  ~FakeCore() {
    if (process) process->terminateAndReap(std::chrono::milliseconds(500));
  }
};

nlohmann::json readLine(int fd) {
  std::string line;
  char c;
  while (true) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, 3000) <= 0) return nullptr;
    if (::read(fd, &c, 1) != 1) return nullptr;
    if (c == '\n') return nlohmann::json::parse(line);
    line += c;
  }
}

}  // namespace

TEST(ControlFraming, SplitAndMergedLinesAreEachHandledOnceInOrder) {
  ControlLineReader reader;
  auto seen = feedAll(reader, {R"({"kind":"a"}{"x":1})", "\n{\"kind\":", "\"b\"}\n{\"kind\":\"c\"}\n{\"k"});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0]["kind"], "b");  // two objects on one line are not one message
  EXPECT_EQ(seen[1]["kind"], "c");
  seen = feedAll(reader, {"ind\":\"d\"}\n"});
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0]["kind"], "d");
  ControlLineReader merged;
  seen = feedAll(merged, {"{\"kind\":\"c\"}\n{\"kind\":\"d\"}\n"});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0]["kind"], "c");
}

TEST(ControlFraming, BadLinesAreSkippedAndOverlongLinesBounded) {
  ControlLineReader reader(64);
  auto seen = feedAll(reader, {"not json\n[1,2]\n\n\"str\"\n{\"kind\":\"ok\"}\n", std::string(50, 'x'),
                               std::string(50, 'y'), "\n{\"kind\":\"after\"}\n"});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0]["kind"], "ok");
  EXPECT_EQ(seen[1]["kind"], "after");
}

TEST(ControlMessages, RequestsThatFailValidationDecodeToNothing) {
  using nlohmann::json;
  const std::string project = "3F2B1C9E-0000-4000-8000-00000000000A";
  EXPECT_FALSE(decodeControlMessage(json{{"request_id", "r"}}));
  EXPECT_FALSE(decodeControlMessage(json{{"kind", 3}}));
  EXPECT_FALSE(decodeControlMessage(json{{"kind", "unknown"}}));
  EXPECT_FALSE(decodeControlMessage(json{{"kind", "issue"}, {"request_id", "r"}, {"project_id", "p"}}));
  EXPECT_FALSE(decodeControlMessage(json{{"kind", "issue"}, {"project_id", project}}));
  auto issue =
      decodeControlMessage(json{{"kind", "issue"}, {"request_id", "r"}, {"project_id", project}, {"task_id", 5}});
  ASSERT_TRUE(issue);
  auto& request = std::get<zorvel::IssueRequest>(*issue);
  EXPECT_EQ(request.access, "project");
  EXPECT_EQ(request.taskID, std::nullopt);
  EXPECT_FALSE(decodeControlMessage(json{{"kind", "revoke"}}));
  EXPECT_FALSE(decodeControlMessage(json{{"kind", "synced"}, {"request_id", 1}}));

  auto bind = [](json pid) {
    return decodeControlMessage(json{{"kind", "bind"}, {"request_id", "r"}, {"token_id", "t"}, {"pid", pid}});
  };
  EXPECT_TRUE(bind(2));
  EXPECT_TRUE(bind(2147483647));
  EXPECT_TRUE(bind(42.0));
  for (json bad : {json(0), json(1), json(-7), json(2.5), json(2147483648LL), json(4294967298ULL), json(1e300),
                   json("42"), json(nullptr)}) {
    EXPECT_FALSE(bind(bad)) << bad.dump();
  }
  EXPECT_EQ(std::get<zorvel::BindRequest>(*bind(42.0)).pid, 42);
}

TEST(ControlMessages, LinesAreCompactWithSolidusEscaped) {
  EXPECT_EQ(zorvel::encodeControlLine({{"kind", "bound"}, {"request_id", "a/b"}}),
            "{\"kind\":\"bound\",\"request_id\":\"a\\/b\"}\n");
  auto back = nlohmann::json::parse(zorvel::encodeControlLine({{"v", "x/y\"/"}}));
  EXPECT_EQ(back["v"], "x/y\"/");
}

TEST(ControlChannel, ServesIssueBindAndRevokeRequestsOfTheCore) {
  zorvel::DesktopRuntimeAuthority authority;
  auto channel = std::make_shared<zorvel::ControlChannel>(authority);
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::string> exited;
  channel->onAuthorizedProcessExit = [&](const std::string& tokenID) {
    std::lock_guard guard(mutex);
    exited.push_back(tokenID);
    changed.notify_all();
  };
  const std::string project = "3f2b1c9e-0000-4000-8000-000000000001";
  auto toBind = authority.issueProject(project, "core:1", "project", {}, {}, {});
  auto toRevoke = authority.issueProject(project, "core:1", "project", {}, {}, {});

  platform::ChildProcess::Options sleeperOptions;
  sleeperOptions.executable = "/bin/sleep";
  sleeperOptions.arguments = {"30"};
  auto sleeper = platform::ChildProcess::launch(sleeperOptions, nullptr);
  ASSERT_TRUE(sleeper);

  std::string requests = R"({"kind":"issue","request_id":"bad","project_id":"nope"})"
                         "\n"
                         R"({"kind":"issue","request_id":"r1","project_id":")" +
                         project +
                         R"(","task_id":"t/1"})"
                         "\n"
                         R"({"kind":"bind","request_id":"r2","token_id":"unknown","pid":)" +
                         std::to_string(sleeper->processIdentifier()) + "}\n" +
                         R"({"kind":"bind","request_id":"r3","token_id":")" + toBind.tokenID + R"(","pid":)" +
                         std::to_string(sleeper->processIdentifier()) + "}\n" + R"({"kind":"revoke","token_id":")" +
                         toRevoke.tokenID + "\"}\n" +
                         // Answered only once the revoke before it, which has no answer, is handled.
                         R"({"kind":"issue","request_id":"after-revoke","project_id":")" + project + "\"}\n";
  FakeCore core("printf '%s' '" + requests + "'; exec cat >&2", true);
  ASSERT_TRUE(core.process);
  channel->startControlReader(core.process);

  auto issued = readLine(core.process->errorDescriptor());
  ASSERT_TRUE(issued.is_object());
  EXPECT_EQ(issued["kind"], "issued");
  EXPECT_EQ(issued["request_id"], "r1");
  std::string token = issued["token"];
  auto payload = nlohmann::json::parse(*zorvel::base64URLDecode(token.substr(0, token.find('.'))));
  EXPECT_EQ(payload["task_id"], "t/1");
  EXPECT_EQ(payload["access"], "project");
  auto bound = readLine(core.process->errorDescriptor());
  EXPECT_EQ(bound, (nlohmann::json{{"kind", "bound"}, {"request_id", "r3"}}));
  auto afterRevoke = readLine(core.process->errorDescriptor());
  ASSERT_TRUE(afterRevoke.is_object());
  EXPECT_EQ(afterRevoke["request_id"], "after-revoke");

  auto tokens = authority.activeTokens();
  EXPECT_EQ(std::count(tokens.begin(), tokens.end(), toRevoke.token), 0);
  EXPECT_EQ(std::count(tokens.begin(), tokens.end(), token), 1);
  // The core's tokens belong to that core now; the bound one to the process.
  authority.revoke("core:" + std::to_string(core.process->processIdentifier()));
  authority.revoke("core:1");
  tokens = authority.activeTokens();
  EXPECT_EQ(std::count(tokens.begin(), tokens.end(), token), 0);
  EXPECT_EQ(std::count(tokens.begin(), tokens.end(), toBind.token), 1);

  auto killed = std::chrono::steady_clock::now();
  sleeper->kill();
  std::unique_lock guard(mutex);
  ASSERT_TRUE(changed.wait_for(guard, std::chrono::seconds(3), [&] { return !exited.empty(); }));
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::milliseconds(600));
  EXPECT_EQ(exited, std::vector<std::string>{toBind.tokenID});
}

TEST(ControlChannel, SyncSucceedsOnlyForItsOwnTimelyAnswer) {
  zorvel::DesktopRuntimeAuthority authority;
  auto channel = std::make_shared<zorvel::ControlChannel>(authority);
  EXPECT_FALSE(channel->syncAuthorization(2.0, nullptr));

  const std::string echo = R"x(sed -u -n 's/.*"request_id":"\([0-9a-f-]*\)".*/{"kind":"synced","request_id":"\1"}/p')x";
  FakeCore prompt(echo);
  channel->startControlReader(prompt.process);
  EXPECT_TRUE(channel->syncAuthorization(2.0, prompt.process));
  EXPECT_TRUE(channel->syncAuthorization(2.0, prompt.process));
  EXPECT_EQ(channel->pendingSyncCount(), 0u);

  FakeCore wrongID(R"(while read line; do echo '{"kind":"synced","request_id":"other"}'; done)");
  channel->startControlReader(wrongID.process);
  EXPECT_FALSE(channel->syncAuthorization(0.3, wrongID.process));

  FakeCore late("while read line; do sleep 0.4; echo \"$line\" | " + echo + "; done");
  channel->startControlReader(late.process);
  EXPECT_FALSE(channel->syncAuthorization(0.1, late.process));
  // The core answers in order, so once the next request is answered the late answer has been read:
  // it is neither kept nor taken for the later request's answer.
  EXPECT_TRUE(channel->syncAuthorization(30.0, late.process));
  EXPECT_EQ(channel->pendingSyncCount(), 0u);
}

TEST(ControlChannel, WritesToAnExitedCoreDoNotKillTheApplication) {
  ::signal(SIGPIPE, SIG_IGN);
  zorvel::DesktopRuntimeAuthority authority;
  auto channel = std::make_shared<zorvel::ControlChannel>(authority);
  FakeCore gone("exit 0");
  ASSERT_TRUE(gone.process->waitUntilExit(std::chrono::seconds(3)));
  channel->writeControl(authority.syncMessage(), gone.process);
  EXPECT_FALSE(channel->syncAuthorization(0.1, gone.process));
}

// A core that stops reading: a write waits for it a bounded time, later writes do not wait again,
// and once it reads again the next line reaches it intact after the one cut short.
TEST(ControlChannel, WritesToAStalledCoreGiveUpOnceAndFramingRecovers) {
  ::signal(SIGPIPE, SIG_IGN);
  zorvel::DesktopRuntimeAuthority authority;
  auto channel = std::make_shared<zorvel::ControlChannel>(authority);
  FakeCore core("exec cat");
  int input = core.process->inputDescriptor();
  ::fcntl(input, F_SETFL, ::fcntl(input, F_GETFL) | O_NONBLOCK);
  ::kill(core.process->processIdentifier(), SIGSTOP);

  auto elapsed = [](auto&& write) {
    auto start = std::chrono::steady_clock::now();
    write();
    return std::chrono::steady_clock::now() - start;
  };
  nlohmann::json big = {{"kind", "issued"}, {"request_id", "big"}, {"token", std::string(256 * 1024, 'x')}};
  auto first = elapsed([&] { channel->writeControl(big, core.process); });
  EXPECT_GE(first, zorvel::ControlChannel::stalledWriteLimit - std::chrono::milliseconds(100));
  EXPECT_LT(first, std::chrono::seconds(60));
  auto second = elapsed([&] { channel->writeControl({{"kind", "bound"}, {"request_id", "lost"}}, core.process); });
  EXPECT_LT(second, zorvel::ControlChannel::stalledWriteLimit / 2) << "a stalled core was waited on twice";

  // Reading again: once the core has taken all that waited, the next line arrives whole. The core
  // echoes what it reads, so it has taken all that waited once that much has come back.
  int waiting = 0;
  EXPECT_EQ(::ioctl(input, FIONREAD, &waiting), 0);
  ::kill(core.process->processIdentifier(), SIGCONT);
  std::mutex mutex;
  std::condition_variable echoed;
  std::string received;
  std::thread drain([&] {
    char chunk[65536];
    for (;;) {
      pollfd entry{core.process->outputDescriptor(), POLLIN, 0};
      if (::poll(&entry, 1, 20000) <= 0) break;
      ssize_t got = ::read(core.process->outputDescriptor(), chunk, sizeof chunk);
      if (got <= 0) break;
      std::lock_guard lock(mutex);
      received.append(chunk, static_cast<size_t>(got));
      echoed.notify_all();
      if (received.find("\"after\"") != std::string::npos) break;
    }
    std::lock_guard lock(mutex);
    echoed.notify_all();
  });
  {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(echoed.wait_for(lock, std::chrono::seconds(20),
                                [&] { return received.size() >= static_cast<size_t>(waiting); }));
  }
  channel->writeControl({{"kind", "bound"}, {"request_id", "after"}}, core.process);
  drain.join();
  auto lastLine = received.substr(received.rfind('\n', received.size() - 2) + 1);
  EXPECT_EQ(nlohmann::json::parse(lastLine, nullptr, false),
            (nlohmann::json{{"kind", "bound"}, {"request_id", "after"}}));
  EXPECT_EQ(received.find("\"lost\""), std::string::npos);
}
