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
    lendMouseReporting(*view, *reporting);
    break;
  }
  return false;  // every event is delivered exactly once, by the normal path
}

void ZorvelWindow::lendMouseReporting(Gtk::Widget& view, MouseReportingView& reporting) {
  bool remembered = reporting.allowMouseReporting();
  reporting.setAllowMouseReporting(true);
  // The event is delivered after this capture handler returns; the setting goes back once that
  // delivery is over. Work queued before then (a page message stopping the terminal) may have
  // released the view, so the restore is tied to the view's life.
  MouseReportingView* target = &reporting;
  Glib::signal_idle().connect_once(
      sigc::track_object([target, remembered] { target->setAllowMouseReporting(remembered); }, view),
      Glib::PRIORITY_HIGH);
}

WindowSizes windowSizesFor(std::optional<std::pair<int, int>> screen) {
  WindowSizes sizes{1400, 820, 900, 560};
  if (!screen || screen->first <= 0 || screen->second <= 0) return sizes;
  // Room is left for the menu bar, the window's frame and the desktop's panels.
  auto [width, height] = *screen;
  sizes.width = std::min(sizes.width, width * 9 / 10);
  sizes.height = std::min(sizes.height, height * 9 / 10);
  sizes.minimumWidth = std::min(sizes.minimumWidth, width * 8 / 10);
  sizes.minimumHeight = std::min(sizes.minimumHeight, height * 8 / 10);
  return sizes;
}

double storedSidebarWidth(std::optional<double> stored) {
  if (!stored) return 360;
  return std::clamp(*stored, 280.0, 560.0);
}

}  // namespace zorvel
