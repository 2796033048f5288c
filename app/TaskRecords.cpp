#include "app/TaskRecords.h"

#include "app/JSONFieldReader.h"

namespace zorvel {

namespace {

template <class Record>
std::optional<Record> finish(const JSONFieldReader& reader, Record record) {
  if (!reader.ok()) return std::nullopt;
  return record;
}

template <class Record>
std::optional<Record> parseAndDecode(std::string_view jsonText) {
  auto value = nlohmann::json::parse(jsonText, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return Record::decode(value);
}

}  // namespace

std::optional<AgentActionDisplay> AgentActionDisplay::decode(const nlohmann::json& value) {
  JSONFieldReader r(value);
  AgentActionDisplay d;
  d.action = r.requiredString("action");
  d.inputTokens = r.requiredInteger("input_tokens");
  d.outputTokens = r.requiredInteger("output_tokens");
  d.totalInputTokens = r.requiredInteger("total_input_tokens");
  d.totalOutputTokens = r.requiredInteger("total_output_tokens");
  d.createdAt = r.requiredString("created_at");
  return finish(r, std::move(d));
}

std::optional<TriageDisplay> TriageDisplay::decode(const nlohmann::json& value) {
  JSONFieldReader r(value);
  TriageDisplay d;
  d.kind = r.requiredString("kind");
  d.inProgress = r.requiredBool("in_progress");
  d.status = r.optionalString("status");
  d.statusAt = r.optionalString("status_at");
  d.toolCallCount = r.requiredInteger("tool_call_count");
  d.toolCallNames = r.requiredStringList("tool_call_names");
  d.totalTokens = r.requiredInteger("total_tokens");
  d.outputTokens = r.requiredInteger("output_tokens");
  d.outputPreview = r.optionalString("output_preview");
  d.currentUsage = r.optionalRecord<AgentActionDisplay>("current_usage");
  d.recentActions = r.requiredRecordList<AgentActionDisplay>("recent_actions");
  d.canSkip = r.requiredBool("can_skip");
  return finish(r, std::move(d));
}

std::optional<TaskStatisticsDisplay> TaskStatisticsDisplay::decode(const nlohmann::json& value) {
  JSONFieldReader r(value);
  TaskStatisticsDisplay d;
  d.toolCallCount = r.requiredInteger("tool_call_count");
  d.toolCallNames = r.requiredStringList("tool_call_names");
  d.totalTokens = r.requiredInteger("total_tokens");
  d.outputTokens = r.requiredInteger("output_tokens");
  d.outputPreview = r.optionalString("output_preview");
  return finish(r, std::move(d));
}

std::optional<TaskMessage> TaskMessage::decode(const nlohmann::json& value) {
  JSONFieldReader r(value);
  TaskMessage m;
  m.taskID = r.requiredString("task_id");
  m.title = r.requiredString("title");
  m.cwd = r.optionalString("cwd");
  m.projectID = r.optionalString("project_id");
  m.sessionIDs = r.requiredStringList("session_ids");
  m.runtimeStatus = r.requiredString("runtime_status");
  m.agent = r.requiredString("agent");
  m.model = r.optionalString("model");
  m.effort = r.optionalString("effort");
  m.launch = r.optionalBool("launch");
  m.focus = r.requiredBool("focus");
  m.placeholder = r.optionalString("placeholder");
  m.agentProgress = r.optionalRecord<TriageDisplay>("agent_progress");
  m.taskStatistics = r.optionalRecord<TaskStatisticsDisplay>("task_statistics");
  return finish(r, std::move(m));
}

std::optional<TaskMessage> TaskMessage::decodeText(std::string_view jsonText) {
  return parseAndDecode<TaskMessage>(jsonText);
}

std::optional<TriageRecoveryMessage> TriageRecoveryMessage::decode(const nlohmann::json& value) {
  JSONFieldReader r(value);
  TriageRecoveryMessage m;
  // The wire order puts "error" before "agent_executable"; only the first failure matters, so
  // the order is kept for fidelity rather than effect.
  m.taskID = r.requiredString("task_id");
  m.title = r.requiredString("title");
  m.cwd = r.optionalString("cwd");
  m.agent = r.requiredString("agent");
  m.model = r.optionalString("model");
  m.error = r.requiredString("error");
  m.agentExecutable = r.optionalString("agent_executable");
  m.loginRequired = r.requiredBool("login_required");
  return finish(r, std::move(m));
}

std::optional<TriageRecoveryMessage> TriageRecoveryMessage::decodeText(std::string_view jsonText) {
  return parseAndDecode<TriageRecoveryMessage>(jsonText);
}

}  // namespace zorvel
