#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <future>
#include <thread>

#include "RunnerProcess.h"

using namespace std::chrono_literals;
using nlohmann::json;

namespace {

json parse(const platform::URLResponse& response) { return json::parse(response.body, nullptr, false); }

std::string recordPath(const char* name) {
  return testing::TempDir() + name + "-" + std::to_string(getpid()) + ".jsonl";
}

std::vector<json> readRecord(const std::string& path) {
  std::vector<json> records;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) records.push_back(json::parse(line));
  return records;
}

}  // namespace

TEST(Runner, RefusesEveryRequestUntilBootstrappedThenChecksTokens) {
  RunnerProcess runner;
  ASSERT_TRUE(runner.waitUntilListening());
  auto early = runner.request("GET", "/desktop-runtime", "anything");
  EXPECT_EQ(early.status, 401);
  EXPECT_EQ(parse(early)["detail"], "Runtime is not bootstrapped");

  const std::string desktop = runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  const auto ready = runner.request("GET", "/desktop-runtime", desktop);
  ASSERT_EQ(ready.status, 200);
  const json answer = parse(ready);
  EXPECT_EQ(answer["kind"], "zorvel-desktop");
  EXPECT_EQ(answer["protocol_version"], 3);
  EXPECT_EQ(answer["pid"], runner.pid());

  std::string tampered = desktop;
  tampered[5] = tampered[5] == 'x' ? 'y' : 'x';
  for (const std::string& bad : {std::string(), tampered, std::string("nonsense")}) {
    const auto refused = runner.request("GET", "/tasks", bad);
    EXPECT_EQ(refused.status, 401) << bad;
    EXPECT_TRUE(parse(refused)["detail"].is_string());
  }
  const std::string outsider =
      signToken(runner.signingKey, tokenClaims(runner.runtimeID, "9a1b2c3d-0000-4000-8000-00000000000f", "desktop"));
  EXPECT_EQ(parse(runner.request("GET", "/tasks", outsider))["detail"], "Token is not active");
}

TEST(Runner, SyncReplacesTheActiveSetAndIsAcknowledged) {
  RunnerProcess runner;
  const std::string desktop = runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  const std::string project = signToken(
      runner.signingKey, tokenClaims(runner.runtimeID, "6f1e2d3c-0000-4000-8000-000000000002", "project-agent"));
  EXPECT_EQ(runner.request("GET", "/tasks", project).status, 401);
  runner.send({{"kind", "sync"}, {"request_id", "r-1"}, {"active_tokens", {project, desktop}}});
  EXPECT_EQ(json::parse(runner.readLine().value_or("null")), (json{{"kind", "synced"}, {"request_id", "r-1"}}));
  EXPECT_EQ(runner.request("GET", "/tasks", project).status, 200);
  runner.send({{"kind", "sync"}, {"request_id", "r-2"}, {"active_tokens", {desktop}}});
  ASSERT_TRUE(runner.readLine());
  EXPECT_EQ(runner.request("GET", "/tasks", project).status, 401);
  // Malformed control lines are skipped and the next one still counts.
  runner.sendLine("not json");
  runner.sendLine("[1,2]");
  runner.send({{"kind", "sync"}, {"active_tokens", {desktop}}});
  runner.send({{"kind", "sync"}, {"request_id", "r-3"}, {"active_tokens", {desktop}}});
  EXPECT_EQ(json::parse(runner.readLine().value_or("null"))["request_id"], "r-3");
}

