#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zorvel {

// Everything the start-up settings are resolved from, gathered in one value so the rules can be
// exercised without touching the real process environment or bundle.
struct SettingsSources {
  std::map<std::string, std::string> environment;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> resourcePath;  // <prefix>/share/zorvel
  std::optional<std::string> helperPath;    // <prefix>/libexec/zorvel
  nlohmann::json info = nlohmann::json::object();
  std::string applicationSupportDirectory;  // the user's data home
  // Runs the login shell: (shell, arguments) -> its standard output, or none when it failed.
  std::function<std::optional<std::string>(const std::string&, const std::vector<std::string>&)> runShell;

  static SettingsSources current();
  std::optional<std::string> env(const std::string& name) const;
  std::optional<std::string> infoString(const std::string& key) const;
};

// The connection settings of one run, resolved once at start-up and never changed.
struct ConnectionSettings {
  static constexpr const char* developmentBundleIdentifier = "local.zorvel.desktop.dev";
  static constexpr const char* pathMarker = "__ZORVEL_PATH__";

  static bool isSetupPreview(const SettingsSources& sources);
  static bool isDevelopmentBundle(const SettingsSources& sources);
  static std::string desktopDataDirectoryPath(const SettingsSources& sources);

  struct Connection {
    std::string url;
    std::optional<std::string> configPath;
  };
  static Connection zorvelConnection(const SettingsSources& sources, const std::string& dataDirectory);
  static std::string zorvelCLIPath(const SettingsSources& sources);
  static std::optional<std::string> loginShellPath(const SettingsSources& sources);
  static std::string resolveExecutableSearchPath(const SettingsSources& sources);
  // Seconds after which an idle task terminal may be reaped.
  static double inactiveTerminalTimeout(const std::optional<std::string>& configPath);

  // Picks the PATH out of the login shell's output: the last line carrying the marker wins.
  static std::optional<std::string> pathFromShellOutput(const std::string& output);
  static std::optional<long long> parsePort(const std::string& text);
};

// Runs a shell for its output with input from /dev/null, errors discarded and a time limit, so
// a profile that waits for input or never finishes cannot hold up start-up.
std::optional<std::string> runLoginShell(const std::string& shell, const std::vector<std::string>& arguments,
                                         std::chrono::milliseconds timeLimit);

}  // namespace zorvel
