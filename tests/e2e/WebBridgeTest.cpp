#include <unistd.h>

#include <mutex>

#include "WebBridgeHarness.h"
#include "tests/e2e/OverlayHarness.h"

using namespace e2e;
using nlohmann::json;

namespace {

class WebBridgeE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ui.load(zorvel::WebBridge::indexURL);
    ASSERT_TRUE(ui.waitForLoad());
    ASSERT_TRUE(ui.waitForTrue("Boolean(window.__zorvelBridge && window.__zorvelBridge.available)"));
  }
  int arrivals(const std::string& path) {
    int n = 0;
    for (const auto& r : core.arrived) n += r.path == path;
    return n;
  }

  FakeCore core;
  BridgeWindow ui{core.baseURL()};
};

}  // namespace

TEST_F(WebBridgeE2E, PageFetchesReachTheCoreWithTheDesktopToken) {
  auto answer = ui.evaluateJSON(R"(fetch('/echo?x=1', {method: 'POST', body: 'hello',
      headers: {'Authorization': 'Bearer page-token', 'X-Test': 'yes'}})
    .then(async r => ({status: r.status, core: r.headers.get('X-Core'), body: await r.json()})))");
  EXPECT_EQ(answer["status"], 201);
  EXPECT_EQ(answer["core"], "yes");
  EXPECT_EQ(answer["body"]["method"], "POST");
  EXPECT_EQ(answer["body"]["body"], "hello");
  ASSERT_EQ(arrivals("/echo"), 1);
  auto echo = *std::find_if(core.arrived.begin(), core.arrived.end(), [](auto& r) { return r.path == "/echo"; });
  EXPECT_EQ(echo.authorization, std::string("Bearer ") + desktopToken);
  bool sawTestHeader = false;
  for (auto& [name, value] : echo.headers)
    sawTestHeader |= g_ascii_strcasecmp(name.c_str(), "X-Test") == 0 && value == "yes";
  EXPECT_TRUE(sawTestHeader);

  auto missing = ui.evaluateJSON("fetch('/nothing-here').then(async r => ({status: r.status, body: await r.json()}))");
  EXPECT_EQ(missing["status"], 404);
  EXPECT_EQ(missing["body"]["detail"], "Not found");

  auto binary = ui.evaluateJSON("fetch('/binary').then(async r => ({status: r.status, text: await r.text()}))");
  EXPECT_EQ(binary["status"], 200);
  EXPECT_EQ(binary["text"], "");
}

TEST_F(WebBridgeE2E, TheTokenNeverLeavesForAnotherOrigin) {
  for (const char* url : {"https://example.invalid/steal", "//example.invalid/steal"}) {
    auto refused = ui.evaluateJSON(std::string("fetch('") + url +
                                   "').then(async r => ({status: r.status, body: await r.json()}))");
    EXPECT_EQ(refused["status"], 599) << url;
    EXPECT_TRUE(refused["body"]["detail"].is_string()) << url;
  }
  // Only what the test sent counts: the page's own requests (its stream, reopened every few
  // seconds, and the runtime asked again then) arrive whenever they do.
  EXPECT_EQ(arrivals("/steal"), 0);
  auto same = ui.evaluateJSON("fetch(window.__ZORVEL_BASE_URL__ + '/desktop-runtime').then(r => r.status)");
  EXPECT_EQ(same, 200);
}

TEST_F(WebBridgeE2E, ACoreThatIsDownAnswersWithDetail) {
  BridgeWindow down("http://127.0.0.1:1");
  down.load(zorvel::WebBridge::indexURL);
  ASSERT_TRUE(down.waitForLoad());
  auto answer =
      down.evaluateJSON("fetch('/desktop-runtime').then(async r => ({status: r.status, body: await r.json()}))");
  EXPECT_EQ(answer["status"], 599);
  EXPECT_TRUE(answer["body"]["detail"].is_string());
  auto emptyHeaders = down.evaluateJSON(
      "__zorvelBridge.received.filter(r => r.kind === 'fetch-response').every(r => Object.keys(r.headers).length === "
      "0)");
  EXPECT_EQ(emptyHeaders, true);
}

