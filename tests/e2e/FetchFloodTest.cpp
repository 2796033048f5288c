// A page that makes twenty thousand requests at once, in the real application with the reference
// core: every one is answered, and meanwhile a task terminal opens and another page's request is
// served without waiting for the flood to drain.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "tests/e2e/OverlayHarness.h"

namespace fetch_flood_e2e {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr int floodSize = 20000;
// The overlay opened during the flood, told from its opening before (which makes it ready).
constexpr const char* overlayRequest = "during-flood";

// The core's record as it grows, read a line once: the flood writes tens of thousands of them.
class RecordTail {
 public:
  explicit RecordTail(const std::string& path) : path(path) {}

  void update() {
    std::ifstream in(path);
    in.seekg(offset);
    for (std::string line; std::getline(in, line);) {
      if (in.eof()) break;  // a line still being written
      offset += static_cast<std::streamoff>(line.size()) + 1;
      read(json::parse(line, nullptr, false));
    }
  }

  int floodRequests = 0;               // the flood's requests that reached the core
  std::optional<int> planAt;           // how many had when a task terminal's plan was asked for
  std::optional<int> overlayReportAt;  // and when the overlay page's request came
  std::optional<json> floodDone;       // the main page's word that every answer came

 private:
  void read(const json& record) {
    if (!record.is_object() || record.value("type", "") != "request") return;
    const std::string requestPath = record.value("path", "");
    if (requestPath.rfind("/__test/echo/flood", 0) == 0) {
      ++floodRequests;
    } else if (requestPath.find("/terminal-plan") != std::string::npos) {
      if (!planAt) planAt = floodRequests;
    } else if (requestPath == "/__test/echo" && record.contains("body") && record.at("body").is_string()) {
      pageEvent(json::parse(record.at("body").get<std::string>(), nullptr, false));
    }
  }

  // The object under the key, or an empty one.
  static json member(const json& object, const char* key) {
    return object.contains(key) && object.at(key).is_object() ? object.at(key) : json::object();
  }

  // What a page reported to the core's echo endpoint.
  void pageEvent(const json& body) {
    const json event = member(body, "page_event");
    const json detail = member(event, "detail");
    const bool ours = member(detail, "payload").value("request_id", "") == overlayRequest;
    if (event.value("page", "") == "overlay" && event.value("name", "") == "zorvel:native-overlay-open" && ours) {
      if (!overlayReportAt) overlayReportAt = floodRequests;
    } else if (event.value("name", "") == "fetch-flood-done") {
      floodDone = detail;
    }
  }

  std::string path;
  std::streamoff offset = 0;
};

class FetchFlood : public ::testing::Test {
 protected:
  void SetUp() override {
    run.start();
    ASSERT_TRUE(e2e::waitForMainPage(run, 60s)) << "the page never opened its event stream";
  }

  void tellPage(const json& command) { run.request("POST", "/__test/events", {{"data", command.dump()}}); }

  // Waits, reading the record as it grows, until the condition over it holds.
  template <typename Condition>
  bool waitForRecord(Condition condition, std::chrono::milliseconds limit) {
    return run.waitUntil(
        [&] {
          tail.update();
          return condition();
        },
        limit);
  }

  e2e::DesktopRun run{{{"ZORVEL_REFCORE_SHELL", "/bin/sh"}}};
  RecordTail tail{run.recordPath};
};

// Before, the time grew with the square of the count: 6,000 took most of a minute, and of 20,000
// a few dozen reached the core in three minutes.
TEST_F(FetchFlood, TwentyThousandFetchesAreAllAnswered) {
  tellPage({{"fetch_flood", {{"id", "all"}, {"count", floodSize}}}});
  ASSERT_TRUE(waitForRecord([&] { return tail.floodDone.has_value(); }, 180s))
      << tail.floodRequests << " of the flood's requests reached the core";
  EXPECT_EQ(tail.floodDone->value("ok", 0), floodSize) << tail.floodDone->dump();
  EXPECT_EQ(tail.floodRequests, floodSize);
}

// The application's own requests and another page's have lanes of their own: before, a task
// terminal opened during a flood appeared only once the flood was over.
TEST_F(FetchFlood, ATaskTerminalAndAnotherPagesRequestDoNotWaitForAFlood) {
  // A task of the core whose terminal opens again during the flood.
  tellPage({{"start_task", true}});
  ASSERT_TRUE(e2e::waitUntil([&] { return !e2e::terminalChildrenOf(run.app->processIdentifier()).empty(); }, 30s));
  tellPage({{"stop_task", true}});
  ASSERT_TRUE(e2e::waitUntil([&] { return e2e::terminalChildrenOf(run.app->processIdentifier()).empty(); }, 30s));
  auto tasks = json::parse(run.request("GET", "/__test/state").body, nullptr, false)["tasks"];
  ASSERT_TRUE(tasks.is_array() && tasks.size() == 1);
  const std::string taskID = tasks[0].value("id", "");
  const std::string projectID = tasks[0].value("project_id", "");
  tail.update();
  tail.planAt.reset();

  tellPage({{"fetch_flood", {{"id", "during"}, {"count", floodSize}}}});
  ASSERT_TRUE(waitForRecord([&] { return tail.floodRequests > 0; }, 60s));
  // The overlay opens while the user is at the page; the terminal then takes the keyboard.
  e2e::clickThePage(e2e::mainWindow(run.app->processIdentifier()));
  e2e::postFromMainPage(
      run, {{"kind", "open-modal-overlay"}, {"overlay", "feedback"}, {"payload", {{"request_id", overlayRequest}}}});
  e2e::postFromMainPage(run, {{"task_id", taskID},
                              {"title", "Reference task"},
                              {"session_ids", json::array()},
                              {"runtime_status", "idle"},
                              {"agent", "codex"},
                              {"project_id", projectID},
                              {"focus", true},
                              {"launch", true}});

  EXPECT_TRUE(e2e::waitUntil([&] { return !e2e::terminalChildrenOf(run.app->processIdentifier()).empty(); }, 60s))
      << "no terminal appeared during the flood";
  EXPECT_TRUE(waitForRecord([&] { return tail.overlayReportAt.has_value(); }, 60s))
      << "the overlay page's request was not answered during the flood";
  // Both are served as soon as they are made, long before the flood's last request is sent.
  tail.update();
  EXPECT_LT(tail.planAt.value_or(floodSize), floodSize);
  EXPECT_LT(tail.overlayReportAt.value_or(floodSize), floodSize);
  ASSERT_TRUE(waitForRecord([&] { return tail.floodDone.has_value(); }, 180s));
  EXPECT_EQ(tail.floodDone->value("ok", 0), floodSize);
}

}  // namespace fetch_flood_e2e
