#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "app/RuntimeAuthority.h"
#include "tests/e2e/OverlayHarness.h"

using e2e::DesktopRun;
using namespace std::chrono_literals;

namespace {

bool logHas(const DesktopRun& run, const std::string& text) { return run.log().find(text) != std::string::npos; }

std::string tokenIDOf(const std::string& token) {
  auto payload = zorvel::base64URLDecode(token.substr(0, token.find('.')));
  return nlohmann::json::parse(payload.value_or("{}"), nullptr, false).value("token_id", "");
}

bool holdsToken(const nlohmann::json& message, const std::string& token) {
  for (auto& active : message["active_tokens"]) {
    if (active == token) return true;
  }
  return false;
}

}  // namespace

TEST(CoreSupervision, StartsTheCoreWithItsArgumentsEnvironmentAndBootstrapFirst) {
  DesktopRun run({{"ZORVEL_PRODUCT_API_URL", "https://inherited.example"}, {"ZORVEL_PREVIEW_NO_LOCAL_AGENTS", "1"}});
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 20s)) << run.log();
  auto starts = run.starts();
  ASSERT_EQ(starts.size(), 1u);
  auto& start = starts[0];
  std::vector<std::string> argv = start["argv"];
  ASSERT_GE(argv.size(), 8u);
  std::vector<std::string> arguments(argv.end() - 8, argv.end());
  EXPECT_EQ(arguments, (std::vector<std::string>{"serve-desktop", "--data-dir", run.directory + "/data", "--port",
                                                 std::to_string(run.port), "--parent-pid",
                                                 std::to_string(run.app->processIdentifier()), "--auth-control"}));
  // Started by the application, through the keeper that ends what the core leaves behind.
  EXPECT_EQ(e2e::parentOf(start["ppid"].get<pid_t>()), run.app->processIdentifier());
  auto& env = start["env"];
  EXPECT_FALSE(env.contains("ZORVEL_PRODUCT_API_URL"));
  EXPECT_FALSE(env.contains("ZORVEL_PREVIEW_NO_LOCAL_AGENTS"));
  EXPECT_EQ(env.value("ZORVEL_DISTRIBUTION_CHANNEL", ""), ZORVEL_CHANNEL);
  EXPECT_EQ(env.value("ZORVEL_APP_BUILD", ""), "0.1.0");
  EXPECT_TRUE(env.contains("ZORVEL_APP_VERSION"));
  std::string path = env.value("PATH", "");
  EXPECT_NE(path.find("/usr/local/bin"), std::string::npos) << path;

  auto lines = run.controlIn();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0]["kind"], "bootstrap");
  EXPECT_EQ(lines[0]["signing_key"].get<std::string>().size(), 44u);
  EXPECT_EQ(lines[0]["active_tokens"].size(), 1u);
  // The probe carried the desktop token, which the core accepted.
  bool accepted = false;
  for (auto& request : run.ofType("request")) {
    if (request["path"] == "/desktop-runtime" && request["status"] == 200) accepted = true;
  }
  EXPECT_TRUE(accepted);

  auto core = run.corePIDs()[0];
  ASSERT_TRUE(run.isCoreAlive(core));
  run.stop();
  EXPECT_TRUE(run.waitUntilCoreGone(core, 3s)) << "the core outlived the application";
}

// The application is started holding a descriptor it was not meant to pass on, as a shell or a
// launcher may leave one; the core holds only its own.
TEST(CoreSupervision, TheCoreGetsNoneOfTheApplicationsOtherDescriptors) {
  DesktopRun run;
  const std::string program = run.executable, stray = run.directory + "/stray";
  std::ofstream(stray) << "not for the core";
  run.executable = "/bin/sh";
  run.start({"-c", "exec 7<\"$1\" && exec \"$0\"", program, stray});
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 60s)) << run.log();
  auto cores = run.corePIDs();
  ASSERT_EQ(cores.size(), 1u);
  std::vector<std::string> targets;
  std::string held;
  for (auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(cores[0]) + "/fd")) {
    std::error_code error;
    targets.push_back(std::filesystem::read_symlink(entry.path(), error).string());
    held += entry.path().filename().string() + " -> " + targets.back() + "\n";
  }
  ASSERT_GE(targets.size(), 3u) << held;
  for (auto& target : targets) {
    EXPECT_NE(target, stray) << held;
    EXPECT_NE(target, "/dev/urandom") << held;
  }
}

