#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "app/ConnectionSettings.h"
#include "tests/TemporaryFolder.h"

using zorvel::ConnectionSettings;
using zorvel::SettingsSources;

namespace {

SettingsSources baseSources() {
  SettingsSources sources;
  sources.environment = {{"HOME", "/home/u"}};
  sources.bundleIdentifier = "local.zorvel.desktop";
  sources.applicationSupportDirectory = "/home/u/.local/share";
  return sources;
}

SettingsSources previewSources() {
  auto sources = baseSources();
  sources.info["ZorvelSetupPreview"] = true;
  return sources;
}

std::string portOf(const SettingsSources& sources) {
  auto url = ConnectionSettings::zorvelConnection(sources, "/d").url;
  return url.substr(url.rfind(':') + 1);
}

struct TempDir {
  testing::TemporaryFolder folder{"zorvel-settings"};
  const std::filesystem::path& path = folder.path();
  std::string write(const std::string& name, const std::string& contents, bool executable = false) {
    auto file = path / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << contents;
    if (executable) ::chmod(file.c_str(), 0755);
    return file;
  }
};

}  // namespace

TEST(ConnectionSettings, PortAcceptsOnlyDecimalsInRangeAndFallsBackByBundleKind) {
  auto sources = baseSources();
  EXPECT_EQ(portOf(sources), "7332");
  for (auto [text, expected] : std::vector<std::pair<std::string, std::string>>{{"8080", "8080"},
                                                                                {"+8080", "8080"},
                                                                                {"65535", "65535"},
                                                                                {"1", "1"},
                                                                                {"65536", "7332"},
                                                                                {"0", "7332"},
                                                                                {"-5", "7332"},
                                                                                {"80a", "7332"},
                                                                                {"", "7332"},
                                                                                {"+", "7332"},
                                                                                {" 80", "7332"},
                                                                                {"99999999999999999999999", "7332"}}) {
    sources.environment["ZORVEL_DESKTOP_PORT"] = text;
    EXPECT_EQ(portOf(sources), expected) << "for \"" << text << "\"";
  }
  auto development = baseSources();
  development.bundleIdentifier = "local.zorvel.desktop.dev";
  EXPECT_EQ(portOf(development), "7333");
  EXPECT_EQ(portOf(previewSources()), "7335");
  auto previewOnDevelopment = previewSources();
  previewOnDevelopment.bundleIdentifier = "local.zorvel.desktop.dev";
  EXPECT_EQ(portOf(previewOnDevelopment), "7335");
  auto notBoolean = baseSources();
  notBoolean.info["ZorvelSetupPreview"] = "true";
  EXPECT_FALSE(ConnectionSettings::isSetupPreview(notBoolean));
  EXPECT_EQ(ConnectionSettings::zorvelConnection(baseSources(), "/d").url, "http://127.0.0.1:7332");
}

TEST(ConnectionSettings, DataDirectoryAndConfigPathFollowTheirSources) {
  auto sources = baseSources();
  EXPECT_EQ(ConnectionSettings::desktopDataDirectoryPath(sources), "/home/u/.local/share/Zorvel");
  auto development = baseSources();
  development.bundleIdentifier = "local.zorvel.desktop.dev";
  EXPECT_EQ(ConnectionSettings::desktopDataDirectoryPath(development), "/home/u/.local/share/Zorvel Dev");
  EXPECT_EQ(ConnectionSettings::desktopDataDirectoryPath(previewSources()),
            "/home/u/.local/share/Zorvel Setup Preview");

  auto preview = previewSources();
  preview.environment["ZORVEL_DESKTOP_DATA_DIR"] = "~/x";
  EXPECT_EQ(ConnectionSettings::desktopDataDirectoryPath(preview), "/home/u/x");
  preview.environment["ZORVEL_DESKTOP_DATA_DIR"] = "";
  EXPECT_EQ(ConnectionSettings::desktopDataDirectoryPath(preview), "");

  sources.environment["ZORVEL_CONFIG"] = "~/c.json";
  EXPECT_EQ(ConnectionSettings::zorvelConnection(sources, "/d").configPath, "~/c.json");
  preview.environment["ZORVEL_CONFIG"] = "/elsewhere.json";
  EXPECT_EQ(ConnectionSettings::zorvelConnection(preview, "/d").configPath, "/d/config.json");
  EXPECT_EQ(ConnectionSettings::zorvelConnection(baseSources(), "/d").configPath, "/d/config.json");
}

