#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/CoreRecords.h"
#include "app/TaskRecords.h"

using nlohmann::json;
using namespace zorvel;

namespace {

json validTask() {
  return json::parse(R"({
    "task_id": "0b7c6f1e-6a57-4d6f-9a4e-3f1f6d2b8c11", "title": "Fix the build",
    "session_ids": [], "runtime_status": "idle", "agent": "codex", "focus": true
  })");
}

json validTriage() {
  return json::parse(R"({
    "kind": "triage", "in_progress": true, "tool_call_count": 3, "tool_call_names": ["read"],
    "total_tokens": 100, "output_tokens": 20, "recent_actions": [], "can_skip": false
  })");
}

json validAction() {
  return json::parse(R"({"action": "read", "input_tokens": 1, "output_tokens": 2,
    "total_input_tokens": 3, "total_output_tokens": 4, "created_at": "now"})");
}

json validRecovery() {
  return json::parse(R"({"kind": "triage-recovery", "task_id": "t", "title": "T", "agent": "codex",
    "error": "login needed", "login_required": false})");
}

}  // namespace

TEST(TaskMessageDecoding, RequiredAndOptionalFields) {
  auto decoded = TaskMessage::decode(validTask());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->title, "Fix the build");
  EXPECT_FALSE(decoded->launch);
  EXPECT_FALSE(decoded->agentProgress);

  for (const char* key : {"focus", "session_ids", "task_id", "title", "runtime_status", "agent"}) {
    auto j = validTask();
    j.erase(key);
    EXPECT_FALSE(TaskMessage::decode(j)) << "missing " << key;
    j = validTask();
    j[key] = nullptr;
    EXPECT_FALSE(TaskMessage::decode(j)) << "null " << key;
  }

  auto withNulls = validTask();
  withNulls["agent_progress"] = nullptr;
  withNulls["cwd"] = nullptr;
  withNulls["launch"] = false;
  withNulls["kind"] = "task";  // unknown keys are ignored
  auto d = TaskMessage::decode(withNulls);
  ASSERT_TRUE(d);
  EXPECT_FALSE(d->agentProgress);
  EXPECT_FALSE(d->cwd);
  EXPECT_EQ(d->launch, std::optional<bool>(false));
}

TEST(TaskMessageDecoding, TypesAreNeverConverted) {
  auto numericFocus = validTask();
  numericFocus["focus"] = 1;
  EXPECT_FALSE(TaskMessage::decode(numericFocus));

  auto numericTitle = validTask();
  numericTitle["title"] = 5;
  EXPECT_FALSE(TaskMessage::decode(numericTitle));

  auto badOptional = validTask();
  badOptional["model"] = 7;  // optional but present with the wrong type
  EXPECT_FALSE(TaskMessage::decode(badOptional));

  auto badListItem = validTask();
  badListItem["session_ids"] = json::array({"a", 2});
  EXPECT_FALSE(TaskMessage::decode(badListItem));

  EXPECT_FALSE(TaskMessage::decode(json::array({validTask()})));
  EXPECT_FALSE(TaskMessage::decode(json("text")));
  EXPECT_FALSE(TaskMessage::decodeText("{not json"));
  EXPECT_TRUE(TaskMessage::decodeText(validTask().dump()));
}

TEST(TaskMessageDecoding, NestedRecordsFailTheWholeMessage) {
  auto task = validTask();
  task["agent_progress"] = validTriage();
  task["agent_progress"]["current_usage"] = validAction();
  task["agent_progress"]["recent_actions"] = json::array({validAction(), validAction()});
  task["task_statistics"] = {
      {"tool_call_count", 2}, {"tool_call_names", json::array()}, {"total_tokens", 5}, {"output_tokens", 1}};
  auto decoded = TaskMessage::decode(task);
  ASSERT_TRUE(decoded);
  ASSERT_TRUE(decoded->agentProgress);
  EXPECT_EQ(decoded->agentProgress->recentActions.size(), 2u);
  EXPECT_EQ(decoded->agentProgress->currentUsage->totalOutputTokens, 4);
  EXPECT_EQ(decoded->taskStatistics->totalTokens, 5);

  auto noRecent = task;
  noRecent["agent_progress"].erase("recent_actions");
  EXPECT_FALSE(TaskMessage::decode(noRecent));

  auto badAction = task;
  badAction["agent_progress"]["recent_actions"][1].erase("created_at");
  EXPECT_FALSE(TaskMessage::decode(badAction));

  auto fractional = task;
  fractional["agent_progress"]["tool_call_count"] = 3.5;
  EXPECT_FALSE(TaskMessage::decode(fractional));
  fractional["agent_progress"]["tool_call_count"] = 3.0;
  EXPECT_TRUE(TaskMessage::decode(fractional));

  auto huge = task;
  huge["task_statistics"]["total_tokens"] = 18446744073709551615ull;
  EXPECT_FALSE(TaskMessage::decode(huge));
  huge["task_statistics"]["total_tokens"] = 1e300;
  EXPECT_FALSE(TaskMessage::decode(huge));
}

TEST(TriageRecoveryDecoding, Fields) {
  auto decoded = TriageRecoveryMessage::decode(validRecovery());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->error, "login needed");
  EXPECT_FALSE(decoded->agentExecutable);

  auto nullExecutable = validRecovery();
  nullExecutable["agent_executable"] = nullptr;
  EXPECT_TRUE(TriageRecoveryMessage::decode(nullExecutable));

  auto numericFlag = validRecovery();
  numericFlag["login_required"] = 1;
  EXPECT_FALSE(TriageRecoveryMessage::decode(numericFlag));

  auto noError = validRecovery();
  noError.erase("error");
  EXPECT_FALSE(TriageRecoveryMessage::decode(noError));
}

TEST(CoreRecordDecoding, TaskCleanupState) {
  auto state = json::parse(R"({"status": "done", "runtime_status": "idle", "turn_in_progress": false,
                               "background_work_active": true, "extra": 1})");
  auto decoded = TaskCleanupState::decode(state);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(decoded->backgroundWorkActive);

  auto missing = state;
  missing.erase("background_work_active");
  EXPECT_FALSE(TaskCleanupState::decode(missing));
  auto numeric = state;
  numeric["turn_in_progress"] = 0;
  EXPECT_FALSE(TaskCleanupState::decode(numeric));
  EXPECT_FALSE(TaskCleanupState::decodeText("[]"));
}

TEST(CoreRecordDecoding, TerminalLaunchPlan) {
  auto bare = TerminalLaunchPlan::decodeText(R"({"arguments": []})");
  ASSERT_TRUE(bare);
  EXPECT_TRUE(bare->arguments.empty());
  EXPECT_FALSE(bare->cwd);
  EXPECT_FALSE(bare->executable);

  auto full = TerminalLaunchPlan::decodeText(R"({"arguments": ["-l"], "cwd": null, "executable": "/bin/sh"})");
  ASSERT_TRUE(full);
  EXPECT_FALSE(full->cwd);
  EXPECT_EQ(full->executable, "/bin/sh");

  EXPECT_FALSE(TerminalLaunchPlan::decodeText(R"({"arguments": [], "cwd": 3})"));
  EXPECT_FALSE(TerminalLaunchPlan::decodeText(R"({"arguments": ["a", null]})"));
  EXPECT_FALSE(TerminalLaunchPlan::decodeText(R"({"cwd": "/"})"));
}
