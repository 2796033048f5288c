#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "app/ApplicationLinks.h"
#include "app/FilePickers.h"
#include "app/ModalOverlay.h"
#include "app/PageMessages.h"
#include "app/UserNotifications.h"

using namespace zorvel;
using nlohmann::json;

namespace {

// The JSON detail inside a "new CustomEvent(name, { detail: ... })" script.
json detailOf(const std::string& script) {
  auto start = script.find("detail: ");
  auto end = script.rfind(" }))");
  if (start == std::string::npos || end == std::string::npos) return json();
  start += 8;
  return json::parse(script.substr(start, end - start), nullptr, false);
}

const std::string notUTF8 = "\xff\xfe";

}  // namespace

TEST(ModalOverlay, OpensOnlyKnownKindsWithWhatTheyNeed) {
  const auto event = std::optional<json>(json{{"message", "boom"}});
  const auto payload = std::optional<json>(json::object());
  EXPECT_TRUE(ModalOverlay::canOpen("feedback", std::nullopt, std::nullopt));
  EXPECT_TRUE(ModalOverlay::canOpen("bug-report", std::nullopt, std::nullopt));
  EXPECT_FALSE(ModalOverlay::canOpen("settings", event, payload));
  EXPECT_FALSE(ModalOverlay::canOpen("Feedback", std::nullopt, std::nullopt));
  EXPECT_FALSE(ModalOverlay::canOpen("error-report", std::nullopt, payload));
  EXPECT_TRUE(ModalOverlay::canOpen("error-report", event, std::nullopt));
  for (const char* kind : {"confirmation", "defer-task", "product-info"}) {
    EXPECT_FALSE(ModalOverlay::canOpen(kind, event, std::nullopt)) << kind;
    EXPECT_TRUE(ModalOverlay::canOpen(kind, std::nullopt, payload)) << kind;
  }
  EXPECT_EQ(ModalOverlay::kind("bug-report")->contentSize, (ModalOverlay::Size{560, 586}));
  EXPECT_EQ(ModalOverlay::kind("product-info")->contentSize, (ModalOverlay::Size{720, 656}));
}

TEST(ModalOverlay, DialogSizeKeepsTheMinimumAndTheMargins) {
  using S = ModalOverlay::Size;
  EXPECT_EQ(ModalOverlay::clampedContentSize({1400, 600}, 500, 900), (S{500, 552}));
  EXPECT_EQ(ModalOverlay::clampedContentSize({1400, 600}, 100, 100), (S{360, 240}));
  EXPECT_EQ(ModalOverlay::clampedContentSize({1400, 600}, 5000, 200), (S{1352, 240}));
  // An area too small for the minimum and the margins: the minimum wins.
  EXPECT_EQ(ModalOverlay::clampedContentSize({300, 200}, 800, 800), (S{360, 240}));
  // Values no page should send still give a usable size.
  auto odd = ModalOverlay::clampedContentSize({1400, 600}, NAN, INFINITY);
  EXPECT_EQ(odd, (S{360, 552}));
}

TEST(ModalOverlay, OpenEventCarriesGenerationThemeAndOnlyTheGivenInputs) {
  auto script = ModalOverlay::openScript("feedback", true, 7, std::nullopt, std::nullopt);
  ASSERT_TRUE(script);
  EXPECT_EQ(script->rfind("window.dispatchEvent(new CustomEvent('zorvel:native-overlay-open', { detail: ", 0), 0u);
  EXPECT_EQ(detailOf(*script), (json{{"kind", "feedback"}, {"theme", "dark"}, {"generation", 7}}));

  auto full = ModalOverlay::openScript("error-report", false, 8, json{{"id", 1}}, json{{"p", true}});
  ASSERT_TRUE(full);
  auto detail = detailOf(*full);
  EXPECT_EQ(detail["theme"], "light");
  EXPECT_EQ(detail["error_event"], (json{{"id", 1}}));
  EXPECT_EQ(detail["payload"], (json{{"p", true}}));

  EXPECT_FALSE(ModalOverlay::openScript("confirmation", true, 9, std::nullopt, json{{"title", notUTF8}}));
  EXPECT_EQ(ModalOverlay::hostURL(true), "zorvel-ui://app/index.html?native-overlay=host&theme=dark");
  EXPECT_EQ(ModalOverlay::hostURL(false), "zorvel-ui://app/index.html?native-overlay=host&theme=light");
}

