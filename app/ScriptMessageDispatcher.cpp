#include "app/ScriptMessageDispatcher.h"

#include <algorithm>

#include "app/ScriptMessageFields.h"
#include "app/URL.h"

namespace zorvel {

namespace F = ScriptMessageFields;
using Json = nlohmann::json;

namespace {
bool darkTheme(const std::optional<std::string>& value) { return value != std::optional<std::string>("light"); }
}  // namespace

void ScriptMessageDispatcher::dispatch(std::string_view name, const Json& body, WebKitWebView* source) {
  if (body.is_object()) {
    if (auto kind = F::string(body, "kind")) {
      if (dispatchKind(*kind, body, source) == Outcome::handled) return;
    }
  }
  dispatchTaskMessage(name, body);
}

ScriptMessageDispatcher::Outcome ScriptMessageDispatcher::dispatchKind(std::string_view kind, const Json& body,
                                                                       WebKitWebView* source) {
  if (kind == "web-memory-profile") {
    target.recordWebMemoryProfile(body);
  } else if (kind == "native-notification") {
    target.scheduleNativeNotification(body);
  } else if (kind == "native-notification-debug") {
    target.logNativeNotificationDebug(F::exactInteger(body, "event_count").value_or(0),
                                      F::string(body, "task_id").value_or("unknown"),
                                      F::exactBool(body, "bridge_available").value_or(false));
  } else if (kind == "fetch") {
    target.proxyFetch(body, source);
  } else if (kind == "event-stream-open") {
    target.openEventStream(body);
  } else if (kind == "event-stream-close") {
    auto id = F::string(body, "id");
    if (!id) return Outcome::fallThrough;
    target.closeEventStream(*id);
  } else if (kind == "ui-error") {
    target.showWebFailure(F::string(body, "message").value_or("Unknown JavaScript error"), true);
  } else if (kind == "theme") {
    target.applyTheme(darkTheme(F::string(body, "value")));
  } else if (kind == "pick-executable") {
    auto agent = F::string(body, "agent");
    if (!agent) return Outcome::fallThrough;
    target.pickExecutable(*agent);
  } else if (kind == "pick-project-directory") {
    // The project id only travels back to the page inside the answer's JSON, so it is kept as given.
    target.pickProjectDirectory(F::string(body, "project_id"));
  } else if (kind == "agent-profile-login") {
    auto profileID = F::string(body, "profile_id");
    if (!profileID || !isValidProfileID(*profileID)) return Outcome::fallThrough;
    target.startAgentProfileLogin(*profileID);
  } else if (kind.find("modal-overlay") != std::string_view::npos) {
    return dispatchOverlayKind(kind, body);
  } else {
    return dispatchTerminalKind(kind, body);
  }
  return Outcome::handled;
}

ScriptMessageDispatcher::Outcome ScriptMessageDispatcher::dispatchOverlayKind(std::string_view kind, const Json& body) {
  auto active = target.activeModalOverlayGeneration();
  if (kind == "open-modal-overlay") {
    auto overlay = F::string(body, "overlay");
    if (!overlay) return Outcome::fallThrough;
    if (auto theme = F::string(body, "theme")) target.applyTheme(darkTheme(theme));
    target.showModalOverlay(*overlay, F::object(body, "error_event"), F::object(body, "payload"), false);
  } else if (kind == "modal-overlay-result") {
    target.dispatchModalOverlayResult(body);
  } else if (kind == "close-modal-overlay") {
    auto generation = F::integer(body, "generation");
    if (generation && active == generation) target.closeModalOverlay(true);
  } else if (kind == "modal-overlay-resize") {
    auto generation = F::integer(body, "generation");
    auto width = F::number(body, "width");
    auto height = F::number(body, "height");
    if (!generation || !width || !height || active != generation) return Outcome::fallThrough;
    target.resizeModalOverlay(*width, *height);
  } else if (kind == "modal-overlay-ready") {
    auto generation = F::integer(body, "generation");
    if (generation && active == generation) target.modalOverlayReady();
  } else if (kind == "modal-overlay-host-ready") {
    target.modalOverlayHostReady();
  } else {
    return Outcome::fallThrough;
  }
  return Outcome::handled;
}

ScriptMessageDispatcher::Outcome ScriptMessageDispatcher::dispatchTerminalKind(std::string_view kind,
                                                                               const Json& body) {
  if (kind == "expand") {
    target.exitTerminalLayout();
  } else if (kind == "triage-recovery") {
    auto message = TriageRecoveryMessage::decode(body);
    if (!message || !isUUID(message->taskID)) return Outcome::fallThrough;
    target.taskTitles()[message->taskID] = message->title;
    target.enterTerminalLayout();
    target.showTriageRecovery(*message);
  } else if (kind == "stop-terminal") {
    auto taskID = F::string(body, "task_id");
    if (!taskID || !isUUID(*taskID)) return Outcome::fallThrough;
    target.stopTerminal(*taskID);
  } else if (kind == "preserve-terminal-focus") {
    target.preserveActiveTerminalFocusForSidebarRefresh();
  } else if (kind == "restore-terminal-focus") {
    target.restoreActiveTerminalFocusAfterSidebarRefresh();
  } else if (kind == "sidebar-resize-start") {
    if (!target.sidebarResizeInProgress()) {
      target.logTerminalResize("begin");
      target.sidebarResizeInProgress() = true;
    }
  } else if (kind == "sidebar-resize-end") {
    auto width = F::number(body, "width");
    if (!width) return Outcome::fallThrough;
    target.endTaskSidebarResize(*width);
  } else if (kind == "sidebar-width") {
    auto width = F::number(body, "width");
    if (!width) return Outcome::fallThrough;
    target.setTaskSidebarWidth(*width, true, !target.sidebarResizeInProgress());
  } else {
    return Outcome::fallThrough;
  }
  return Outcome::handled;
}

void ScriptMessageDispatcher::dispatchTaskMessage(std::string_view name, const Json& body) {
  if (name != handlerName) return;
  if (!body.is_object() && !body.is_array()) return;
  auto message = TaskMessage::decode(body);
  if (!message || !isValidTaskMessage(*message)) return;

  target.taskTitles()[message->taskID] = message->title;
  if (message->taskStatistics) target.taskStatistics()[message->taskID] = *message->taskStatistics;
  target.enterTerminalLayout();

  bool launch = message->launch.value_or(true);
  if (!launch && message->agentProgress) {
    target.showTriageProgress(message->taskID, message->title, *message->agentProgress);
  } else if (target.hasTerminal(message->taskID)) {
    target.showTerminal(message->taskID, message->focus);
  } else if (launch) {
    target.createTerminal(*message);
  } else {
    target.showPlaceholder(message->placeholder.value_or("No terminal is running for this task."), message->title,
                           message->taskID, message->taskStatistics);
  }
}

bool ScriptMessageDispatcher::isValidTaskMessage(const TaskMessage& message) {
  // A malformed project id is not refused here: starting the terminal checks it and tells the
  // user the task has no usable project, and it never reaches a URL.
  if (!isUUID(message.taskID)) return false;
  return std::all_of(message.sessionIDs.begin(), message.sessionIDs.end(),
                     [](const std::string& id) { return isUUID(id); });
}

bool ScriptMessageDispatcher::isValidProfileID(std::string_view id) {
  if (id.empty() || id.size() > 128) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
  });
}

}  // namespace zorvel
