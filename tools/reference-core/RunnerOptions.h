#pragma once
// The command line and the test switches of the reference core.
#include <optional>
#include <string>
#include <vector>

namespace refcore {

struct RunnerOptions {
  std::string dataDirectory;
  int port = 0;
  int parentPID = 0;
  bool authControl = false;
};

// "serve-desktop --data-dir DIR --port N --parent-pid PID --auth-control"; the error text when the
// arguments are not that.
struct ParsedOptions {
  std::optional<RunnerOptions> options;
  std::string error;
};
ParsedOptions parseRunnerOptions(const std::vector<std::string>& arguments);

// Environment switches that make the core misbehave on purpose, so the application's failure
// paths can be tested. None is set in normal runs.
struct TestSwitches {
  int readyDelayMilliseconds = 0;                 // ZORVEL_REFCORE_READY_DELAY_MS
  std::string probeKind = "ok";                   // ZORVEL_REFCORE_PROBE_KIND
  std::optional<std::string> stderrAndExit;       // ZORVEL_REFCORE_STDERR_AND_EXIT
  std::optional<int> exitAfterReadyMilliseconds;  // ZORVEL_REFCORE_EXIT_AFTER_READY_MS
  std::optional<std::string> emitControl;         // ZORVEL_REFCORE_EMIT_CONTROL
  std::string recordPath;                         // ZORVEL_REFCORE_RECORD
  std::optional<std::string> terminalShell;       // ZORVEL_REFCORE_SHELL
  std::optional<int> captureStatus;               // ZORVEL_REFCORE_CAPTURE_STATUS
  // ZORVEL_REFCORE_HOLD_FIRST_PROBE_MS: the first readiness request is answered (as ready) only
  // this long after it came; 0 ("never") leaves it unanswered.
  std::optional<int> holdFirstProbeMilliseconds;
  bool stallControl = false;  // ZORVEL_REFCORE_STALL_CONTROL=1: stop reading control input after the bootstrap
  // ZORVEL_REFCORE_NOT_READY_WHILE: a path; readiness requests are answered "starting" while a file
  // is there, so a test can keep a restarted core from becoming ready for as long as it needs.
  std::optional<std::string> notReadyWhile;
  // ZORVEL_REFCORE_CHILD_KEEPS_PORT: once listening, start a child that holds the listening socket
  // and idles until killed, as a worker forked by a server does: "group" in the core's process
  // group, "own-group" in a group of its own, "own-session" in a session of its own.
  std::optional<std::string> childKeepsPort;
};
TestSwitches readTestSwitches();

extern const char* const usage;

}  // namespace refcore
