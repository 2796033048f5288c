#include "app/PageFocus.h"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <deque>

#include "platform/GLibPtr.h"
#include "platform/Log.h"

namespace zorvel::PageFocus {

namespace {

struct Waiting {
  GWeak<WebKitWebView> view;
  std::function<void()> show;
};

std::deque<Waiting>& waiting() {
  static std::deque<Waiting> queue;
  return queue;
}

GtkWindow* windowOf(WebKitWebView* view) {
  auto* root = view ? gtk_widget_get_root(GTK_WIDGET(view)) : nullptr;
  return root && GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

// Shows, in order, what waits for a page that has the keyboard now. What one shows may take the
// keyboard (its window comes to have it a little later), so each is asked about afresh.
void keyboardMoved() {
  static bool showing = false;
  if (showing) return;
  showing = true;
  for (;;) {
    auto& queue = waiting();
    std::erase_if(queue, [](const Waiting& each) { return !each.view.get(); });
    auto ready = std::find_if(queue.begin(), queue.end(), [](const Waiting& each) {
      auto view = each.view.get();
      return hasKeyboard(view.get());
    });
    if (ready == queue.end()) break;
    auto show = std::move(ready->show);
    queue.erase(ready);
    show();
  }
  showing = false;
}

void watchWindow(GtkWindow* window) {
  static constexpr const char* watched = "zorvel-page-focus-watched";
  if (!window || g_object_get_data(G_OBJECT(window), watched)) return;
  g_object_set_data(G_OBJECT(window), watched, GINT_TO_POINTER(1));
  auto moved = G_CALLBACK(+[](GtkWindow*, GParamSpec*, gpointer) { keyboardMoved(); });
  g_signal_connect(window, "notify::is-active", moved, nullptr);
  g_signal_connect(window, "notify::focus-widget", moved, nullptr);
}

}  // namespace

// The overlay over the page is the page's own dialog: the keyboard in it is still on the page.
bool hasKeyboard(WebKitWebView* view) {
  auto* window = windowOf(view);
  auto* focus = window && gtk_window_is_active(window) ? gtk_window_get_focus(window) : nullptr;
  return focus && WEBKIT_IS_WEB_VIEW(focus);
}

void whenBack(WebKitWebView* view, const char* what, std::function<void()> show) {
  if (!view || !show) return;
  const bool atPage = hasKeyboard(view);
  if (atPage && waiting().empty()) {
    show();
    return;
  }
  static const platform::Logger log("local.zorvel.desktop", "dialogs");
  if (!atPage)
    log.notice("Showing %{public}s once the keyboard is back on the page: the user is typing elsewhere", what);
  watchWindow(windowOf(view));
  waiting().push_back({GWeak<WebKitWebView>(view), std::move(show)});
  keyboardMoved();
}

}  // namespace zorvel::PageFocus
