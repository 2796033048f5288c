#pragma once

#include <gtkmm.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zorvel {

// The colours a panel's status dot shows.
enum class StatusDotColor { grey, red, green, teal, orange };
void setStatusDotColor(Gtk::Widget& dot, StatusDotColor color);
// The rounded translucent look both terminal-area panels share.
void installPanelStyle();

// One of the panel's two buttons: its label, whether it is shown (and so clickable), and what it
// does. A hidden button keeps its action for the flows that ask for it directly.
struct PlaceholderAction {
  std::string label;
  bool shown = false;
  std::function<void()> run;
};

// The texts of the panel's statistics block.
struct PlaceholderStatistics {
  std::string metrics;
  std::string toolNames;
  std::string output;
};

// Everything the placeholder panel shows, set in one go.
struct PlaceholderContent {
  std::string title = "No active terminal";
  std::string status = "Terminal stopped";
  StatusDotColor dot = StatusDotColor::grey;
  std::string detail;
  PlaceholderAction start{"START", false, nullptr};
  PlaceholderAction secondary;
  // Without statistics the block is hidden and the panel is short.
  std::optional<PlaceholderStatistics> statistics;
};

// What the terminal area shows when no task terminal runs: the task, its state, optional
// statistics and up to two actions. The flows fill it; it keeps no task state of its own.
class TerminalPlaceholderView : public Gtk::Box {
 public:
  TerminalPlaceholderView();

  static std::string compactNumber(std::int64_t value);
  // At most four lines of agent output.
  static std::string outputPreview(const std::optional<std::string>& text);

  void setContent(const PlaceholderContent& content);
  void startRequested();
  void secondaryRequested();

  Gtk::Label heading{"TERMINAL"};
  Gtk::Label taskTitle;
  Gtk::Box statusDot;
  Gtk::Label status{"Terminal stopped"};
  Gtk::Label detail;
  Gtk::Label metrics;
  Gtk::Label toolNamesLabel{"TOOLS USED"};
  Gtk::Label toolNames;
  Gtk::Label outputLabel{"LAST AGENT OUTPUT"};
  Gtk::Label output;
  Gtk::Button startButton{"START"};
  Gtk::Button secondaryButton;
  Gtk::Box* statisticsStack = nullptr;
  std::function<void()> onStart;
  std::function<void()> onSecondary;
  double preferredHeight = 224.0;

 private:
  Gtk::Box content{Gtk::Orientation::VERTICAL, 14};
  Gtk::Box header{Gtk::Orientation::VERTICAL, 4};
  Gtk::Box statusRow{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Box toolsGroup{Gtk::Orientation::VERTICAL, 5};
  Gtk::Box outputGroup{Gtk::Orientation::VERTICAL, 5};
  Gtk::Box statistics{Gtk::Orientation::VERTICAL, 12};
  Gtk::Box buttonRow{Gtk::Orientation::HORIZONTAL, 10};
};

// A panel's width inside a terminal container of the given width: 72 % of it, at most `limit`,
// and always 48 points clear of each side.
int terminalPanelWidth(double containerWidth, double limit);

// Shared label styling of the panels.
void stylePanelLabel(Gtk::Label& label, const char* styleClass, int maxLines = 1, bool wrap = false);

}  // namespace zorvel
