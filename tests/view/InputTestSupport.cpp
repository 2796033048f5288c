// Kept apart from the header: the X headers' macros (None, Status, Bool) would reach every test.
#include "InputTestSupport.h"

#include <gdk/x11/gdkx.h>

namespace vantrelle::testing {

std::string xWindowOf(Gtk::Window& window) {
  GdkSurface* surface = window.get_surface() ? window.get_surface()->gobj() : nullptr;
  if (!surface || !GDK_IS_X11_SURFACE(surface)) return "";
  return std::to_string(gdk_x11_surface_get_xid(surface));
}

}  // namespace vantrelle::testing
