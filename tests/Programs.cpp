#include "Programs.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace testing::programs {

namespace {

struct Entry {
  std::string package;
  bool asRoot = false;  // only scripts/install-deps runs it, with root's rights
};

// Program name to its entry, read once.
const std::map<std::string, Entry>& listed() {
  static const std::map<std::string, Entry> list = [] {
    std::map<std::string, Entry> read;
    std::ifstream in(ZORVEL_SOURCE_DIR "/scripts/programs");
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream fields(line);
      std::string program, package, how;
      if (fields >> program >> package) read[program] = {package, (fields >> how) && how == "root"};
    }
    return read;
  }();
  return list;
}

bool isExecutable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

std::string found(const std::string& program) {
  if (program.find('/') != std::string::npos) return isExecutable(program) ? program : "";
  const char* path = std::getenv("PATH");
  std::istringstream directories(path ? path : "");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    if (!directory.empty() && isExecutable(directory + "/" + program)) return directory + "/" + program;
  }
  return "";
}

bool onPath(const std::string& program) { return !found(program).empty(); }

bool endsWord(char c) {
  return c == ' ' || c == '\t' || c == '\n' || std::string_view("|;&()\"'<>").find(c) != std::string_view::npos;
}

}  // namespace

std::vector<std::string> ofCommand(const std::string& command) {
  std::vector<std::string> programs;
  bool commandStarts = true;
  bool skipNext = false;  // the duration of `timeout`
  bool singleQuoted = false;
  std::size_t i = 0;
  while (i < command.size()) {
    char c = command[i];
    char next = i + 1 < command.size() ? command[i + 1] : '\0';
    if (c == '\'') {
      singleQuoted = !singleQuoted;
      commandStarts = false;
      ++i;
    } else if (singleQuoted) {
      ++i;
    } else if (c == '|' || c == ';' || (c == '&' && next == '&') || (c == '$' && next == '(')) {
      commandStarts = true;
      i += (c == '|' && next == '|') || c == '&' || c == '$' ? 2 : 1;
    } else if (endsWord(c)) {
      ++i;
    } else {
      std::size_t end = i;
      while (end < command.size() && !endsWord(command[end])) ++end;
      std::string word = command.substr(i, end - i);
      i = end;
      if (!commandStarts || word.find('=') != std::string::npos) continue;
      if (skipNext) {
        skipNext = false;
      } else if (word == "timeout") {
        programs.push_back(word);
        skipNext = true;
      } else {
        programs.push_back(word);
        commandStarts = false;
      }
    }
  }
  return programs;
}

std::optional<std::string> problem(const std::string& command) {
  for (const auto& program : ofCommand(command)) {
    auto name = program.substr(program.rfind('/') + 1);
    auto found = listed().find(name);
    if (found == listed().end()) return name + " is not listed in scripts/programs";
    if (found->second.asRoot) return name + " is run only with root's rights, by scripts/install-deps";
    if (!onPath(program)) return "missing " + name + " (package " + found->second.package + ")";
  }
  return std::nullopt;
}

void require(const std::string& command) {
  if (auto found = problem(command)) throw std::runtime_error(*found + ", which this test runs: " + command);
}

std::string path(const std::string& program) {
  require(program);
  return found(program);
}

}  // namespace testing::programs
