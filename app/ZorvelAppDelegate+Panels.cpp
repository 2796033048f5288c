#include <algorithm>

#include "app/TerminalFactory.h"
#include "app/ZorvelAppDelegate.h"

namespace zorvel {

int terminalPanelWidth(double containerWidth, double limit) {
  return static_cast<int>(std::min({containerWidth * 0.72, limit, std::max(containerWidth - 96, 0.0)}));
}

namespace {

// The steps every panel takes first: the terminal leaves the container but keeps running.
void leaveTerminal(ZorvelAppDelegate& self) {
  self.removeTerminalsFromContainer();
  if (self.activeTaskID) self.terminalSessions.touch(*self.activeTaskID);
  self.activeTaskID.reset();
}

}  // namespace

void ZorvelAppDelegate::showPlaceholder(const std::string& detail, const std::optional<std::string>& title,
                                        const std::optional<std::string>& taskID,
                                        const std::optional<TaskStatisticsDisplay>& statistics) {
  leaveTerminal(*this);
  placeholderTaskID = taskID;
  triageProgress.set_visible(false);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  PlaceholderContent content;
  if (title && !title->empty()) content.title = *title;
  content.detail = detail;
  content.start = {"START", taskID.has_value(), [weak] {
                     if (auto self = weak.lock()) self->startTaskFromPlaceholder();
                   }};
  if (statistics) {
    content.statistics = PlaceholderStatistics{
        TriageProgressView::metricsText(statistics->toolCallCount, statistics->totalTokens, statistics->outputTokens),
        TriageProgressView::toolNamesText(statistics->toolCallNames, "No completed tool calls reported."),
        TerminalPlaceholderView::outputPreview(statistics->outputPreview)};
  }
  placeholder.setContent(content);
  placeholder.set_visible(true);
  layoutPlaceholder();
}

void ZorvelAppDelegate::showTriageRecovery(const TriageRecoveryMessage& recovery,
                                           const std::optional<std::string>& loginError) {
  leaveTerminal(*this);
  placeholderTaskID = recovery.taskID;
  triageProgress.set_visible(false);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  auto retry = [weak, taskID = recovery.taskID] {
    if (auto self = weak.lock()) self->dispatchTriageEvent("zorvel:retry-triage", taskID);
  };
  PlaceholderContent content;
  if (!recovery.title.empty()) content.title = recovery.title;
  content.dot = StatusDotColor::red;
  content.detail = loginError ? recovery.error + "\n" + *loginError : recovery.error;
  if (recovery.loginRequired) {
    content.status = "Login required";
    content.start = {"LOG IN", true, [weak, recovery] {
                       if (auto self = weak.lock()) self->startLogin(recovery);
                     }};
    content.secondary = {"RETRY", true, retry};
  } else {
    content.status = "Triage failed";
    content.start = {"RETRY", true, retry};
  }
  placeholder.setContent(content);
  placeholder.set_visible(true);
  layoutPlaceholder();
}

void ZorvelAppDelegate::startLogin(const TriageRecoveryMessage& recovery) {
  // A task has one terminal. One left from before the recovery panel would otherwise run on
  // unseen and unreapable, with its project token still active.
  if (terminalSessions.session(recovery.taskID)) stopTerminal(recovery.taskID);
  std::shared_ptr<vantrelle::LocalProcessTerminalView> view = TerminalFactory::make(*this);
  terminalSessions.insert(view, recovery.taskID, recovery);
  applyTheme(darkTheme);
  show(view, recovery.taskID, true);
  auto environment = TerminalEnvironment::list(TerminalEnvironment::loginEnvironment(
      executableSearchPath, TerminalEnvironment::processEnvironment(), terminalLocations()));
  auto* session = terminalSessions.session(recovery.taskID);
  if (!session || session->view != view) return;
  std::weak_ptr<ZorvelAppDelegate> weakSelf = weak_from_this();
  std::weak_ptr<vantrelle::LocalProcessTerminalView> weakView = view;
  TerminalLaunchClient::Request request{baseURL,      coreAccess, recovery.taskID, recovery.agent, recovery.model,
                                        std::nullopt, true};
  session->pendingLaunch =
      TerminalLaunchClient::prepare(request, [weakSelf, weakView, recovery, environment](LaunchResult result) {
        auto self = weakSelf.lock();
        auto view = weakView.lock();
        if (!self || !view) return;
        auto* session = self->terminalSessions.session(recovery.taskID);
        if (!session || session->view != view) return;
        session->pendingLaunch.reset();
        if (auto* plan = std::get_if<TerminalLaunchPlan>(&result)) {
          view->startProcess(plan->executable.value_or(self->cliPath), plan->arguments, environment, std::nullopt,
                             plan->cwd);
          return;
        }
        self->stopTerminal(recovery.taskID);
        self->showTriageRecovery(recovery, std::get<LaunchError>(result).localizedDescription);
      });
}

void ZorvelAppDelegate::dispatchTriageEvent(const std::string& name, const std::string& taskID) {
  // Event names here already carry their "zorvel:" prefix.
  dispatchPageEvent(name.substr(std::string("zorvel:").size()), nlohmann::json{{"task_id", taskID}});
}

void ZorvelAppDelegate::showTriageProgress(const std::string& taskID, const std::string& title,
                                           const TriageDisplay& triage) {
  leaveTerminal(*this);
  placeholderTaskID.reset();
  placeholder.set_visible(false);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  if (triage.canSkip) {
    triageProgress.onSkip = [weak, taskID] {
      if (auto self = weak.lock()) self->dispatchTriageEvent("zorvel:skip-triage", taskID);
    };
  } else {
    triageProgress.onSkip = nullptr;
  }
  triageProgress.configure(title, triage);
  triageProgress.set_visible(true);
  layoutPlaceholder();
}

void ZorvelAppDelegate::removeTerminalsFromContainer() {
  for (Gtk::Widget* child = terminalContainer.get_first_child(); child;) {
    Gtk::Widget* next = child->get_next_sibling();
    if (child != &placeholder && child != &triageProgress) terminalContainer.remove(*child);
    child = next;
  }
}

void ZorvelAppDelegate::layoutPlaceholder() {
  double width = terminalContainer.get_width();
  int placeholderWidth = terminalPanelWidth(width, 760);
  int triageWidth = terminalPanelWidth(width, 680);
  placeholder.set_size_request(width > 0 ? placeholderWidth : -1, static_cast<int>(placeholder.preferredHeight));
  triageProgress.set_size_request(width > 0 ? triageWidth : -1, 560);
}

}  // namespace zorvel