TEST(CoreSupervision, EveryStartFailureIsShownWithItsReason) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::string reason;
  };
  std::vector<Case> cases = {
      {{{"ZORVEL_REFCORE_STDERR_AND_EXIT", "  the data directory is locked\n"}},
       "Zorvel could not start a compatible core: the data directory is locked"},
      {{{"ZORVEL_CLI", "/nonexistent/zorvel-core"}},
       "Zorvel could not start a compatible core: Could not start /nonexistent/zorvel-core"},
  };
  for (auto& item : cases) {
    DesktopRun run(item.environment);
    run.start();
    EXPECT_TRUE(run.waitUntil([&] { return logHas(run, item.reason); }, 20s)) << run.log();
    // The exit of a core that never became ready leaves no trace: the restart that must not come
    // is given longer than the application's delay before a restart.
    std::this_thread::sleep_for(500ms);
    EXPECT_LE(run.starts().size(), 1u) << "a core that never became ready was restarted";
    EXPECT_FALSE(logHas(run, "Restarting"));
  }
}

TEST(CoreSupervision, AChattyCoreNeverBlocksAndItsLastWordsAreShown) {
  DesktopRun run;
  std::string script = run.directory + "/chatty-core";
  std::ofstream(script) << "#!/bin/sh\nhead -c 3000000 /dev/zero | tr '\\0' x >&2\n"
                           "echo >&2; echo 'final words' >&2\nexit 1\n";
  ::chmod(script.c_str(), 0755);
  run.environment["ZORVEL_CLI"] = script;
  run.start();
  EXPECT_TRUE(run.waitUntil([&] { return logHas(run, "final words"); }, 20s));
  EXPECT_LT(run.log().size(), 1000000u) << "the whole error output was kept";
}

TEST(CoreSupervision, AWrongReadinessAnswerTimesOutAndEndsTheCore) {
  DesktopRun run(std::map<std::string, std::string>{{"ZORVEL_REFCORE_PROBE_KIND", "no-pid"}});
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return !run.starts().empty(); }, 10s));
  EXPECT_TRUE(run.waitUntil([&] { return logHas(run, "Zorvel could not start a compatible core: "); }, 25s))
      << run.log();
  EXPECT_FALSE(logHas(run, "is ready"));
  EXPECT_TRUE(run.waitUntilCoreGone(run.corePIDs()[0], 5s));
}

TEST(CoreSupervision, TheProbeAsksAgainEveryRoundAndCountsALateAnswer) {
  struct Case {
    const char* holdFirstProbe;
    const char* readyDelay;  // the core answers every other probe "not ready" this long
  };
  for (auto item : {Case{"never", "0"}, Case{"2000", "600000"}}) {
    DesktopRun run({{"ZORVEL_REFCORE_HOLD_FIRST_PROBE_MS", item.holdFirstProbe},
                    {"ZORVEL_REFCORE_READY_DELAY_MS", item.readyDelay}});
    run.start();
    EXPECT_TRUE(run.waitUntil([&] { return logHas(run, "is ready") || logHas(run, "could not start"); }, 60s));
    EXPECT_TRUE(logHas(run, "is ready")) << item.holdFirstProbe << "\n" << run.log();
  }
}

TEST(CoreSupervision, AKilledCoreIsRestartedWithTheSameIdentityAndWithoutItsTokens) {
  DesktopRun run;
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 20s)) << run.log();
  const std::string project = "3f2b1c9e-0000-4000-8000-000000000001";
  auto answer = run.request("POST", "/__test/control",
                            {{"message", {{"kind", "issue"}, {"request_id", "e2e-1"}, {"project_id", project}}}});
  auto issued = nlohmann::json::parse(answer.body, nullptr, false);
  ASSERT_TRUE(issued.is_object()) << answer.body;
  std::string coreToken = issued["answer"].value("token", "");
  ASSERT_FALSE(coreToken.empty()) << answer.body;

  auto firstCore = run.corePIDs()[0];
  ::kill(firstCore, SIGKILL);
  ASSERT_TRUE(run.waitUntil([&] { return run.starts().size() == 2; }, 10s)) << run.log();
  EXPECT_TRUE(logHas(run, "Restarting Zorvel core"));
  ASSERT_TRUE(run.waitUntil([&] { return run.log().find("is ready") != run.log().rfind("is ready"); }, 20s))
      << run.log();

  std::vector<nlohmann::json> bootstraps;
  for (auto& line : run.controlIn()) {
    if (line["kind"] == "bootstrap") bootstraps.push_back(line);
  }
  ASSERT_EQ(bootstraps.size(), 2u);
  EXPECT_EQ(bootstraps[0]["runtime_id"], bootstraps[1]["runtime_id"]);
  EXPECT_EQ(bootstraps[0]["signing_key"], bootstraps[1]["signing_key"]);
  EXPECT_FALSE(holdsToken(bootstraps[1], coreToken));
  EXPECT_TRUE(holdsToken(bootstraps[1], bootstraps[0]["active_tokens"][0]));

  // The loaded page is told, and asks the new core for its runtime through the bridge: a second
  // answered runtime request after the probe's own.
  auto runtimeAnswersOfSecondCore = [&] {
    int starts = 0, answers = 0;
    for (auto& record : run.records()) {
      if (record.value("type", "") == "start") ++starts;
      if (starts == 2 && record.value("type", "") == "request" && record.value("path", "") == "/desktop-runtime" &&
          record.value("status", 0) == 200) {
        ++answers;
      }
    }
    return answers;
  };
  EXPECT_TRUE(run.waitUntil([&] { return runtimeAnswersOfSecondCore() >= 2; }, 5s));
}