TEST_F(WebBridgeE2E, EventsReachThePageInOrderUntilTheStreamEnds) {
  ui.evaluate(R"((() => { window.seen = []; const s = new EventSource('/events');
    s.onopen = () => seen.push('open');
    s.onmessage = e => seen.push(['message', e.data, e.lastEventId]);
    s.addEventListener('task', e => seen.push(['task', e.data, e.lastEventId]));
    s.onerror = e => seen.push(['error', e.message]); return 1; })())");
  ASSERT_TRUE(ui.waitForTrue("seen.length >= 5"));
  auto seen = ui.evaluateJSON("seen");
  EXPECT_EQ(seen, json::parse(R"(["open", ["message", "first", "1"], ["task", "second\nline", ""],
                                  ["message", "third", "3"], ["error", "Event stream ended"]])"));
}

TEST_F(WebBridgeE2E, AClosedStreamSaysNothingMore) {
  ui.evaluate(R"((() => { window.seen = []; window.s = new EventSource('/events?hold=1');
    s.onmessage = e => { seen.push(e.data); if (seen.length === 2) s.close(); };
    s.onerror = e => seen.push('error'); return 1; })())");
  ASSERT_TRUE(ui.waitForTrue("seen.length === 2"));
  runFor(std::chrono::milliseconds(300));
  core.pushToHeldStreams("data: late\n\n", true);
  runFor(std::chrono::milliseconds(500));
  EXPECT_EQ(ui.evaluateJSON("seen"), json::parse(R"(["first", "third"])"));
  auto received =
      ui.evaluateJSON("__zorvelBridge.received.filter(r => r.kind === 'stream-error' && r.id === s.streamID).length");
  EXPECT_EQ(received, 0);
}

TEST_F(WebBridgeE2E, ReopeningAnIdReplacesTheStreamSilently) {
  ui.evaluate(R"((() => { const post = __zorvelBridge.post, url = window.__ZORVEL_BASE_URL__ + '/events?hold=1';
    post({kind: 'event-stream-open', id: 'same', url});
    setTimeout(() => post({kind: 'event-stream-open', id: 'same', url, last_event_id: '1'}), 200);
    return 1; })())");
  ASSERT_TRUE(ui.waitForTrue(
      "__zorvelBridge.received.filter(r => r.kind === 'stream-opened' && r.id === 'same').length === 2"));
  core.pushToHeldStreams("", true);
  ASSERT_TRUE(ui.waitForTrue("__zorvelBridge.received.some(r => r.kind === 'stream-error' && r.id === 'same')"));
  runFor(std::chrono::milliseconds(300));
  EXPECT_EQ(ui.evaluateJSON("__zorvelBridge.received.filter(r => r.kind === 'stream-error' && r.id === 'same').length"),
            1);
  auto streams = std::count_if(core.arrived.begin(), core.arrived.end(), [](auto& r) { return r.path == "/events"; });
  EXPECT_GE(streams, 2);
  bool resumed = false;
  for (auto& r : core.arrived)
    for (auto& [name, value] : r.headers) resumed |= name == "Last-Event-ID" && value == "1";
  EXPECT_TRUE(resumed);
}

