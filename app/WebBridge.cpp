#include "app/WebBridge.h"

#include <gio/gio.h>
#include <webkit/webkit.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "app/ApplicationLinks.h"
#include "app/AuthorizedEventStream.h"
#include "app/EventStreamRequest.h"
#include "app/FetchLane.h"
#include "app/FetchProxy.h"
#include "app/NavigationPolicy.h"
#include "app/PageActivation.h"
#include "app/PageCalls.h"
#include "app/PageDownloads.h"
#include "app/PagePrinting.h"
#include "app/PageRequests.h"
#include "app/ScriptDialogs.h"
#include "app/TextEncoding.h"
#include "app/UserScripts.h"
#include "platform/Dispatch.h"
#include "platform/LinkOpener.h"
#include "platform/Log.h"
#include "platform/URLSession.h"

namespace zorvel {

namespace {

const platform::Logger& bridgeLog() {
  static const platform::Logger log("local.zorvel.desktop", "bridge");
  return log;
}

const platform::Logger& linksLog() {
  static const platform::Logger log("local.zorvel.desktop", "links");
  return log;
}

// The scheme is registered once per process on the default context; requests go to the bridge
// that is alive now.
const BundledUIURLSchemeHandler* currentSchemeHandler = nullptr;

void registerUIScheme() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  auto* context = webkit_web_context_get_default();
  webkit_web_context_register_uri_scheme(
      context, BundledUIURLSchemeHandler::scheme,
      [](WebKitURISchemeRequest* request, gpointer) {
        if (currentSchemeHandler) {
          currentSchemeHandler->start(request);
          return;
        }
        GErrorPtr error(g_error_new_literal(g_quark_from_static_string(BundledUIURLSchemeHandler::errorDomain), 1,
                                            "Invalid bundled UI URL"));
        webkit_uri_scheme_request_finish_error(request, error.get());
      },
      nullptr, nullptr);
  webkit_security_manager_register_uri_scheme_as_secure(webkit_web_context_get_security_manager(context),
                                                        BundledUIURLSchemeHandler::scheme);
}

// Tells of each press the page gets, whose opening then lasts from there: on a busy machine the page
// may get a click seconds after the application saw it (UserActivation::landed).
// Tells, of each key the user presses on the page, whether it went into a text field (or anything
// else that takes typing) as it reached the page, before any handler of the page's ran, and then,
// once the page has handled it, whether the page took it after all: it cancelled it, its editing
// took text, or it moved the keyboard into a field. Only a key that did neither is one the
// application lets open a window (UserActivation::keyLanded). The page sees none of this: it runs
// in the relay's own world, from which alone its notices come. A key it never tells of (in a frame,
// or while the page hangs) counts for nothing.
std::string pressNoticesScript() {
  return " const deepest = () => { let active = document.activeElement;"
         " while (active && active.shadowRoot && active.shadowRoot.activeElement) active = "
         "active.shadowRoot.activeElement;"
         " return active; };"
         " const notTyped = ['button', 'checkbox', 'color', 'file', 'hidden', 'image', 'radio', 'range', 'reset', "
         "'submit'];"
         " const takesText = (node) => document.designMode === 'on' || (node instanceof Element && "
         "(node.isContentEditable"
         " || node instanceof HTMLTextAreaElement || node instanceof HTMLSelectElement"
         " || (node instanceof HTMLInputElement && !notTyped.includes(node.type))));"
         " const unpressing = ['Shift', 'Control', 'Alt', 'AltGraph', 'Meta', 'CapsLock', 'NumLock', 'ScrollLock',"
         " 'Escape', 'Fn', 'Super', 'Hyper', 'OS'];"
         " let inputs = 0; window.addEventListener('beforeinput', (event) => { if (event.isTrusted) inputs++; }, true);"
         " window.addEventListener('keydown', (event) => {"
         " if (!event.isTrusted || event.repeat || unpressing.includes(event.key)) return;"
         " const intoText = takesText(event.composedPath()[0]) || takesText(deepest());"
         " handler.postMessage({ key: 'landed', text: intoText }); if (intoText) return; const before = inputs;"
         " setTimeout(() => handler.postMessage({ key: 'settled',"
         " taken: event.defaultPrevented || inputs !== before || takesText(deepest()) })); }, true);"
         " const landed = (event) => { if (event.isTrusted) handler.postMessage({ press: 'landed' }); };"
         " window.addEventListener('pointerdown', landed, true); window.addEventListener('click', landed, true);";
}

// The message handler lives in a script world of the application's own, where only this script
// runs, and only in the top frame: no other frame (blank and srcdoc ones included) and no page
// script can reach the handler itself. The bridge script in the page hands its messages over as
// JSON text in a cancelable DOM event, which this relay cancels to say it took them; an empty
// text only asks whether the relay is there.
// The relay passes the page's JSON text on as it is. A text over the bound is not copied to this
// process: only its length and the kind and id it names go, for the log and the page's answer.
// The engine does not load a file link from the application's pages, nor tells of one: the relay
// tells of each the user follows (a real click, not one a script made) that the page left alone,
// so it goes where the page's other links to the outside go. A link longer than any that is
// opened arrives cut, one character over the bound, and is refused as too long.
// A link to the page's own data is told of as the user clicks it, before any script of the page
// sees the click, so its note is here before the engine asks about the navigation: the engine shows
// the application neither a link's download attribute nor whether the user or a script clicked it.
std::string relayScript() {
  return "(() => { const handlers = window.webkit && window.webkit.messageHandlers;"
         " const handler = handlers && handlers.zorvelTerminal; if (!handler) return;"
         " const short = (value) => typeof value === 'string' && value.length <= 256 ? value : null;"
         " window.addEventListener('zorvel-native-message', (event) => {"
         " const text = event.detail; if (typeof text !== 'string') return;"
         " event.preventDefault(); event.stopImmediatePropagation(); if (text === '') return;"
         " if (text.length <= " +
         std::to_string(WebBridge::maximumPageMessageCharacters) +
         ") { handler.postMessage(text); return; }"
         " let message = null; try { message = JSON.parse(text); } catch (_) {}"
         " const named = message !== null && typeof message === 'object';"
         " handler.postMessage({ oversized: text.length, kind: named ? short(message.kind) : null,"
         " id: named ? short(message.id) : null }); }, true);"
         " const followed = (event) => {"
         " if (!event.isTrusted || (event.type === 'auxclick' && event.button !== 1)) return;"
         " const link = event.target instanceof Element ? event.target.closest('a[href], area[href]') : null;"
         " if (!link || link.protocol !== 'file:') return; const href = link.href.slice(0, " +
         std::to_string(platform::LinkOpener::maximumLength + 1) +
         ");"
         " setTimeout(() => { if (!event.defaultPrevented) handler.postMessage({ followed: href }); }); };"
         " window.addEventListener('click', followed); window.addEventListener('auxclick', followed);"
         " const clickedData = (event) => {"
         " const link = event.isTrusted && event.target instanceof Element ? event.target.closest('a, area') : null;"
         " if (!link || !link.hasAttribute('href')) return;"
         " if (link.protocol !== 'blob:' && link.protocol !== 'data:') return;"
         " handler.postMessage({ clicked: link.href.slice(0, " +
         std::to_string(PageDownloads::FollowedLink::keptCharacters) +
         "), length: link.href.length, download: link.hasAttribute('download') }); };"
         " window.addEventListener('click', clickedData, true);" +
         pressNoticesScript() + " })();";
}

// Why nothing a page asks to open is opened without the user: the web engine counts whatever the
// application hands the page as a gesture of the user, so only a press the application saw counts.
using PageActivation::noPressBehind;

// Every window a page opens comes to the application, which opens its link only for a press of the
// user's own (decideNewWindow). The engine's own check would stop one that the page opens once the
// answer of a fetch made for a click has come, as the page hears of it without the user's activation.
void letWindowsAsk(WebKitWebView* view) {
  webkit_settings_set_javascript_can_open_windows_automatically(webkit_web_view_get_settings(view), TRUE);
}

// Full screen hides the rest of the desktop behind the page, which could then pose as anything:
// only a press of the user's own on the page lets it go there.
void checkFullScreen(WebKitWebView* view) {
  g_signal_connect(view, "enter-fullscreen", G_CALLBACK(+[](WebKitWebView* v, gpointer) -> gboolean {
                     if (PageActivation::consume(v)) return FALSE;
                     linksLog().error("Not showing a page in full screen: %{public}s", noPressBehind);
                     return TRUE;
                   }),
                   nullptr);
}

std::string stringLiteral(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

std::string errorDomainName(const GError* error) {
  const char* name = error ? g_quark_to_string(error->domain) : nullptr;
  return name ? name : "";
}

using PageDownloads::Followed;

// A link to data the page holds itself, which leaves the page only as a download.
bool isPageData(const char* uri) {
  const char* scheme = uri ? g_uri_peek_scheme(uri) : nullptr;
  return scheme && (std::string_view(scheme) == "blob" || std::string_view(scheme) == "data");
}

// The application's own pages: the UI and the overlay, both under zorvel-ui://app.
bool isApplicationPage(const char* uri) {
  auto url = uri ? URL::parse(uri) : std::nullopt;
  return url && url->scheme() == std::optional<std::string>("zorvel-ui") &&
         url->host() == std::optional<std::string>("app");
}

struct SignalContext {
  std::weak_ptr<WebBridge> bridge;
  GWeak<WebKitWebView> webView;
  bool loadFailed = false;  // WebKit reports FINISHED after a failure too
};

void freeSignalContext(gpointer data, GClosure*) { delete static_cast<SignalContext*>(data); }

const char* requestedURI(WebKitNavigationAction* action) {
  auto* request = action ? webkit_navigation_action_get_request(action) : nullptr;
  return request ? webkit_uri_request_get_uri(request) : nullptr;
}

}  // namespace

WebBridge::WebBridge(Settings settings)
    : settings(std::move(settings)),
      uiSchemeHandler(this->settings.resourcePath ? std::optional(*this->settings.resourcePath / "ui") : std::nullopt),
      label(std::make_shared<WebErrorLabel>()) {
  openExternally = [](const std::string& url) { platform::LinkOpener::open(url); };
  currentSchemeHandler = &uiSchemeHandler;
}

WebBridge::~WebBridge() {
  if (currentSchemeHandler == &uiSchemeHandler) currentSchemeHandler = nullptr;
  cancelAllEventStreams();
}

const std::string& WebBridge::fetchBridgeScript(const std::optional<std::filesystem::path>& resourcePath) {
  static const std::string source = [&] {
    std::optional<std::string> text;
    if (resourcePath) {
      std::ifstream in(*resourcePath / "native-bridge.js", std::ios::binary);
      if (in) text = std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    if (!text || !isValidUTF8(*text)) {
      bridgeLog().fault("The bundle resource native-bridge.js is missing or not UTF-8; no web view can be built");
      std::abort();
    }
    return *text;
  }();
  return source;
}

WebMemoryProfiler& WebBridge::webMemoryProfiler() {
  if (!profiler) profiler = std::make_unique<WebMemoryProfiler>(settings.dataDirectory, settings.distributionChannel);
  return *profiler;
}

std::string WebBridge::globalsScript() {
  return "window.__ZORVEL_BASE_URL__ = " + stringLiteral(settings.baseURL.string()) +
         "; window.__ZORVEL_MEMORY_PROFILING__ = " + (webMemoryProfiler().enabled() ? "true" : "false") + ";";
}

WebBridge::WebViewConfiguration WebBridge::makeWebViewConfiguration() {
  registerUIScheme();
  WebViewConfiguration configuration{GObjectPtr<WebKitUserContentManager>(webkit_user_content_manager_new())};
  auto* manager = configuration.userContentManager.get();
  webkit_user_content_manager_register_script_message_handler(manager, PageMessages::handlerName, bridgeWorld);
  // Every script goes to the top frame only, at document start, before any script of the page.
  auto addScript = [manager](const std::string& source, const char* world) {
    UserScripts::add(manager, source.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME, world);
  };
  addScript(relayScript(), bridgeWorld);
  addScript(PageCalls::handOverScript(), nullptr);
  addScript(globalsScript(), nullptr);
  addScript(fetchBridgeScript(settings.resourcePath), nullptr);
  return configuration;
}

WebKitWebView* WebBridge::makeWebView() {
  auto configuration = makeWebViewConfiguration();
  auto* view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", webkit_web_context_get_default(),
                                            "network-session", webkit_network_session_get_default(),
                                            "user-content-manager", configuration.userContentManager.get(), nullptr));
  connectSignals(view, configuration.userContentManager.get());
  ScriptDialogs::attach(view);
  PagePrinting::attach(view);
  PageRequests::attach(view);
  processes.track(view);
  PageActivation::watch(view);
  std::weak_ptr<WebBridge> weak = weak_from_this();
  PageDownloads::watch([weak](const std::string& failure) {
    if (auto bridge = weak.lock()) bridge->showWebFailure(failure, true);
  });
  checkFullScreen(view);
  letWindowsAsk(view);
  return view;
}

