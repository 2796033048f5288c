#include "WebBridgeHarness.h"

#include <gtkmm/init.h>
#include <gtkmm/label.h>
#include <unistd.h>

#include "platform/Dispatch.h"
#include "tests/MainLoop.h"

namespace e2e {

namespace {

std::string headerValue(SoupMessageHeaders* headers, const char* name) {
  const char* value = soup_message_headers_get_one(headers, name);
  return value ? value : "";
}

void respond(SoupServerMessage* message, int status, const std::string& type, const std::string& body) {
  soup_server_message_set_response(message, type.c_str(), SOUP_MEMORY_COPY, body.data(), body.size());
  soup_server_message_set_status(message, status, nullptr);
}

}  // namespace

FakeCore::FakeCore() {
  server = soup_server_new(nullptr, nullptr);
  soup_server_add_handler(server, nullptr, &FakeCore::handle, this, nullptr);
  GError* error = nullptr;
  if (!soup_server_listen_local(server, 0, SOUP_SERVER_LISTEN_IPV4_ONLY, &error)) {
    ADD_FAILURE() << "fake core cannot listen: " << error->message;
    g_error_free(error);
    return;
  }
  GSList* uris = soup_server_get_uris(server);
  listeningPort = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

FakeCore::~FakeCore() {
  pushToHeldStreams("", true);
  soup_server_disconnect(server);
  g_object_unref(server);
}

void FakeCore::handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable* query, gpointer self) {
  static_cast<FakeCore*>(self)->serve(message, path, query);
}

void FakeCore::serve(SoupServerMessage* message, const std::string& path, GHashTable* query) {
  auto* requestHeaders = soup_server_message_get_request_headers(message);
  auto* requestBody = soup_message_body_flatten(soup_server_message_get_request_body(message));
  gsize size = 0;
  const char* data = static_cast<const char*>(g_bytes_get_data(requestBody, &size));
  ArrivedRequest arrivedRequest{soup_server_message_get_method(message),
                                path,
                                headerValue(requestHeaders, "Authorization"),
                                std::string(data ? data : "", size),
                                {}};
  g_bytes_unref(requestBody);
  SoupMessageHeadersIter iter;
  soup_message_headers_iter_init(&iter, requestHeaders);
  const char *name, *value;
  while (soup_message_headers_iter_next(&iter, &name, &value)) arrivedRequest.headers.emplace_back(name, value);
  arrived.push_back(arrivedRequest);

  auto queryValue = [query](const char* key) -> std::string {
    const char* v = query ? static_cast<const char*>(g_hash_table_lookup(query, key)) : nullptr;
    return v ? v : "";
  };
  if (path == "/held-page") {
    // A page that starts to arrive, so its load is committed, and finishes with the held streams.
    soup_server_message_set_status(message, 200, nullptr);
    auto* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_set_content_type(headers, "text/html", nullptr);
    soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
    // Enough bytes for the engine to stop sniffing and show what has come.
    std::string start = "<html><body><p>still loading</p><!--" + std::string(8192, ' ') + "-->";
    soup_message_body_append(soup_server_message_get_response_body(message), SOUP_MEMORY_COPY, start.data(),
                             start.size());
    heldStreams.push_back(message);
    g_object_ref(message);
    return;
  }
  if (arrivedRequest.authorization != std::string("Bearer ") + desktopToken || queryValue("deny") == "1") {
    respond(message, 401, "application/json", R"({"detail":"Missing or invalid token"})");
    return;
  }
  if (path == "/desktop-runtime") {
    respond(message, 200, "application/json", R"({"kind":"zorvel-desktop","protocol_version":3,"pid":1})");
  } else if (path == "/echo") {
    nlohmann::json echo{{"method", arrivedRequest.method}, {"body", arrivedRequest.body}};
    respond(message, 201, "application/json", echo.dump());
    soup_message_headers_append(soup_server_message_get_response_headers(message), "X-Core", "yes");
  } else if (path == "/binary") {
    respond(message, 200, "application/octet-stream", std::string("\xff\xfe\x00\x01", 4));
  } else if (path == "/diagnostics/error-events") {
    errorReports.push_back(nlohmann::json::parse(arrivedRequest.body, nullptr, false));
    respond(message, 202, "application/json", "{}");
  } else if (path == "/page") {
    respond(message, 200, "text/html",
            "<html><body><script>window.webkit.messageHandlers.zorvelTerminal.postMessage("
            "{kind: 'ui-error', message: 'from a core page'});</script></body></html>");
  } else if (path == "/events") {
    soup_server_message_set_status(message, 200, nullptr);
    auto* headers = soup_server_message_get_response_headers(message);
    soup_message_headers_set_content_type(headers, "text/event-stream", nullptr);
    soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
    auto* body = soup_server_message_get_response_body(message);
    std::string events =
        "id: 1\ndata: first\n\n: comment\n\nevent: task\r\ndata: second\r\ndata: line\r\n\r\n"
        "id: 3\rdata: third\r\r";
    soup_message_body_append(body, SOUP_MEMORY_COPY, events.data(), events.size());
    if (queryValue("hold") == "1") {
      heldStreams.push_back(message);
      g_object_ref(message);
    } else {
      std::string tail = "data: never delivered";
      soup_message_body_append(body, SOUP_MEMORY_COPY, tail.data(), tail.size());
      soup_message_body_complete(body);
    }
  } else {
    respond(message, 404, "application/json", R"({"detail":"Not found"})");
  }
}

void FakeCore::pushToHeldStreams(const std::string& bytes, bool end) {
  for (auto* message : heldStreams) {
    auto* body = soup_server_message_get_response_body(message);
    if (!bytes.empty()) soup_message_body_append(body, SOUP_MEMORY_COPY, bytes.data(), bytes.size());
    if (end) soup_message_body_complete(body);
    soup_server_message_unpause(message);
  }
  if (end) {
    for (auto* message : heldStreams) g_object_unref(message);
    heldStreams.clear();
  }
}

// The core, the page's messages and the view all report on this context, so each turn blocks
// until one of them has something.
bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  return runMainUntil(condition, limit);
}