TEST(Runner, TasksLiveInMemoryWithCleanupStateAndTerminalPlans) {
  RunnerProcess runner(RunnerProcess::Launch{{{"ZORVEL_REFCORE_SHELL", "/bin/sh"}}, std::nullopt, {}});
  const std::string token = runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  auto created = runner.request("POST", "/tasks", token, R"({"title": "Write docs", "turn_in_progress": true})");
  ASSERT_EQ(created.status, 201);
  const std::string id = parse(created)["id"];
  const json state = parse(runner.request("GET", "/tasks/" + id, token));
  EXPECT_EQ(state["status"], "open");
  EXPECT_TRUE(state["runtime_status"].is_string());
  EXPECT_EQ(state["turn_in_progress"], true);
  EXPECT_EQ(state["background_work_active"], false);

  EXPECT_EQ(parse(runner.request("PATCH", "/tasks/" + id, token,
                                 R"({"status": "done", "turn_in_progress": false})"))["status"],
            "done");
  EXPECT_EQ(runner.request("PATCH", "/tasks/" + id, token, R"({"turn_in_progress": 0})").status, 422);
  EXPECT_EQ(parse(runner.request("POST", "/tasks/" + id + "/stop", token))["runtime_status"], "stopped");
  EXPECT_EQ(parse(runner.request("GET", "/tasks", token))["tasks"].size(), 1u);

  const auto plan =
      runner.request("POST", "/tasks/" + id + "/terminal-plan", token, R"({"agent": "codex", "login": false})");
  ASSERT_EQ(plan.status, 200);
  EXPECT_EQ(parse(plan)["executable"], "/bin/sh");
  EXPECT_EQ(parse(plan)["arguments"], (json{"agent-terminal", id, "/bin/sh"}));
  EXPECT_TRUE(parse(plan)["cwd"].is_string());
  const auto badPlan =
      runner.request("POST", "/tasks/" + id + "/terminal-plan", token, R"({"agent": 1, "login": false})");
  EXPECT_EQ(badPlan.status, 422);
  EXPECT_TRUE(parse(badPlan)["detail"].is_string());
  EXPECT_EQ(parse(runner.request("GET", "/tasks/00000000-0000-4000-8000-000000000000", token))["detail"],
            "Task not found");
  EXPECT_EQ(runner.request("GET", "/tasks/..%2F..%2Fetc", token).status, 400);

  const json login = parse(runner.request("POST", "/agent-profiles/profile-1/login-plan", token));
  EXPECT_EQ(login["arguments"], (json{"profile-login", "profile-1"}));
  EXPECT_TRUE(login["cwd"].is_null());

  EXPECT_EQ(runner
                .request("POST", "/tasks/capture", token,
                         R"({"content": "  \n ", "project_id": "0b5f1f6c-3c55-4a39-9a5e-6a0f2c7d9e11"})")
                .status,
            422);
  const auto captured =
      runner.request("POST", "/tasks/capture", token,
                     R"({"content": "Fix the build\nmore", "project_id": "0B5F1F6C-3C55-4A39-9A5E-6A0F2C7D9E11"})");
  ASSERT_EQ(captured.status, 201);
  EXPECT_EQ(parse(captured)["title"], "Fix the build");
  EXPECT_EQ(parse(captured)["project_id"], "0b5f1f6c-3c55-4a39-9a5e-6a0f2c7d9e11");
}

