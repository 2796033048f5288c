#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/BundledUIURLSchemeHandler.h"
#include "app/ScriptMessageDispatcher.h"
#include "app/ScriptMessageTarget.h"
#include "app/URL.h"
#include "app/WebErrorLabel.h"
#include "app/WebMemoryProfiler.h"
#include "platform/GLibPtr.h"

typedef struct _WebKitUserContentManager WebKitUserContentManager;

namespace zorvel {

class AuthorizedEventStream;

// The native half of the bridge to the web UI: the web views and their configuration, the UI
// scheme, script messages, fetches and event streams to the core, navigation, load failures
// and error reports. It lives on the main thread; background work hops back to it.
class WebBridge : public ScriptMessageTarget, public std::enable_shared_from_this<WebBridge> {
 public:
  struct Settings {
    URL baseURL;
    std::function<std::string()> desktopToken;
    std::filesystem::path dataDirectory;
    std::optional<std::string> distributionChannel;
    std::optional<std::filesystem::path> resourcePath;  // <prefix>/share/zorvel
  };

  // What a web view is made from; only the scheme handler and this bridge are shared.
  struct WebViewConfiguration {
    GObjectPtr<WebKitUserContentManager> userContentManager;
  };

  static constexpr const char* indexURL = "zorvel-ui://app/index.html";
  static constexpr const char* processErrorDomain = "ZorvelDesktop.WebKit";
  // The script world of the message handler and its relay.
  static constexpr const char* bridgeWorld = "zorvel-bridge";

  explicit WebBridge(Settings settings);
  ~WebBridge() override;

  WebViewConfiguration makeWebViewConfiguration();
  // A new web view wired to this bridge; the caller owns it (a floating GTK widget).
  WebKitWebView* makeWebView();
  void setMainWebView(WebKitWebView* webView);
  WebKitWebView* mainWebView() const;
  WebErrorLabel& errorLabel() { return *label; }

  void loadZorvel();
  bool uiLoaded() const { return isUILoaded; }
  void dispatchEventStreamBridge(const std::string& functionName, const nlohmann::json& values);
  void showCoreFailure(const std::string& reason);
  void reportNativeError(const std::string& domain, long code, const std::string& message, const std::string& boundary);
  void cancelAllEventStreams();
  WebMemoryProfiler& webMemoryProfiler();

  // The bridge script, read once from the bundle. A missing or unreadable script is fatal.
  static const std::string& fetchBridgeScript(const std::optional<std::filesystem::path>& resourcePath);
  std::string globalsScript();
  // Told when the main web view has finished loading a page.
  std::function<void()> onMainPageLoaded;
  // Opens non-UI links with the user's default application; tests replace it.
  std::function<void(const std::string& url)> openExternally;

  // ScriptMessageTarget: the operations of this bridge.
  std::map<std::string, std::string>& taskTitles() override { return titles; }
  std::map<std::string, TaskStatisticsDisplay>& taskStatistics() override { return statistics; }
  bool& sidebarResizeInProgress() override { return sidebarResizing; }
  void recordWebMemoryProfile(const nlohmann::json& body) override { webMemoryProfiler().record(body); }
  void proxyFetch(const nlohmann::json& body, WebKitWebView* source) override;
  void openEventStream(const nlohmann::json& body) override;
  void closeEventStream(const std::string& id) override;
  void showWebFailure(const std::string& message, bool transient) override;

  // Hooks for the modal overlay, pickers, notifications, theme and task terminals. They do
  // nothing until those parts of the application connect them.
  std::optional<std::int64_t> activeModalOverlayGeneration() const override { return std::nullopt; }
  void applyTheme(bool) override {}
  void showModalOverlay(const std::string&, const std::optional<nlohmann::json>&, const std::optional<nlohmann::json>&,
                        bool) override {}
  void dispatchModalOverlayResult(const nlohmann::json&) override {}
  void closeModalOverlay(bool) override {}
  void resizeModalOverlay(double, double) override {}
  bool modalOverlayReady() override { return false; }
  void modalOverlayHostReady() override {}
  void scheduleNativeNotification(const nlohmann::json&) override {}
  void logNativeNotificationDebug(std::int64_t, const std::string&, bool) override {}
  void pickExecutable(const std::string&) override {}
  void pickProjectDirectory(const std::optional<std::string>&) override {}
  void startAgentProfileLogin(const std::string&) override {}
  void enterTerminalLayout() override {}
  void exitTerminalLayout() override {}
  bool hasTerminal(const std::string&) const override { return false; }
  void showTerminal(const std::string&, bool) override {}
  void createTerminal(const TaskMessage&) override {}
  void showPlaceholder(const std::string&, const std::optional<std::string>&, const std::optional<std::string>&,
                       const std::optional<TaskStatisticsDisplay>&) override {}
  void showTriageProgress(const std::string&, const std::string&, const TriageDisplay&) override {}
  void showTriageRecovery(const TriageRecoveryMessage&) override {}
  void stopTerminal(const std::string&) override {}
  void preserveActiveTerminalFocusForSidebarRefresh() override {}
  void restoreActiveTerminalFocusAfterSidebarRefresh() override {}
  void logTerminalResize(const std::string&) override {}
  void endTaskSidebarResize(double) override {}
  void setTaskSidebarWidth(double, bool, bool) override {}

  // Navigation and load events of a web view made here.
  struct ViewState;
  void didReceiveScriptMessage(WebKitWebView* source, const char* json);
  bool decidePolicy(WebKitWebView* webView, const char* url);
  void didCommitLoad(WebKitWebView* webView);
  void didFinishLoad(WebKitWebView* webView);
  void didFailLoad(bool provisional, const std::string& domain, long code, const std::string& message);
  void webContentProcessDidTerminate();

 private:
  void scheduleMountCheck(WebKitWebView* webView);
  void connectSignals(WebKitWebView* webView, WebKitUserContentManager* manager);

  Settings settings;
  BundledUIURLSchemeHandler uiSchemeHandler;
  ScriptMessageDispatcher dispatcher;
  std::shared_ptr<WebErrorLabel> label;
  std::unique_ptr<WebMemoryProfiler> profiler;
  GWeak<WebKitWebView> webView;
  bool isUILoaded = false;
  std::map<std::string, std::shared_ptr<AuthorizedEventStream>> eventStreams;
  std::map<std::string, std::string> titles;
  std::map<std::string, TaskStatisticsDisplay> statistics;
  bool sidebarResizing = false;
};

}  // namespace zorvel
