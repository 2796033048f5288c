#pragma once

#include <gtkmm.h>

#include <functional>
#include <optional>

namespace zorvel {

// The modal overlay's panel: a child of the window's overlay that can take the keyboard for its
// web view while the main window stays the main window.
class ModalOverlayPanel : public Gtk::Box {
 public:
  ModalOverlayPanel();
};

// The dimmed area around the overlay's content; a click on it dismisses the overlay and goes no
// further. It centres its one child at the content size it is given, never wider or taller than
// itself, so a small window squeezes the dialog instead of spilling it.
class ModalBackdropView : public Gtk::Widget {
 public:
  ModalBackdropView();
  ~ModalBackdropView() override;
  std::function<void()> onDismiss;

  void setContent(Gtk::Widget* content);
  void setContentWidth(std::optional<double> width);
  void setContentHeight(std::optional<double> height);
  Gtk::Widget* content() const { return child; }

 protected:
  Gtk::SizeRequestMode get_request_mode_vfunc() const override;
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                     int& naturalBaseline) const override;
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  Gtk::Widget* child = nullptr;
  std::optional<double> contentWidth;
  std::optional<double> contentHeight;
};

// Holds the overlay's content; its rounded shadow follows its size.
class ModalContentHostView : public Gtk::Box {
 public:
  ModalContentHostView();
};

}  // namespace zorvel