void WebBridge::connectSignals(WebKitWebView* view, WebKitUserContentManager* manager) {
  auto context = [this, view] { return new SignalContext{weak_from_this(), GWeak<WebKitWebView>(view)}; };
  auto* loadContext = context();

  g_signal_connect_data(manager, "script-message-received::zorvelTerminal",
                        G_CALLBACK(+[](WebKitUserContentManager*, JSCValue* value, SignalContext* c) {
                          auto bridge = c->bridge.lock();
                          auto source = c->webView.get();
                          if (!bridge || !source || !value) return;
                          // The relay posts the page's JSON text, or its own small stand-in
                          // object for a text over the bound.
                          if (jsc_value_is_string(value)) {
                            GCharPtr json(jsc_value_to_string(value));
                            bridge->didReceiveScriptMessage(source.get(), json.get());
                          } else if (jsc_value_is_object(value)) {
                            GCharPtr json(jsc_value_to_json(value, 0));
                            bridge->didReceiveRelayNotice(source.get(), json.get());
                          }
                        }),
                        context(), freeSignalContext, GConnectFlags(0));

  g_signal_connect_data(view, "decide-policy",
                        G_CALLBACK(+[](WebKitWebView* v, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                       SignalContext* c) -> gboolean {
                          if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
                          auto bridge = c->bridge.lock();
                          auto* action = webkit_navigation_policy_decision_get_navigation_action(
                              WEBKIT_NAVIGATION_POLICY_DECISION(decision));
                          const char* uri = requestedURI(action);
                          const bool byUser = action && webkit_navigation_action_is_user_gesture(action);
                          if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
                            if (bridge) bridge->decideNewWindow(v, uri);
                            webkit_policy_decision_ignore(decision);
                          } else if (auto link = PageDownloads::takeFollowed(v, uri); link == Followed::toDownload) {
                            webkit_policy_decision_download(decision);
                          } else if (bridge && bridge->decidePolicy(v, uri, byUser, link != Followed::notClicked)) {
                            webkit_policy_decision_use(decision);
                          } else {
                            webkit_policy_decision_ignore(decision);
                          }
                          return TRUE;
                        }),
                        context(), freeSignalContext, GConnectFlags(0));

  // A window a script opens asks for no policy first.
  g_signal_connect_data(
      view, "create", G_CALLBACK(+[](WebKitWebView* v, WebKitNavigationAction* action, SignalContext* c) -> GtkWidget* {
        if (auto bridge = c->bridge.lock()) bridge->decideNewWindow(v, requestedURI(action));
        return nullptr;
      }),
      context(), freeSignalContext, GConnectFlags(0));

  g_signal_connect_data(view, "load-changed",
                        G_CALLBACK(+[](WebKitWebView* v, WebKitLoadEvent event, SignalContext* c) {
                          if (event == WEBKIT_LOAD_STARTED) c->loadFailed = false;
                          auto bridge = c->bridge.lock();
                          if (!bridge) return;
                          if (event == WEBKIT_LOAD_COMMITTED) bridge->didCommitLoad(v);
                          if (event == WEBKIT_LOAD_FINISHED && !c->loadFailed) bridge->didFinishLoad(v);
                        }),
                        loadContext, freeSignalContext, GConnectFlags(0));

  g_signal_connect_data(
      view, "load-failed",
      G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, const char*, GError* error, SignalContext* c) -> gboolean {
        c->loadFailed = true;
        // A navigation the policy turned away, or one replaced by a newer load, is not a failure.
        if (g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE) ||
            g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED))
          return TRUE;
        if (auto bridge = c->bridge.lock())
          bridge->didFailLoad(event != WEBKIT_LOAD_COMMITTED, errorDomainName(error), error ? error->code : 0,
                              error ? error->message : "");
        return TRUE;
      }),
      loadContext, nullptr, GConnectFlags(0));

  g_signal_connect_data(view, "web-process-terminated",
                        G_CALLBACK(+[](WebKitWebView* v, WebKitWebProcessTerminationReason, SignalContext* c) {
                          if (WebViewProcesses::endedOnQuit(v)) return;
                          if (auto bridge = c->bridge.lock()) bridge->webContentProcessDidTerminate();
                        }),
                        context(), freeSignalContext, GConnectFlags(0));
}

