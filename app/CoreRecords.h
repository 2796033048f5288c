#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorvel {

// Replies of the core that decide whether an idle task terminal may be stopped.
struct TaskCleanupState {
  std::string status;
  std::string runtimeStatus;
  bool turnInProgress = false;
  bool backgroundWorkActive = false;

  static std::optional<TaskCleanupState> decode(const nlohmann::json& value);
  static std::optional<TaskCleanupState> decodeText(std::string_view jsonText);
};

// The command line the core plans for a task terminal or an agent-profile login terminal.
// `arguments` does not include the program itself.
struct TerminalLaunchPlan {
  std::vector<std::string> arguments;
  std::optional<std::string> cwd;
  std::optional<std::string> executable;

  static std::optional<TerminalLaunchPlan> decode(const nlohmann::json& value);
  static std::optional<TerminalLaunchPlan> decodeText(std::string_view jsonText);
};

}  // namespace zorvel
