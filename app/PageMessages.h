#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "app/ScriptMessageFields.h"
#include "app/TaskRecords.h"
#include "app/URL.h"

namespace zorvel {

// The page's script messages, each decoded once into a record of its kind. A record's `kind` is
// the body's "kind" value, compared exactly; its `decode` reads the fields the kind uses and gives
// nothing when one it cannot do without is missing or bad, and the body then goes on as a task
// message. A body of no known kind is a task message. Handlers take a record as complete: every
// check of the page's values is made here.
//
// A new kind is a record here, listed in the variant of the part that handles it, and one handler
// there (`WebBridge::handle` or `ZorvelAppDelegate::handlePageMessage`); nothing in between.
namespace PageMessages {

namespace F = ScriptMessageFields;
using Json = nlohmann::json;

inline constexpr const char* handlerName = "zorvelTerminal";

inline bool darkTheme(const std::optional<std::string>& value) { return value != std::optional<std::string>("light"); }

// Profile ids go into core URL paths: a short run of safe characters.
bool isValidProfileID(std::string_view id);
// Task and session ids go into core URL paths and must be UUIDs. A malformed project id is not
// refused here: starting the terminal checks it and tells the user the task has no usable project.
bool isValidTaskMessage(const TaskMessage& message);

// The kinds the web bridge serves itself.

// A memory sample of the page. Its fields are the page's to choose and are logged as given; only
// an object that can be written as one line of JSON (finite numbers, UTF-8 text) is taken.
struct WebMemoryProfile {
  static constexpr std::string_view kind = "web-memory-profile";
  Json sample;
  static std::optional<WebMemoryProfile> decode(const Json& body);
};

// A request of the page for the core. The core's address is the bridge's: resolving the path
// against it, and refusing a target elsewhere, is left to the bridge. Every request with an id is
// answered, so a path or method that cannot be sent still gives a record, to be answered with a
// failure.
struct Fetch {
  static constexpr std::string_view kind = "fetch";
  std::string id;
  // Nothing when the page's path is no URL reference.
  std::optional<URL> path;
  // "GET" when the page named none; nothing when the one it named is no HTTP token.
  std::optional<std::string> method;
  // The page's header fields whose names are tokens and whose values hold no line break or NUL,
  // one per name (compared without case, the last one kept); none at all when a value is not text.
  using Fields = std::vector<std::pair<std::string, std::string>>;
  Fields headers;
  std::string body;  // empty when there is none
  static std::optional<Fetch> decode(const Json& body);
};

// A stream of the core's events for the page. Whether `url` is the core's own is the bridge's
// check; everything else about it is made here.
struct EventStreamOpen {
  static constexpr std::string_view kind = "event-stream-open";
  std::string id;                          // up to 128 characters, each a letter, a number or "-"
  URL url;                                 // absolute, its path /events (a trailing slash allowed)
  std::optional<std::string> lastEventID;  // only a non-empty one without a line break or NUL
  static std::optional<EventStreamOpen> decode(const Json& body);
  static bool isValidStreamID(std::string_view id);
};

struct EventStreamClose {
  static constexpr std::string_view kind = "event-stream-close";
  std::string id;
  static std::optional<EventStreamClose> decode(const Json& body) {
    auto id = F::string(body, "id");
    if (!id) return std::nullopt;
    return EventStreamClose{*id};
  }
};

struct UIError {
  static constexpr std::string_view kind = "ui-error";
  std::string message;
  static std::optional<UIError> decode(const Json& body) {
    return UIError{F::string(body, "message").value_or("Unknown JavaScript error")};
  }
};

// The kinds the application serves.

struct OpenModalOverlay {
  static constexpr std::string_view kind = "open-modal-overlay";
  std::string overlay;
  std::optional<bool> darkTheme;  // only when the page named a theme
  std::optional<Json> errorEvent;
  std::optional<Json> payload;
  static std::optional<OpenModalOverlay> decode(const Json& body) {
    auto overlay = F::string(body, "overlay");
    if (!overlay) return std::nullopt;
    auto theme = F::string(body, "theme");
    return OpenModalOverlay{*overlay, theme ? std::optional<bool>(PageMessages::darkTheme(theme)) : std::nullopt,
                            F::object(body, "error_event"), F::object(body, "payload")};
  }
};

// The overlay page's answer, for the main page. It needs a string "request_id" and a numeric
// "generation"; the main page gets the whole body but its kind.
struct ModalOverlayResult {
  static constexpr std::string_view kind = "modal-overlay-result";
  std::int64_t generation = 0;
  std::string answer;  // JSON text
  static std::optional<ModalOverlayResult> decode(const Json& body);
};

// The generations below name the overlay opening a message is about; a message about another
// opening than the active one is dropped by its handler.

struct CloseModalOverlay {
  static constexpr std::string_view kind = "close-modal-overlay";
  std::optional<std::int64_t> generation;
  static std::optional<CloseModalOverlay> decode(const Json& body) {
    return CloseModalOverlay{F::integer(body, "generation")};
  }
};

struct ModalOverlayResize {
  static constexpr std::string_view kind = "modal-overlay-resize";
  std::int64_t generation = 0;
  double width = 0;
  double height = 0;
  static std::optional<ModalOverlayResize> decode(const Json& body) {
    auto generation = F::integer(body, "generation");
    auto width = F::number(body, "width");
    auto height = F::number(body, "height");
    if (!generation || !width || !height) return std::nullopt;
    return ModalOverlayResize{*generation, *width, *height};
  }
};

struct ModalOverlayReady {
  static constexpr std::string_view kind = "modal-overlay-ready";
  std::optional<std::int64_t> generation;
  static std::optional<ModalOverlayReady> decode(const Json& body) {
    return ModalOverlayReady{F::integer(body, "generation")};
  }
};

struct ModalOverlayHostReady {
  static constexpr std::string_view kind = "modal-overlay-host-ready";
  static std::optional<ModalOverlayHostReady> decode(const Json&) { return ModalOverlayHostReady{}; }
};

// A request to tell the user about a task while they work elsewhere.
struct NativeNotification {
  static constexpr std::string_view kind = "native-notification";
  std::string taskID;  // a UUID
  std::string title;
  std::string body;
  static std::optional<NativeNotification> decode(const Json& body) {
    auto taskID = F::string(body, "task_id");
    auto title = F::string(body, "title");
    auto text = F::string(body, "body");
    if (!taskID || !isUUID(*taskID) || !title || !text) return std::nullopt;
    return NativeNotification{*taskID, *title, *text};
  }
};

// The page's own account of what it found for a notification; only logged.
struct NativeNotificationDebug {
  static constexpr std::string_view kind = "native-notification-debug";
  std::int64_t eventCount = 0;
  std::string taskID;
  bool bridgeAvailable = false;
  static std::optional<NativeNotificationDebug> decode(const Json& body) {
    return NativeNotificationDebug{F::exactInteger(body, "event_count").value_or(0),
                                   F::string(body, "task_id").value_or("unknown"),
                                   F::exactBool(body, "bridge_available").value_or(false)};
  }
};

struct Expand {
  static constexpr std::string_view kind = "expand";
  static std::optional<Expand> decode(const Json&) { return Expand{}; }
};

struct Theme {
  static constexpr std::string_view kind = "theme";
  bool dark = true;
  static std::optional<Theme> decode(const Json& body) { return Theme{darkTheme(F::string(body, "value"))}; }
};

struct PickExecutable {
  static constexpr std::string_view kind = "pick-executable";
  std::string agent;
  static std::optional<PickExecutable> decode(const Json& body) {
    auto agent = F::string(body, "agent");
    if (!agent) return std::nullopt;
    return PickExecutable{*agent};
  }
};

struct PickProjectDirectory {
  static constexpr std::string_view kind = "pick-project-directory";
  // Only travels back to the page inside the answer's JSON, so it is kept as given.
  std::optional<std::string> projectID;
  static std::optional<PickProjectDirectory> decode(const Json& body) {
    return PickProjectDirectory{F::string(body, "project_id")};
  }
};

struct AgentProfileLogin {
  static constexpr std::string_view kind = "agent-profile-login";
  std::string profileID;
  static std::optional<AgentProfileLogin> decode(const Json& body) {
    auto profileID = F::string(body, "profile_id");
    if (!profileID || !isValidProfileID(*profileID)) return std::nullopt;
    return AgentProfileLogin{*profileID};
  }
};

struct TriageRecovery {
  static constexpr std::string_view kind = "triage-recovery";
  TriageRecoveryMessage message;
  static std::optional<TriageRecovery> decode(const Json& body) {
    auto message = TriageRecoveryMessage::decode(body);
    if (!message || !isUUID(message->taskID)) return std::nullopt;
    return TriageRecovery{std::move(*message)};
  }
};

struct StopTerminal {
  static constexpr std::string_view kind = "stop-terminal";
  std::string taskID;
  static std::optional<StopTerminal> decode(const Json& body) {
    auto taskID = F::string(body, "task_id");
    if (!taskID || !isUUID(*taskID)) return std::nullopt;
    return StopTerminal{*taskID};
  }
};

struct PreserveTerminalFocus {
  static constexpr std::string_view kind = "preserve-terminal-focus";
  static std::optional<PreserveTerminalFocus> decode(const Json&) { return PreserveTerminalFocus{}; }
};

struct RestoreTerminalFocus {
  static constexpr std::string_view kind = "restore-terminal-focus";
  static std::optional<RestoreTerminalFocus> decode(const Json&) { return RestoreTerminalFocus{}; }
};

struct SidebarResizeStart {
  static constexpr std::string_view kind = "sidebar-resize-start";
  static std::optional<SidebarResizeStart> decode(const Json&) { return SidebarResizeStart{}; }
};

struct SidebarResizeEnd {
  static constexpr std::string_view kind = "sidebar-resize-end";
  double width = 0;
  static std::optional<SidebarResizeEnd> decode(const Json& body) {
    auto width = F::number(body, "width");
    if (!width) return std::nullopt;
    return SidebarResizeEnd{*width};
  }
};

struct SidebarWidth {
  static constexpr std::string_view kind = "sidebar-width";
  double width = 0;
  static std::optional<SidebarWidth> decode(const Json& body) {
    auto width = F::number(body, "width");
    if (!width) return std::nullopt;
    return SidebarWidth{*width};
  }
};

using BridgeMessage = std::variant<WebMemoryProfile, Fetch, EventStreamOpen, EventStreamClose, UIError>;

// `TaskMessage` has no kind: it is what a body of no known kind is read as.
using ApplicationMessage =
    std::variant<OpenModalOverlay, ModalOverlayResult, CloseModalOverlay, ModalOverlayResize, ModalOverlayReady,
                 ModalOverlayHostReady, NativeNotification, NativeNotificationDebug, Expand, Theme, PickExecutable,
                 PickProjectDirectory, AgentProfileLogin, TriageRecovery, StopTerminal, PreserveTerminalFocus,
                 RestoreTerminalFocus, SidebarResizeStart, SidebarResizeEnd, SidebarWidth, TaskMessage>;

using PageMessage = std::variant<BridgeMessage, ApplicationMessage>;

// The record of one script message posted to the handler `name`, or nothing when the message is
// to be dropped. Nothing malformed is answered or logged.
std::optional<PageMessage> decode(std::string_view name, const Json& body);

// Lambdas, one per record, as one visitor for std::visit; a record without one does not compile.
template <class... Handlers>
struct Visitor : Handlers... {
  using Handlers::operator()...;
};

}  // namespace PageMessages

}  // namespace zorvel
