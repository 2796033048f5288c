#pragma once

#include <gtkmm.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/TaskRecords.h"

namespace zorvel {

// What the terminal area shows while the core analyses a task: the run's kind and state, its
// counters, tools, last output and a history of the agent's actions.
class TriageProgressView : public Gtk::Box {
 public:
  TriageProgressView();

  // Refills every part of the panel, so nothing of an earlier task survives.
  void configure(const std::string& title, const TriageDisplay& triage);
  void skipTriage();

  static std::string headingText(const std::string& kind);
  // The status line and whether the panel waits for the agent's first model response.
  static std::pair<std::string, bool> statusText(const TriageDisplay& triage);
  // The status with its local "HH:mm" time; nothing for an absent or empty status.
  static std::optional<std::string> triageStatus(const TriageDisplay& triage);
  static std::string usageSummary(const AgentActionDisplay& action);
  static std::string actionHistory(const std::vector<AgentActionDisplay>& actions);
  static std::string actionTime(const std::string& text);
  static std::string outputPreview(const std::optional<std::string>& text);
  static std::string toolNamesText(const std::vector<std::string>& names, const char* none);
  static std::string metricsText(std::int64_t toolCalls, std::int64_t totalTokens, std::int64_t outputTokens);

  Gtk::Label heading{"TRIAGE"};
  Gtk::Label taskTitle;
  Gtk::Box statusDot;
  Gtk::Label statusLabel;
  Gtk::Label statusDetail;
  Gtk::Label statusUsage;
  Gtk::TextView actions;
  Gtk::ScrolledWindow actionsScrollView;
  Gtk::Label metrics;
  Gtk::Label toolNamesLabel{"TOOLS USED"};
  Gtk::Label toolNames;
  Gtk::Label outputLabel{"LAST AGENT OUTPUT"};
  Gtk::Label output;
  Gtk::Button skipButton{"Go to terminal (skip triage)"};
  std::function<void()> onSkip;

 private:
  void updatePulse(bool isRunning);

  Gtk::Box content{Gtk::Orientation::VERTICAL, 16};
  Gtk::Box header{Gtk::Orientation::VERTICAL, 4};
  Gtk::Box statusTexts{Gtk::Orientation::VERTICAL, 3};
  Gtk::Box statusRow{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Box toolsGroup{Gtk::Orientation::VERTICAL, 5};
  Gtk::Box outputGroup{Gtk::Orientation::VERTICAL, 5};
};

}  // namespace zorvel
