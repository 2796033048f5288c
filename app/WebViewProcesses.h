#pragma once

#include <vector>

#include "platform/GLibPtr.h"

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// The web views the application made, so that quitting can end their pages' processes. A page
// process sees that the application has gone only once its script returns to it: one that runs a
// script without end, or one alert after another, would otherwise run on, at full speed, long
// after the application.
class WebViewProcesses {
 public:
  void track(WebKitWebView* view);
  // Ends the page process of every tracked view that is still alive, whatever its page is doing.
  void terminateAll();
  // Whether the view's page process was ended here: the view is going away with the application,
  // so nothing is to be reloaded or reported.
  static bool endedOnQuit(WebKitWebView* view);

 private:
  std::vector<GWeak<WebKitWebView>> views;
};

}  // namespace zorvel
