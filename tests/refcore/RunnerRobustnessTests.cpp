// The core stays up whatever arrives on its control channel and whenever clients walk away.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <random>

#include "RunnerProcess.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

json state(RunnerProcess& runner) {
  return json::parse(runner.request("GET", "/__test/state", "").body, nullptr, false);
}

std::string recordFile(const char* name) {
  return testing::TempDir() + name + "-" + std::to_string(getpid()) + ".jsonl";
}

}  // namespace

TEST(RunnerRobustness, GarbageOnTheControlChannelChangesNothing) {
  RunnerProcess runner(RunnerProcess::Launch{{}, std::nullopt, recordFile("garbage")});
  const std::string token = runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  std::mt19937 random(7);
  for (int line = 0; line < 200; ++line) {
    std::string bytes(random() % 300, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random() % 256 == 10 ? 'x' : random() % 256);
    runner.sendLine(bytes);
  }
  for (const char* line :
       {R"({"kind": "bootstrap", "runtime_id": "other", "signing_key": "AAAA", "active_tokens": []})",
        R"({"kind": "sync", "request_id": 5, "active_tokens": []})",
        R"({"kind": "sync", "request_id": "x", "active_tokens": [1]})", R"({"kind": "issued", "request_id": "nobody"})",
        R"({"kind": null})", "{}", "null"}) {
    runner.sendLine(line);
  }
  runner.sendLine(std::string(17 * 1024 * 1024, 'z'));  // past the line limit, dropped whole
  runner.send({{"kind", "sync"}, {"request_id", "after"}, {"active_tokens", {token}}});
  EXPECT_EQ(json::parse(runner.readLine(10s).value_or("null"))["request_id"], "after");
  EXPECT_EQ(state(runner)["runtime_id"], runner.runtimeID);
  EXPECT_EQ(runner.request("GET", "/desktop-runtime", token).status, 200);
}

TEST(RunnerRobustness, ClientsThatLeaveEarlyAreForgotten) {
  RunnerProcess runner(RunnerProcess::Launch{{}, std::nullopt, recordFile("leave")});
  const std::string token = runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  auto session = platform::URLSession::makeEphemeral();

  platform::URLRequest events;
  events.url = runner.url("/events");
  events.headers = {{"Authorization", "Bearer " + token}};
  events.serverProcess = [pid = runner.pid()] { return pid; };
  // The core counts a stream before it answers it.
  std::promise<void> answered;
  auto stream = session->streamTask(
      events, [&](int, const platform::HTTPHeaders&) { answered.set_value(); }, nullptr, nullptr);
  ASSERT_EQ(answered.get_future().wait_for(10s), std::future_status::ready);
  ASSERT_EQ(state(runner)["event_streams"], 1);
  stream->cancel();
  // The server notices a departed client at the latest when it next writes to it: each round
  // writes, and the round trips themselves pace the asking.
  bool forgotten = false;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!forgotten && std::chrono::steady_clock::now() < deadline) {
    EXPECT_EQ(runner.request("POST", "/__test/events", "", R"({"data": "to nobody"})").status, 200);
    forgotten = state(runner)["event_streams"] == 0;
  }
  EXPECT_TRUE(forgotten);

  // A harness request waiting for the application's answer, abandoned before the answer comes.
  platform::URLRequest waiting;
  waiting.url = runner.url("/__test/control");
  waiting.method = "POST";
  waiting.body = R"({"message": {"kind": "issue", "request_id": "gone"}, "wait_ms": 5000})";
  auto abandoned = session->streamTask(waiting, nullptr, nullptr, nullptr);
  ASSERT_TRUE(runner.readLine());
  abandoned->cancel();
  // Whether or not the core has seen the client go by now, the answer finds the request abandoned:
  // either it is dropped, or written into a connection nobody reads.
  runner.send({{"kind", "issued"}, {"request_id", "gone"}, {"token", "t"}});
  // Control lines are taken in order: once a later one is answered, the answer has been dealt with.
  runner.send({{"kind", "sync"}, {"request_id", "after"}, {"active_tokens", {token}}});
  EXPECT_EQ(json::parse(runner.readLine(10s).value_or("null"))["request_id"], "after");
  EXPECT_EQ(state(runner)["bootstrapped"], true);
  EXPECT_FALSE(runner.waitForExit(10ms));
}
