#include "app/MainWindow.h"

#include <algorithm>

namespace zorvel {

ZorvelWindow::ZorvelWindow() {
  auto legacy = Gtk::EventControllerLegacy::create();
  legacy->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  legacy->signal_event().connect(sigc::mem_fun(*this, &ZorvelWindow::routeScroll), false);
  add_controller(legacy);
}

bool ZorvelWindow::routeScroll(const Glib::RefPtr<const Gdk::Event>& event) {
  if (!event || event->get_event_type() != Gdk::Event::Type::SCROLL || !get_child()) return false;
  double x = 0, y = 0;
  if (!event->get_position(x, y)) return false;
  double offsetX = 0, offsetY = 0;
  gtk_native_get_surface_transform(GTK_NATIVE(gobj()), &offsetX, &offsetY);
  Gtk::Widget* hit = pick(x - offsetX, y - offsetY, Gtk::PickFlags::DEFAULT);
  for (Gtk::Widget* view = hit; view; view = view->get_parent()) {
    auto* reporting = dynamic_cast<MouseReportingView*>(view);
    if (!reporting) continue;
    bool remembered = reporting->allowMouseReporting();
    reporting->setAllowMouseReporting(true);
    // The event is delivered after this capture handler returns; give the view its own setting
    // back once that delivery is over.
    Glib::signal_idle().connect_once(
        [reporting, remembered] { reporting->setAllowMouseReporting(remembered); },
        Glib::PRIORITY_HIGH);
    break;
  }
  return false;  // every event is delivered exactly once, by the normal path
}

double storedSidebarWidth(std::optional<double> stored) {
  if (!stored) return 360;
  return std::clamp(*stored, 280.0, 560.0);
}

}  // namespace zorvel
