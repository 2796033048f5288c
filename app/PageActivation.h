#pragma once

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// The user's presses on each web view, seen by the application itself before the page gets them.
// Everything that would hand something from a page to another application (a link that leaves the
// page, a new window, a download) takes the opening of a press first (`UserActivation`).
namespace PageActivation {

// Watches the view's button, key and touch presses for as long as it lives.
void watch(WebKitWebView* view);
// Takes the view's opening; false when no press of the user is behind the request.
bool consume(WebKitWebView* view);

// Why a request without the opening of a press is refused, for the log.
constexpr const char* noPressBehind = "no click or key press of the user on the page asked for it";

}  // namespace PageActivation

}  // namespace zorvel
