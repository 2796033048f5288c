#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/TaskRecords.h"

typedef struct _WebKitWebView WebKitWebView;

namespace zorvel {

// What the script-message dispatcher drives: the operations and the few pieces of delegate
// state its kinds act on. The application delegate implements it; tests record the calls.
class ScriptMessageTarget {
 public:
  virtual ~ScriptMessageTarget() = default;

  virtual std::map<std::string, std::string>& taskTitles() = 0;
  virtual std::map<std::string, TaskStatisticsDisplay>& taskStatistics() = 0;
  virtual bool& sidebarResizeInProgress() = 0;
  virtual std::optional<std::int64_t> activeModalOverlayGeneration() const = 0;

  virtual void recordWebMemoryProfile(const nlohmann::json& body) = 0;
  virtual void applyTheme(bool dark) = 0;
  virtual void showModalOverlay(const std::string& kind, const std::optional<nlohmann::json>& errorEvent,
                                const std::optional<nlohmann::json>& payload, bool prewarming) = 0;
  virtual void dispatchModalOverlayResult(const nlohmann::json& body) = 0;
  virtual void closeModalOverlay(bool restoreTerminalFocus) = 0;
  virtual void resizeModalOverlay(double width, double height) = 0;
  // The overlay page of the active generation is ready; false when there is no overlay panel.
  virtual bool modalOverlayReady() = 0;
  virtual void modalOverlayHostReady() = 0;
  virtual void scheduleNativeNotification(const nlohmann::json& body) = 0;
  virtual void logNativeNotificationDebug(std::int64_t eventCount, const std::string& taskID, bool bridgeAvailable) = 0;
  virtual void proxyFetch(const nlohmann::json& body, WebKitWebView* source) = 0;
  virtual void openEventStream(const nlohmann::json& body) = 0;
  // Removes and cancels the stream under the id, if there is one.
  virtual void closeEventStream(const std::string& id) = 0;
  virtual void showWebFailure(const std::string& message, bool transient) = 0;
  virtual void pickExecutable(const std::string& agent) = 0;
  virtual void pickProjectDirectory(const std::optional<std::string>& projectID) = 0;
  virtual void startAgentProfileLogin(const std::string& profileID) = 0;

  virtual void enterTerminalLayout() = 0;
  virtual void exitTerminalLayout() = 0;
  virtual bool hasTerminal(const std::string& taskID) const = 0;
  virtual void showTerminal(const std::string& taskID, bool focus) = 0;
  virtual void createTerminal(const TaskMessage& message) = 0;
  virtual void showPlaceholder(const std::string& text, const std::optional<std::string>& title,
                               const std::optional<std::string>& taskID,
                               const std::optional<TaskStatisticsDisplay>& statistics) = 0;
  virtual void showTriageProgress(const std::string& taskID, const std::string& title, const TriageDisplay& triage) = 0;
  virtual void showTriageRecovery(const TriageRecoveryMessage& message) = 0;
  virtual void stopTerminal(const std::string& taskID) = 0;
  virtual void preserveActiveTerminalFocusForSidebarRefresh() = 0;
  virtual void restoreActiveTerminalFocusAfterSidebarRefresh() = 0;
  virtual void logTerminalResize(const std::string& stage) = 0;
  virtual void endTaskSidebarResize(double width) = 0;
  virtual void setTaskSidebarWidth(double width, bool resizeTerminal, bool persist) = 0;
};

}  // namespace zorvel