void WebBridge::setMainWebView(WebKitWebView* view) { webView = GWeak<WebKitWebView>(view); }

WebKitWebView* WebBridge::mainWebView() const {
  // The widget tree keeps a live web view alive beyond this reference.
  auto strong = webView.get();
  WebKitWebView* view = strong.get();
  return view;
}

void WebBridge::loadZorvel() {
  if (auto view = webView.get()) webkit_web_view_load_uri(view.get(), indexURL);
}

void WebBridge::didReceiveScriptMessage(WebKitWebView* source, const char* json) {
  // Only the application's own pages speak to the native side.
  if (!json || !isApplicationPage(webkit_web_view_get_uri(source))) return;
  // The relay has bounded the text in characters; each is at most three bytes of UTF-8.
  if (const size_t bytes = std::strlen(json); bytes > 3 * maximumPageMessageCharacters) {
    bridgeLog().error("Refused a page message of %zu bytes: page messages are bounded at %zu characters", bytes,
                      maximumPageMessageCharacters);
    return;
  }
  auto body = nlohmann::json::parse(json, nullptr, false);
  if (body.is_discarded()) return;
  auto message = PageMessages::decode(PageMessages::handlerName, body);
  if (!message) return;
  if (auto* own = std::get_if<PageMessages::BridgeMessage>(&*message)) {
    handle(*own, source);
  } else if (onApplicationMessage) {
    onApplicationMessage(std::get<PageMessages::ApplicationMessage>(*message), source);
  }
}

