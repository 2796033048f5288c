#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/BundledUIURLSchemeHandler.h"
#include "app/CoreAccess.h"
#include "app/PageMessages.h"
#include "app/URL.h"
#include "app/WebErrorLabel.h"
#include "app/WebMemoryProfiler.h"
#include "app/WebViewProcesses.h"
#include "platform/GLibPtr.h"

typedef struct _WebKitUserContentManager WebKitUserContentManager;
typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

class AuthorizedEventStream;

// The native half of the bridge to the web UI: the web views and their configuration, the UI
// scheme, script messages, fetches and event streams to the core, navigation, load failures
// and error reports. It lives on the main thread; background work hops back to it.
class WebBridge : public std::enable_shared_from_this<WebBridge> {
 public:
  struct Settings {
    URL baseURL;
    // The token every request to the core carries, and the core that alone may receive it.
    CoreAccess core;
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
  // The longest page message read, in characters (UTF-16 code units) of its JSON text. The
  // longest the page sends is a fetch carrying a request body for the core, such as a task's text,
  // far below this; a longer one is refused in the page's own process, before it is copied here,
  // and the page gets a failure where the kind has an answer.
  static constexpr std::size_t maximumPageMessageCharacters = 16 * 1024 * 1024;

  explicit WebBridge(Settings settings);
  ~WebBridge();

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
  // Ends the page processes of every web view made here: the application is quitting.
  void terminateWebProcesses() { processes.terminateAll(); }
  WebMemoryProfiler& webMemoryProfiler();

  // The bridge script, read once from the bundle. A missing or unreadable script is fatal.
  static const std::string& fetchBridgeScript(const std::optional<std::filesystem::path>& resourcePath);
  std::string globalsScript();
  // Told when the main web view has finished loading a page.
  std::function<void()> onMainPageLoaded;
  // Opens non-UI links with the user's default application; tests replace it.
  std::function<void(const std::string& url)> openExternally;
  // A zorvel:// link a page follows (`source`): the desktop would only hand it back to this
  // instance, by a second launch, and a build that was never installed has no entry to hand it
  // back by.
  std::function<void(const std::string& url, WebKitWebView* source)> onApplicationLink;

  // Told of every page message that is the application's to serve rather than this bridge's.
  std::function<void(const PageMessages::ApplicationMessage&, WebKitWebView* source)> onApplicationMessage;

  // The page messages this bridge serves.
  void proxyFetch(const PageMessages::Fetch& fetch, WebKitWebView* source);
  void openEventStream(const PageMessages::EventStreamOpen& open);
  // Removes and cancels the stream under the id, if there is one.
  void closeEventStream(const std::string& id);
  void showWebFailure(const std::string& message, bool transient);

  // Navigation and load events of a web view made here.
  struct ViewState;
  void didReceiveScriptMessage(WebKitWebView* source, const char* json);
  // What the relay itself tells: a stand-in for a page message over the bound
  // ({"oversized": characters, "kind", "id"}), a file link the user followed ({"followed"}), or a
  // link to the page's own data that the user clicked ({"clicked", "length", "download"}).
  void didReceiveRelayNotice(WebKitWebView* source, const char* json);
  // Whether a navigation stays in the view. One the user followed (`followedByUser`) that goes
  // nowhere is logged, with why: a link to the page's own data that no click of the user's on it
  // followed (`linkClicked`) was a script's doing, whatever the link.
  bool decidePolicy(WebKitWebView* webView, const char* url, bool followedByUser = false, bool linkClicked = true);
  // A link the page asks to open in a new window (by its target, or window.open). The application
  // makes no second window: the link goes where the policy sends those that leave the page, and
  // any other is refused and logged.
  void decideNewWindow(WebKitWebView* source, const char* url);
  void didCommitLoad(WebKitWebView* webView);
  void didFinishLoad(WebKitWebView* webView);
  void didFailLoad(bool provisional, const std::string& domain, long code, const std::string& message);
  void webContentProcessDidTerminate();

 private:
  void scheduleMountCheck(WebKitWebView* webView);
  void connectSignals(WebKitWebView* webView, WebKitUserContentManager* manager);
  void handle(const PageMessages::BridgeMessage& message, WebKitWebView* source);
  void didRefuseOversizedMessage(WebKitWebView* source, const nlohmann::json& standIn);
  // A link that leaves the page: the application's own come back to it, the rest go to the desktop
  // when a press of the user on the page is behind it, and are refused and logged (after `refusal`)
  // when none is.
  void handOff(WebKitWebView* source, const char* url, const char* refusal);

  Settings settings;
  BundledUIURLSchemeHandler uiSchemeHandler;
  std::shared_ptr<WebErrorLabel> label;
  std::unique_ptr<WebMemoryProfiler> profiler;
  GWeak<WebKitWebView> webView;
  WebViewProcesses processes;
  bool isUILoaded = false;
  // Counts the main view's committed loads: a mount check judges only the page it was made for.
  std::uint64_t mainLoadsCommitted = 0;
  std::map<std::string, std::shared_ptr<AuthorizedEventStream>> eventStreams;
  // Whether the log has said that a page's stream found no core ready, since a stream last opened:
  // the page retries every few seconds for as long as the core is down.
  bool noCoreLogged = false;
  // Each stream holds a connection to the core and a thread of its own: a page that opened streams
  // without end and closed none would use up both.
  static constexpr std::size_t maximumEventStreams = 64;
};

}  // namespace zorvel
