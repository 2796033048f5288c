#pragma once

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel::ScriptDialogs {

// The page's alert, confirm, prompt and leave-page question appear in a dialog window over the web
// view's window rather than inside the view, where a task terminal or the overlay may cover them
// while the page waits for an answer nobody can see. The page's scripts wait only until the user
// answers; closing the dialog answers no.
void attach(WebKitWebView* view);

}  // namespace zorvel::ScriptDialogs