void WebBridge::didReceiveRelayNotice(WebKitWebView* source, const char* json) {
  if (!json || !isApplicationPage(webkit_web_view_get_uri(source))) return;
  auto notice = nlohmann::json::parse(json, nullptr, false);
  if (!notice.is_object()) return;
  if (auto link = ScriptMessageFields::string(notice, "followed")) {
    decidePolicy(source, link->c_str());
  } else if (ScriptMessageFields::string(notice, "press")) {
    PageActivation::pressLanded(source);
  } else if (auto key = ScriptMessageFields::string(notice, "key")) {
    if (*key == "landed")
      PageActivation::keyLanded(source, ScriptMessageFields::exactBool(notice, "text").value_or(true));
    if (*key == "settled")
      PageActivation::keySettled(source, ScriptMessageFields::exactBool(notice, "taken").value_or(true));
  } else if (auto clicked = ScriptMessageFields::string(notice, "clicked")) {
    auto length = notice.find("length");
    auto download = notice.find("download");
    if (length != notice.end() && length->is_number_unsigned() && download != notice.end() && download->is_boolean())
      PageDownloads::noteFollowed(source, {*clicked, length->get<std::size_t>(), download->get<bool>()});
  } else {
    didRefuseOversizedMessage(source, notice);
  }
}

