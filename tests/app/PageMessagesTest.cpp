// Decoding the page's script messages: which record a body becomes, the fields it carries and
// what is dropped, without a display.

#include <gtest/gtest.h>

#include <limits>
#include <type_traits>

#include "app/PageMessages.h"

using nlohmann::json;
using namespace zorvel;
namespace P = PageMessages;

namespace {

constexpr const char* taskID = "0b7c6f1e-6a57-4d6f-9a4e-3f1f6d2b8c11";

template <class Record, class Variant>
struct Holds;
template <class Record, class... Records>
struct Holds<Record, std::variant<Records...>> : std::bool_constant<(std::is_same_v<Record, Records> || ...)> {};

// The record a body decodes to, when it is a `Record`.
template <class Record>
std::optional<Record> as(const json& body, const char* name = P::handlerName) {
  auto message = P::decode(name, body);
  if (!message) return std::nullopt;
  return std::visit(
      [](const auto& part) -> std::optional<Record> {
        if constexpr (Holds<Record, std::decay_t<decltype(part)>>::value) {
          if (auto* record = std::get_if<Record>(&part)) return *record;
        }
        return std::nullopt;
      },
      *message);
}

bool dropped(const json& body, const char* name = P::handlerName) { return !P::decode(name, body); }

json task() {
  return {{"task_id", taskID},        {"title", "T"},     {"session_ids", json::array()},
          {"runtime_status", "idle"}, {"agent", "codex"}, {"focus", true}};
}

}  // namespace

TEST(PageMessages, MalformedAndUnknownMessagesAreDropped) {
  EXPECT_TRUE(dropped(json("text")));
  EXPECT_TRUE(dropped(json(5)));
  EXPECT_TRUE(dropped(json::array({task()})));
  EXPECT_TRUE(dropped({{"kind", "no-such-kind"}}));
  EXPECT_TRUE(dropped({{"kind", "FETCH"}}));
  EXPECT_TRUE(dropped({{"kind", "event-stream-close"}}));
  EXPECT_TRUE(dropped({{"kind", "pick-executable"}, {"agent", 3}}));
  EXPECT_TRUE(dropped({{"kind", "sidebar-width"}, {"width", "wide"}}));
  EXPECT_TRUE(dropped({{"kind", "modal-overlay-resize"}, {"generation", 3}, {"width", 600}}));
  EXPECT_TRUE(dropped(task(), "otherHandler"));
  // Kinds whose values the handlers used to check: what they cannot use never reaches them.
  for (const json& body : std::initializer_list<json>{
           {{"kind", "fetch"}, {"id", 3}, {"path", "/x"}},
           {{"kind", "event-stream-open"}, {"id", "a_b"}, {"url", "http://127.0.0.1:7332/events"}},
           {{"kind", "event-stream-open"}, {"id", "s"}, {"url", "/events"}},
           {{"kind", "event-stream-open"}, {"id", "s"}, {"url", "http://127.0.0.1:7332/event"}},
           {{"kind", "modal-overlay-result"}, {"request_id", "r"}, {"generation", true}},
           {{"kind", "modal-overlay-result"}, {"request_id", "r"}, {"generation", 1}, {"note", "\xff"}},
           {{"kind", "native-notification"}, {"task_id", taskID}, {"title", "T"}},
           {{"kind", "native-notification"}, {"task_id", "t1"}, {"title", "T"}, {"body", "B"}},
           {{"kind", "web-memory-profile"}, {"used", std::numeric_limits<double>::infinity()}},
           {{"kind", "web-memory-profile"}, {"note", "\xff"}},
       })
    EXPECT_TRUE(dropped(body)) << body.dump(-1, ' ', false, json::error_handler_t::replace);
}

