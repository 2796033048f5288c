#include "app/CoreRecords.h"

#include "app/JSONFieldReader.h"

namespace zorvel {

namespace {
nlohmann::json parseOrDiscard(std::string_view text) {
  return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
}
}  // namespace

std::optional<TaskCleanupState> TaskCleanupState::decode(const nlohmann::json& value) {
  JSONFieldReader r(value);
  TaskCleanupState s;
  s.status = r.requiredString("status");
  s.runtimeStatus = r.requiredString("runtime_status");
  s.turnInProgress = r.requiredBool("turn_in_progress");
  s.backgroundWorkActive = r.requiredBool("background_work_active");
  if (!r.ok()) return std::nullopt;
  return s;
}

std::optional<TaskCleanupState> TaskCleanupState::decodeText(std::string_view jsonText) {
  return decode(parseOrDiscard(jsonText));
}

std::optional<TerminalLaunchPlan> TerminalLaunchPlan::decode(const nlohmann::json& value) {
  JSONFieldReader r(value);
  TerminalLaunchPlan p;
  p.arguments = r.requiredStringList("arguments");
  p.cwd = r.optionalString("cwd");
  p.executable = r.optionalString("executable");
  if (!r.ok()) return std::nullopt;
  return p;
}

std::optional<TerminalLaunchPlan> TerminalLaunchPlan::decodeText(std::string_view jsonText) {
  return decode(parseOrDiscard(jsonText));
}

}  // namespace zorvel
