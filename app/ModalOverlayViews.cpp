#include "app/ModalOverlayViews.h"

#include <algorithm>
#include <cmath>

namespace zorvel {

ModalOverlayPanel::ModalOverlayPanel() {
  set_focusable(true);
  add_css_class("zorvel-modal-panel");
}

ModalBackdropView::ModalBackdropView() {
  set_name("zorvel-modal-backdrop");
  add_css_class("zorvel-modal-backdrop");
  set_hexpand(true);
  set_vexpand(true);
  auto click = Gtk::GestureClick::create();
  click->set_button(0);
  click->signal_pressed().connect([this, click = click.get()](int, double x, double y) {
    // Clicks inside the dialog belong to the dialog.
    if (child && child->get_visible()) {
      double cx = 0, cy = 0;
      if (translate_coordinates(*child, x, y, cx, cy) && child->contains(cx, cy)) return;
    }
    click->set_state(Gtk::EventSequenceState::CLAIMED);
    if (onDismiss) onDismiss();
  });
  add_controller(click);
}

ModalBackdropView::~ModalBackdropView() {
  if (child) child->unparent();
}

void ModalBackdropView::setContent(Gtk::Widget* content) {
  if (child == content) return;
  if (child) child->unparent();
  child = content;
  if (child) child->set_parent(*this);
  queue_resize();
}

void ModalBackdropView::setContentWidth(std::optional<double> width) {
  contentWidth = width;
  queue_allocate();
}

void ModalBackdropView::setContentHeight(std::optional<double> height) {
  contentHeight = height;
  queue_allocate();
}

Gtk::SizeRequestMode ModalBackdropView::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

void ModalBackdropView::measure_vfunc(Gtk::Orientation, int, int& minimum, int& natural, int& minimumBaseline,
                                      int& naturalBaseline) const {
  minimum = natural = 0;
  minimumBaseline = naturalBaseline = -1;
}

void ModalBackdropView::size_allocate_vfunc(int width, int height, int) {
  if (!child) return;
  int childMinimumWidth = 0, childMinimumHeight = 0, ignored = 0;
  child->measure(Gtk::Orientation::HORIZONTAL, -1, childMinimumWidth, ignored, ignored, ignored);
  child->measure(Gtk::Orientation::VERTICAL, -1, childMinimumHeight, ignored, ignored, ignored);
  auto side = [](std::optional<double> wanted, int available, int minimum) {
    int size = wanted ? static_cast<int>(std::lround(*wanted)) : available;
    return std::max(std::min(size, available), minimum);
  };
  int w = side(contentWidth, width, childMinimumWidth);
  int h = side(contentHeight, height, childMinimumHeight);
  Gtk::Allocation allocation((width - w) / 2, (height - h) / 2, w, h);
  child->size_allocate(allocation, -1);
}

ModalContentHostView::ModalContentHostView() {
  add_css_class("zorvel-modal-host");
  set_overflow(Gtk::Overflow::HIDDEN);
}

}  // namespace zorvel
