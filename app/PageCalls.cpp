#include "app/PageCalls.h"

#include <webkit/webkit.h>

#include "platform/GLibPtr.h"

namespace zorvel::PageCalls {

namespace {

void callWithArguments(WebKitWebView* webView, const char* body, GVariantBuilder* arguments) {
  if (!webView) {
    g_variant_builder_clear(arguments);
    return;
  }
  // The call only reads the arguments and leaves them the caller's, floating or not: without a
  // reference of its own here, every value sent to a page (each event of a stream) stayed behind.
  platform::GVariantPtr values(g_variant_ref_sink(g_variant_builder_end(arguments)));
  webkit_web_view_call_async_javascript_function(webView, body, -1, values.get(), nullptr, nullptr, nullptr, nullptr,
                                                 nullptr);
}

void addString(GVariantBuilder* builder, const char* key, const std::string& text) {
  g_variant_builder_add(builder, "{sv}", key, g_variant_new_string(text.c_str()));
}

}  // namespace

std::string jsonText(const nlohmann::json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void callFunction(WebKitWebView* webView, const std::string& functionName, const nlohmann::json& values) {
  if (!values.is_array()) return;
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  addString(&arguments, "functionName", jsonText(functionName));
  addString(&arguments, "values", jsonText(values));
  callWithArguments(webView, "window[JSON.parse(functionName)](...JSON.parse(values))", &arguments);
}

void deliverFetchResponse(WebKitWebView* webView, const std::string& id, const std::string& body,
                          const nlohmann::json& headers, int status) {
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  addString(&arguments, "id", jsonText(id));
  addString(&arguments, "body", jsonText(body));
  addString(&arguments, "headers", jsonText(headers));
  g_variant_builder_add(&arguments, "{sv}", "status", g_variant_new_int32(status));
  callWithArguments(webView,
                    "window.__zorvelNativeFetchResponse(JSON.parse(id), JSON.parse(body), JSON.parse(headers), status)",
                    &arguments);
}

void dispatchEvent(WebKitWebView* webView, const std::string& name, const nlohmann::json* detail) {
  GVariantBuilder arguments;
  g_variant_builder_init(&arguments, G_VARIANT_TYPE_VARDICT);
  addString(&arguments, "name", jsonText(name));
  if (detail) {
    addString(&arguments, "detail", jsonText(*detail));
    callWithArguments(webView, "window.dispatchEvent(new CustomEvent(JSON.parse(name), {detail: JSON.parse(detail)}))",
                      &arguments);
  } else {
    callWithArguments(webView, "window.dispatchEvent(new Event(JSON.parse(name)))", &arguments);
  }
}

}  // namespace zorvel::PageCalls
