#include "app/PageFocus.h"

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"
#include "platform/Log.h"

namespace zorvel::PageFocus {

namespace {

const platform::Logger& dialogsLog() {
  static const platform::Logger log("local.zorvel.desktop", "dialogs");
  return log;
}

struct Waiting {
  GWeak<WebKitWebView> view;
  std::string what;
  std::function<void()> show;
  std::function<void()> dropped;
};

std::deque<Waiting>& waiting() {
  static std::deque<Waiting> queue;
  return queue;
}

GtkWindow* windowOf(WebKitWebView* view) {
  auto* root = view ? gtk_widget_get_root(GTK_WIDGET(view)) : nullptr;
  return root && GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

// Whether a dialog stands over the window: one of the page's, the application's own, or a chooser.
bool dialogOver(GtkWindow* window) {
  if (!window) return false;
  GListModel* windows = gtk_window_get_toplevels();
  for (guint index = 0, count = g_list_model_get_n_items(windows); index < count; ++index) {
    GObjectPtr<GObject> item(static_cast<GObject*>(g_list_model_get_item(windows, index)));
    if (!item || !GTK_IS_WINDOW(item.get())) continue;
    auto* other = GTK_WINDOW(item.get());
    if (other != window && gtk_widget_get_visible(GTK_WIDGET(other)) && gtk_window_get_transient_for(other) == window)
      return true;
  }
  return false;
}

bool ready(WebKitWebView* view) { return hasKeyboard(view) && !dialogOver(windowOf(view)); }

// Takes out of the queue what the predicate picks, and tells each that it will not show.
template <typename Predicate>
void drop(Predicate picked) {
  std::vector<Waiting> gone;
  auto& queue = waiting();
  for (auto each = queue.begin(); each != queue.end();) {
    if (picked(*each)) {
      gone.push_back(std::move(*each));
      each = queue.erase(each);
    } else {
      ++each;
    }
  }
  for (auto& each : gone) {
    if (each.view.get())
      dialogsLog().notice("Not showing %{public}s: the page that asked for it has gone", each.what.c_str());
    if (each.dropped) each.dropped();
  }
}

// Shows, in order, what waits for a page that has the keyboard now. What waited comes one at a
// time: the user who comes back finds one thing to answer, not all that was asked for meanwhile
// stacked up. What one shows may take the keyboard or stand over the window, so each is asked
// about afresh.
void keyboardMoved() {
  static bool showing = false;
  if (showing) return;
  showing = true;
  for (;;) {
    drop([](const Waiting& each) { return !each.view.get(); });
    auto& queue = waiting();
    auto next = std::find_if(queue.begin(), queue.end(), [](const Waiting& each) {
      auto view = each.view.get();
      return ready(view.get());
    });
    if (next == queue.end()) break;
    auto show = std::move(next->show);
    queue.erase(next);
    show();
  }
  showing = false;
}

// A dialog that goes may let the next one come: it is asked about once the dialog has gone.
void watchDialogs() {
  static bool watching = false;
  if (watching) return;
  watching = true;
  g_signal_connect(gtk_window_get_toplevels(), "items-changed",
                   G_CALLBACK(+[](GListModel*, guint, guint, guint, gpointer) {
                     if (waiting().empty()) return;
                     platform::DispatchQueue::main().async([] { keyboardMoved(); });
                   }),
                   nullptr);
}

void watchWindow(GtkWindow* window) {
  static constexpr const char* watched = "zorvel-page-focus-watched";
  if (!window || g_object_get_data(G_OBJECT(window), watched)) return;
  g_object_set_data(G_OBJECT(window), watched, GINT_TO_POINTER(1));
  auto moved = G_CALLBACK(+[](GtkWindow*, GParamSpec*, gpointer) { keyboardMoved(); });
  g_signal_connect(window, "notify::is-active", moved, nullptr);
  g_signal_connect(window, "notify::focus-widget", moved, nullptr);
}

constexpr const char* pageKey = "zorvel-page-focus-page";

// Counts the view's pages from the first call on; each page the view commits to drops what its
// last one asked for.
void watchPages(WebKitWebView* view) {
  if (g_object_get_data(G_OBJECT(view), pageKey)) return;
  g_object_set_data(G_OBJECT(view), pageKey, GUINT_TO_POINTER(1));
  g_signal_connect(view, "load-changed", G_CALLBACK(+[](WebKitWebView* loading, WebKitLoadEvent event, gpointer) {
                     if (event != WEBKIT_LOAD_COMMITTED) return;
                     const unsigned now = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(loading), pageKey)) + 1;
                     g_object_set_data(G_OBJECT(loading), pageKey, GUINT_TO_POINTER(now));
                     drop([loading](const Waiting& each) { return each.view.get().get() == loading; });
                   }),
                   nullptr);
}

}  // namespace

// The overlay over the page is the page's own dialog: the keyboard in it is still on the page.
bool hasKeyboard(WebKitWebView* view) {
  auto* window = windowOf(view);
  auto* focus = window && gtk_window_is_active(window) ? gtk_window_get_focus(window) : nullptr;
  return focus && WEBKIT_IS_WEB_VIEW(focus);
}

unsigned page(WebKitWebView* view) {
  if (!view) return 0;
  watchPages(view);
  return GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(view), pageKey));
}

void whenBack(WebKitWebView* view, const char* what, std::function<void()> show, std::function<void()> dropped) {
  if (!view || !show) return;
  watchPages(view);
  const bool atPage = hasKeyboard(view);
  if (atPage && waiting().empty()) {
    show();
    return;
  }
  if (!atPage)
    dialogsLog().notice("Showing %{public}s once the keyboard is back on the page: the user is typing elsewhere", what);
  watchWindow(windowOf(view));
  watchDialogs();
  waiting().push_back({GWeak<WebKitWebView>(view), what, std::move(show), std::move(dropped)});
  keyboardMoved();
}

}  // namespace zorvel::PageFocus