TEST(ConnectionSettings, CorePathPrefersEnvironmentThenBundledRunnerThenInfoThenName) {
  TempDir bundle;
  auto sources = baseSources();
  sources.helperPath = bundle.path.string();
  EXPECT_EQ(ConnectionSettings::zorvelCLIPath(sources), "zorvel");
  sources.info["ZorvelCLIPath"] = "/opt/core";
  EXPECT_EQ(ConnectionSettings::zorvelCLIPath(sources), "/opt/core");
  bundle.write("zorvel-runner", "#!/bin/sh\n", false);
  EXPECT_EQ(ConnectionSettings::zorvelCLIPath(sources), "/opt/core");  // not executable
  auto runner = bundle.write("zorvel-runner", "#!/bin/sh\n", true);
  EXPECT_EQ(ConnectionSettings::zorvelCLIPath(sources), runner);
  sources.environment["ZORVEL_CLI"] = "";
  EXPECT_EQ(ConnectionSettings::zorvelCLIPath(sources), "");
}

TEST(ConnectionSettings, SearchPathMergesShellProcessFixedAndHomeDirectoriesOnce) {
  TempDir dir;
  auto sources = baseSources();
  sources.environment["SHELL"] = dir.write("shell", "", true);
  sources.environment["PATH"] = "/usr/bin::/bin:/login/a";
  std::string shellOutput = "motd\n__ZORVEL_PATH__/early\n__ZORVEL_PATH__/login/a:/login/b\nbye\n";
  std::vector<std::string> seenArguments;
  sources.runShell = [&](const std::string&, const std::vector<std::string>& arguments) {
    seenArguments = arguments;
    return std::optional<std::string>(shellOutput);
  };
  EXPECT_EQ(ConnectionSettings::resolveExecutableSearchPath(sources),
            "/login/a:/login/b:/usr/bin:/bin:/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin:"
            "/home/u/.local/bin:/home/u/bin:/home/u/.opencode/bin:/home/u/.bun/bin");
  ASSERT_EQ(seenArguments.size(), 2u);
  EXPECT_EQ(seenArguments[0], "-lc");
  EXPECT_EQ(seenArguments[1].size(), 36u);

  shellOutput = "__ZORVEL_PATH__\n";
  sources.environment.erase("HOME");
  EXPECT_EQ(ConnectionSettings::resolveExecutableSearchPath(sources),
            "/usr/bin:/bin:/login/a:/opt/homebrew/bin:/opt/homebrew/sbin:/usr/local/bin");
  shellOutput = "__ZORVEL_PATH__/bad\xff\n";
  EXPECT_EQ(ConnectionSettings::loginShellPath(sources), std::nullopt);
  sources.environment["SHELL"] = "/nonexistent/shell";
  EXPECT_EQ(ConnectionSettings::loginShellPath(sources), std::nullopt);
}

TEST(LoginShell, RunsWithoutInputAndWithinItsTimeLimit) {
  TempDir dir;
  // A profile that reads from its input would wait for ever on an inherited terminal.
  auto reader = dir.write("reader", "#!/bin/sh\nread line\nprintf '__ZORVEL_PATH__%s\\n' \"$line\"\n", true);
  auto output = zorvel::runLoginShell(reader, {}, std::chrono::seconds(5));
  ASSERT_TRUE(output);
  EXPECT_EQ(*output, "__ZORVEL_PATH__\n");

  auto sleeper = dir.write("sleeper", "#!/bin/sh\nsleep 30 &\nsleep 30\n", true);
  auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(zorvel::runLoginShell(sleeper, {}, std::chrono::milliseconds(300)), std::nullopt);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));

  auto failing = dir.write("failing", "#!/bin/sh\necho __ZORVEL_PATH__/x\nexit 3\n", true);
  EXPECT_EQ(zorvel::runLoginShell(failing, {}, std::chrono::seconds(5)), std::nullopt);
  auto real =
      zorvel::runLoginShell("/bin/sh", {"-c", "printf '__ZORVEL_PATH__%s\\n' \"$PATH\""}, std::chrono::seconds(5));
  ASSERT_TRUE(real);
  EXPECT_EQ(ConnectionSettings::pathFromShellOutput(*real), std::string(::getenv("PATH")));
}

TEST(ConnectionSettings, IdleTimeoutComesFromWholeMinutesOfAtLeastOne) {
  TempDir dir;
  EXPECT_EQ(ConnectionSettings::inactiveTerminalTimeout(std::nullopt), 300);
  EXPECT_EQ(ConnectionSettings::inactiveTerminalTimeout((dir.path / "none").string()), 300);
  for (auto [contents, expected] :
       std::vector<std::pair<std::string, double>>{{R"({"inactive_terminal_timeout_minutes": 10})", 600},
                                                   {R"({"inactive_terminal_timeout_minutes": 1.5})", 90},
                                                   {R"({"inactive_terminal_timeout_minutes": 0.5})", 300},
                                                   {R"({"inactive_terminal_timeout_minutes": "10"})", 300},
                                                   {R"([{"inactive_terminal_timeout_minutes": 10}])", 300},
                                                   {R"({"other": 1})", 300},
                                                   {"not json", 300}}) {
    EXPECT_EQ(ConnectionSettings::inactiveTerminalTimeout(dir.write("c.json", contents)), expected) << contents;
  }
}
