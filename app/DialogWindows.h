#pragma once

#include <gtkmm.h>

#include <functional>

namespace zorvel::DialogWindows {

// From now on, every window of the process other than the main window (the application's dialogs,
// the web engine's choosers, the file chooser's own windows) holds the keyboard and pointer of a
// window group of its own, and hears the application's Quit keys. A modal dialog in the main
// window's group would keep the window's menu and its closing from the user, and a dialog that
// hears no Quit keys would leave them doing nothing while it has the keyboard.
// None asks the window manager to hold the main window for it either (its group already keeps it
// from doing so within the application): a manager would then hand it the keyboard at every click
// on the main window, and the user could type into a task terminal only after answering it.
// And none takes a key the user was pressing for something else as it comes up (`KeyGuard`).
void adoptEveryOtherWindow(Gtk::Window& main, Gtk::Application& application);

// The window's answer that the button gives (its default: OK, Leave, Capture, Print) can be given
// only once the window has held the keyboard for a moment, so a click or Return meant for what
// the user was doing as it came up cannot give it. `answerable` runs then.
void holdAnswer(GtkWindow* window, GtkWidget* button, std::function<void()> answerable = {});

// The same for a part of the main window that takes its keyboard as it comes up (the overlay over
// the page): from now on it takes no key but Escape and the Quit keys, until a moment after it was
// shown to the user (`shownWithKeys`), and no key pressed before then as it repeats.
void holdKeys(GtkWidget* widget);
void shownWithKeys(GtkWidget* widget);

}  // namespace zorvel::DialogWindows