TEST(CoreSupervision, ABoundProcessLosesItsTokenSoonAfterItExits) {
  DesktopRun run;
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 20s)) << run.log();
  const std::string project = "3f2b1c9e-0000-4000-8000-000000000002";
  auto issued = nlohmann::json::parse(
      run.request("POST", "/__test/control",
                  {{"message", {{"kind", "issue"}, {"request_id", "e2e-issue"}, {"project_id", project}}}})
          .body,
      nullptr, false);
  std::string token = issued["answer"].value("token", "");
  ASSERT_FALSE(token.empty());

  platform::ChildProcess::Options options;
  options.executable = "/bin/sleep";
  options.arguments = {"30"};
  auto bound = platform::ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(bound);
  auto reply = nlohmann::json::parse(run.request("POST", "/__test/control",
                                                 {{"message",
                                                   {{"kind", "bind"},
                                                    {"request_id", "e2e-bind"},
                                                    {"token_id", tokenIDOf(token)},
                                                    {"pid", bound->processIdentifier()}}}})
                                         .body,
                                     nullptr, false);
  EXPECT_EQ(reply["answer"], (nlohmann::json{{"kind", "bound"}, {"request_id", "e2e-bind"}}));
  // A pid of 1 and a token that is not active get no answer at all.
  auto refused = nlohmann::json::parse(
      run.request(
             "POST", "/__test/control",
             {{"wait_ms", 500},
              {"message", {{"kind", "bind"}, {"request_id", "e2e-init"}, {"token_id", tokenIDOf(token)}, {"pid", 1}}}})
          .body,
      nullptr, false);
  EXPECT_TRUE(refused["answer"].is_null());

  auto syncsBefore = run.controlIn().size();
  auto killed = std::chrono::steady_clock::now();
  bound->kill();
  bool revoked = run.waitUntil(
      [&] {
        auto lines = run.controlIn();
        for (size_t i = syncsBefore; i < lines.size(); ++i) {
          if (lines[i]["kind"] == "sync" && !holdsToken(lines[i], token)) return true;
        }
        return false;
      },
      5s);
  ASSERT_TRUE(revoked);
  EXPECT_LT(std::chrono::steady_clock::now() - killed, 1500ms);
}