void runFor(std::chrono::milliseconds duration) {
  runUntil([] { return false; }, duration);
}

BridgeWindow::BridgeWindow(const std::string& baseURL) {
  static bool initialised = [] {
    g_setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", FALSE);
    gtk_init();
    Gtk::init_gtkmm_internals();
    return true;
  }();
  (void)initialised;
  // The stand-in core serves from this process: the page's requests may go to it.
  zorvel::WebBridge::Settings settings{*zorvel::URL::parse(baseURL),
                                       {desktopToken, [] { return ::getpid(); }},
                                       dataFolder.path(),
                                       "production",
                                       std::filesystem::path(ZORVEL_BUNDLE_DIR) / "share" / "zorvel"};
  webBridge = std::make_shared<zorvel::WebBridge>(settings);
  webBridge->openExternally = [this](const std::string& url) { openedExternally.push_back(url); };

  window = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window), 1100, 700);
  overlay = gtk_overlay_new();
  webView = webBridge->makeWebView();
  gtk_overlay_set_child(GTK_OVERLAY(overlay), GTK_WIDGET(webView));
  auto* label = new Gtk::Label();
  label->set_valign(Gtk::Align::START);
  gtk_overlay_add_overlay(GTK_OVERLAY(overlay), GTK_WIDGET(label->gobj()));
  errorLabel = label;
  webBridge->errorLabel().attach(label);
  gtk_window_set_child(GTK_WINDOW(window), overlay);
  webBridge->setMainWebView(webView);
  g_signal_connect(webView, "load-changed", G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent event, int* count) {
                     if (event == WEBKIT_LOAD_FINISHED) ++*count;
                   }),
                   &finishedLoads);
  gtk_window_present(GTK_WINDOW(window));
}

BridgeWindow::~BridgeWindow() {
  webBridge->cancelAllEventStreams();
  gtk_window_destroy(GTK_WINDOW(window));
  runFor(std::chrono::milliseconds(50));
}

void BridgeWindow::load(const std::string& url) { webkit_web_view_load_uri(webView, url.c_str()); }

bool BridgeWindow::waitForLoad() {
  int before = finishedLoads;
  return runUntil([&] { return finishedLoads > before; });
}

std::string BridgeWindow::evaluate(const std::string& expression) {
  struct Result {
    bool done = false;
    std::string json;
  } result;
  std::string body = "return JSON.stringify(await (async () => (" + expression + "))());";
  webkit_web_view_call_async_javascript_function(
      webView, body.c_str(), -1, nullptr, nullptr, nullptr, nullptr,
      [](GObject* object, GAsyncResult* asyncResult, gpointer data) {
        auto* r = static_cast<Result*>(data);
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(object), asyncResult, &error);
        if (error) {
          r->json = std::string("ERROR: ") + error->message;
          g_error_free(error);
        } else if (value) {
          char* text = jsc_value_to_string(value);
          r->json = text ? text : "";
          g_free(text);
          g_object_unref(value);
        }
        r->done = true;
      },
      &result);
  if (!runUntil([&] { return result.done; })) return "TIMEOUT";
  return result.json;
}

nlohmann::json BridgeWindow::evaluateJSON(const std::string& expression) {
  auto text = evaluate(expression);
  auto value = nlohmann::json::parse(text, nullptr, false);
  if (value.is_discarded()) ADD_FAILURE() << "not JSON: " << text;
  return value;
}

bool BridgeWindow::waitForTrue(const std::string& expression, std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (evaluate(expression) == "true") return true;
    runFor(std::chrono::milliseconds(50));
  }
  return false;
}

std::string BridgeWindow::labelText() { return webBridge->errorLabel().text(); }
bool BridgeWindow::labelVisible() { return webBridge->errorLabel().isVisible(); }

}  // namespace e2e
