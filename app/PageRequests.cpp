#include "app/PageRequests.h"

#include <gtkmm.h>
#include <webkit/webkit.h>

#include <memory>
#include <vector>

#include "app/DialogWindows.h"
#include "app/PageActivation.h"
#include "app/PageFocus.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"
#include "platform/Log.h"

namespace zorvel::PageRequests {

namespace {

const platform::Logger& requestsLog() {
  static const platform::Logger log("local.zorvel.desktop", "dialogs");
  return log;
}

// The window of the view the chooser is shown over, if it is in one.
Gtk::Window* windowOf(WebKitWebView* view) {
  auto* root = view ? gtk_widget_get_root(GTK_WIDGET(view)) : nullptr;
  return root && GTK_IS_WINDOW(root) ? Glib::wrap(GTK_WINDOW(root), false) : nullptr;
}

// A chooser's request of the page, answered as cancelled unless the user chose, whatever became of
// the chooser (not shown as the page went away first, closed, or the application quitting).
template <class Request, void (*cancel)(Request*)>
struct PendingRequest {
  explicit PendingRequest(Request* request) : request(static_cast<Request*>(g_object_ref(request))) {}
  ~PendingRequest() {
    if (!answered) cancel(request.get());
  }
  PendingRequest(const PendingRequest&) = delete;
  PendingRequest& operator=(const PendingRequest&) = delete;
  GObjectPtr<Request> request;
  bool answered = false;
};
using FileRequest = PendingRequest<WebKitFileChooserRequest, webkit_file_chooser_request_cancel>;
using ColorRequest = PendingRequest<WebKitColorChooserRequest, webkit_color_chooser_request_cancel>;

void showFileChooser(WebKitWebView* view, std::shared_ptr<FileRequest> pending) {
  auto* request = pending->request.get();
  const bool several = webkit_file_chooser_request_get_select_multiple(request);
  auto chooser = Gtk::FileChooserNative::create(several ? "Select Files" : "Select File",
                                                Gtk::FileChooser::Action::OPEN, "_Open", "_Cancel");
  if (auto* window = windowOf(view)) chooser->set_transient_for(*window);
  chooser->set_select_multiple(several);
  if (auto* filter = webkit_file_chooser_request_get_mime_types_filter(request))
    chooser->add_filter(Glib::wrap(filter, true));
  // The chooser keeps itself and the request alive through its own handler until it has answered.
  chooser->signal_response().connect([chooser, pending](int response) mutable {
    auto keep = std::move(chooser);
    auto answering = std::move(pending);
    keep->hide();
    platform::DispatchQueue::main().async([keep] {});
    if (response != static_cast<int>(Gtk::ResponseType::ACCEPT)) return;
    std::vector<std::string> paths;
    auto files = keep->get_files();
    for (guint index = 0; files && index < files->get_n_items(); ++index) {
      auto file = std::dynamic_pointer_cast<Gio::File>(files->get_object(index));
      if (file && !file->get_path().empty()) paths.push_back(file->get_path());
    }
    if (paths.empty()) return;
    std::vector<const char*> chosen;
    for (auto& path : paths) chosen.push_back(path.c_str());
    chosen.push_back(nullptr);
    webkit_file_chooser_request_select_files(answering->request.get(), chosen.data());
    answering->answered = true;
  });
  chooser->show();
}

void showColorChooser(WebKitWebView* view, std::shared_ptr<ColorRequest> pending) {
  auto* dialog = new Gtk::ColorChooserDialog("Select Color");
  if (auto* window = windowOf(view)) dialog->set_transient_for(*window);
  GdkRGBA initial;
  webkit_color_chooser_request_get_rgba(pending->request.get(), &initial);
  dialog->set_rgba(Gdk::RGBA(&initial, true));
  dialog->set_use_alpha(false);
  dialog->signal_response().connect([dialog, pending](int response) mutable {
    auto answering = std::move(pending);
    dialog->set_visible(false);
    // Deleted once its signal handler has returned.
    platform::DispatchQueue::main().async([dialog] { delete dialog; });
    if (response != static_cast<int>(Gtk::ResponseType::OK) || !answering) return;
    auto chosen = dialog->get_rgba();
    webkit_color_chooser_request_set_rgba(answering->request.get(), chosen.gobj());
    webkit_color_chooser_request_finish(answering->request.get());
    answering->answered = true;
  });
  dialog->present();
  auto* select = dialog->get_widget_for_response(Gtk::ResponseType::OK);
  DialogWindows::holdAnswer(GTK_WINDOW(dialog->gobj()), select ? select->gobj() : nullptr);
}

// The application shows the choosers itself rather than leave them to the engine: a page may have
// one only for a press of the user's own on it, and it comes up when the keyboard is on the page,
// not over a terminal or another program the user went on to type in.
gboolean fileChooserRequested(WebKitWebView* view, WebKitFileChooserRequest* request, gpointer) {
  auto pending = std::make_shared<FileRequest>(request);
  if (!PageActivation::consumeOrRefuse(view, "Not showing a file chooser")) return TRUE;
  GWeak<WebKitWebView> weak(view);
  PageFocus::whenBack(view, "a file chooser of the page", [weak, pending] {
    if (auto live = weak.get()) showFileChooser(live.get(), pending);
  });
  return TRUE;
}

gboolean colorChooserRequested(WebKitWebView* view, WebKitColorChooserRequest* request, gpointer) {
  auto pending = std::make_shared<ColorRequest>(request);
  if (!PageActivation::consumeOrRefuse(view, "Not showing a colour chooser")) return TRUE;
  GWeak<WebKitWebView> weak(view);
  PageFocus::whenBack(view, "a colour chooser of the page", [weak, pending] {
    if (auto live = weak.get()) showColorChooser(live.get(), pending);
  });
  return TRUE;
}

// A frame or a resource of the page that a server asks a login for fails as if it had been
// declined; the engine would otherwise ask for one over the page as often as the page loads it.
gboolean loginRequested(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
  const char* host = webkit_authentication_request_get_host(request);
  requestsLog().error("Not asking for a login to %{public}s: the application's pages sign in nowhere",
                      host ? host : "a server");
  webkit_authentication_request_cancel(request);
  return TRUE;
}

}  // namespace

void attach(WebKitWebView* view) {
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(fileChooserRequested), nullptr);
  g_signal_connect(view, "run-color-chooser", G_CALLBACK(colorChooserRequested), nullptr);
  g_signal_connect(view, "authenticate", G_CALLBACK(loginRequested), nullptr);
}

}  // namespace zorvel::PageRequests
