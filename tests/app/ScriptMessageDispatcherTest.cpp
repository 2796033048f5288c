#include <gtest/gtest.h>

#include <algorithm>

#include "RecordingScriptMessageTarget.h"
#include "app/ScriptMessageDispatcher.h"

using nlohmann::json;
using namespace zorvel;
using Calls = std::vector<std::string>;

namespace {

constexpr const char* taskID = "0b7c6f1e-6a57-4d6f-9a4e-3f1f6d2b8c11";

class Dispatcher : public ::testing::Test {
 protected:
  Calls send(const json& body, const char* name = "zorvelTerminal") {
    target.calls.clear();
    dispatcher.dispatch(name, body, nullptr);
    return target.calls;
  }
  json task() {
    return {{"task_id", taskID},        {"title", "T"},     {"session_ids", json::array()},
            {"runtime_status", "idle"}, {"agent", "codex"}, {"focus", true}};
  }
  json triage() {
    return {{"kind", "triage"},
            {"in_progress", true},
            {"tool_call_count", 0},
            {"tool_call_names", json::array()},
            {"total_tokens", 0},
            {"output_tokens", 0},
            {"recent_actions", json::array()},
            {"can_skip", true}};
  }

  RecordingScriptMessageTarget target;
  ScriptMessageDispatcher dispatcher{target};
};

}  // namespace

TEST_F(Dispatcher, MalformedAndUnknownMessagesChangeNothing) {
  EXPECT_EQ(send(json("text")), Calls{});
  EXPECT_EQ(send(json(5)), Calls{});
  EXPECT_EQ(send(json::array({task()})), Calls{});
  EXPECT_EQ(send({{"kind", "no-such-kind"}}), Calls{});
  EXPECT_EQ(send({{"kind", "FETCH"}}), Calls{});
  EXPECT_EQ(send({{"kind", "event-stream-close"}}), Calls{});
  EXPECT_EQ(send({{"kind", "pick-executable"}, {"agent", 3}}), Calls{});
  EXPECT_EQ(send({{"kind", "sidebar-width"}, {"width", "wide"}}), Calls{});
  EXPECT_EQ(send(task(), "otherHandler"), Calls{});
  EXPECT_TRUE(target.titles.empty());
}

TEST_F(Dispatcher, FieldReadingAndDefaults) {
  EXPECT_EQ(send({{"kind", "theme"}, {"value", "Light"}}), Calls{"theme dark"});
  EXPECT_EQ(send({{"kind", "theme"}, {"value", "light"}}), Calls{"theme light"});
  EXPECT_EQ(send({{"kind", "theme"}}), Calls{"theme dark"});
  EXPECT_EQ(send({{"kind", "ui-error"}, {"message", 3}}), Calls{"failure Unknown JavaScript error transient"});
  EXPECT_EQ(send({{"kind", "native-notification-debug"}, {"event_count", 2.5}, {"bridge_available", 1}}),
            Calls{"notify-debug 0 unknown true"});
  EXPECT_EQ(
      send({{"kind", "native-notification-debug"}, {"event_count", 4}, {"task_id", "x"}, {"bridge_available", true}}),
      Calls{"notify-debug 4 x true"});
  EXPECT_EQ(send({{"kind", "event-stream-close"}, {"id", "s1"}}), Calls{"stream-close s1"});
  EXPECT_EQ(send({{"kind", "sidebar-width"}, {"width", true}}), Calls{"sidebar-width 1 persist"});
  EXPECT_EQ(send({{"kind", "open-modal-overlay"},
                  {"overlay", "settings"},
                  {"theme", 1},
                  {"payload", "x"},
                  {"error_event", json::object()}}),
            Calls{"overlay settings error"});
  EXPECT_EQ(send({{"kind", "open-modal-overlay"}, {"overlay", "s"}, {"theme", "light"}}),
            (Calls{"theme light", "overlay s"}));
}

TEST_F(Dispatcher, OverlayGenerations) {
  EXPECT_EQ(send({{"kind", "close-modal-overlay"}}), Calls{});
  target.overlayGeneration = 3;
  EXPECT_EQ(send({{"kind", "close-modal-overlay"}}), Calls{});
  EXPECT_EQ(send({{"kind", "close-modal-overlay"}, {"generation", 2}}), Calls{});
  EXPECT_EQ(send({{"kind", "close-modal-overlay"}, {"generation", 3.7}}), Calls{"close-overlay restore"});
  EXPECT_EQ(send({{"kind", "modal-overlay-resize"}, {"generation", 3}, {"width", 600}, {"height", 400}}),
            Calls{"resize-overlay 600x400"});
  EXPECT_EQ(send({{"kind", "modal-overlay-resize"}, {"generation", 4}, {"width", 600}, {"height", 400}}), Calls{});
  EXPECT_EQ(send({{"kind", "modal-overlay-ready"}, {"generation", 3}}), Calls{"overlay-ready"});
  EXPECT_EQ(send({{"kind", "modal-overlay-ready"}, {"generation", 1e300}}), Calls{});
}

