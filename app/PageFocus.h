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
// focused) rather than take the keys meant for the terminal or the other program. What waited
// comes one at a time, each once no dialog stands over the page's window any more. `show` runs at
// once or then, in the order asked, and never when the view goes away first. What the page asked
// for is the page's own: once the view loads another page (a reload too), what waits for it is
// dropped, and `dropped` runs in its stead. A wait is logged, with `what` waits.
void whenBack(WebKitWebView* view, const char* what, std::function<void()> show, std::function<void()> dropped = {});

// Which page the view shows: a number that changes with every page the view loads, so an answer
// to what one page asked for is given to that page alone.
unsigned page(WebKitWebView* view);

}  // namespace zorvel::PageFocus
