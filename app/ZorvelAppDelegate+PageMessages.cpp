#include "app/PageActivation.h"
#include "app/PageFocus.h"
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

const platform::Logger& dialogsLog() {
  static const platform::Logger log("local.zorvel.desktop", "dialogs");
  return log;
}

}  // namespace

void ZorvelAppDelegate::openForPage(WebKitWebView* source, std::weak_ptr<void>& shown, const char* what,
                                    const char* refusal,
                                    std::function<void(ZorvelAppDelegate&, std::shared_ptr<void>)> open) {
  // A page that asked again while one is open would stack them, each to be dismissed.
  if (!shown.expired()) {
    dialogsLog().error("%{public}s: one is open already", refusal);
    return;
  }
  if (!PageActivation::consumeOrRefuse(source, refusal)) return;
  auto ticket = std::make_shared<bool>();
  shown = ticket;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  PageFocus::whenBack(source, what, [weak, ticket, open = std::move(open)] {
    if (auto self = weak.lock()) open(*self, ticket);
  });
}

void ZorvelAppDelegate::handlePageMessage(const P::ApplicationMessage& message, WebKitWebView* source) {
  // Messages about an overlay opening other than the one shown are stale.
  auto active = [this](std::optional<std::int64_t> generation) {
    return generation && modalOverlay->activeModalOverlayGeneration == generation;
  };
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  std::visit(P::Visitor{
                 // The overlay covers the window and takes its keys: it opens while the user is at
                 // the page, not over a terminal being typed in.
                 [&](const P::OpenModalOverlay& open) {
                   if (open.darkTheme) applyTheme(*open.darkTheme);
                   PageFocus::whenBack(source, "the overlay", [weak, open] {
                     if (auto self = weak.lock())
                       self->modalOverlay->showModalOverlay(open.overlay, open.errorEvent, open.payload, false);
                   });
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
                   openForPage(source, executablePicker, "the executable picker", "Not showing the executable picker",
                               [agent = pick.agent](ZorvelAppDelegate& self, std::shared_ptr<void> ticket) {
                                 self.pickExecutable(agent, std::move(ticket));
                               });
                 },
                 [&](const P::PickProjectDirectory& pick) {
                   openForPage(source, folderPicker, "the project folder picker",
                               "Not showing the project folder picker",
                               [projectID = pick.projectID](ZorvelAppDelegate& self, std::shared_ptr<void> ticket) {
                                 self.pickProjectDirectory(projectID, std::move(ticket));
                               });
                 },
                 // The window itself keeps to one (a second profile's replaces the first's); the
                 // ticket covers only the wait for the keyboard.
                 [&](const P::AgentProfileLogin& login) {
                   openForPage(source, loginWindow, "the login window", "Not opening the login window",
                               [profileID = login.profileID](ZorvelAppDelegate& self, std::shared_ptr<void>) {
                                 self.startAgentProfileLogin(profileID);
                               });
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
