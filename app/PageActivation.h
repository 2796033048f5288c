#pragma once

#include <optional>

#include "app/UserActivation.h"

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
// Why a request was refused: the web engine counts whatever the application hands a page as a
// gesture of the user, so only a press the application saw counts.
constexpr const char* noPressBehind = "no click or key press of the user on the page asked for it";
// Takes the view's opening; without one, logs the refusal ("<refusal>: <noPressBehind>").
bool consumeOrRefuse(WebKitWebView* view, const char* refusal);
// The page got a press (the application's own script in it says so): the press's opening lasts
// from now (see UserActivation::landed).
void pressLanded(WebKitWebView* view);
// What the application's own script in the page tells of the key presses the view saw, in order:
// whether each went into a text field as it reached the page, and whether the page took it after
// all once it had handled it (see UserActivation::keyLanded). The page's own scripts cannot tell
// it: only that script reaches the handler it tells by.
void keyLanded(WebKitWebView* view, bool intoText);
void keySettled(WebKitWebView* view, bool taken);
// When the user last pressed on the view (typing in its fields too); nothing when never.
std::optional<UserActivation::Clock::time_point> lastPress(WebKitWebView* view);

}  // namespace PageActivation

}  // namespace zorvel
