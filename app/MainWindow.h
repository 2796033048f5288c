#pragma once

#include <gtkmm.h>
#include <gtkmm/eventcontrollerlegacy.h>

#include <optional>
#include <utility>

namespace zorvel {

// A view whose mouse reports to its program can be switched; terminal views are such views.
class MouseReportingView {
 public:
  virtual ~MouseReportingView() = default;
  virtual bool allowMouseReporting() const = 0;
  virtual void setAllowMouseReporting(bool allow) = 0;
};

// The main window. The scroll wheel over a terminal view reaches the program in it when that
// program asked for mouse reports, while other mouse events stay with the view.
class ZorvelWindow : public Gtk::ApplicationWindow {
 public:
  ZorvelWindow();
  // Lets the view report mouse events until the event being delivered has been handled, then
  // gives it its own setting back, unless the view is gone by then.
  static void lendMouseReporting(Gtk::Widget& view, MouseReportingView& reporting);

 private:
  bool routeScroll(const Glib::RefPtr<const Gdk::Event>& event);
};

// The terminal area's leading edge, as a distance from the window's leading edge.
class LeadingConstraint {
 public:
  explicit LeadingConstraint(Gtk::Widget& widget) : widget(&widget) {}
  double constant() const { return widget->get_margin_start(); }
  void setConstant(double value) { widget->set_margin_start(static_cast<int>(value)); }

 private:
  Gtk::Widget* widget;
};

// The window's first size and the least its content asks for, both within a screen of the given
// size (logical pixels; none when no screen is known), so the whole window, the terminal's last
// rows among it, is on a screen smaller than the usual size, a scaled one above all.
struct WindowSizes {
  int width, height;
  int minimumWidth, minimumHeight;
};
WindowSizes windowSizesFor(std::optional<std::pair<int, int>> screen);

// The sidebar width kept from an earlier run, clamped to its bounds; 360 when none is kept.
double storedSidebarWidth(std::optional<double> stored);

}  // namespace zorvel