// A page that opens streams without end is refused past a bound, each refusal said to it, and the
// core sees no more connections than the bound.
TEST_F(WebBridgeE2E, StreamsPastTheBoundAreRefusedAndSaidSo) {
  ui.load(std::string(zorvel::WebBridge::indexURL) + "?noevents");  // the page opens no stream of its own
  ASSERT_TRUE(ui.waitForLoad());
  ASSERT_TRUE(ui.waitForTrue("Boolean(window.__zorvelBridge && window.__zorvelBridge.available)"));
  const int before = arrivals("/events");
  ui.evaluate(R"((() => { const post = __zorvelBridge.post, url = window.__ZORVEL_BASE_URL__ + '/events?hold=1';
    for (let i = 0; i < 70; i++) post({kind: 'event-stream-open', id: 'flood-' + i, url});
    return 1; })())");
  ASSERT_TRUE(
      ui.waitForTrue("__zorvelBridge.received.filter(r => r.kind === 'stream-opened').length === 64 && "
                     "__zorvelBridge.received.filter(r => r.kind === 'stream-error').length === 6"));
  EXPECT_EQ(ui.evaluateJSON("__zorvelBridge.received.filter(r => r.kind === 'stream-error').map(r => r.message)"),
            json(std::vector<std::string>(6, "Too many event streams are open")));
  runFor(std::chrono::milliseconds(200));
  EXPECT_EQ(arrivals("/events") - before, 64);
}

TEST_F(WebBridgeE2E, ARefusedStreamReportsItsStatus) {
  ui.evaluate(R"((() => { window.seen = []; const s = new EventSource('/events?deny=1');
    s.onopen = () => seen.push('open'); s.onerror = e => seen.push(e.message); return 1; })())");
  ASSERT_TRUE(ui.waitForTrue("seen.length >= 1"));
  runFor(std::chrono::milliseconds(200));
  EXPECT_EQ(ui.evaluateJSON("seen"), json::parse(R"x(["Event stream request failed (401)"])x"));
}

TEST_F(WebBridgeE2E, UISchemeRefusesEscapes) {
  auto served = ui.evaluateJSON("fetch('zorvel-ui://app/app.js').then(r => r.ok, () => 'refused')");
  EXPECT_EQ(served, true);
  for (const char* url : {"zorvel-ui://app/%2e%2e/native-bridge.js", "zorvel-ui://app/%2E%2E%2Fnative-bridge.js",
                          "zorvel-ui://app/../../native-bridge.js", "zorvel-ui://other/index.html"}) {
    auto refused = ui.evaluateJSON(std::string("fetch('") + url + "').then(r => r.status, () => 'refused')");
    EXPECT_EQ(refused, "refused") << url;
  }
}

TEST_F(WebBridgeE2E, MalformedOrUnknownMessagesChangeNothing) {
  ui.evaluate(R"((() => { const h = window.webkit.messageHandlers.zorvelTerminal;
    for (const m of ['text', 42, null, [1, 2], {kind: 'no-such-kind'}, {kind: 'fetch'}, {kind: 'fetch', id: 3},
                     {kind: 'event-stream-open', id: 'a_b', url: 'x'}, {task_id: '../../x', title: 't'},
                     {kind: 'stop-terminal', task_id: '../x'}]) h.postMessage(m);
    return 1; })())");
  // The page's fetches are messages too, taken in order: once a later one is answered, the
  // earlier ones have been dealt with.
  EXPECT_EQ(ui.evaluateJSON("fetch('/desktop-runtime').then(r => r.status)"), 200);
  EXPECT_FALSE(ui.labelVisible());
}

TEST_F(WebBridgeE2E, OnlyTheApplicationsPagesReachTheNativeSide) {
  ui.load(core.baseURL() + "/page");
  ASSERT_TRUE(ui.waitForLoad());
  runFor(std::chrono::milliseconds(300));
  EXPECT_FALSE(ui.labelVisible());

  ui.load(zorvel::WebBridge::indexURL);
  ASSERT_TRUE(ui.waitForLoad());
  ui.evaluate("__zorvelBridge.post({kind: 'ui-error', message: 'boom'})");
  ASSERT_TRUE(runUntil([&] { return ui.labelVisible(); }));
  EXPECT_EQ(ui.labelText(), "Zorvel UI error:\nboom");
}