TEST_F(Dispatcher, SidebarResizeIsLoggedOnceAndNotPersisted) {
  EXPECT_EQ(send({{"kind", "sidebar-resize-start"}}), Calls{"resize-log begin"});
  EXPECT_EQ(send({{"kind", "sidebar-resize-start"}}), Calls{});
  EXPECT_TRUE(target.resizing);
  EXPECT_EQ(send({{"kind", "sidebar-width"}, {"width", 300}}), Calls{"sidebar-width 300"});
  EXPECT_EQ(send({{"kind", "sidebar-resize-end"}, {"width", 310}}), Calls{"sidebar-end 310"});
}

TEST_F(Dispatcher, TaskMessagePaths) {
  EXPECT_EQ(send(task()), (Calls{"enter-layout", "create-terminal"}));
  EXPECT_EQ(target.titles[taskID], "T");

  auto placeholder = task();
  placeholder["launch"] = false;
  EXPECT_EQ(send(placeholder), (Calls{"enter-layout", "placeholder No terminal is running for this task."}));
  placeholder["placeholder"] = "Waiting";
  EXPECT_EQ(send(placeholder), (Calls{"enter-layout", "placeholder Waiting"}));

  auto progress = placeholder;
  progress["agent_progress"] = triage();
  target.runningTerminals = {taskID};
  EXPECT_EQ(send(progress), (Calls{"enter-layout", "triage-progress"}));
  EXPECT_EQ(send(task()), (Calls{"enter-layout", "show-terminal focus"}));

  auto withKind = task();
  withKind["kind"] = "task";
  EXPECT_EQ(send(withKind), (Calls{"enter-layout", "show-terminal focus"}));
}

TEST_F(Dispatcher, StatisticsAreKeptUntilReplaced) {
  auto withStats = task();
  withStats["launch"] = false;
  withStats["task_statistics"] = {
      {"tool_call_count", 1}, {"tool_call_names", {"read"}}, {"total_tokens", 9}, {"output_tokens", 2}};
  send(withStats);
  auto without = task();
  without["launch"] = false;
  EXPECT_EQ(send(without), (Calls{"enter-layout", "placeholder No terminal is running for this task."}));
  ASSERT_EQ(target.statistics.count(taskID), 1u);
  EXPECT_EQ(target.statistics[taskID].totalTokens, 9);
}

TEST_F(Dispatcher, IdsBoundForCoreURLsMustBeWellFormed) {
  auto traversal = task();
  traversal["task_id"] = "../../agent-profiles/x";
  EXPECT_EQ(send(traversal), Calls{});
  // A bad project id still reaches the terminal road, which answers it with the no-project panel.
  auto badProject = task();
  badProject["project_id"] = "p/../../x";
  EXPECT_EQ(send(badProject), (Calls{"enter-layout", "create-terminal"}));
  auto badSession = task();
  badSession["session_ids"] = {"s?x=1"};
  EXPECT_EQ(send(badSession), Calls{});

  EXPECT_EQ(send({{"kind", "stop-terminal"}, {"task_id", "../x"}}), Calls{});
  EXPECT_EQ(send({{"kind", "stop-terminal"}, {"task_id", taskID}}), Calls{"stop-terminal"});
  // A picker's project id reaches no URL: the page gets it back as it sent it.
  EXPECT_EQ(send({{"kind", "pick-project-directory"}, {"project_id", "a/b"}}), Calls{"pick-project a/b"});
  EXPECT_EQ(send({{"kind", "agent-profile-login"}, {"profile_id", "../admin"}}), Calls{});
  EXPECT_EQ(send({{"kind", "agent-profile-login"}, {"profile_id", "codex-main"}}), Calls{"profile-login codex-main"});

  json recovery = {{"kind", "triage-recovery"}, {"task_id", taskID}, {"title", "R"},
                   {"agent", "codex"},          {"error", "e"},      {"login_required", true}};
  EXPECT_EQ(send(recovery), (Calls{"enter-layout", "triage-recovery"}));
  recovery["login_required"] = 1;
  EXPECT_EQ(send(recovery), Calls{});
}
