#pragma once

#include <gtkmm.h>

namespace zorvel::DialogWindows {

// From now on, every window of the process other than the main window (the application's dialogs,
// the web engine's choosers, the file chooser's own windows) holds the keyboard and pointer of a
// window group of its own, and hears the application's Quit keys. A modal dialog in the main
// window's group would keep the window's menu and its closing from the user, and a dialog that
// hears no Quit keys would leave them doing nothing while it has the keyboard.
void adoptEveryOtherWindow(Gtk::Window& main, Gtk::Application& application);

}  // namespace zorvel::DialogWindows
