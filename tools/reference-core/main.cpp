// zorvel-runner: the reference core. "serve-desktop" serves the desktop application;
// "profile-login" is the program a login terminal runs.
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

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (!arguments.empty() && arguments[0] == "profile-login") return profileLogin(arguments);
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