void WebBridge::didRefuseOversizedMessage(WebKitWebView* source, const nlohmann::json& standIn) {
  auto oversized = standIn.find("oversized");
  if (oversized == standIn.end() || !oversized->is_number()) return;
  const auto characters = oversized->get<double>();
  const auto kind = ScriptMessageFields::string(standIn, "kind");
  const auto id = ScriptMessageFields::string(standIn, "id");
  bridgeLog().error("Refused a page message of %.0f characters (kind %{public}s): page messages are bounded at %zu",
                    characters, kind ? kind->c_str() : "unknown", maximumPageMessageCharacters);
  if (!id) return;
  const std::string reason = "The message is too large for the application (" +
                             std::to_string(static_cast<unsigned long long>(characters)) + " characters, at most " +
                             std::to_string(maximumPageMessageCharacters) + ")";
  if (kind == PageMessages::Fetch::kind) {
    auto answer = FetchProxy::makeAnswer(*id, 0, {}, "", reason);
    PageCalls::deliverFetchResponse(source, answer.id, answer.body, nlohmann::json::object(), answer.status);
  } else if (kind == PageMessages::EventStreamOpen::kind) {
    dispatchEventStreamBridge("__zorvelNativeEventSourceError", {*id, reason});
  }
}

void WebBridge::handle(const PageMessages::BridgeMessage& message, WebKitWebView* source) {
  namespace P = PageMessages;
  std::visit(P::Visitor{
                 [&](const P::WebMemoryProfile& profile) { webMemoryProfiler().record(profile.sample); },
                 [&](const P::Fetch& fetch) { proxyFetch(fetch, source); },
                 [&](const P::EventStreamOpen& open) { openEventStream(open); },
                 [&](const P::EventStreamClose& close) { closeEventStream(close.id); },
                 [&](const P::UIError& error) { showWebFailure(error.message, true); },
             },
             message);
}

