#pragma once

#include <string>
#include <vector>

#include "app/ScriptMessageTarget.h"

// Logs every operation the dispatcher calls as one line, like "theme dark".
class RecordingScriptMessageTarget : public zorvel::ScriptMessageTarget {
 public:
  std::vector<std::string> calls;
  std::map<std::string, std::string> titles;
  std::map<std::string, zorvel::TaskStatisticsDisplay> statistics;
  bool resizing = false;
  std::optional<std::int64_t> overlayGeneration;
  std::vector<std::string> runningTerminals;

  std::map<std::string, std::string>& taskTitles() override { return titles; }
  std::map<std::string, zorvel::TaskStatisticsDisplay>& taskStatistics() override { return statistics; }
  bool& sidebarResizeInProgress() override { return resizing; }
  std::optional<std::int64_t> activeModalOverlayGeneration() const override { return overlayGeneration; }

  void recordWebMemoryProfile(const nlohmann::json&) override { log("profile"); }
  void applyTheme(bool dark) override { log(dark ? "theme dark" : "theme light"); }
  void showModalOverlay(const std::string& kind, const std::optional<nlohmann::json>& errorEvent,
                        const std::optional<nlohmann::json>& payload, bool) override {
    log("overlay " + kind + (errorEvent ? " error" : "") + (payload ? " payload" : ""));
  }
  void dispatchModalOverlayResult(const nlohmann::json&) override { log("overlay-result"); }
  void closeModalOverlay(bool restore) override { log(restore ? "close-overlay restore" : "close-overlay"); }
  void resizeModalOverlay(double w, double h) override {
    log("resize-overlay " + std::to_string(int(w)) + "x" + std::to_string(int(h)));
  }
  bool modalOverlayReady() override {
    log("overlay-ready");
    return true;
  }
  void modalOverlayHostReady() override { log("overlay-host-ready"); }
  void scheduleNativeNotification(const nlohmann::json&) override { log("notify"); }
  void logNativeNotificationDebug(std::int64_t count, const std::string& task, bool bridge) override {
    log("notify-debug " + std::to_string(count) + " " + task + " " + (bridge ? "true" : "false"));
  }
  void proxyFetch(const nlohmann::json&, WebKitWebView*) override { log("fetch"); }
  void openEventStream(const nlohmann::json&) override { log("stream-open"); }
  void closeEventStream(const std::string& id) override { log("stream-close " + id); }
  void showWebFailure(const std::string& message, bool transient) override {
    log("failure " + message + (transient ? " transient" : ""));
  }
  void pickExecutable(const std::string& agent) override { log("pick-executable " + agent); }
  void pickProjectDirectory(const std::optional<std::string>& project) override {
    log("pick-project " + project.value_or("none"));
  }
  void startAgentProfileLogin(const std::string& profile) override { log("profile-login " + profile); }
  void enterTerminalLayout() override { log("enter-layout"); }
  void exitTerminalLayout() override { log("exit-layout"); }
  bool hasTerminal(const std::string& taskID) const override {
    return std::find(runningTerminals.begin(), runningTerminals.end(), taskID) != runningTerminals.end();
  }
  void showTerminal(const std::string&, bool focus) override { log(focus ? "show-terminal focus" : "show-terminal"); }
  void createTerminal(const zorvel::TaskMessage&) override { log("create-terminal"); }
  void showPlaceholder(const std::string& text, const std::optional<std::string>&, const std::optional<std::string>&,
                       const std::optional<zorvel::TaskStatisticsDisplay>& stats) override {
    log("placeholder " + text + (stats ? " stats" : ""));
  }
  void showTriageProgress(const std::string&, const std::string&, const zorvel::TriageDisplay&) override {
    log("triage-progress");
  }
  void showTriageRecovery(const zorvel::TriageRecoveryMessage&) override { log("triage-recovery"); }
  void stopTerminal(const std::string&) override { log("stop-terminal"); }
  void preserveActiveTerminalFocusForSidebarRefresh() override { log("preserve-focus"); }
  void restoreActiveTerminalFocusAfterSidebarRefresh() override { log("restore-focus"); }
  void logTerminalResize(const std::string& stage) override { log("resize-log " + stage); }
  void endTaskSidebarResize(double w) override { log("sidebar-end " + std::to_string(int(w))); }
  void setTaskSidebarWidth(double w, bool, bool persist) override {
    log("sidebar-width " + std::to_string(int(w)) + (persist ? " persist" : ""));
  }

 private:
  void log(std::string line) { calls.push_back(std::move(line)); }
};
