#pragma once

#include <functional>

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel::PageFocus {

// Whether the user's keyboard is on the page: the view's window is the active one and the view
// itself, or the overlay over it, holds that window's focus. Elsewhere (a task terminal, the menu,
// another program) the user types for something else.
bool hasKeyboard(WebKitWebView* view);

// What a page brings up that takes the keyboard (its dialogs and windows) comes up while the
// keyboard is on the page, where the user expects the page to ask; otherwise it waits until the
// user brings the keyboard back to the page (a click on it, or the window come back with the page
// focused) rather than take the keys meant for the terminal or the other program. `show` runs at
// once or then, in the order asked, and never when the view goes away first. A wait is logged,
// with `what` waits.
void whenBack(WebKitWebView* view, const char* what, std::function<void()> show);

}  // namespace zorvel::PageFocus
