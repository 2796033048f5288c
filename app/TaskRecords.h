#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvel {

// Records the page sends about tasks. They are only ever decoded: each `decode` yields a complete
// record or nothing, with snake_case keys, no type conversion and unknown keys ignored.

struct AgentActionDisplay {
  std::string action;
  std::int64_t inputTokens = 0;
  std::int64_t outputTokens = 0;
  std::int64_t totalInputTokens = 0;
  std::int64_t totalOutputTokens = 0;
  std::string createdAt;

  static std::optional<AgentActionDisplay> decode(const nlohmann::json& value);
};

struct TriageDisplay {
  std::string kind;
  bool inProgress = false;
  std::optional<std::string> status;
  std::optional<std::string> statusAt;
  std::int64_t toolCallCount = 0;
  std::vector<std::string> toolCallNames;
  std::int64_t totalTokens = 0;
  std::int64_t outputTokens = 0;
  std::optional<std::string> outputPreview;
  std::optional<AgentActionDisplay> currentUsage;
  std::vector<AgentActionDisplay> recentActions;
  bool canSkip = false;

  static std::optional<TriageDisplay> decode(const nlohmann::json& value);
};

struct TaskStatisticsDisplay {
  std::int64_t toolCallCount = 0;
  std::vector<std::string> toolCallNames;
  std::int64_t totalTokens = 0;
  std::int64_t outputTokens = 0;
  std::optional<std::string> outputPreview;

  static std::optional<TaskStatisticsDisplay> decode(const nlohmann::json& value);
};

struct TaskMessage {
  std::string taskID;
  std::string title;
  std::optional<std::string> cwd;
  std::optional<std::string> projectID;
  std::vector<std::string> sessionIDs;
  std::string runtimeStatus;
  std::string agent;
  std::optional<std::string> model;
  std::optional<std::string> effort;
  std::optional<bool> launch;
  bool focus = false;
  std::optional<std::string> placeholder;
  std::optional<TriageDisplay> agentProgress;
  std::optional<TaskStatisticsDisplay> taskStatistics;

  static std::optional<TaskMessage> decode(const nlohmann::json& value);
  static std::optional<TaskMessage> decodeText(std::string_view jsonText);
};

struct TriageRecoveryMessage {
  std::string taskID;
  std::string title;
  std::optional<std::string> cwd;
  std::string agent;
  std::optional<std::string> model;
  std::optional<std::string> agentExecutable;
  std::string error;
  bool loginRequired = false;

  static std::optional<TriageRecoveryMessage> decode(const nlohmann::json& value);
  static std::optional<TriageRecoveryMessage> decodeText(std::string_view jsonText);
};

}  // namespace zorvel
