#include "app/ConnectionSettings.h"

#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>

#include "app/TextEncoding.h"
#include "platform/ChildProcess.h"

extern char** environ;

namespace zorvel {

namespace {

std::vector<std::string> splitPath(const std::optional<std::string>& path) {
  std::vector<std::string> pieces;
  if (!path) return pieces;
  std::stringstream stream(*path);
  std::string piece;
  while (std::getline(stream, piece, ':')) {
    if (!piece.empty()) pieces.push_back(piece);
  }
  return pieces;
}

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

std::string joinPath(const std::string& directory, const std::string& name) {
  if (directory.empty() || directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

// "~" and "~/rest" become the home directory; "~user/rest" that user's home.
std::string expandTilde(const std::string& path, const SettingsSources& sources) {
  if (path.empty() || path[0] != '~') return path;
  size_t slash = path.find('/');
  std::string user = path.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  std::string rest = slash == std::string::npos ? "" : path.substr(slash);
  std::optional<std::string> home;
  if (user.empty()) {
    home = sources.env("HOME");
    if (!home) {
      if (const passwd* entry = ::getpwuid(::getuid())) home = entry->pw_dir;
    }
  } else if (const passwd* entry = ::getpwnam(user.c_str())) {
    home = entry->pw_dir;
  }
  if (!home) return path;
  std::string result = *home + rest;
  if (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

}  // namespace

SettingsSources SettingsSources::current() {
  SettingsSources sources;
  for (char** entry = environ; *entry; ++entry) {
    std::string text(*entry);
    size_t equals = text.find('=');
    if (equals == std::string::npos) continue;
    sources.environment.emplace(text.substr(0, equals), text.substr(equals + 1));
  }
  auto dataHome = sources.env("XDG_DATA_HOME");
  if (dataHome && !dataHome->empty() && (*dataHome)[0] == '/') {
    sources.applicationSupportDirectory = *dataHome;
  } else {
    sources.applicationSupportDirectory = expandTilde("~", sources) + "/.local/share";
  }
  sources.runShell = [](const std::string& shell, const std::vector<std::string>& arguments) {
    return runLoginShell(shell, arguments, std::chrono::seconds(5));
  };
  return sources;
}

std::optional<std::string> SettingsSources::env(const std::string& name) const {
  auto found = environment.find(name);
  if (found == environment.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> SettingsSources::infoString(const std::string& key) const {
  auto found = info.find(key);
  if (found == info.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

bool ConnectionSettings::isSetupPreview(const SettingsSources& sources) {
  auto found = sources.info.find("ZorvelSetupPreview");
  return found != sources.info.end() && found->is_boolean() && found->get<bool>();
}

bool ConnectionSettings::isDevelopmentBundle(const SettingsSources& sources) {
  return sources.bundleIdentifier == developmentBundleIdentifier;
}

std::string ConnectionSettings::desktopDataDirectoryPath(const SettingsSources& sources) {
  if (auto fromEnvironment = sources.env("ZORVEL_DESKTOP_DATA_DIR")) {
    return expandTilde(*fromEnvironment, sources);
  }
  const char* name = isSetupPreview(sources)        ? "Zorvel Setup Preview"
                     : isDevelopmentBundle(sources) ? "Zorvel Dev"
                                                    : "Zorvel";
  return joinPath(sources.applicationSupportDirectory, name);
}

std::optional<long long> ConnectionSettings::parsePort(const std::string& text) {
  size_t start = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
  if (start == text.size()) return std::nullopt;
  long long value = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    if (value > (std::numeric_limits<long long>::max() - (c - '0')) / 10) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return text[0] == '-' ? -value : value;
}

ConnectionSettings::Connection ConnectionSettings::zorvelConnection(const SettingsSources& sources,
                                                                    const std::string& dataDirectory) {
  long long port = isSetupPreview(sources) ? 7335 : isDevelopmentBundle(sources) ? 7333 : 7332;
  if (auto text = sources.env("ZORVEL_DESKTOP_PORT"); text && !text->empty()) {
    if (auto parsed = parsePort(*text); parsed && *parsed >= 1 && *parsed <= 65535) port = *parsed;
  }
  Connection connection;
  connection.url = "http://127.0.0.1:" + std::to_string(port);
  auto configured = sources.env("ZORVEL_CONFIG");
  if (!isSetupPreview(sources) && configured) {
    connection.configPath = *configured;
  } else {
    connection.configPath = joinPath(dataDirectory, "config.json");
  }
  return connection;
}

std::string ConnectionSettings::zorvelCLIPath(const SettingsSources& sources) {
  if (auto fromEnvironment = sources.env("ZORVEL_CLI")) return *fromEnvironment;
  if (sources.helperPath) {
    std::string bundled = joinPath(*sources.helperPath, "zorvel-runner");
    if (isExecutableFile(bundled)) return bundled;
  }
  if (auto fromInfo = sources.infoString("ZorvelCLIPath")) return *fromInfo;
  return "zorvel";
}

std::optional<std::string> ConnectionSettings::pathFromShellOutput(const std::string& output) {
  std::vector<std::string> lines;
  std::stringstream stream(output);
  std::string line;
  while (std::getline(stream, line, '\n')) {
    if (!line.empty()) lines.push_back(line);
  }
  const std::string marker = pathMarker;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (it->compare(0, marker.size(), marker) == 0) {
      std::string rest = it->substr(marker.size());
      if (rest.empty()) return std::nullopt;
      return rest;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ConnectionSettings::loginShellPath(const SettingsSources& sources) {
  std::string shell = sources.env("SHELL").value_or("/bin/zsh");
  if (!isExecutableFile(shell) || !sources.runShell) return std::nullopt;
  auto output = sources.runShell(shell, {"-lc", "printf '__ZORVEL_PATH__%s\\n' \"$PATH\""});
  if (!output || !isValidUTF8(*output)) return std::nullopt;
  return pathFromShellOutput(*output);
}

std::string ConnectionSettings::resolveExecutableSearchPath(const SettingsSources& sources) {
  std::vector<std::string> candidates = splitPath(loginShellPath(sources));
  for (auto& piece : splitPath(sources.env("PATH"))) candidates.push_back(piece);
  for (const char* fixed : {"/opt/homebrew/bin", "/opt/homebrew/sbin", "/usr/local/bin"}) {
    candidates.emplace_back(fixed);
  }
  if (auto home = sources.env("HOME")) {
    for (const char* suffix : {"/.local/bin", "/bin", "/.opencode/bin", "/.bun/bin"}) {
      candidates.push_back(*home + suffix);
    }
  }
  std::vector<std::string> kept;
  std::string joined;
  for (const auto& candidate : candidates) {
    if (candidate.empty()) continue;
    if (std::find(kept.begin(), kept.end(), candidate) != kept.end()) continue;
    kept.push_back(candidate);
    if (!joined.empty()) joined += ':';
    joined += candidate;
  }
  return joined;
}

double ConnectionSettings::inactiveTerminalTimeout(const std::optional<std::string>& configPath) {
  constexpr double fallback = 300;
  if (!configPath) return fallback;
  std::ifstream file(*configPath, std::ios::binary);
  if (!file) return fallback;
  std::stringstream contents;
  contents << file.rdbuf();
  if (file.bad()) return fallback;
  auto json = nlohmann::json::parse(contents.str(), nullptr, false);
  if (json.is_discarded() || !json.is_object()) return fallback;
  auto found = json.find("inactive_terminal_timeout_minutes");
  if (found == json.end() || !found->is_number()) return fallback;
  double minutes = found->get<double>();
  return minutes >= 1.0 ? minutes * 60.0 : fallback;
}

std::optional<std::string> runLoginShell(const std::string& shell, const std::vector<std::string>& arguments,
                                         std::chrono::milliseconds timeLimit) {
  platform::ChildProcess::Options options;
  options.executable = shell;
  options.arguments = arguments;
  options.input = platform::ChildProcess::Stream::null;
  options.output = platform::ChildProcess::Stream::pipe;
  options.error = platform::ChildProcess::Stream::null;
  options.newProcessGroup = true;  // so a time-out can end whatever the profile started
  auto child = platform::ChildProcess::launch(options, nullptr);
  if (!child) return std::nullopt;

  constexpr size_t outputLimit = 1 << 20;
  std::string output;
  auto deadline = std::chrono::steady_clock::now() + timeLimit;
  bool complete = false;
  while (!complete) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd entry{child->outputDescriptor(), POLLIN, 0};
    int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char chunk[4096];
    ssize_t got = ::read(child->outputDescriptor(), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      complete = true;
    } else if (output.size() < outputLimit) {
      output.append(chunk, static_cast<size_t>(got));
    }
  }
  if (!complete) {
    child->signalGroup(SIGKILL);
    child->waitUntilExit(std::chrono::seconds(1));
    return std::nullopt;
  }
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (!child->waitUntilExit(std::max(left, std::chrono::milliseconds(100)))) {
    child->signalGroup(SIGKILL);
    child->waitUntilExit(std::chrono::seconds(1));
    return std::nullopt;
  }
  auto status = child->terminationStatus();
  if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) return std::nullopt;
  return output;
}

}  // namespace zorvel