TEST_F(WebBridgeE2E, AMountCheckJudgesOnlyThePageItWasMadeFor) {
  // The check of the page loaded first comes while the next one is still arriving.
  ui.load(core.baseURL() + "/held-page");
  ASSERT_TRUE(ui.waitForTrue("document.body !== null && document.body.textContent.includes('still loading')"));
  runFor(std::chrono::milliseconds(1500));
  EXPECT_FALSE(ui.labelVisible()) << ui.labelText();
  // The next page's own check follows its own load; it is not the application's page.
  core.pushToHeldStreams("</body></html>", true);
  ASSERT_TRUE(ui.waitForLoad());
  ASSERT_TRUE(runUntil([&] { return ui.labelVisible(); }));
  EXPECT_NE(ui.labelText().find("did not mount"), std::string::npos) << ui.labelText();
}

TEST_F(WebBridgeE2E, NoOtherFrameReachesTheMessageHandler) {
  // Blank and srcdoc frames (whose loads the navigation policy stops, leaving their first empty
  // document) and a frame of the application's own, before and after it loads. What reaches the
  // core shows at the next fetch of the top frame, which follows the same road.
  auto tried = ui.evaluateJSON(R"(new Promise(resolve => {
    const results = [];
    const attempt = (frame, name) => {
      try {
        const handler = frame.contentWindow.webkit.messageHandlers.zorvelTerminal;
        handler.postMessage({kind: 'fetch', id: 'from-frame', path: '/from-a-frame'});
        handler.postMessage({kind: 'ui-error', message: 'from a frame'});
        results.push(name + ' posted');
      } catch (_) {
        results.push(name + ' refused');
      }
    };
    const frame = (attribute, value) => {
      const element = document.createElement('iframe');
      element.setAttribute(attribute, value);
      document.body.append(element);
      return element;
    };
    attempt(frame('srcdoc', '<p>inside</p>'), 'srcdoc');
    attempt(frame('src', 'about:blank'), 'blank');
    const own = frame('src', 'zorvel-ui://app/index.html?nomount');
    own.onload = () => { attempt(own, 'loaded'); resolve(results); };
    attempt(own, 'loading');
  }).then(async results => { await fetch('/desktop-runtime'); return results; }))");
  ASSERT_EQ(tried.size(), 4u) << tried;
  for (const auto& result : tried) EXPECT_NE(result.get<std::string>().find("refused"), std::string::npos) << tried;
  EXPECT_EQ(arrivals("/from-a-frame"), 0);
  EXPECT_FALSE(ui.labelVisible());
  ui.evaluate("window.webkit.messageHandlers.zorvelTerminal.postMessage({kind: 'ui-error', message: 'top'})");
  EXPECT_TRUE(runUntil([&] { return ui.labelVisible(); }));
}

TEST_F(WebBridgeE2E, AFetchWhosePathIsNoURLFails) {
  for (const char* path : {"/\\\\host/x", "/a b", "/\\t/x"}) {
    auto answer = ui.evaluateJSON(std::string("fetch('") + path +
                                  "').then(async r => ({status: r.status, body: await r.json()}), e => String(e))");
    EXPECT_EQ(answer["status"], 599) << path << answer;
    EXPECT_EQ(answer["body"]["detail"], "Invalid request path") << path;
  }
}

// The application's own links followed in the page come back to it, whether or not the desktop
// knows the application, rather than leaving through the desktop.
TEST_F(WebBridgeE2E, TheApplicationsOwnLinksStayWithIt) {
  std::vector<std::string> own;
  ui.bridge().onApplicationLink = [&](const std::string& link, WebKitWebView*) { own.push_back(link); };
  ui.evaluate("(() => { location.href = 'zorvel://tasks/3f2504e0-4f89-11d3-9a0c-0305e82c3301/open'; return 1; })()");
  ASSERT_TRUE(runUntil([&] { return !own.empty(); }));
  EXPECT_EQ(own, std::vector<std::string>{"zorvel://tasks/3f2504e0-4f89-11d3-9a0c-0305e82c3301/open"});
  EXPECT_TRUE(ui.openedExternally.empty());
  EXPECT_EQ(ui.evaluateJSON("location.href"), "zorvel-ui://app/index.html");
}

