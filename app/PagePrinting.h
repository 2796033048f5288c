#pragma once

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel::PagePrinting {

// A page prints only when a press of the user's own on it asks, one print dialog at a time. The
// dialog is a window of its own that waits for its answer without holding the application: the
// web engine's own dialog runs a loop of its own until it is answered, which kept every way of
// quitting from ending the application while it was up.
void attach(WebKitWebView* view);

}  // namespace zorvel::PagePrinting
