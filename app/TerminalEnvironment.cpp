#include "app/TerminalEnvironment.h"

// GCC 12 reports a false -Wrestrict on inlined short-string assignments at high optimisation.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include <filesystem>

#include "Vantrelle/Terminal/ChildLocale.h"

extern char** environ;

namespace zorvel::TerminalEnvironment {

ChildEnvironment make(const std::string& searchPath, const ChildEnvironment& base) {
  ChildEnvironment environment = base;
  environment.erase("NO_COLOR");
  static const std::pair<std::string, std::string> fixed[] = {{"TERM", "xterm-256color"},
                                                              {"COLORTERM", "truecolor"},
                                                              {"CLICOLOR", "1"},
                                                              {"LANG", vantrelle::childLocale()},
                                                              {"LC_CTYPE", vantrelle::childLocale()},
                                                              {"TERM_PROGRAM", "Zorvel"}};
  for (const auto& [name, value] : fixed) environment.insert_or_assign(name, value);
  environment.insert_or_assign("PATH", searchPath);
  return environment;
}

ChildEnvironment processEnvironment() {
  ChildEnvironment environment;
  for (char** entry = environ; entry && *entry; ++entry) {
    std::string text(*entry);
    auto equals = text.find('=');
    if (equals == std::string::npos || equals == 0) continue;
    environment.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  return environment;
}

namespace {

void addDataLocations(ChildEnvironment& environment, const Locations& locations) {
  if (locations.configPath) environment["ZORVEL_CONFIG"] = *locations.configPath;
  environment["ZORVEL_DATA_DIR"] = locations.dataDirectory;
  environment["ZORVEL_DB"] = (std::filesystem::path(locations.dataDirectory) / "zorvel.sqlite3").string();
}

std::string trimmingSlashes(const std::string& text) {
  auto first = text.find_first_not_of('/');
  if (first == std::string::npos) return {};
  auto last = text.find_last_not_of('/');
  return text.substr(first, last - first + 1);
}

}  // namespace

ChildEnvironment taskEnvironment(const std::string& searchPath, const ChildEnvironment& base,
                                 const Locations& locations, int processID) {
  auto environment = make(searchPath, base);
  environment["ZORVEL_BASE_URL"] = trimmingSlashes(locations.baseURL);
  addDataLocations(environment, locations);
  environment["ZORVEL_DESKTOP_PARENT_PID"] = std::to_string(processID);
  environment["ZORVEL_DESKTOP_DIRECT_CHILD"] = "1";
  return environment;
}

ChildEnvironment loginEnvironment(const std::string& searchPath, const ChildEnvironment& base,
                                  const Locations& locations) {
  auto environment = make(searchPath, base);
  addDataLocations(environment, locations);
  return environment;
}

std::vector<std::string> list(const ChildEnvironment& environment) {
  std::vector<std::string> entries;
  entries.reserve(environment.size());
  for (const auto& [name, value] : environment) {
    std::string entry;
    entry.reserve(name.size() + 1 + value.size());
    entry.append(name).append(1, '=').append(value);
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace zorvel::TerminalEnvironment
