#pragma once

#include <nlohmann/json.hpp>
#include <string>

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// Calls into the page with values as arguments, never spliced into script text. WebKit carries
// only strings, numbers and dictionaries as arguments, so every value travels as JSON text that
// the fixed function body parses back.
namespace PageCalls {

// Runs `window[functionName](...values)` in the main frame; skipped when `values` is not an array.
void callFunction(WebKitWebView* webView, const std::string& functionName, const nlohmann::json& values);

// Runs `window.__zorvelNativeFetchResponse(id, body, headers, status)`.
void deliverFetchResponse(WebKitWebView* webView, const std::string& id, const std::string& body,
                          const nlohmann::json& headers, int status);

// Dispatches a "zorvel:" event on window: a CustomEvent whose detail is `detail`, or a plain Event.
void dispatchEvent(WebKitWebView* webView, const std::string& name, const nlohmann::json* detail = nullptr);

// Text that survives any content: invalid UTF-8 is replaced rather than failing the call.
std::string jsonText(const nlohmann::json& value);

}  // namespace PageCalls

}  // namespace zorvel
