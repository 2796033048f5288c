#include "app/WebViewProcesses.h"

#include <webkit/webkit.h>

namespace zorvel {

void WebViewProcesses::track(WebKitWebView* view) {
  std::erase_if(views, [](const auto& weak) { return !weak.get(); });
  views.emplace_back(view);
}

namespace {

// Marks a view whose page process was ended on quitting; the view holds no reference through it.
constexpr const char* endedOnQuitKey = "zorvel-web-process-ended-on-quit";

}  // namespace

void WebViewProcesses::terminateAll() {
  for (const auto& weak : views) {
    auto view = weak.get();
    if (!view) continue;
    g_object_set_data(G_OBJECT(view.get()), endedOnQuitKey, GINT_TO_POINTER(1));
    webkit_web_view_terminate_web_process(view.get());
  }
}

bool WebViewProcesses::endedOnQuit(WebKitWebView* view) {
  return view && g_object_get_data(G_OBJECT(view), endedOnQuitKey) != nullptr;
}

}  // namespace zorvel
