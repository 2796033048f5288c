#include "app/TerminalPlaceholderView.h"

namespace zorvel {

TerminalPlaceholderView::TerminalPlaceholderView() : Gtk::Box(Gtk::Orientation::VERTICAL, 10) {
  add_css_class("zorvel-placeholder");
  set_valign(Gtk::Align::CENTER);
  set_halign(Gtk::Align::CENTER);
  taskTitle.add_css_class("title-2");
  taskTitle.set_wrap(true);
  statusDot.set_size_request(8, 8);
  statusDot.set_valign(Gtk::Align::CENTER);
  statusDot.add_css_class("zorvel-status-dot");
  statusRow.set_halign(Gtk::Align::CENTER);
  statusRow.append(statusDot);
  statusRow.append(status);
  detail.set_wrap(true);
  detail.set_justify(Gtk::Justification::CENTER);
  detail.add_css_class("dim-label");
  buttonRow.set_halign(Gtk::Align::CENTER);
  buttonRow.append(startButton);
  buttonRow.append(secondaryButton);
  startButton.signal_clicked().connect([this] {
    if (onStart) onStart();
  });
  statistics.set_visible(false);
  statisticsStack = &statistics;
  append(taskTitle);
  append(statusRow);
  append(detail);
  append(statistics);
  append(buttonRow);
}

TriageProgressView::TriageProgressView() : Gtk::Box(Gtk::Orientation::VERTICAL, 8) {
  add_css_class("zorvel-triage-progress");
}

}  // namespace zorvel
