#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/TaskRecords.h"
#include "app/TerminalLaunchClient.h"

namespace vantrelle {
class LocalProcessTerminalView;
class TerminalView;
}  // namespace vantrelle

namespace zorvel {

using TerminalClock = std::chrono::steady_clock;

// One live task terminal: its view (which owns the child), the triage recovery it logs in for,
// when it was last used and its plan request while that is in flight.
class TerminalSession {
 public:
  TerminalSession(std::shared_ptr<vantrelle::LocalProcessTerminalView> view,
                  std::optional<TriageRecoveryMessage> recovery)
      : view(std::move(view)), recovery(std::move(recovery)) {}

  const std::shared_ptr<vantrelle::LocalProcessTerminalView> view;
  std::optional<TriageRecoveryMessage> recovery;
  TerminalClock::time_point lastUsedAt = TerminalClock::now();
  std::shared_ptr<PendingLaunch> pendingLaunch;
};

// The live task terminals by task id. Bookkeeping only: it never starts, stops or places a view.
class TerminalSessions {
 public:
  // Replaces any earlier record of the task, cancelling that record's plan request.
  void insert(std::shared_ptr<vantrelle::LocalProcessTerminalView> view, const std::string& taskID,
              std::optional<TriageRecoveryMessage> recovery);
  // The removed record's view, its plan request cancelled; the view keeps running.
  std::shared_ptr<vantrelle::LocalProcessTerminalView> remove(const std::string& taskID);
  std::optional<std::string> taskID(const vantrelle::TerminalView& view) const;
  std::optional<TriageRecoveryMessage> recovery(const vantrelle::TerminalView& view) const;

  TerminalSession* session(const std::string& taskID);
  // Sets the task's last use to now; nothing when it has no record.
  void touch(const std::string& taskID);
  std::map<std::string, std::shared_ptr<vantrelle::LocalProcessTerminalView>> views() const;
  std::vector<std::pair<std::string, TerminalClock::time_point>> lastUses() const;
  std::vector<std::string> taskIDs() const;

 private:
  std::map<std::string, std::shared_ptr<TerminalSession>> records;
};

}  // namespace zorvel