TEST(ModalOverlay, OnlyAnAnswerOfTheActiveOpeningReachesTheMainPage) {
  // The answer as the page sends it, decoded and then scripted for the main page.
  auto resultScript = [](const json& body, std::optional<std::int64_t> active) -> std::optional<std::string> {
    auto result = PageMessages::ModalOverlayResult::decode(body);
    if (!result) return std::nullopt;
    return ModalOverlay::resultScript(result->generation, result->answer, active);
  };
  json answer = {{"kind", "modal-overlay-result"}, {"request_id", "r1"}, {"generation", 3}, {"choice", "ok"}};
  auto script = resultScript(answer, 3);
  ASSERT_TRUE(script);
  EXPECT_EQ(script->rfind("window.dispatchEvent(new CustomEvent('zorvel:native-overlay-result', { detail: ", 0), 0u);
  EXPECT_EQ(script->substr(script->size() - 4), "}));");
  EXPECT_EQ(detailOf(script->substr(0, script->size() - 1)),
            (json{{"request_id", "r1"}, {"generation", 3}, {"choice", "ok"}}));

  EXPECT_FALSE(resultScript(answer, 4)) << "stale generation";
  EXPECT_FALSE(resultScript(answer, std::nullopt)) << "nothing open";
  auto noRequest = answer;
  noRequest.erase("request_id");
  EXPECT_FALSE(resultScript(noRequest, 3));
  noRequest["request_id"] = 12;
  EXPECT_FALSE(resultScript(noRequest, 3));
  auto textGeneration = answer;
  textGeneration["generation"] = "3";
  EXPECT_FALSE(resultScript(textGeneration, 3));
  auto fractional = answer;
  fractional["generation"] = 3.6;
  EXPECT_TRUE(resultScript(fractional, 3));
  auto unwritable = answer;
  unwritable["choice"] = notUTF8;
  EXPECT_FALSE(resultScript(unwritable, 3));
}

TEST(ModalOverlay, ClosedEventNamesTheGenerationWhenThereIsOne) {
  EXPECT_EQ(ModalOverlay::closedScript(12),
            "window.dispatchEvent(new CustomEvent('zorvel:native-overlay-closed', { detail: { generation: 12 } }))");
  EXPECT_EQ(ModalOverlay::closedScript(std::nullopt),
            "window.dispatchEvent(new Event('zorvel:native-overlay-closed'))");
  EXPECT_EQ(ModalOverlay::prewarmPayload()["request_id"], "prewarm");
}

