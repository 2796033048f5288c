#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zorvel {

using ChildEnvironment = std::map<std::string, std::string>;

// What a task or login terminal's child sees in its environment.
namespace TerminalEnvironment {

// The base with the terminal's own variables laid over it; colour is always on.
ChildEnvironment make(const std::string& searchPath, const ChildEnvironment& base);

// The application's own process environment.
ChildEnvironment processEnvironment();

struct Locations {
  std::string baseURL;
  std::optional<std::string> configPath;
  std::string dataDirectory;
};

// A task terminal's environment, without its project token (the shell fallback runs without one).
ChildEnvironment taskEnvironment(const std::string& searchPath, const ChildEnvironment& base,
                                 const Locations& locations, int processID);
// A login terminal's environment: where the data lives, nothing about this process or the core.
ChildEnvironment loginEnvironment(const std::string& searchPath, const ChildEnvironment& base,
                                  const Locations& locations);

// One "name=value" string per entry, in the environment's own order.
std::vector<std::string> list(const ChildEnvironment& environment);

}  // namespace TerminalEnvironment

}  // namespace zorvel
