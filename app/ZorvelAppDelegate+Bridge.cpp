#include <filesystem>

#include "app/WebBridge.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"
#include "platform/Log.h"

namespace zorvel {

namespace {

// The bridge as the application sees it: the page's messages reach the delegate's own state and
// operations where the delegate has them; the rest stay the bridge's hooks.
class DelegateWebBridge : public WebBridge {
 public:
  DelegateWebBridge(Settings settings, ZorvelAppDelegate& delegate) : WebBridge(std::move(settings)), delegate(delegate) {}

  std::map<std::string, std::string>& taskTitles() override { return delegate.taskTitles; }
  bool& sidebarResizeInProgress() override { return delegate.sidebarResizeInProgress; }
  void applyTheme(bool dark) override { delegate.applyTheme(dark); }
  void enterTerminalLayout() override { delegate.enterTerminalLayout(); }
  bool hasTerminal(const std::string& taskID) const override { return delegate.terminals().count(taskID) > 0; }

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

void ZorvelAppDelegate::makeWebBridge() {
  if (webBridge) return;
  auto& bundle = platform::Bundle::main();
  auto base = URL::parse(baseURL);
  WebBridge::Settings settings{base ? *base : *URL::parse("http://127.0.0.1"),
                               [this] { return runtimeAuthority.desktopToken(); },
                               desktopDataDirectory,
                               bundle.infoString("ZorvelDistributionChannel"),
                               bundle.resourcePath().empty()
                                   ? std::nullopt
                                   : std::optional<std::filesystem::path>(bundle.resourcePath())};
  webBridge = std::make_shared<DelegateWebBridge>(std::move(settings), *this);
  webBridge->onMainPageLoaded = [this] { uiLoaded = true; };
}

}  // namespace zorvel