TEST(CoreSupervision, WritesToACoreThatStoppedReadingGiveUpAndTheChannelRecovers) {
  DesktopRun run(std::map<std::string, std::string>{{"ZORVEL_REFCORE_STALL_CONTROL", "1"}});
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 60s)) << run.log();
  // The core asks for tokens whose replies are more than its unread input can hold.
  const std::string project = "3f2b1c9e-0000-4000-8000-000000000003";
  for (int i = 0; i < 3; ++i) {
    nlohmann::json issue = {{"kind", "issue"},
                            {"request_id", "fill-" + std::to_string(i)},
                            {"project_id", project},
                            {"task_id", std::string(60000, 't')}};
    run.request("POST", "/__test/control", {{"wait_ms", 0}, {"message", issue}});
  }
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "stopped reading its control channel"); }, 60s)) << run.log();

  // Once the core reads again, the next request is answered intact.
  auto resumed =
      nlohmann::json::parse(run.request("POST", "/__test/control-reading", {{"reading", true}}).body, nullptr, false);
  EXPECT_EQ(resumed.value("unread", -1), 0) << resumed;
  auto answer = nlohmann::json::parse(
      run.request(
             "POST", "/__test/control",
             {{"wait_ms", 8000}, {"message", {{"kind", "issue"}, {"request_id", "after"}, {"project_id", project}}}})
          .body,
      nullptr, false);
  ASSERT_TRUE(answer.is_object());
  EXPECT_EQ(answer["answer"].value("request_id", ""), "after") << answer;
  EXPECT_FALSE(answer["answer"].value("token", "").empty());

  run.app->terminate();
  ASSERT_TRUE(run.app->waitUntilExit(30s));
  auto status = run.app->terminationStatus();
  EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST(CoreSupervision, TheCoreAcceptsTheDesktopTokenAndRefusesAnAlteredOne) {
  DesktopRun run;
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 20s)) << run.log();
  auto lines = run.controlIn();
  ASSERT_FALSE(lines.empty());
  std::string token = lines[0]["active_tokens"][0];
  auto ask = [&](const std::string& bearer) {
    platform::URLRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(run.port) + "/__test/whoami";
    request.headers = {{"Authorization", "Bearer " + bearer}};
    request.serverProcess = [core = run.corePIDs().at(0)] { return core; };
    return platform::URLSession::shared().sendSynchronously(request);
  };
  auto accepted = ask(token);
  EXPECT_EQ(accepted.status, 200) << accepted.body;
  EXPECT_EQ(nlohmann::json::parse(accepted.body, nullptr, false).value("role", ""), "desktop");
  for (size_t position : {size_t(3), token.size() - 2}) {
    std::string altered = token;
    altered[position] = altered[position] == 'A' ? 'B' : 'A';
    auto refused = ask(altered);
    EXPECT_EQ(refused.status, 401);
    EXPECT_TRUE(nlohmann::json::parse(refused.body, nullptr, false).contains("detail"));
  }
}

TEST(Lifecycle, QuitFromTheKeyboardEndsTheApplicationAndItsCore) {
  DesktopRun run;
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return logHas(run, "is ready"); }, 20s)) << run.log();
  auto core = run.corePIDs().at(0);
  // Real input through the X server, as a user's Ctrl+Q.
  ASSERT_FALSE(e2e::mainWindow(run.app->processIdentifier()).empty()) << "the window never showed";
  ASSERT_EQ(std::system("xdotool key ctrl+q"), 0);
  ASSERT_TRUE(run.app->waitUntilExit(10s));
  auto status = run.app->terminationStatus();
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
  EXPECT_TRUE(run.waitUntilCoreGone(core, 3s)) << "the core outlived the application";
  EXPECT_FALSE(logHas(run, "Restarting"));
}

TEST(CoreSupervision, ACoreThatExitsSoonAfterBecomingReadyIsRestartedEveryTime) {
  // Not at once: the page's own runtime request, sent to the core that just went, can reach the
  // next core before the probe does, and a core that exits before the probe's answer never
  // became ready.
  DesktopRun run(std::map<std::string, std::string>{{"ZORVEL_REFCORE_EXIT_AFTER_READY_MS", "3000"}});
  run.start();
  ASSERT_TRUE(run.waitUntil([&] { return run.starts().size() >= 3; }, 90s)) << run.log();
  run.stop();
  for (pid_t core : run.corePIDs()) {
    EXPECT_TRUE(run.waitUntilCoreGone(core, 3s)) << "core " << core << " outlived the application";
  }
  EXPECT_FALSE(logHas(run, "could not start"));
}

TEST(CoreSupervision, ACoreThatKeepsExitingSoonAfterBecomingReadyIsStartedLessAndLessOften) {
  DesktopRun run(std::map<std::string, std::string>{{"ZORVEL_REFCORE_EXIT_AFTER_READY_MS", "1000"}});
  run.start();
  std::vector<std::chrono::steady_clock::time_point> seen;
  for (size_t starts = 1; starts <= 6; ++starts) {
    ASSERT_TRUE(run.waitUntil([&] { return run.starts().size() >= starts; }, 90s)) << run.log();
    seen.push_back(std::chrono::steady_clock::now());
  }
  // The fifth exit in a row waits four seconds before the sixth start, where the first waited a
  // quarter of one.
  EXPECT_GE(seen[5] - seen[4], 4s);
  EXPECT_TRUE(logHas(run, "exited 5 times in a row"));
  EXPECT_FALSE(logHas(run, "could not start"));
}
