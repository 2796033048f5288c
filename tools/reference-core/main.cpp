// zorvel-runner: the reference core. "serve-desktop" serves the desktop application;
// "profile-login" is the program a login terminal runs; "agent-terminal" stands in for the agent
// of a task terminal and "agent-login" for an agent's login command.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/reference-core/ReferenceCore.h"
#include "tools/reference-core/RunnerOptions.h"

namespace {

int profileLogin(const std::vector<std::string>& arguments) {
  if (arguments.size() != 2 || arguments[1].empty()) {
    std::fputs(refcore::usage, stderr);
    return 2;
  }
  std::printf("Signing in to agent profile %s...\nSigned in.\n", arguments[1].c_str());
  return 0;
}

// Announces the task, then becomes the shell, so the terminal runs a real interactive program.
int agentTerminal(const std::vector<std::string>& arguments) {
  if (arguments.size() != 3 || arguments[1].empty() || arguments[2].empty() || arguments[2][0] != '/') {
    std::fputs(refcore::usage, stderr);
    return 2;
  }
  std::printf("Zorvel reference agent for task %s\n", arguments[1].c_str());
  std::fflush(stdout);
  const char* shell = arguments[2].c_str();
  ::execl(shell, shell, static_cast<char*>(nullptr));
  std::perror("zorvel-runner: cannot start the shell");
  return 127;
}

int agentLogin(const std::vector<std::string>& arguments) {
  if (arguments.size() != 3 || arguments[1].empty()) {
    std::fputs(refcore::usage, stderr);
    return 2;
  }
  std::printf("Signing in the agent of task %s...\nSigned in.\n", arguments[1].c_str());
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments[0] == "profile-login") return profileLogin(arguments);
  if (!arguments.empty() && arguments[0] == "agent-terminal") return agentTerminal(arguments);
  if (!arguments.empty() && arguments[0] == "agent-login") return agentLogin(arguments);
  const auto parsed = refcore::parseRunnerOptions(arguments);
  if (!parsed.options) {
    std::fprintf(stderr, "zorvel-runner: %s\n%s", parsed.error.c_str(), refcore::usage);
    return 2;
  }
  refcore::TestSwitches switches = refcore::readTestSwitches();
  if (switches.stderrAndExit) {
    std::fputs(switches.stderrAndExit->c_str(), stderr);
    std::fflush(stderr);
    return 1;
  }
  refcore::ReferenceCore core(*parsed.options, std::move(switches), arguments);
  return core.run();
}
