#include "Vantrelle/View/TerminalProgressBarView.h"

#include <gtkmm/snapshot.h>

namespace vantrelle {

TerminalProgressBarView::TerminalProgressBarView()
    : Glib::ObjectBase("VantrelleTerminalProgressBar") {
  set_can_target(false);
}

void TerminalProgressBarView::apply(ProgressReportState newState, std::optional<uint8_t> newValue) {
  state = newState;
  value = newValue;
  set_visible(state != ProgressReportState::remove);
  queue_draw();
}

void TerminalProgressBarView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  double width = get_width(), height = get_height();
  double fraction = value ? std::min<double>(*value, 100) / 100.0 : 1.0;
  Gdk::RGBA color;
  switch (state) {
    case ProgressReportState::error:
      color.set_rgba(0.86, 0.2, 0.2);
      break;
    case ProgressReportState::pause:
      color.set_rgba(0.9, 0.7, 0.1);
      break;
    default:
      color.set_rgba(0.2, 0.5, 0.95);
      break;
  }
  snapshot->append_color(color, Gdk::Rectangle(0, 0, int(width * fraction), int(height)));
}

}  // namespace vantrelle
