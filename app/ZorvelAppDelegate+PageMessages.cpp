#include "app/PageActivation.h"
#include "app/PageMessages.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Log.h"

namespace zorvel {

namespace P = PageMessages;

namespace {

// The page's own account of what it found for a notification; the only page message that is logged.
void logNativeNotificationDebug(const P::NativeNotificationDebug& debug) {
  const auto& log = ZorvelAppDelegate::notificationLog();
  if (!log.isEnabled(platform::LogLevel::notice)) return;
  log.notice("UI found %ld attention event(s) for task %{public}s; bridge available: %{bool}d",
             static_cast<long>(debug.eventCount), debug.taskID.c_str(), debug.bridgeAvailable ? 1 : 0);
}

}  // namespace

void ZorvelAppDelegate::handlePageMessage(const P::ApplicationMessage& message, WebKitWebView* source) {
  // Messages about an overlay opening other than the one shown are stale.
  auto active = [this](std::optional<std::int64_t> generation) {
    return generation && modalOverlay->activeModalOverlayGeneration == generation;
  };
  // A page that asked again as soon as each was closed would hold the user in them.
  auto pressed = [source](const char* refusal) { return PageActivation::consumeOrRefuse(source, refusal); };
  std::visit(P::Visitor{
                 [&](const P::OpenModalOverlay& open) {
                   if (open.darkTheme) applyTheme(*open.darkTheme);
                   modalOverlay->showModalOverlay(open.overlay, open.errorEvent, open.payload, false);
                 },
                 [&](const P::ModalOverlayResult& result) {
                   modalOverlay->dispatchModalOverlayResult(result.generation, result.answer);
                 },
                 [&](const P::CloseModalOverlay& close) {
                   if (active(close.generation)) modalOverlay->closeModalOverlay(true);
                 },
                 [&](const P::ModalOverlayResize& resize) {
                   if (active(resize.generation)) modalOverlay->resizeModalOverlay(resize.width, resize.height);
                 },
                 [&](const P::ModalOverlayReady& ready) {
                   if (active(ready.generation)) modalOverlay->modalOverlayDidBecomeReady();
                 },
                 [&](const P::ModalOverlayHostReady&) { modalOverlay->modalOverlayHostDidBecomeReady(); },
                 [&](const P::NativeNotification& request) { scheduleNativeNotification(request); },
                 [&](const P::NativeNotificationDebug& debug) { logNativeNotificationDebug(debug); },
                 [&](const P::Expand&) { exitTerminalLayout(); },
                 [&](const P::Theme& theme) { applyTheme(theme.dark); },
                 [&](const P::PickExecutable& pick) {
                   if (pressed("Not showing the executable picker")) pickExecutable(pick.agent);
                 },
                 [&](const P::PickProjectDirectory& pick) {
                   if (pressed("Not showing the project folder picker")) pickProjectDirectory(pick.projectID);
                 },
                 [&](const P::AgentProfileLogin& login) {
                   if (pressed("Not opening the login window")) startAgentProfileLogin(login.profileID);
                 },
                 [&](const P::TriageRecovery& recovery) {
                   taskTitles[recovery.message.taskID] = recovery.message.title;
                   enterTerminalLayout();
                   showTriageRecovery(recovery.message, std::nullopt);
                 },
                 [&](const P::StopTerminal& stop) { stopTerminal(stop.taskID); },
                 [&](const P::PreserveTerminalFocus&) { preserveActiveTerminalFocusForSidebarRefresh(); },
                 [&](const P::RestoreTerminalFocus&) { restoreActiveTerminalFocusAfterSidebarRefresh(); },
                 [&](const P::SidebarResizeStart&) {
                   if (sidebarResizeInProgress) return;
                   logTerminalResize("begin");
                   sidebarResizeInProgress = true;
                 },
                 [&](const P::SidebarResizeEnd& end) { endTaskSidebarResize(end.width); },
                 [&](const P::SidebarWidth& width) {
                   // The widths of a drag follow the pointer; only its end is kept.
                   setTaskSidebarWidth(width.width, true, !sidebarResizeInProgress);
                 },
                 [&](const TaskMessage& task) { showTask(task); },
             },
             message);
}

void ZorvelAppDelegate::showTask(const TaskMessage& task) {
  taskTitles[task.taskID] = task.title;
  // A message without statistics keeps those an earlier one gave.
  if (task.taskStatistics) taskStatistics[task.taskID] = *task.taskStatistics;
  enterTerminalLayout();

  bool launch = task.launch.value_or(true);
  auto views = terminals();
  if (!launch && task.agentProgress) {
    showTriageProgress(task.taskID, task.title, *task.agentProgress);
  } else if (auto found = views.find(task.taskID); found != views.end()) {
    show(found->second, task.taskID, task.focus);
  } else if (launch) {
    createTerminal(task);
  } else {
    showPlaceholder(task.placeholder.value_or("No terminal is running for this task."), task.title, task.taskID,
                    task.taskStatistics);
  }
}

}  // namespace zorvel
