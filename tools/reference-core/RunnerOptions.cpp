#include "tools/reference-core/RunnerOptions.h"

#include <charconv>
#include <cstdlib>

namespace refcore {

const char* const usage =
    "usage: zorvel-runner serve-desktop --data-dir DIR --port N --parent-pid PID --auth-control\n"
    "       zorvel-runner profile-login PROFILE-ID\n"
    "       zorvel-runner agent-terminal TASK-ID SHELL\n"
    "       zorvel-runner agent-login TASK-ID SHELL\n";

namespace {

std::optional<int> parseInt(const std::string& text, int minimum, int maximum) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < minimum || value > maximum) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace

ParsedOptions parseRunnerOptions(const std::vector<std::string>& arguments) {
  ParsedOptions parsed;
  if (arguments.empty() || arguments[0] != "serve-desktop") {
    parsed.error = "expected the serve-desktop command";
    return parsed;
  }
  RunnerOptions options;
  bool hasDataDir = false, hasPort = false, hasParent = false;
  for (size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool hasValue = i + 1 < arguments.size();
    if (argument == "--auth-control") {
      options.authControl = true;
    } else if (argument == "--data-dir" && hasValue && !arguments[i + 1].empty()) {
      options.dataDirectory = arguments[++i];
      hasDataDir = true;
    } else if (argument == "--port" && hasValue) {
      auto port = parseInt(arguments[++i], 1, 65535);
      if (!port) return {std::nullopt, "invalid port: " + arguments[i]};
      options.port = *port;
      hasPort = true;
    } else if (argument == "--parent-pid" && hasValue) {
      auto pid = parseInt(arguments[++i], 1, 0x7fffffff);
      if (!pid) return {std::nullopt, "invalid parent pid: " + arguments[i]};
      options.parentPID = *pid;
      hasParent = true;
    } else {
      return {std::nullopt, "unexpected argument: " + argument};
    }
  }
  if (!hasDataDir || !hasPort || !hasParent || !options.authControl) {
    parsed.error = "missing one of --data-dir, --port, --parent-pid, --auth-control";
    return parsed;
  }
  parsed.options = options;
  return parsed;
}

TestSwitches readTestSwitches() {
  TestSwitches switches;
  if (auto delay = environment("ZORVEL_REFCORE_READY_DELAY_MS")) {
    switches.readyDelayMilliseconds = parseInt(*delay, 0, 600000).value_or(0);
  }
  if (auto kind = environment("ZORVEL_REFCORE_PROBE_KIND"); kind && !kind->empty()) switches.probeKind = *kind;
  switches.stderrAndExit = environment("ZORVEL_REFCORE_STDERR_AND_EXIT");
  if (auto exit = environment("ZORVEL_REFCORE_EXIT_AFTER_READY_MS")) {
    switches.exitAfterReadyMilliseconds = parseInt(*exit, 0, 600000);
  }
  switches.emitControl = environment("ZORVEL_REFCORE_EMIT_CONTROL");
  switches.recordPath = environment("ZORVEL_REFCORE_RECORD").value_or("");
  switches.terminalShell = environment("ZORVEL_REFCORE_SHELL");
  if (auto status = environment("ZORVEL_REFCORE_CAPTURE_STATUS")) switches.captureStatus = parseInt(*status, 400, 599);
  if (auto hold = environment("ZORVEL_REFCORE_HOLD_FIRST_PROBE_MS")) {
    switches.holdFirstProbeMilliseconds = *hold == "never" ? std::optional<int>(0) : parseInt(*hold, 1, 600000);
  }
  switches.stallControl = environment("ZORVEL_REFCORE_STALL_CONTROL") == std::optional<std::string>("1");
  if (auto path = environment("ZORVEL_REFCORE_NOT_READY_WHILE"); path && !path->empty()) switches.notReadyWhile = path;
  if (auto mode = environment("ZORVEL_REFCORE_CHILD_KEEPS_PORT"); mode && !mode->empty())
    switches.childKeepsPort = mode;
  return switches;
}

}  // namespace refcore