// An outside link the user's click leads to leaves; the click is spent on it, so the page's next
// outside address does not.
TEST_F(WebBridgeE2E, NavigationLeavesForOutsideLinksOnly) {
  ui.evaluate(
      "(() => { addEventListener('click', () => { location.href = 'https://example.com/docs'; });"
      " return 1; })()");
  const auto windows = visibleWindows(getpid());
  ASSERT_EQ(windows.size(), 1u);
  ASSERT_EQ(shell("xdotool mousemove --window " + windows[0] + " 500 300 click 1"), 0);
  ASSERT_TRUE(runUntil([&] { return !ui.openedExternally.empty(); }));
  EXPECT_EQ(ui.openedExternally[0], "https://example.com/docs");
  ui.evaluate("(() => { location.href = 'https://example.com/unasked'; return 1; })()");
  ui.evaluate("(() => { location.href = 'javascript:void(0)'; return 1; })()");
  runFor(std::chrono::milliseconds(300));
  EXPECT_EQ(ui.openedExternally.size(), 1u);
  EXPECT_EQ(ui.evaluateJSON("location.href"), "zorvel-ui://app/index.html");
  EXPECT_FALSE(ui.labelVisible());
}

TEST_F(WebBridgeE2E, AFailedLoadIsReportedAndNotTakenForALoadedPage) {
  ui.load("zorvel-ui://app/missing.html");
  ASSERT_TRUE(runUntil([&] { return ui.labelVisible(); }));
  EXPECT_EQ(ui.labelText(), "Could not load the bundled Zorvel UI:\nBundled UI resource not found: missing.html");
  ASSERT_TRUE(runUntil([&] { return !core.errorReports.empty(); }));
  EXPECT_EQ(core.errorReports[0]["context"]["boundary"], "webview-provisional-navigation");
  EXPECT_EQ(core.errorReports[0]["exception_type"], "ZorvelDesktop.UI");
  // WebKit still reports the load as finished; that must not clear the failure.
  runFor(std::chrono::milliseconds(1500));
  EXPECT_TRUE(ui.labelVisible());
  EXPECT_EQ(ui.labelText(), "Could not load the bundled Zorvel UI:\nBundled UI resource not found: missing.html");
}

TEST_F(WebBridgeE2E, ASecondWebViewSharesTheBridgeButNotTheMainViewsDuties) {
  ui.bridge().showWebFailure("still shown", false);
  auto* second = ui.bridge().makeWebView();
  g_object_ref_sink(second);
  int finished = 0;
  g_signal_connect(second, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, int* count) {
                     if (event == WEBKIT_LOAD_FINISHED) ++*count;
                   }),
                   &finished);
  webkit_web_view_load_uri(second, "zorvel-ui://app/index.html?native-overlay");
  ASSERT_TRUE(runUntil([&] { return finished > 0; }));
  runFor(std::chrono::milliseconds(1300));
  // Its finished load neither clears the label nor runs the main page's mount check.
  EXPECT_EQ(ui.labelText(), "Could not load the bundled Zorvel UI:\nstill shown");
  EXPECT_TRUE(ui.labelVisible());
  g_object_unref(second);
}

TEST_F(WebBridgeE2E, MountCheckReportsAnEmptyRoot) {
  runFor(std::chrono::milliseconds(1300));
  EXPECT_FALSE(ui.labelVisible());
  ui.load(std::string(zorvel::WebBridge::indexURL) + "?nomount");
  ASSERT_TRUE(ui.waitForLoad());
  ASSERT_TRUE(runUntil([&] { return ui.labelVisible(); }, std::chrono::seconds(5)));
  EXPECT_EQ(ui.labelText(), "Could not load the bundled Zorvel UI:\nThe bundled React UI did not mount");
}

