#include "app/WebViewProcesses.h"

#include <webkit/webkit.h>

namespace zorvel {

void WebViewProcesses::track(WebKitWebView* view) {
  std::erase_if(views, [](const auto& weak) { return !weak.get(); });
  views.emplace_back(view);
}

void WebViewProcesses::terminateAll() {
  for (const auto& weak : views) {
    if (auto view = weak.get()) webkit_web_view_terminate_web_process(view.get());
  }
}

bool WebViewProcesses::endedByApplication(int reason) { return reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API; }

}  // namespace zorvel
