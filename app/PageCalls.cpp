#include "app/PageCalls.h"

#include <webkit/webkit.h>

#include "platform/GLibPtr.h"

namespace zorvel::PageCalls {

namespace {

// The page's hand-over: one message channel for the page's life, whose messages the engine delivers
// in order and without the user's activation; each message runs the closure that waits longest.
// The entry point can be neither replaced nor removed, and everything it and the receiving side
// call was taken before any script of the page ran: the port's own postMessage, bound, and a queue
// in an object without a prototype, whose keys no setter of the page's can catch. Both ports are
// held, so neither is collected while the page lives. What a closure throws stays in the page, as
// it did when it ran in the evaluation.
constexpr const char* handOverSource = R"js((() => {
  'use strict';
  const channel = new MessageChannel();
  const ports = Object.freeze({ __proto__: null, receiver: channel.port1, sender: channel.port2 });
  const post = Function.prototype.call.bind(MessagePort.prototype.postMessage);
  const waiting = Object.create(null);
  let first = 0;
  let next = 0;
  ports.receiver.onmessage = () => {
    const work = waiting[first];
    delete waiting[first];
    first += 1;
    try {
      work();
    } catch (_) {
      // The page's own error.
    }
  };
  Object.defineProperty(window, '__zorvelLater', {
    value: (work) => {
      waiting[next] = work;
      next += 1;
      post(ports.sender, null);
    },
  });
})();
)js";

// A function body that only hands `work` (statements) to the page's hand-over, or drops it where
// there is none: it reads nothing the page could have replaced.
std::string later(const std::string& work) { return "window.__zorvelLater?.(() => {\n" + work + "\n});"; }

void call(WebKitWebView* webView, const std::string& work, GVariant* arguments) {
  webkit_web_view_call_async_javascript_function(webView, later(work).c_str(), -1, arguments, nullptr, nullptr, nullptr,
                                                 nullptr, nullptr);
}

void callWithArguments(WebKitWebView* webView, const char* work, GVariantBuilder* arguments) {
  if (!webView) {
    g_variant_builder_clear(arguments);
    return;
  }
  // The call only reads the arguments and leaves them the caller's, floating or not: without a
  // reference of its own here, every value sent to a page (each event of a stream) stayed behind.
  platform::GVariantPtr values(g_variant_ref_sink(g_variant_builder_end(arguments)));
  call(webView, work, values.get());
}

void addString(GVariantBuilder* builder, const char* key, const std::string& text) {
  g_variant_builder_add(builder, "{sv}", key, g_variant_new_string(text.c_str()));
}

}  // namespace

const std::string& handOverScript() {
  static const std::string source = handOverSource;
  return source;
}

std::string jsonText(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void callFunction(WebKitWebView* webView, const std::string& functionName, const nlohmann::json& values) {
  if (!values.is_array()) return;
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  addString(&arguments, "functionName", jsonText(functionName));
  addString(&arguments, "values", jsonText(values));
  callWithArguments(webView, "window[JSON.parse(functionName)](...JSON.parse(values));", &arguments);
}

void deliverFetchResponse(WebKitWebView* webView, const std::string& id, const std::string& body,
                          const nlohmann::json& headers, int status) {
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  addString(&arguments, "id", jsonText(id));
  addString(&arguments, "body", jsonText(body));
  addString(&arguments, "headers", jsonText(headers));
  g_variant_builder_add(&arguments, "{sv}", "status", g_variant_new_int32(status));
  callWithArguments(
      webView, "window.__zorvelNativeFetchResponse(JSON.parse(id), JSON.parse(body), JSON.parse(headers), status);",
      &arguments);
}

void dispatchEvent(WebKitWebView* webView, const std::string& name, const nlohmann::json* detail) {
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  addString(&arguments, "name", jsonText(name));
  if (detail) {
    addString(&arguments, "detail", jsonText(*detail));
    callWithArguments(webView, "window.dispatchEvent(new CustomEvent(JSON.parse(name), {detail: JSON.parse(detail)}));",
                      &arguments);
  } else {
    callWithArguments(webView, "window.dispatchEvent(new Event(JSON.parse(name)));", &arguments);
  }
}

void runScript(WebKitWebView* webView, const std::string& script) {
  if (webView) call(webView, script, nullptr);
}

}  // namespace zorvel::PageCalls
