// The real application with the reference core and the reference page: the page's requests and
// event streams cross the bridge, and a killed web process is reported and reloaded.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/URLSession.h"
#include "tests/e2e/DesktopHarness.h"

namespace bridge_e2e {

using nlohmann::json;

// What is waited on here (files, /proc, the core's live state) belongs to other processes, which
// tell this one nothing when it changes: it is asked again and again.
bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit = std::chrono::seconds(60)) {
  return e2e::waitUntil(condition, limit);
}

using e2e::webProcessesOf;

class DesktopBridge : public ::testing::Test {
 protected:
  void SetUp() override { run.start(); }

  platform::URLResponse call(const std::string& method, const std::string& path, const json& body = nullptr) {
    return run.request(method, path, body);
  }

  json harness(const std::string& name) {
    auto response = call("GET", "/__test/" + name);
    return response.status == 200 ? json::parse(response.body, nullptr, false) : json();
  }

  std::vector<json> requestsTo(const std::string& path) {
    std::vector<json> found;
    std::ifstream in(directory + "/record.jsonl");
    for (std::string line; std::getline(in, line);) {
      auto record = json::parse(line, nullptr, false);
      if (record.is_object() && record.value("type", "") == "request" && record.value("path", "") == path)
        found.push_back(record);
    }
    return found;
  }

  bool pageStreamOpen() {
    auto state = harness("state");
    return state.is_object() && state.value("event_streams", 0) >= 1;
  }

  // Pushes an event that the reference page sends back, and waits for its acknowledgement.
  bool roundTrip(int n, std::chrono::seconds limit = std::chrono::seconds(30)) {
    call("POST", "/__test/events", {{"data", json{{"echo", true}, {"n", n}}.dump()}, {"id", std::to_string(n)}});
    return waitFor(
        [&] {
          for (auto& request : requestsTo("/__test/echo")) {
            auto body = json::parse(request.value("body", ""), nullptr, false);
            if (body.is_object() && body["ack"]["n"] == n && body["last_event_id"] == std::to_string(n) &&
                request.value("status", 0) == 200)
              return true;
          }
          return false;
        },
        limit);
  }

  e2e::DesktopRun run;
  const std::string& directory = run.directory;
  std::shared_ptr<platform::ChildProcess>& app = run.app;
};

TEST_F(DesktopBridge, ThePageTalksToTheCoreThroughTheBridge) {
  ASSERT_TRUE(waitFor([&] { return pageStreamOpen(); })) << "the page never opened its event stream";
  ASSERT_TRUE(roundTrip(1));
  ASSERT_TRUE(roundTrip(2));
  auto echo = requestsTo("/__test/echo").back();
  auto authorization = echo["headers"].value("Authorization", "");
  EXPECT_EQ(authorization.rfind("Bearer ", 0), 0u);
}

TEST_F(DesktopBridge, AKilledWebProcessIsReportedAndTheUIComesBack) {
  ASSERT_TRUE(waitFor([&] { return pageStreamOpen(); }));
  // Wait for the web processes to settle: the overlay's page starts its own a moment after the main
  // page, and WebKit aborts the whole application when a web process dies before it has finished
  // starting up (it cannot read the new process's id), which is not what this test is about.
  // Nothing says when WebKit is done starting them, so they are watched until they stay the same.
  auto processes = webProcessesOf(app->processIdentifier());
  auto stableSince = std::chrono::steady_clock::now();
  for (auto deadline = stableSince + std::chrono::seconds(15); std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto now = webProcessesOf(app->processIdentifier());
    if (now != processes) {
      processes = now;
      stableSince = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - stableSince > std::chrono::milliseconds(1500)) {
      break;
    }
  }
  ASSERT_FALSE(processes.empty());
  for (pid_t pid : processes) ::kill(pid, SIGKILL);

  ASSERT_TRUE(waitFor([&] {
    auto reports = harness("error-events");
    if (!reports.is_object()) return false;
    for (auto& report : reports["events"])
      if (report["context"]["boundary"] == "webview-process" && report["exception_type"] == "ZorvelDesktop.WebKit")
        return true;
    return false;
  }));
  // The reloaded page opens a new stream and answers again; events pushed before it is open are
  // lost, so keep pushing.
  bool answered = false;
  for (int n = 3; n < 30 && !answered; ++n) answered = roundTrip(n, std::chrono::seconds(1));
  EXPECT_TRUE(answered);
  EXPECT_TRUE(waitFor([&] { return harness("state").value("event_streams", 0) == 1; }, std::chrono::seconds(5)))
      << "the dead page's stream is still open";
}

// A stream the core ends while the core stays up: the page opens another and asks the core again,
// so it says it is connected rather than offline for as long as the application runs.
TEST_F(DesktopBridge, AfterAStreamTheCoreEndedThePageOpensAnotherAndAsksTheCoreAgain) {
  ASSERT_TRUE(waitFor([&] { return pageStreamOpen(); }));
  ASSERT_TRUE(waitFor([&] { return !requestsTo("/desktop-runtime").empty(); }));
  auto streams = requestsTo("/events").size();
  auto asked = requestsTo("/desktop-runtime").size();
  // An event cut off before its end, then the end of every stream.
  call("POST", "/__test/events", {{"raw", "data: {\"cut\": 1\ndata: short"}});
  call("POST", "/__test/events", {{"end", true}});
  ASSERT_TRUE(waitFor([&] { return requestsTo("/events").size() > streams; })) << "the page opened no new stream";
  EXPECT_TRUE(waitFor([&] { return requestsTo("/desktop-runtime").size() > asked; }, std::chrono::seconds(30)));
  EXPECT_TRUE(roundTrip(40));
}

}  // namespace bridge_e2e
