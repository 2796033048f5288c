#pragma once

#include <functional>

#include <gtkmm.h>

namespace zorvel {

// What the terminal area shows when no task terminal runs: the task, its state and an action.
class TerminalPlaceholderView : public Gtk::Box {
 public:
  TerminalPlaceholderView();

  Gtk::Label taskTitle;
  Gtk::Label status;
  Gtk::Label detail;
  Gtk::Box statusDot;
  Gtk::Button startButton;
  Gtk::Button secondaryButton;
  Gtk::Box* statisticsStack = nullptr;
  std::function<void()> onStart;
  double preferredHeight = 224;

 private:
  Gtk::Box statusRow{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Box buttonRow{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Box statistics{Gtk::Orientation::VERTICAL, 4};
};

// The progress of a task's triage, shown in the terminal area while it runs.
class TriageProgressView : public Gtk::Box {
 public:
  TriageProgressView();
};

}  // namespace zorvel