TEST(PageMessages, FieldReadingAndDefaults) {
  EXPECT_TRUE(as<P::Theme>({{"kind", "theme"}, {"value", "Light"}})->dark);
  EXPECT_FALSE(as<P::Theme>({{"kind", "theme"}, {"value", "light"}})->dark);
  EXPECT_TRUE(as<P::Theme>({{"kind", "theme"}})->dark);
  EXPECT_EQ(as<P::UIError>({{"kind", "ui-error"}, {"message", 3}})->message, "Unknown JavaScript error");

  auto debug = as<P::NativeNotificationDebug>(
      {{"kind", "native-notification-debug"}, {"event_count", 2.5}, {"bridge_available", 1}});
  ASSERT_TRUE(debug);
  EXPECT_EQ(debug->eventCount, 0);
  EXPECT_EQ(debug->taskID, "unknown");
  EXPECT_TRUE(debug->bridgeAvailable);
  debug = as<P::NativeNotificationDebug>(
      {{"kind", "native-notification-debug"}, {"event_count", 4}, {"task_id", "x"}, {"bridge_available", true}});
  EXPECT_EQ(debug->eventCount, 4);
  EXPECT_EQ(debug->taskID, "x");

  EXPECT_EQ(as<P::EventStreamClose>({{"kind", "event-stream-close"}, {"id", "s1"}})->id, "s1");
  EXPECT_EQ(as<P::SidebarWidth>({{"kind", "sidebar-width"}, {"width", true}})->width, 1);

  auto open = as<P::OpenModalOverlay>({{"kind", "open-modal-overlay"},
                                       {"overlay", "settings"},
                                       {"theme", 1},
                                       {"payload", "x"},
                                       {"error_event", json::object()}});
  ASSERT_TRUE(open);
  EXPECT_EQ(open->overlay, "settings");
  EXPECT_FALSE(open->darkTheme) << "a theme that is not a string changes nothing";
  EXPECT_TRUE(open->errorEvent);
  EXPECT_FALSE(open->payload);
  open = as<P::OpenModalOverlay>({{"kind", "open-modal-overlay"}, {"overlay", "s"}, {"theme", "light"}});
  EXPECT_EQ(open->darkTheme, false);
}

TEST(PageMessages, OverlayGenerationsAreReadAsIntegers) {
  EXPECT_FALSE(as<P::CloseModalOverlay>({{"kind", "close-modal-overlay"}})->generation);
  EXPECT_EQ(as<P::CloseModalOverlay>({{"kind", "close-modal-overlay"}, {"generation", 3.7}})->generation, 3);
  EXPECT_FALSE(as<P::ModalOverlayReady>({{"kind", "modal-overlay-ready"}, {"generation", 1e300}})->generation);
  auto resize =
      as<P::ModalOverlayResize>({{"kind", "modal-overlay-resize"}, {"generation", 3}, {"width", 600}, {"height", 400}});
  ASSERT_TRUE(resize);
  EXPECT_EQ(resize->generation, 3);
  EXPECT_EQ(resize->width, 600);
  EXPECT_EQ(resize->height, 400);
}

TEST(PageMessages, BodiesOfNoKnownKindAreTaskMessages) {
  EXPECT_EQ(as<TaskMessage>(task())->title, "T");
  auto withKind = task();
  withKind["kind"] = "task";
  EXPECT_TRUE(as<TaskMessage>(withKind));
  // A kind whose fields are missing is not that kind's message, but the body may still be a task.
  auto fallsThrough = task();
  fallsThrough["kind"] = "event-stream-close";
  EXPECT_TRUE(as<TaskMessage>(fallsThrough));
}

TEST(PageMessages, IdsBoundForCoreURLsMustBeWellFormed) {
  auto traversal = task();
  traversal["task_id"] = "../../agent-profiles/x";
  EXPECT_TRUE(dropped(traversal));
  // A bad project id still reaches the terminal road, which answers it with the no-project panel.
  auto badProject = task();
  badProject["project_id"] = "p/../../x";
  EXPECT_EQ(as<TaskMessage>(badProject)->projectID, "p/../../x");
  auto badSession = task();
  badSession["session_ids"] = {"s?x=1"};
  EXPECT_TRUE(dropped(badSession));

  EXPECT_TRUE(dropped({{"kind", "stop-terminal"}, {"task_id", "../x"}}));
  EXPECT_EQ(as<P::StopTerminal>({{"kind", "stop-terminal"}, {"task_id", taskID}})->taskID, taskID);
  // A picker's project id reaches no URL: the page gets it back as it sent it.
  EXPECT_EQ(as<P::PickProjectDirectory>({{"kind", "pick-project-directory"}, {"project_id", "a/b"}})->projectID, "a/b");
  EXPECT_TRUE(dropped({{"kind", "agent-profile-login"}, {"profile_id", "../admin"}}));
  EXPECT_EQ(as<P::AgentProfileLogin>({{"kind", "agent-profile-login"}, {"profile_id", "codex-main"}})->profileID,
            "codex-main");

  json recovery = {{"kind", "triage-recovery"}, {"task_id", taskID}, {"title", "R"},
                   {"agent", "codex"},          {"error", "e"},      {"login_required", true}};
  EXPECT_EQ(as<P::TriageRecovery>(recovery)->message.title, "R");
  recovery["login_required"] = 1;
  EXPECT_TRUE(dropped(recovery));
  recovery["login_required"] = true;
  recovery["task_id"] = "../x";
  EXPECT_TRUE(dropped(recovery));
}

