#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "app/CoreRecords.h"
#include "app/TerminalFactory.h"
#include "app/TerminalLaunchClient.h"
#include "app/URL.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Dispatch.h"
#include "platform/URLSession.h"

namespace zorvel {

namespace {

constexpr const char* externalSessionNotice =
    "\r\nZorvel: this task already has a running external session. A shell was opened here because an "
    "existing PTY cannot be moved into another application.\r\n\r\n";

std::string terminalOwner(const std::string& taskID) { return "terminal:" + taskID; }

// Task states in which an idle terminal has nothing left to do.
constexpr std::array<std::string_view, 3> cleanupEligibleStatuses{"done", "deferred", "wont_fix"};

bool isCleanupEligible(const std::string& status) {
  return std::find(cleanupEligibleStatuses.begin(), cleanupEligibleStatuses.end(), status) !=
         cleanupEligibleStatuses.end();
}

// Drops the last reference on a later turn, so a view is never destroyed inside its own callback.
void releaseLater(std::shared_ptr<vantrelle::LocalProcessTerminalView> view) {
  if (view) platform::DispatchQueue::main().async([view = std::move(view)] {});
}

// The child's end as the user reads it. The view reports the raw wait status, in which an exit
// code of 3 is 768: shown as is, a login that failed with 3 said it had exited with 768.
struct ExitDescription {
  std::string text;
  bool bySignal = false;
};

ExitDescription describeExit(std::optional<int32_t> status) {
  if (!status) return {"unknown"};
  if (WIFEXITED(*status)) return {std::to_string(WEXITSTATUS(*status))};
  if (WIFSIGNALED(*status)) return {"signal " + std::to_string(WTERMSIG(*status)), true};
  return {std::to_string(*status)};
}

}  // namespace

std::map<std::string, std::shared_ptr<vantrelle::LocalProcessTerminalView>> ZorvelAppDelegate::terminals() const {
  return terminalSessions.views();
}

TerminalEnvironment::Locations ZorvelAppDelegate::terminalLocations() const {
  return {baseURL, configPath, desktopDataDirectory};
}

void ZorvelAppDelegate::createTerminal(const TaskMessage& task) {
  // An earlier terminal of the task must not run on unseen with its token still active.
  if (terminalSessions.session(task.taskID)) stopTerminal(task.taskID);
  std::shared_ptr<vantrelle::LocalProcessTerminalView> view = TerminalFactory::make(*this);
  terminalSessions.insert(view, task.taskID, std::nullopt);
  applyTheme(darkTheme);
  show(view, task.taskID, task.focus);
  auto environment = TerminalEnvironment::taskEnvironment(
      executableSearchPath, TerminalEnvironment::processEnvironment(), terminalLocations(), ::getpid());

  if (task.runtimeStatus == "working") {
    auto shell = environment.find("SHELL");
    view->startProcess(shell != environment.end() ? shell->second : "/bin/zsh", {"-l"},
                       TerminalEnvironment::list(environment), std::nullopt, task.cwd);
    view->feed(std::string(externalSessionNotice));
    return;
  }
  if (!task.projectID || !isUUID(*task.projectID)) {
    stopTerminal(task.taskID);
    showPlaceholder("This task has no project, so an authorized agent cannot be started.", task.title, task.taskID,
                    task.taskStatistics);
    return;
  }
  auto issued = runtimeAuthority.issueProject(*task.projectID, terminalOwner(task.taskID), "project", std::nullopt,
                                              std::nullopt, std::nullopt);
  if (!syncAuthorization(2.0)) {
    runtimeAuthority.revoke(terminalOwner(task.taskID));
    stopTerminal(task.taskID);
    showPlaceholder("The API did not activate the agent credential.", task.title, task.taskID, task.taskStatistics);
    return;
  }
  environment["ZORVEL_API_TOKEN"] = issued.token;
  auto* session = terminalSessions.session(task.taskID);
  if (!session || session->view != view) return;

  std::weak_ptr<ZorvelAppDelegate> weakSelf = weak_from_this();
  std::weak_ptr<vantrelle::LocalProcessTerminalView> weakView = view;
  TerminalLaunchClient::Request request{baseURL, coreAccess, task.taskID, task.agent, task.model, task.effort, false};
  auto arguments = TerminalEnvironment::list(environment);
  session->pendingLaunch =
      TerminalLaunchClient::prepare(request, [weakSelf, weakView, task, arguments](LaunchResult result) {
        auto self = weakSelf.lock();
        auto view = weakView.lock();
        if (!self || !view) return;
        auto* session = self->terminalSessions.session(task.taskID);
        if (!session || session->view != view) return;
        session->pendingLaunch.reset();
        if (auto* plan = std::get_if<TerminalLaunchPlan>(&result)) {
          view->startProcess(self->cliPath, plan->arguments, arguments, std::nullopt, plan->cwd);
          return;
        }
        self->stopTerminal(task.taskID);
        self->showPlaceholder(std::get<LaunchError>(result).localizedDescription, task.title, task.taskID,
                              task.taskStatistics);
      });
}

void ZorvelAppDelegate::show(const std::shared_ptr<vantrelle::LocalProcessTerminalView>& terminal,
                             const std::string& taskID, bool focus) {
  bool alreadyShown = activeTaskID == taskID && terminal->get_parent() == &terminalContainer;
  if (activeTaskID && *activeTaskID != taskID) terminalSessions.touch(*activeTaskID);
  activeTaskID = taskID;
  placeholderTaskID.reset();
  terminalSessions.touch(taskID);
  if (!alreadyShown) {
    removeTerminalsFromContainer();
    placeholder.set_visible(false);
    triageProgress.set_visible(false);
    sizeTerminalToContainer(*terminal);
    terminalContainer.append(*terminal);
  }
  if (focus && window) terminal->grab_focus();
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  platform::DispatchQueue::main().async([weak] {
    if (auto self = weak.lock()) self->refreshActiveTerminalLayout();
  });
}

void ZorvelAppDelegate::sizeTerminalToContainer(vantrelle::LocalProcessTerminalView& view) {
  // The container's box layout gives the view its whole area; only the resize is asked for here.
  view.set_hexpand(true);
  view.set_vexpand(true);
  view.queue_resize();
}

void ZorvelAppDelegate::refreshActiveTerminalLayout() {
  layoutPlaceholder();
  if (!activeTaskID) return;
  auto views = terminals();
  auto found = views.find(*activeTaskID);
  if (found == views.end()) return;
  sizeTerminalToContainer(*found->second);
  found->second->queue_draw();
}

void ZorvelAppDelegate::preserveActiveTerminalFocusForSidebarRefresh() {
  terminalFocusBeforeSidebarRefreshTaskID.reset();
  if (!activeTaskID || !window) return;
  auto views = terminals();
  auto found = views.find(*activeTaskID);
  if (found != views.end() && window->get_focus() == found->second.get()) {
    terminalFocusBeforeSidebarRefreshTaskID = activeTaskID;
  }
}

void ZorvelAppDelegate::restoreActiveTerminalFocusAfterSidebarRefresh() {
  auto saved = terminalFocusBeforeSidebarRefreshTaskID;
  terminalFocusBeforeSidebarRefreshTaskID.reset();
  if (!saved || activeTaskID != saved) return;
  auto views = terminals();
  auto found = views.find(*saved);
  if (found == views.end()) return;
  std::weak_ptr<ZorvelAppDelegate> weakSelf = weak_from_this();
  std::weak_ptr<vantrelle::LocalProcessTerminalView> weakView = found->second;
  std::string taskID = *saved;
  platform::DispatchQueue::main().async([weakSelf, weakView, taskID] {
    auto self = weakSelf.lock();
    auto view = weakView.lock();
    if (!self || !view || self->activeTaskID != taskID) return;
    auto views = self->terminals();
    auto current = views.find(taskID);
    if (current != views.end() && current->second == view && self->window) view->grab_focus();
  });
}

void ZorvelAppDelegate::stopTerminal(const std::string& taskID) {
  auto view = terminalSessions.remove(taskID);
  bool wasActive = activeTaskID == taskID;
  if (view) {
    if (wasActive) activeTaskID.reset();
    runtimeAuthority.revoke(terminalOwner(taskID));
    syncAuthorization(2.0);
    view->terminate();
    if (auto* parent = view->get_parent(); parent == &terminalContainer) terminalContainer.remove(*view);
    releaseLater(std::move(view));
  }
  if (wasActive) {
    auto title = taskTitles.find(taskID);
    auto statistics = taskStatistics.find(taskID);
    showPlaceholder("No terminal is running for this task.",
                    title != taskTitles.end() ? std::optional<std::string>(title->second) : std::nullopt, taskID,
                    statistics != taskStatistics.end() ? std::optional(statistics->second) : std::nullopt);
  }
}

void ZorvelAppDelegate::processTerminated(vantrelle::TerminalView& source, std::optional<int32_t> exitCode) {
  auto exit = describeExit(exitCode);
  source.feed("\r\n[process exited: " + exit.text + "]\r\n");
  auto taskID = terminalSessions.taskID(source);
  if (!taskID) return;
  auto recovery = terminalSessions.recovery(source);
  releaseLater(terminalSessions.remove(*taskID));
  pendingTerminalCleanupChecks.erase(*taskID);

  if (recovery) {
    bool wasActive = activeTaskID == recovery->taskID;
    if (exitCode == 0) {
      if (wasActive) {
        // The panel takes the terminal area alone, as every panel does: the finished login's
        // terminal stayed in the area beside it.
        removeTerminalsFromContainer();
        activeTaskID.reset();
        placeholderTaskID = recovery->taskID;
        PlaceholderContent content;
        if (!recovery->title.empty()) content.title = recovery->title;
        content.status = "Login complete";
        content.dot = StatusDotColor::green;
        content.detail = "Login completed. Restarting triage\xE2\x80\xA6";
        placeholder.setContent(content);
        triageProgress.set_visible(false);
        placeholder.set_visible(true);
        layoutPlaceholder();
      }
      dispatchTriageEvent("zorvel:login-complete", recovery->taskID);
    } else if (wasActive) {
      showTriageRecovery(*recovery, exit.bySignal ? "Login command was ended by " + exit.text + "."
                                                  : "Login command exited with code " + exit.text + ".");
    }
    return;
  }

  runtimeAuthority.revoke(terminalOwner(*taskID));
  syncAuthorization(2.0);
  if (activeTaskID == *taskID) {
    auto title = taskTitles.find(*taskID);
    auto statistics = taskStatistics.find(*taskID);
    showPlaceholder("The terminal process exited.",
                    title != taskTitles.end() ? std::optional<std::string>(title->second) : std::nullopt, *taskID,
                    statistics != taskStatistics.end() ? std::optional(statistics->second) : std::nullopt);
  }
}

void ZorvelAppDelegate::reapInactiveTerminals() {
  auto now = TerminalClock::now();
  std::vector<std::string> candidates;
  for (const auto& [taskID, lastUsedAt] : terminalSessions.lastUses()) {
    if (taskID == activeTaskID) continue;
    if (std::chrono::duration<double>(now - lastUsedAt).count() >= inactiveTerminalTimeout()) {
      candidates.push_back(taskID);
    }
  }
  for (const auto& taskID : candidates) {
    if (pendingTerminalCleanupChecks.insert(taskID).second) checkTerminalCleanup(taskID);
  }
}

std::optional<std::string> ZorvelAppDelegate::taskURL(const std::string& taskID, const std::string& action) const {
  return TerminalLaunchClient::taskURL(baseURL, taskID, action);
}

void ZorvelAppDelegate::checkTerminalCleanup(const std::string& taskID) {
  auto url = taskURL(taskID, "");
  if (!url) {
    pendingTerminalCleanupChecks.erase(taskID);
    return;
  }
  platform::URLRequest request;
  request.url = *url;
  request.timeout = std::chrono::seconds(60);
  coreAccess.authorize(request);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  platform::URLSession::shared().dataTask(std::move(request), [weak, taskID](platform::URLResponse response) {
    std::optional<TaskCleanupState> state;
    if (!response.error && response.status == 200 && !response.body.empty()) {
      state = TaskCleanupState::decodeText(response.body);
    }
    platform::DispatchQueue::main().async([weak, taskID, state] {
      auto self = weak.lock();
      if (!self) return;
      self->pendingTerminalCleanupChecks.erase(taskID);
      if (state && self->isTerminalStillExpired(taskID) && isCleanupEligible(state->status) && !state->turnInProgress &&
          !state->backgroundWorkActive) {
        self->stopInactiveTerminal(taskID);
      }
    });
  });
}

bool ZorvelAppDelegate::isTerminalStillExpired(const std::string& taskID) const {
  if (activeTaskID == taskID) return false;
  for (const auto& [id, lastUsedAt] : terminalSessions.lastUses()) {
    if (id != taskID) continue;
    return std::chrono::duration<double>(TerminalClock::now() - lastUsedAt).count() >= inactiveTerminalTimeout();
  }
  return false;
}

void ZorvelAppDelegate::stopInactiveTerminal(const std::string& taskID) {
  stopTerminal(taskID);
  auto url = taskURL(taskID, "stop");
  if (!url) return;
  platform::URLRequest request;
  request.url = *url;
  request.method = "POST";
  request.timeout = std::chrono::seconds(60);
  coreAccess.authorize(request);
  platform::URLSession::shared().dataTask(std::move(request), [](platform::URLResponse) {});
}

}  // namespace zorvel
