#include "app/PageRequests.h"

#include <webkit/webkit.h>

#include "app/PageActivation.h"
#include "platform/Log.h"

namespace zorvel::PageRequests {

namespace {

const platform::Logger& requestsLog() {
  static const platform::Logger log("local.zorvel.desktop", "dialogs");
  return log;
}

// The web engine shows the chooser it was not kept from; one it was is answered as cancelled.
gboolean fileChooserRequested(WebKitWebView* view, WebKitFileChooserRequest* request, gpointer) {
  if (PageActivation::consumeOrRefuse(view, "Not showing a file chooser")) return FALSE;
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}

gboolean colorChooserRequested(WebKitWebView* view, WebKitColorChooserRequest* request, gpointer) {
  if (PageActivation::consumeOrRefuse(view, "Not showing a colour chooser")) return FALSE;
  webkit_color_chooser_request_cancel(request);
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