TEST(ApplicationLinks, OpenLinksNameATaskOrSessionInLowerCase) {
  using L = ApplicationLinks::Link;
  EXPECT_EQ(ApplicationLinks::interpret("zorvel://tasks/3F2504E0-4F89-11D3-9A0C-0305E82C3301/open"),
            (L{ZorvelOpenLink{"tasks", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"}}));
  EXPECT_EQ(ApplicationLinks::interpret("zorvel://sessions/3f2504e0-4f89-11d3-9a0c-0305e82c3301/open/"),
            (L{ZorvelOpenLink{"sessions", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"}}));
  EXPECT_EQ(ApplicationLinks::interpret("zorvel://tasks//3f2504e0-4f89-11d3-9a0c-0305e82c3301//open"),
            (L{ZorvelOpenLink{"tasks", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"}}));
  for (const char* ignored : {
           "zorvel://tasks/3f2504e0-4f89-11d3-9a0c-0305e82c3301",
           "zorvel://tasks/3f2504e0-4f89-11d3-9a0c-0305e82c3301/close",
           "zorvel://tasks/3f2504e0-4f89-11d3-9a0c-0305e82c3301/open/more",
           "zorvel://projects/3f2504e0-4f89-11d3-9a0c-0305e82c3301/open",
           "zorvel://TASKS/3f2504e0-4f89-11d3-9a0c-0305e82c3301/open",
           "http://tasks/3f2504e0-4f89-11d3-9a0c-0305e82c3301/open",
           "zorvel://tasks/task-1/open",
           "zorvel://tasks/{3f2504e0-4f89-11d3-9a0c-0305e82c3301}/open",
           "zorvel:tasks",
           "not a link",
           "",
       }) {
    EXPECT_TRUE(std::holds_alternative<std::monostate>(ApplicationLinks::interpret(ignored))) << ignored;
  }
}

TEST(ApplicationLinks, CaptureLinksNeedAProjectUUID) {
  using ApplicationLinks::CaptureLink;
  using L = ApplicationLinks::Link;
  const std::string id = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";
  EXPECT_EQ(ApplicationLinks::interpret("zorvel://tasks/capture?project_id=" + id), (L{CaptureLink{id}}))
      << "the id is kept as written";
  EXPECT_EQ(ApplicationLinks::interpret("zorvel://tasks/capture/?x=1&project_id=" + id + "&project_id=bad"),
            (L{CaptureLink{id}}));
  for (const std::string& ignored : {
           std::string("zorvel://tasks/capture?project_id=abc"),
           std::string("zorvel://tasks/capture"),
           std::string("zorvel://tasks/capture?project_id"),
           std::string("zorvel://tasks/capture?project_id=bad&project_id=") + id,
           std::string("zorvel://sessions/capture?project_id=") + id,
       }) {
    EXPECT_TRUE(std::holds_alternative<std::monostate>(ApplicationLinks::interpret(ignored))) << ignored;
  }
}

TEST(ApplicationLinks, CaptureTextsAndRequest) {
  std::string long_text(2000, 'x');
  auto text = ApplicationLinks::captureAlertInformativeText("p-1", long_text);
  EXPECT_EQ(text, "Project: p-1\n\n" + std::string(500, 'x'));
  // A letter with a combining accent is one character.
  std::string accented;
  for (int i = 0; i < 600; ++i) accented += "e\xcc\x81";
  EXPECT_EQ(ApplicationLinks::captureAlertInformativeText("p", accented).size(),
            std::string("Project: p\n\n").size() + 1500);

  EXPECT_TRUE(ApplicationLinks::isBlank(" \n\t\r\n "));
  EXPECT_TRUE(ApplicationLinks::isBlank(""));
  EXPECT_FALSE(ApplicationLinks::isBlank("  a\n"));

  auto body = ApplicationLinks::captureRequestBody({"  keep me\n", "P"});
  ASSERT_TRUE(body);
  EXPECT_EQ(json::parse(*body), (json{{"content", "  keep me\n"}, {"project_id", "P"}}));
  EXPECT_FALSE(ApplicationLinks::captureRequestBody({notUTF8, "P"}));
  EXPECT_EQ(ApplicationLinks::captureFailureMessage(500), "Capture request failed (500)");

  auto script = ApplicationLinks::openLinkScript({"tasks", "abc"});
  ASSERT_TRUE(script);
  EXPECT_EQ(*script,
            "window.__ZORVEL_PENDING_OPEN_LINK__ = {\"identifier\":\"abc\",\"resource\":\"tasks\"}; "
            "window.dispatchEvent(new CustomEvent('zorvel:open-link', { detail: "
            "{\"identifier\":\"abc\",\"resource\":\"tasks\"} }));");
}

TEST(UserNotifications, RequestsNeedATaskUUIDATitleAndABody) {
  const std::string task = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";
  using Request = PageMessages::NativeNotification;
  auto request = Request::decode({{"kind", "native-notification"}, {"task_id", task}, {"title", "T"}, {"body", "B"}});
  ASSERT_TRUE(request);
  EXPECT_EQ(request->taskID, task);
  EXPECT_FALSE(Request::decode({{"task_id", "task-1"}, {"title", "T"}, {"body", "B"}}));
  EXPECT_FALSE(Request::decode({{"task_id", task}, {"title", "T"}}));
  EXPECT_FALSE(Request::decode({{"task_id", task}, {"title", 1}, {"body", "B"}}));
  EXPECT_FALSE(Request::decode(json::array()));

  std::set<std::string> identifiers;
  for (int i = 0; i < 20; ++i) {
    auto identifier = UserNotifications::identifier(task);
    ASSERT_EQ(identifier.rfind("zorvel-task-" + task + "-", 0), 0u);
    auto random = identifier.substr(std::string("zorvel-task-").size() + task.size() + 1);
    EXPECT_EQ(random.size(), 36u);
    EXPECT_EQ(random.find_first_of("abcdef"), std::string::npos) << "upper case";
    identifiers.insert(identifier);
  }
  EXPECT_EQ(identifiers.size(), 20u);

  EXPECT_EQ(UserNotifications::taskID(UserNotifications::userInfo(task)), task);
  EXPECT_FALSE(UserNotifications::taskID({{"task_id", "nope"}}));
  EXPECT_FALSE(UserNotifications::taskID(json::object()));
}

TEST(FilePickers, RequestsAndAnswers) {
  auto executable = FilePickers::executable("agent-x");
  EXPECT_EQ(executable.title, "Choose Agent Executable");
  EXPECT_EQ(executable.message, "Select the executable Zorvel should use for agent-x.");
  EXPECT_TRUE(executable.canChooseFiles);
  EXPECT_FALSE(executable.canChooseDirectories);
  auto script = FilePickers::pickedScript(executable, "/usr/local/bin/agent-x");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->rfind("window.dispatchEvent(new CustomEvent('zorvel:executable-picked', { detail: ", 0), 0u);
  EXPECT_EQ(detailOf(script->substr(0, script->size() - 1)),
            (json{{"agent", "agent-x"}, {"path", "/usr/local/bin/agent-x"}}));

  auto folder = FilePickers::projectDirectory(std::nullopt);
  EXPECT_EQ(folder.message, "Select the repository folder Zorvel should use.");
  EXPECT_FALSE(folder.canChooseFiles);
  EXPECT_TRUE(folder.canChooseDirectories);
  auto plain = FilePickers::pickedScript(folder, "/src/repo");
  ASSERT_TRUE(plain);
  EXPECT_EQ(detailOf(plain->substr(0, plain->size() - 1)), (json{{"path", "/src/repo"}}));
  auto withProject = FilePickers::pickedScript(FilePickers::projectDirectory("P"), "/src/repo");
  EXPECT_EQ(detailOf(withProject->substr(0, withProject->size() - 1)),
            (json{{"path", "/src/repo"}, {"project_id", "P"}}));
  EXPECT_FALSE(FilePickers::pickedScript(folder, notUTF8));
}
