#include "app/ModalOverlayViews.h"

namespace zorvel {

ModalOverlayPanel::ModalOverlayPanel() {
  set_focusable(true);
  add_css_class("zorvel-modal-panel");
}

ModalBackdropView::ModalBackdropView() {
  add_css_class("zorvel-modal-backdrop");
  auto click = Gtk::GestureClick::create();
  click->set_button(0);
  click->signal_pressed().connect([this, click = click.get()](int, double, double) {
    click->set_state(Gtk::EventSequenceState::CLAIMED);
    if (onDismiss) onDismiss();
  });
  add_controller(click);
}

ModalContentHostView::ModalContentHostView() {
  add_css_class("zorvel-modal-host");
  set_overflow(Gtk::Overflow::HIDDEN);
}

}  // namespace zorvel