TEST_F(WebBridgeE2E, AKilledWebProcessReloadsTheUIAndIsReported) {
  ui.evaluate("(() => { window.marker = 1; return 1; })()");
  webkit_web_view_terminate_web_process(ui.view());
  ASSERT_TRUE(runUntil([&] { return !core.errorReports.empty(); }));
  EXPECT_EQ(core.errorReports[0], json::parse(R"({"source": "native", "exception_type": "ZorvelDesktop.WebKit",
      "message": "Web content process terminated", "stack_trace": null,
      "context": {"boundary": "webview-process", "code": 1}})"));
  ASSERT_TRUE(ui.waitForTrue("Boolean(window.__zorvelBridge) && window.marker === undefined"));
  EXPECT_EQ(ui.evaluateJSON("location.href"), "zorvel-ui://app/index.html");
}

TEST_F(WebBridgeE2E, ACoreFailureOutlivesPageErrorsAndReloads) {
  ui.bridge().showCoreFailure("No runner");
  ui.evaluate("__zorvelBridge.post({kind: 'ui-error', message: 'later'})");
  runFor(std::chrono::milliseconds(300));
  ui.load(zorvel::WebBridge::indexURL);
  ASSERT_TRUE(ui.waitForLoad());
  runFor(std::chrono::milliseconds(300));
  EXPECT_TRUE(ui.labelVisible());
  EXPECT_EQ(ui.labelText(),
            "Zorvel could not start a compatible core.\nNo runner\n\nQuit and reopen the app to retry.");
}

namespace {

// Any thread may log.
std::mutex loggedMutex;
std::vector<std::string> loggedMessages;

GLogWriterOutput keepAndWrite(GLogLevelFlags level, const GLogField* fields, gsize count, gpointer data) {
  for (gsize i = 0; i < count; ++i) {
    if (std::string_view(fields[i].key) == "MESSAGE" && fields[i].length < 0) {
      std::lock_guard lock(loggedMutex);
      loggedMessages.emplace_back(static_cast<const char*>(fields[i].value));
    }
  }
  return g_log_writer_default(level, fields, count, data);
}

}  // namespace

// A message far larger than any the page needs (as a page filling memory sends) is neither copied
// to the application nor sent on: the page's request fails with the reason and the log says why.
TEST_F(WebBridgeE2E, APageMessageOverTheBoundIsRefusedAndAnsweredWhereItsKindHasAnAnswer) {
  g_log_set_writer_func(keepAndWrite, nullptr, nullptr);
  const std::string over = std::to_string(zorvel::WebBridge::maximumPageMessageCharacters + 1);
  auto fetched = ui.evaluateJSON("fetch('/echo', {method: 'POST', body: 'x'.repeat(" + over +
                                 ")}).then(async r => ({status: r.status, body: await r.json()}))");
  EXPECT_EQ(fetched["status"], 599);
  EXPECT_NE(fetched["body"].value("detail", "").find("too large"), std::string::npos) << fetched;
  ui.evaluate(
      "(() => { window.streamFailure = null; const s = new EventSource('/events-over-the-bound?' + 'x'.repeat(" + over +
      ")); s.onerror = (e) => { window.streamFailure = e.message; }; })()");
  EXPECT_TRUE(ui.waitForTrue("typeof window.streamFailure === 'string'"));
  // The page's own stream and runtime requests go on meanwhile: only these two must not arrive.
  EXPECT_EQ(arrivals("/echo"), 0);
  EXPECT_EQ(arrivals("/events-over-the-bound"), 0);
  std::lock_guard lock(loggedMutex);
  const auto refusals = std::count_if(loggedMessages.begin(), loggedMessages.end(), [](const std::string& line) {
    return line.find("Refused a page message") != std::string::npos;
  });
  EXPECT_EQ(refusals, 2);
}
