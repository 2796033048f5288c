#pragma once

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel::PageRequests {

// What else a page may ask of the user through a window: the chooser of one of its file or colour
// fields only for a press of the user's own on it (the application shows it, once the keyboard is
// on the page), and a login to a server never, as the application's pages sign in nowhere; each
// refusal is logged.
void attach(WebKitWebView* view);

}  // namespace zorvel::PageRequests
