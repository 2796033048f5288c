#pragma once

// Tests of widgets and of the application object need GTK on a display; it is started once per
// process, and tests skip themselves where there is no display.

#include <gtk/gtk.h>
#include <gtkmm/init.h>

namespace zorvel {

inline bool gtkDisplayReady() {
  static const bool ready = [] {
    if (!gtk_init_check()) return false;
    Gtk::init_gtkmm_internals();
    return true;
  }();
  return ready;
}

}  // namespace zorvel
