#include "Vantrelle/View/TerminalViewDelegate.h"

#include <gdk/gdk.h>
#include <glib.h>

#include "Vantrelle/View/TerminalView.h"
#include "platform/LinkOpener.h"

namespace vantrelle {

void TerminalViewDelegate::requestOpenLink(TerminalView&, const std::string& link,
                                           const std::map<std::string, std::string>&) {
  // The link is the program's: only a well-formed one of a scheme some application has registered
  // for is handed over, never a local file.
  platform::LinkOpener::open(link);
}

void TerminalViewDelegate::bell(TerminalView& source) {
  if (GdkDisplay* display = gdk_display_get_default()) gdk_display_beep(display);
}

}  // namespace vantrelle