void WebBridge::dispatchEventStreamBridge(const std::string& functionName, const nlohmann::json& values) {
  PageCalls::callFunction(mainWebView(), functionName, values);
}

void WebBridge::proxyFetch(const PageMessages::Fetch& fetch, WebKitWebView* source) {
  // Only a view can be answered, and only a view's own lane carries its requests.
  auto lane = FetchLane::of(source);
  if (!lane) return;
  auto built = FetchProxy::makeRequest(fetch, settings.baseURL);
  std::weak_ptr<WebBridge> weak = weak_from_this();
  std::weak_ptr<FetchLane> asker = lane;
  auto deliver = [weak, asker](FetchProxy::Answer answer) {
    auto lane = asker.lock();
    if (!weak.lock() || !lane) return;
    auto view = lane->view();
    if (!view) return;
    nlohmann::json headers = nlohmann::json::object();
    for (const auto& [name, value] : answer.headers) headers[name] = value;
    PageCalls::deliverFetchResponse(view.get(), answer.id, answer.body, headers, answer.status);
  };
  if (auto* refused = std::get_if<FetchProxy::Answer>(&built)) {
    platform::DispatchQueue::main().async([deliver, answer = *refused] { deliver(answer); });
    return;
  }
  auto& request = std::get<FetchProxy::Request>(built);
  platform::URLRequest urlRequest{std::move(request.url), std::move(request.method), std::move(request.headers),
                                  std::move(request.body), std::chrono::milliseconds(FetchProxy::timeout)};
  settings.core.authorize(urlRequest);
  lane->send(std::move(urlRequest), [deliver, id = fetch.id](platform::URLResponse response) {
    auto answer = FetchProxy::makeAnswer(id, response.status, response.headers, response.body, response.error);
    platform::DispatchQueue::main().async(
        [deliver, answer = std::move(answer)]() mutable { deliver(std::move(answer)); });
  });
}

