// The child environment of task and login terminals, and how plan replies become results.

#include <gtest/gtest.h>

#include "Vantrelle/Terminal/ChildLocale.h"
#include "app/ProfileLoginController.h"
#include "app/TerminalEnvironment.h"
#include "app/TerminalLaunchClient.h"
#include "platform/URLSession.h"

namespace zorvel {
namespace {

TEST(TerminalEnvironment, FixedEntriesWinAndColourIsNeverSwitchedOff) {
  auto environment = TerminalEnvironment::make(
      "/opt/bin:/usr/bin",
      {{"NO_COLOR", "1"}, {"TERM", "dumb"}, {"PATH", "/elsewhere"}, {"HOME", "/home/u"}, {"LANG", "de_DE.ISO-8859-1"}});
  EXPECT_EQ(environment.count("NO_COLOR"), 0u);
  // Always a UTF-8 locale the system has, whatever the application itself runs in.
  EXPECT_EQ(environment["LANG"], vantrelle::childLocale());
  EXPECT_EQ(environment["LC_CTYPE"], vantrelle::childLocale());
  EXPECT_EQ(environment["TERM"], "xterm-256color");
  EXPECT_EQ(environment["COLORTERM"], "truecolor");
  EXPECT_EQ(environment["TERM_PROGRAM"], "Zorvel");
  EXPECT_EQ(environment["PATH"], "/opt/bin:/usr/bin");
  EXPECT_EQ(environment["HOME"], "/home/u");
}

TEST(TerminalEnvironment, TaskAndLoginTerminalsSeeTheirOwnVariables) {
  TerminalEnvironment::Locations locations{"http://127.0.0.1:8123/", std::nullopt, "/data/zorvel"};
  auto task = TerminalEnvironment::taskEnvironment("/bin", {{"ZORVEL_CONFIG", "/stale"}}, locations, 4242);
  EXPECT_EQ(task["ZORVEL_BASE_URL"], "http://127.0.0.1:8123");
  EXPECT_EQ(task["ZORVEL_DB"], "/data/zorvel/zorvel.sqlite3");
  EXPECT_EQ(task["ZORVEL_DATA_DIR"], "/data/zorvel");
  EXPECT_EQ(task["ZORVEL_DESKTOP_PARENT_PID"], "4242");
  EXPECT_EQ(task["ZORVEL_DESKTOP_DIRECT_CHILD"], "1");
  EXPECT_EQ(task["ZORVEL_CONFIG"], "/stale") << "without a configuration the inherited value stays";
  EXPECT_EQ(task.count("ZORVEL_API_TOKEN"), 0u);

  locations.configPath = "/etc/zorvel.json";
  auto login = TerminalEnvironment::loginEnvironment("/bin", {}, locations);
  EXPECT_EQ(login["ZORVEL_CONFIG"], "/etc/zorvel.json");
  EXPECT_EQ(login["ZORVEL_DB"], "/data/zorvel/zorvel.sqlite3");
  EXPECT_EQ(login.count("ZORVEL_BASE_URL"), 0u);
  EXPECT_EQ(login.count("ZORVEL_DESKTOP_PARENT_PID"), 0u);

  auto list = TerminalEnvironment::list({{"A", "1=2"}, {"B", ""}});
  EXPECT_EQ(list, (std::vector<std::string>{"A=1=2", "B="}));
}

platform::URLResponse reply(int status, std::string body) {
  platform::URLResponse response;
  response.status = status;
  response.body = std::move(body);
  return response;
}

TEST(TerminalLaunchClient, RepliesBecomePlansOrErrorsWithTheCoresMessage) {
  auto plan = TerminalLaunchClient::classify(reply(200, R"({"arguments": ["run", "x"], "cwd": "/w"})"));
  ASSERT_TRUE(std::holds_alternative<TerminalLaunchPlan>(plan));
  EXPECT_EQ(std::get<TerminalLaunchPlan>(plan).arguments, (std::vector<std::string>{"run", "x"}));

  auto refused = TerminalLaunchClient::classify(reply(422, R"({"detail": "Agent not configured"})"));
  ASSERT_TRUE(std::holds_alternative<LaunchError>(refused));
  EXPECT_EQ(std::get<LaunchError>(refused).domain, "ZorvelLaunch");
  EXPECT_EQ(std::get<LaunchError>(refused).code, 1);
  EXPECT_EQ(std::get<LaunchError>(refused).localizedDescription, "Agent not configured");

  for (auto body : {"", R"({"detail": 5})", "[1]", "not json"}) {
    auto failed = TerminalLaunchClient::classify(reply(500, body));
    ASSERT_TRUE(std::holds_alternative<LaunchError>(failed)) << body;
    EXPECT_EQ(std::get<LaunchError>(failed).localizedDescription, "Could not prepare terminal launch.") << body;
  }

  auto undecodable = TerminalLaunchClient::classify(reply(200, R"({"cwd": "/w"})"));
  ASSERT_TRUE(std::holds_alternative<LaunchError>(undecodable));
  EXPECT_NE(std::get<LaunchError>(undecodable).domain, "ZorvelLaunch");

  platform::URLResponse transport;
  transport.error = "Connection refused";
  auto failed = TerminalLaunchClient::classify(transport);
  ASSERT_TRUE(std::holds_alternative<LaunchError>(failed));
  EXPECT_EQ(std::get<LaunchError>(failed).localizedDescription, "Connection refused");
}

TEST(TerminalLaunchClient, TheRequestCarriesOnlyTheGivenMembersAndAnEscapedTaskSegment) {
  TerminalLaunchClient::Request request{"http://127.0.0.1:9/", {"t", {}},    "a/b c", "codex",
                                        std::nullopt,          std::nullopt, false};
  EXPECT_EQ(TerminalLaunchClient::planBody(request), (nlohmann::json{{"agent", "codex"}, {"login", false}}));
  request.model = "m";
  request.effort = "high";
  request.login = true;
  EXPECT_EQ(TerminalLaunchClient::planBody(request),
            (nlohmann::json{{"agent", "codex"}, {"login", true}, {"model", "m"}, {"effort", "high"}}));
  EXPECT_EQ(TerminalLaunchClient::planURL("http://127.0.0.1:9/", "a/b c"),
            "http://127.0.0.1:9/tasks/a%2Fb%20c/terminal-plan");
  EXPECT_EQ(TerminalLaunchClient::planURL("http://127.0.0.1:9", "t"), "http://127.0.0.1:9/tasks/t/terminal-plan");
}

TEST(TerminalLaunchClient, CleanupURLsStayOnTheTaskWhateverItsID) {
  EXPECT_EQ(TerminalLaunchClient::taskURL("http://127.0.0.1:9/api/", "t1", ""), "http://127.0.0.1:9/tasks/t1");
  EXPECT_EQ(TerminalLaunchClient::taskURL("http://127.0.0.1:9", "t1", "stop"), "http://127.0.0.1:9/tasks/t1/stop");
  EXPECT_EQ(TerminalLaunchClient::taskURL("http://127.0.0.1:9", "../agent-profiles/p?x#y", "stop"),
            "http://127.0.0.1:9/tasks/..%2Fagent-profiles%2Fp%3Fx%23y/stop");
  EXPECT_FALSE(TerminalLaunchClient::taskURL("not a url", "t1", ""));
}

TEST(ProfileLoginController, OnlyTheExactLoginPlanOfThisProfileIsRun) {
  const std::string accepted = R"({"arguments": ["profile-login", "p1"], "executable": "/x"})";
  EXPECT_TRUE(ProfileLoginController::acceptedPlan(reply(200, accepted), "p1"));
  EXPECT_FALSE(ProfileLoginController::acceptedPlan(reply(201, accepted), "p1")) << "only 200 is accepted";
  EXPECT_FALSE(ProfileLoginController::acceptedPlan(reply(200, accepted), "p2"));
  EXPECT_FALSE(
      ProfileLoginController::acceptedPlan(reply(200, R"({"arguments": ["profile-login", "p1", "x"]})"), "p1"));
  EXPECT_FALSE(ProfileLoginController::acceptedPlan(reply(200, R"({"arguments": ["sh", "-c", "p1"]})"), "p1"));
  EXPECT_FALSE(ProfileLoginController::acceptedPlan(reply(200, ""), "p1"));
}

}  // namespace
}  // namespace zorvel
