#pragma once

#include <nlohmann/json.hpp>
#include <string>

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// Calls into the page with values as arguments, never spliced into script text. WebKit carries
// only strings, numbers and dictionaries as arguments, so every value travels as JSON text that
// the fixed function body parses back.
//
// WebKit runs whatever the application evaluates in a page as if the user had just clicked: the
// page could write the clipboard, go full screen or open windows from any callback of the bridge.
// So nothing evaluated here runs page code itself. It only hands a closure to the page's hand-over
// (`handOverScript`), which runs it in a task of its own, without that activation. The hand-over
// keeps the order in which the application sent everything to one page. A document without it (the
// empty one a view holds before its first load) gets nothing.
namespace PageCalls {

// The user script, injected at document start in the top frame before any script of the page,
// that sets up the page's hand-over. It holds everything it calls from the start, out of the page's
// reach, so a page that replaced its built-ins cannot have a closure run inside the evaluation.
const std::string& handOverScript();

// Runs `window[functionName](...values)` in the main frame; skipped when `values` is not an array.
void callFunction(WebKitWebView* webView, const std::string& functionName, const nlohmann::json& values);

// Runs `window.__zorvelNativeFetchResponse(id, body, headers, status)`.
void deliverFetchResponse(WebKitWebView* webView, const std::string& id, const std::string& body,
                          const nlohmann::json& headers, int status);

// Dispatches a "zorvel:" event on window: a CustomEvent whose detail is `detail`, or a plain Event.
void dispatchEvent(WebKitWebView* webView, const std::string& name, const nlohmann::json* detail = nullptr);

// Runs a script of the application's own (one of its constants, or one with a JSON value its
// serialiser has just written) in the main frame, in its turn with the calls above.
void runScript(WebKitWebView* webView, const std::string& script);

// Text that survives any content: invalid UTF-8 is replaced rather than failing the call.
std::string jsonText(const nlohmann::json& value);

}  // namespace PageCalls

}  // namespace zorvel