void WebBridge::openEventStream(const PageMessages::EventStreamOpen& open) {
  auto opened = EventStreamRequest::make(open, settings.baseURL);
  if (!opened) return;
  const std::string id = opened->id;
  closeEventStream(id);
  if (eventStreams.size() >= maximumEventStreams) {
    dispatchEventStreamBridge("__zorvelNativeEventSourceError", {id, "Too many event streams are open"});
    return;
  }

  platform::URLRequest request{
      opened->request.url, "GET", opened->request.headers, {}, std::chrono::milliseconds(FetchProxy::timeout)};
  settings.core.authorize(request);
  auto stream = std::make_shared<AuthorizedEventStream>(std::move(request));
  std::weak_ptr<WebBridge> weakBridge = weak_from_this();
  std::weak_ptr<AuthorizedEventStream> weakStream = stream;
  // Each callback acts only while its stream is still the current one for the id.
  auto onMain = [weakBridge, weakStream, id](std::function<void(WebBridge&)> work) {
    platform::DispatchQueue::main().async([weakBridge, weakStream, id, work = std::move(work)] {
      auto bridge = weakBridge.lock();
      auto stream = weakStream.lock();
      if (!bridge || !stream) return;
      auto it = bridge->eventStreams.find(id);
      if (it == bridge->eventStreams.end() || it->second != stream) return;
      work(*bridge);
    });
  };
  stream->onOpen = [onMain, id] {
    onMain([id](WebBridge& b) {
      b.noCoreLogged = false;
      b.dispatchEventStreamBridge("__zorvelNativeEventSourceOpened", {id});
    });
  };
  stream->onEvent = [onMain, id](const std::string& type, const std::string& data,
                                 const std::optional<std::string>& eventID) {
    onMain([id, type, data, eventID](WebBridge& b) {
      nlohmann::json last = eventID ? nlohmann::json(*eventID) : nlohmann::json(nullptr);
      b.dispatchEventStreamBridge("__zorvelNativeEventSourceEvent", {id, type, data, last});
    });
  };
  stream->onClose = [onMain, id](const std::string& message) {
    onMain([id, message](WebBridge& b) {
      // While no core of the application's own is ready, the page's streams fail at once rather than
      // reach whoever listens on the core's port; say so once, however often the page retries.
      if (message == platform::URLSession::noServerProcess && !b.noCoreLogged) {
        b.noCoreLogged = true;
        bridgeLog().error("A page's event stream was not opened: %{public}s", message.c_str());
      }
      b.eventStreams.erase(id);
      b.dispatchEventStreamBridge("__zorvelNativeEventSourceError", {id, message});
    });
  };
  eventStreams[id] = stream;
  stream->start();
}

void WebBridge::closeEventStream(const std::string& id) {
  auto it = eventStreams.find(id);
  if (it == eventStreams.end()) return;
  auto stream = it->second;
  eventStreams.erase(it);
  stream->cancel();
}

void WebBridge::cancelAllEventStreams() {
  auto streams = std::move(eventStreams);
  eventStreams.clear();
  for (auto& [id, stream] : streams) stream->cancel();
}

bool WebBridge::decidePolicy(WebKitWebView* webView, const char* url, bool followedByUser, bool linkClicked) {
  auto decision = decideNavigation(url ? std::optional<std::string_view>(url) : std::nullopt, settings.baseURL);
  if (decision == NavigationDecision::cancelAndOpenExternally) handOff(webView, url, "Not opening a link");
  // A link the user followed that goes nowhere says why; a script's own tries are not worth a line.
  // A script may follow links, a thousand of them, while the engine still counts the user's press
  // as behind it.
  if (decision == NavigationDecision::cancel && followedByUser) {
    auto refused = url ? platform::LinkOpener::refusal(url) : std::nullopt;
    if (!linkClicked && isPageData(url))
      refused = "a script of the page followed this link to its own data, not a click of the user's on it";
    linksLog().error("Not opening a link: %{public}s", refused ? refused->c_str() : "it names nothing to open");
  }
  return decision == NavigationDecision::allow;
}

void WebBridge::decideNewWindow(WebKitWebView* source, const char* url) {
  auto decision = decideNavigation(url ? std::optional<std::string_view>(url) : std::nullopt, settings.baseURL);
  if (decision == NavigationDecision::cancelAndOpenExternally)
    return handOff(source, url, "Not opening a link in a new window");
  // The user asked for something to open; saying nothing would leave them wondering why it did not.
  std::string reason;
  if (decision == NavigationDecision::allow)
    reason = "the application opens its own pages in its one window only";
  else if (auto refused = url ? platform::LinkOpener::refusal(url) : std::nullopt)
    reason = *refused;
  else
    reason = "the new window names no link that could be opened";
  linksLog().error("Not opening a link in a new window: %{public}s", reason.c_str());
}