TEST(PageMessages, BridgeRequestsAreReadIntoTheirFields) {
  auto fetch = as<P::Fetch>({{"kind", "fetch"}, {"id", "f1"}, {"path", "/tasks?x=1"}});
  ASSERT_TRUE(fetch);
  EXPECT_EQ(fetch->path->string(), "/tasks?x=1");
  EXPECT_EQ(fetch->method, "GET");
  EXPECT_TRUE(fetch->headers.empty());
  EXPECT_EQ(fetch->body, "");

  // A request the page waits on is kept, to be answered with a failure, when its path or method
  // cannot be sent.
  fetch = as<P::Fetch>({{"kind", "fetch"}, {"id", "f2"}, {"path", "/a b"}, {"method", "GET /x HTTP/1.1"}});
  ASSERT_TRUE(fetch);
  EXPECT_FALSE(fetch->path);
  EXPECT_FALSE(fetch->method);
  EXPECT_EQ(as<P::Fetch>({{"kind", "fetch"}, {"id", "f"}, {"path", "/"}, {"method", 5}})->method, "GET");

  struct HeaderCase {
    json headers;
    P::Fetch::Fields expected;
  };
  for (const auto& [headers, expected] : std::initializer_list<HeaderCase>{
           {{{"A", "1"}, {"a", "2"}}, {{"a", "2"}}},
           {{{"A", "1"}, {"B", 2}}, {}},
           {{{"X-A", "1\r\nX-B: 2"}, {"Bad Name", "v"}, {"Ok", "v"}}, {{"Ok", "v"}}},
           {json::array({"A", "1"}), {}},
       }) {
    auto decoded = as<P::Fetch>({{"kind", "fetch"}, {"id", "f"}, {"path", "/"}, {"headers", headers}});
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->headers, expected) << headers.dump();
  }

  auto open = as<P::EventStreamOpen>(
      {{"kind", "event-stream-open"}, {"id", "s-1"}, {"url", "http://h:1/events/?a=1"}, {"last_event_id", "7"}});
  ASSERT_TRUE(open);
  EXPECT_EQ(open->id, "s-1");
  EXPECT_EQ(open->url.string(), "http://h:1/events/?a=1");
  EXPECT_EQ(open->lastEventID, "7");
  for (const json& last : {json(""), json("1\r\nX: y"), json(7)})
    EXPECT_FALSE(as<P::EventStreamOpen>(
                     {{"kind", "event-stream-open"}, {"id", "s"}, {"url", "http://h/events"}, {"last_event_id", last}})
                     ->lastEventID)
        << last.dump();

  auto sample = as<P::WebMemoryProfile>({{"kind", "web-memory-profile"}, {"used", 5}});
  ASSERT_TRUE(sample);
  EXPECT_EQ(sample->sample["used"], 5);
}

TEST(PageMessages, ApplicationRequestsAreReadIntoTheirFields) {
  auto result = as<P::ModalOverlayResult>(
      {{"kind", "modal-overlay-result"}, {"request_id", "r"}, {"generation", 4.5}, {"choice", {{"ok", true}}}});
  ASSERT_TRUE(result);
  EXPECT_EQ(result->generation, 4);
  EXPECT_EQ(json::parse(result->answer), (json{{"request_id", "r"}, {"generation", 4.5}, {"choice", {{"ok", true}}}}))
      << "the main page gets the answer whole, but its kind";

  auto notification =
      as<P::NativeNotification>({{"kind", "native-notification"}, {"task_id", taskID}, {"title", "T"}, {"body", "B"}});
  ASSERT_TRUE(notification);
  EXPECT_EQ(notification->taskID, taskID);
  EXPECT_EQ(notification->title, "T");
  EXPECT_EQ(notification->body, "B");
}
