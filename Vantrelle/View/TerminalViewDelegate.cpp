#include "Vantrelle/View/TerminalViewDelegate.h"

#include <gdk/gdk.h>
#include <gio/gio.h>
#include <glib.h>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalViewDelegate::requestOpenLink(TerminalView&, const std::string& link,
                                           const std::map<std::string, std::string>&) {
  // Only well-formed absolute URIs reach the desktop's handler; anything else from the program
  // is ignored.
  if (!g_uri_is_valid(link.c_str(), G_URI_FLAGS_NONE, nullptr)) return;
  g_app_info_launch_default_for_uri_async(link.c_str(), nullptr, nullptr, nullptr, nullptr);
}

void TerminalViewDelegate::bell(TerminalView& source) {
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
}

}  // namespace vantrelle