void WebBridge::handOff(WebKitWebView* source, const char* url, const char* refusal) {
  const char* scheme = g_uri_peek_scheme(url);
  if (onApplicationLink && scheme && std::string_view(scheme) == "zorvel") {
    // Capturing the clipboard asks the user first: a page has that question asked only for a press.
    const bool capture = std::holds_alternative<ApplicationLinks::CaptureLink>(ApplicationLinks::interpret(url));
    if (!capture || PageActivation::consumeOrRefuse(source, refusal)) onApplicationLink(url, source);
    return;
  }
  if (!PageActivation::consume(source)) {
    linksLog().error("%{public}s: %{public}s", refusal, noPressBehind);
    return;
  }
  if (openExternally) openExternally(url);
}

void WebBridge::didCommitLoad(WebKitWebView* view) {
  // The page that opened the streams is gone, and a new page cannot know their ids: left open,
  // they would hold connections to the core for nobody.
  if (view != mainWebView()) return;
  ++mainLoadsCommitted;
  cancelAllEventStreams();
}

void WebBridge::didFinishLoad(WebKitWebView* view) {
  if (view != mainWebView()) return;
  isUILoaded = true;
  if (onMainPageLoaded) onMainPageLoaded();
  label->hideAfterLoad();
  scheduleMountCheck(view);
}

// A page that loaded in the meantime is not judged by this check: it may still be loading, and its
// own load brings a check of its own.
void WebBridge::scheduleMountCheck(WebKitWebView* view) {
  struct Check {
    std::weak_ptr<WebBridge> bridge;
    std::uint64_t load;
    bool current() const {
      auto strong = bridge.lock();
      return strong && strong->mainLoadsCommitted == load;
    }
  };
  Check check{weak_from_this(), mainLoadsCommitted};
  GWeak<WebKitWebView> finished(view);
  platform::DispatchQueue::main().asyncAfter(std::chrono::seconds(1), [check, finished] {
    auto strong = finished.get();
    if (!strong || !check.current()) return;
    // Asked in the bridge's own world, so none of the page's code runs: the engine would run it
    // as if the user had clicked.
    webkit_web_view_evaluate_javascript(
        strong.get(), "document.getElementById('root')?.childElementCount || 0", -1, bridgeWorld, nullptr, nullptr,
        [](GObject* object, GAsyncResult* result, gpointer data) {
          std::unique_ptr<Check> owner(static_cast<Check*>(data));
          GError* rawError = nullptr;
          GObjectPtr<JSCValue> value(
              webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(object), result, &rawError));
          GErrorPtr error(rawError);
          auto bridge = owner->bridge.lock();
          if (!bridge || !owner->current()) return;
          if (error) {
            bridge->showWebFailure(error->message, false);
          } else if (!value || !jsc_value_is_number(value.get()) || jsc_value_to_int32(value.get()) == 0) {
            bridge->showWebFailure("The bundled React UI did not mount", false);
          }
        },
        new Check(check));
  });
}

void WebBridge::didFailLoad(bool provisional, const std::string& domain, long code, const std::string& message) {
  reportNativeError(domain, code, message,
                    provisional ? ErrorBoundary::provisionalNavigation : ErrorBoundary::navigation);
  showWebFailure(message, false);
}

void WebBridge::webContentProcessDidTerminate() {
  webMemoryProfiler().record({{"kind", "web-memory-profile"}, {"event", "web-content-process-terminated"}});
  reportNativeError(processErrorDomain, 1, "Web content process terminated", ErrorBoundary::process);
  loadZorvel();
}

void WebBridge::showWebFailure(const std::string& message, bool transient) {
  label->showWebFailure(message, transient);
}

void WebBridge::showCoreFailure(const std::string& reason) { label->showCoreFailure(reason); }

void WebBridge::reportNativeError(const std::string& domain, long code, const std::string& message,
                                  const std::string& boundary) {
  auto url = settings.baseURL.resolving("/diagnostics/error-events");
  if (!url) return;
  std::string body;
  try {
    body = makeNativeErrorReport(domain, code, message, boundary).dump();
  } catch (const nlohmann::json::exception&) {
    return;
  }
  platform::URLRequest request{url->string(),
                               "POST",
                               {{"Content-Type", "application/json"}},
                               std::move(body),
                               std::chrono::milliseconds(FetchProxy::timeout)};
  settings.core.authorize(request);
  platform::URLSession::shared().dataTask(std::move(request), [](platform::URLResponse) {});
}

}  // namespace zorvel
