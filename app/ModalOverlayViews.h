#pragma once

#include <functional>

#include <gtkmm.h>

namespace zorvel {

// The modal overlay's panel: a child of the window's overlay that can take the keyboard for its
// web view while the main window stays the main window.
class ModalOverlayPanel : public Gtk::Box {
 public:
  ModalOverlayPanel();
};

// The dimmed area around the overlay's content; a click on it dismisses the overlay and goes no
// further.
class ModalBackdropView : public Gtk::Box {
 public:
  ModalBackdropView();
  std::function<void()> onDismiss;
};

// Holds the overlay's content; its rounded shadow follows its size.
class ModalContentHostView : public Gtk::Box {
 public:
  ModalContentHostView();
};

}  // namespace zorvel