TEST(Runner, EventStreamCarriesPushedEventsUntilEnded) {
  const std::string record = recordPath("events");
  RunnerProcess runner(RunnerProcess::Launch{{}, std::nullopt, record});
  const std::string token = runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  std::mutex mutex;
  std::string received;
  std::promise<std::optional<std::string>> ended;
  std::promise<void> opened;
  platform::URLRequest request;
  request.url = runner.url("/events?since=1");
  request.headers = {{"Authorization", "Bearer " + token}, {"Last-Event-ID", "7"}};
  request.serverProcess = [pid = runner.pid()] { return pid; };
  auto session = platform::URLSession::makeEphemeral();
  auto task = session->streamTask(
      request,
      [&](int status, const platform::HTTPHeaders&) {
        if (status == 200) opened.set_value();
      },
      [&](std::string_view chunk) {
        std::lock_guard lock(mutex);
        received.append(chunk);
      },
      [&](std::optional<std::string> error) { ended.set_value(error); });
  ASSERT_EQ(opened.get_future().wait_for(5s), std::future_status::ready);
  EXPECT_EQ(
      runner.request("POST", "/__test/events", "", R"({"event": "task-updated", "data": "a\nb", "id": "8"})").status,
      200);
  runner.request("POST", "/diagnostics/error-events", token, R"({"source": "native", "message": "x"})");
  runner.request("POST", "/__test/events", "", R"({"end": true})");
  auto end = ended.get_future();
  ASSERT_EQ(end.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(end.get(), std::nullopt);
  std::lock_guard lock(mutex);
  EXPECT_NE(received.find("event: task-updated\nid: 8\ndata: a\ndata: b\n\n"), std::string::npos);
  EXPECT_NE(received.find("event: error-event\n"), std::string::npos);
  bool sawLastEventID = false;
  for (const json& entry : readRecord(record)) {
    if (entry["type"] == "request" && entry["path"] == "/events")
      sawLastEventID = entry["headers"]["Last-Event-ID"] == "7";
  }
  EXPECT_TRUE(sawLastEventID);
  EXPECT_EQ(parse(runner.request("GET", "/__test/error-events", ""))["events"][0]["message"], "x");
}

TEST(Runner, RecordsItsStartAndRelaysControlRequestsForTests) {
  const std::string record = recordPath("control");
  RunnerProcess runner(
      RunnerProcess::Launch{{{"ZORVEL_PRODUCT_API_URL", "https://example.invalid/api"}}, std::nullopt, record});
  runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  auto answered = std::async(std::launch::async, [&] {
    return runner.request(
        "POST", "/__test/control", "",
        R"({"message": {"kind": "issue", "request_id": "q1", "project_id": "0b5f1f6c-3c55-4a39-9a5e-6a0f2c7d9e11"}})");
  });
  const json issue = json::parse(runner.readLine().value_or("null"));
  EXPECT_EQ(issue["kind"], "issue");
  runner.send({{"kind", "issued"}, {"request_id", "q1"}, {"token", "t"}});
  const auto response = answered.get();
  EXPECT_EQ(parse(response)["answer"]["token"], "t");
  // An answer that never comes gives null once the wait is over.
  const auto unanswered = runner.request("POST", "/__test/control", "",
                                         R"({"message": {"kind": "bind", "request_id": "q2"}, "wait_ms": 100})");
  EXPECT_TRUE(parse(unanswered)["answer"].is_null());

  const auto records = readRecord(record);
  ASSERT_FALSE(records.empty());
  EXPECT_EQ(records[0]["type"], "start");
  EXPECT_EQ(records[0]["argv"][0], "serve-desktop");
  EXPECT_EQ(records[0]["argv"].size(), 8u);
  EXPECT_EQ(records[0]["env"]["ZORVEL_PRODUCT_API_URL"], "https://example.invalid/api");
  EXPECT_TRUE(records[0]["env"].contains("PATH"));
  bool bootstrapFirst = false;
  for (const json& entry : records) {
    if (entry["type"] == "control" && entry["direction"] == "in") {
      bootstrapFirst = json::parse(entry["line"].get<std::string>())["kind"] == "bootstrap";
      break;
    }
  }
  EXPECT_TRUE(bootstrapFirst);
}

TEST(Runner, HarnessEndpointsExistOnlyWhenRecording) {
  RunnerProcess runner;
  const std::string token = runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  EXPECT_EQ(runner.request("POST", "/__test/control", "", R"({"line": "{}"})").status, 404);
  EXPECT_EQ(runner.request("GET", "/__test/state", token).status, 404);
  const auto echo = runner.request("PUT", "/__test/echo/x?status=418", token, R"({"a": "/"})");
  EXPECT_EQ(echo.status, 418);
  EXPECT_EQ(parse(echo)["method"], "PUT");
  EXPECT_EQ(parse(echo)["headers"]["Authorization"], "Bearer " + token);
  EXPECT_EQ(runner.request("GET", "/__test/binary", token).body, std::string("\xff\xfe\x00zorvel\x80\x00\xc3", 11));
  EXPECT_EQ(parse(runner.request("GET", "/__test/status/404", token))["detail"], "Status 404");
  EXPECT_EQ(parse(runner.request("GET", "/__test/whoami", token))["role"], "desktop");
}

TEST(RunnerLifetime, ExitsWhenStandardInputClosesOrTheParentIsGone) {
  {
    RunnerProcess runner;
    runner.bootstrap();
    ASSERT_TRUE(runner.waitUntilListening());
    runner.closeInput();
    EXPECT_EQ(runner.waitForExit(3s), 0);
  }
  const pid_t parent = fork();
  if (parent == 0) {
    pause();
    _exit(0);
  }
  RunnerProcess runner(RunnerProcess::Launch{{}, parent, {}});
  runner.bootstrap();
  ASSERT_TRUE(runner.waitUntilListening());
  kill(parent, SIGKILL);
  waitpid(parent, nullptr, 0);
  EXPECT_EQ(runner.waitForExit(3s), 0);
}

TEST(RunnerSwitches, StandardErrorAndExit) {
  RunnerProcess runner(
      RunnerProcess::Launch{{{"ZORVEL_REFCORE_STDERR_AND_EXIT", "  config is broken\n"}}, std::nullopt, {}});
  EXPECT_EQ(runner.waitForExit(3s), 1);
  EXPECT_EQ(runner.readStandardError(), "  config is broken\n");
}

TEST(RunnerSwitches, SlowReadinessWrongProbeAndExitAfterReady) {
  {
    // The core's clock starts after this one, so what this one reads bounds what the core's says.
    const auto launched = std::chrono::steady_clock::now();
    RunnerProcess runner(RunnerProcess::Launch{{{"ZORVEL_REFCORE_READY_DELAY_MS", "1500"}}, std::nullopt, {}});
    const std::string token = runner.bootstrap();
    ASSERT_TRUE(runner.waitUntilListening());
    const int first = runner.request("GET", "/desktop-runtime", token).status;
    if (std::chrono::steady_clock::now() - launched < 1500ms) {
      EXPECT_EQ(first, 503);
    }
    int status = first;
    while (status != 200 && std::chrono::steady_clock::now() - launched < 30s) {
      // Readiness comes by the core's own clock, with nothing to wait on but asking again.
      std::this_thread::sleep_for(50ms);
      status = runner.request("GET", "/desktop-runtime", token).status;
    }
    EXPECT_EQ(status, 200);
    EXPECT_GE(std::chrono::steady_clock::now() - launched, 1500ms);
  }
  {
    // Not ready while the file is there, however long ago the core started.
    const std::string gate = testing::TempDir() + "not-ready-" + std::to_string(getpid());
    std::ofstream(gate).put('\n');
    RunnerProcess runner(RunnerProcess::Launch{{{"ZORVEL_REFCORE_NOT_READY_WHILE", gate}}, std::nullopt, {}});
    const std::string token = runner.bootstrap();
    ASSERT_TRUE(runner.waitUntilListening());
    EXPECT_EQ(runner.request("GET", "/desktop-runtime", token).status, 503);
    std::remove(gate.c_str());
    EXPECT_EQ(runner.request("GET", "/desktop-runtime", token).status, 200);
  }
  {
    RunnerProcess runner(RunnerProcess::Launch{{{"ZORVEL_REFCORE_PROBE_KIND", "no-pid"}}, std::nullopt, {}});
    const std::string token = runner.bootstrap();
    ASSERT_TRUE(runner.waitUntilListening());
    const json answer = parse(runner.request("GET", "/desktop-runtime", token));
    EXPECT_EQ(answer["kind"], "zorvel-desktop");
    EXPECT_FALSE(answer.contains("pid"));
  }
  {
    RunnerProcess runner(RunnerProcess::Launch{{{"ZORVEL_REFCORE_EXIT_AFTER_READY_MS", "100"}}, std::nullopt, {}});
    const std::string token = runner.bootstrap();
    ASSERT_TRUE(runner.waitUntilListening());
    EXPECT_FALSE(runner.waitForExit(200ms));
    EXPECT_EQ(runner.request("GET", "/desktop-runtime", token).status, 200);
    EXPECT_EQ(runner.waitForExit(3s), 3);
  }
}

TEST(RunnerSwitches, EmitsChosenControlLinesAfterBootstrap) {
  RunnerProcess runner(RunnerProcess::Launch{
      {{"ZORVEL_REFCORE_EMIT_CONTROL", "garbage\n{\"kind\":\"revoke\",\"token_id\":\"x\"}"}}, std::nullopt, {}});
  EXPECT_FALSE(runner.readLine(200ms));
  runner.bootstrap();
  EXPECT_EQ(runner.readLine(), "garbage");
  EXPECT_EQ(runner.readLine(), R"({"kind":"revoke","token_id":"x"})");
}
