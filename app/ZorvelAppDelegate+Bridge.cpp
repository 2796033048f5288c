#include <filesystem>

#include "app/ProfileLoginController.h"
#include "app/WebBridge.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"

namespace zorvel {

namespace {

// The bridge as the application sees it: the page's messages reach the delegate's own state and
// operations where the delegate has them; the rest stay the bridge's hooks.
class DelegateWebBridge : public WebBridge {
 public:
  DelegateWebBridge(Settings settings, ZorvelAppDelegate& delegate)
      : WebBridge(std::move(settings)), delegate(delegate) {}

  std::map<std::string, std::string>& taskTitles() override { return delegate.taskTitles; }
  bool& sidebarResizeInProgress() override { return delegate.sidebarResizeInProgress; }
  void applyTheme(bool dark) override { delegate.applyTheme(dark); }
  void enterTerminalLayout() override { delegate.enterTerminalLayout(); }
  bool hasTerminal(const std::string& taskID) const override { return delegate.terminals().count(taskID) > 0; }
  std::map<std::string, TaskStatisticsDisplay>& taskStatistics() override { return delegate.taskStatistics; }
  void exitTerminalLayout() override { delegate.exitTerminalLayout(); }
  void startAgentProfileLogin(const std::string& profileID) override { delegate.startAgentProfileLogin(profileID); }
  void showTerminal(const std::string& taskID, bool focus) override {
    auto views = delegate.terminals();
    if (auto found = views.find(taskID); found != views.end()) delegate.show(found->second, taskID, focus);
  }
  void createTerminal(const TaskMessage& message) override { delegate.createTerminal(message); }
  void showPlaceholder(const std::string& text, const std::optional<std::string>& title,
                       const std::optional<std::string>& taskID,
                       const std::optional<TaskStatisticsDisplay>& statistics) override {
    delegate.showPlaceholder(text, title, taskID, statistics);
  }
  void showTriageProgress(const std::string& taskID, const std::string& title, const TriageDisplay& triage) override {
    delegate.showTriageProgress(taskID, title, triage);
  }
  void showTriageRecovery(const TriageRecoveryMessage& message) override {
    delegate.showTriageRecovery(message, std::nullopt);
  }
  void stopTerminal(const std::string& taskID) override { delegate.stopTerminal(taskID); }
  void preserveActiveTerminalFocusForSidebarRefresh() override {
    delegate.preserveActiveTerminalFocusForSidebarRefresh();
  }
  void restoreActiveTerminalFocusAfterSidebarRefresh() override {
    delegate.restoreActiveTerminalFocusAfterSidebarRefresh();
  }
  void logTerminalResize(const std::string& stage) override { delegate.logTerminalResize(stage); }
  void endTaskSidebarResize(double width) override { delegate.endTaskSidebarResize(width); }
  void setTaskSidebarWidth(double width, bool resizeTerminal, bool persist) override {
    delegate.setTaskSidebarWidth(width, resizeTerminal, persist);
  }

  std::optional<std::int64_t> activeModalOverlayGeneration() const override {
    return delegate.activeModalOverlayGeneration;
  }
  void showModalOverlay(const std::string& kind, const std::optional<nlohmann::json>& errorEvent,
                        const std::optional<nlohmann::json>& payload, bool prewarming) override {
    delegate.showModalOverlay(kind, errorEvent, payload, prewarming);
  }
  void dispatchModalOverlayResult(const nlohmann::json& body) override { delegate.dispatchModalOverlayResult(body); }
  void closeModalOverlay(bool restoreTerminalFocus) override { delegate.closeModalOverlay(restoreTerminalFocus); }
  void resizeModalOverlay(double width, double height) override { delegate.resizeModalOverlay(width, height); }
  bool modalOverlayReady() override { return delegate.modalOverlayDidBecomeReady(); }
  void modalOverlayHostReady() override { delegate.modalOverlayHostDidBecomeReady(); }
  void scheduleNativeNotification(const nlohmann::json& body) override { delegate.scheduleNativeNotification(body); }
  void pickExecutable(const std::string& agent) override { delegate.pickExecutable(agent); }
  void pickProjectDirectory(const std::optional<std::string>& projectID) override {
    delegate.pickProjectDirectory(projectID);
  }

  // The page's own account of what it found for a notification; the only record the dispatcher logs.
  void logNativeNotificationDebug(std::int64_t eventCount, const std::string& taskID, bool bridgeAvailable) override {
    const auto& log = ZorvelAppDelegate::notificationLog();
    if (!log.isEnabled(platform::LogLevel::notice)) return;
    log.notice("UI found %ld attention event(s) for task %{public}s; bridge available: %{bool}d",
               static_cast<long>(eventCount), taskID.c_str(), bridgeAvailable ? 1 : 0);
  }

 private:
  ZorvelAppDelegate& delegate;
};

}  // namespace

void ZorvelAppDelegate::startAgentProfileLogin(const std::string& profileID) {
  if (profileLogin && profileLogin->profileID == profileID) {
    profileLogin->showWindow();
    return;
  }
  if (profileLogin) profileLogin->close();
  auto environment = TerminalEnvironment::loginEnvironment(
      executableSearchPath, TerminalEnvironment::processEnvironment(), terminalLocations());
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  profileLogin =
      ProfileLoginController::make(baseURL, runtimeAuthority.desktopToken(), profileID, cliPath, environment, [weak] {
        auto self = weak.lock();
        if (!self) return;
        // The controller may be inside its own call; let it return first.
        auto closing = std::move(self->profileLogin);
        platform::DispatchQueue::main().async([closing] {});
        self->evaluatePageScript("window.dispatchEvent(new Event('zorvel:profile-login-changed'));");
      });
  if (application) application->add_window(profileLogin->window);
  profileLogin->showWindow();
}

void ZorvelAppDelegate::makeWebBridge() {
  if (webBridge) return;
  auto& bundle = platform::Bundle::main();
  auto base = URL::parse(baseURL);
  WebBridge::Settings settings{
      base ? *base : *URL::parse("http://127.0.0.1"), [this] { return runtimeAuthority.desktopToken(); },
      desktopDataDirectory, bundle.infoString("ZorvelDistributionChannel"),
      bundle.resourcePath().empty() ? std::nullopt : std::optional<std::filesystem::path>(bundle.resourcePath())};
  webBridge = std::make_shared<DelegateWebBridge>(std::move(settings), *this);
  webBridge->onMainPageLoaded = [this] {
    uiLoaded = true;
    dispatchPendingOpenLinkIfPossible();
    prepareModalOverlayWebView();
  };
}

}  // namespace zorvel
