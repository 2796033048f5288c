#include "app/TerminalSessions.h"

#include "Vantrelle/View/LocalProcessTerminalView.h"

namespace zorvel {

void TerminalSessions::insert(std::shared_ptr<vantrelle::LocalProcessTerminalView> view, const std::string& taskID,
                              std::optional<TriageRecoveryMessage> recovery) {
  if (auto existing = records.find(taskID); existing != records.end() && existing->second->pendingLaunch) {
    existing->second->pendingLaunch->cancel();
  }
  records[taskID] = std::make_shared<TerminalSession>(std::move(view), std::move(recovery));
}

std::shared_ptr<vantrelle::LocalProcessTerminalView> TerminalSessions::remove(const std::string& taskID) {
  auto found = records.find(taskID);
  if (found == records.end()) return nullptr;
  auto session = found->second;
  records.erase(found);
  if (session->pendingLaunch) session->pendingLaunch->cancel();
  return session->view;
}

std::optional<std::string> TerminalSessions::taskID(const vantrelle::TerminalView& view) const {
  for (const auto& [taskID, session] : records) {
    if (static_cast<const vantrelle::TerminalView*>(session->view.get()) == &view) return taskID;
  }
  return std::nullopt;
}

std::optional<TriageRecoveryMessage> TerminalSessions::recovery(const vantrelle::TerminalView& view) const {
  auto id = taskID(view);
  if (!id) return std::nullopt;
  return records.at(*id)->recovery;
}

TerminalSession* TerminalSessions::session(const std::string& taskID) {
  auto found = records.find(taskID);
  return found == records.end() ? nullptr : found->second.get();
}

void TerminalSessions::touch(const std::string& taskID) {
  if (auto* record = session(taskID)) record->lastUsedAt = TerminalClock::now();
}

std::map<std::string, std::shared_ptr<vantrelle::LocalProcessTerminalView>> TerminalSessions::views() const {
  std::map<std::string, std::shared_ptr<vantrelle::LocalProcessTerminalView>> views;
  for (const auto& [taskID, session] : records) views.emplace(taskID, session->view);
  return views;
}

std::vector<std::pair<std::string, TerminalClock::time_point>> TerminalSessions::lastUses() const {
  std::vector<std::pair<std::string, TerminalClock::time_point>> uses;
  for (const auto& [taskID, session] : records) uses.emplace_back(taskID, session->lastUsedAt);
  return uses;
}

std::vector<std::string> TerminalSessions::taskIDs() const {
  std::vector<std::string> ids;
  for (const auto& [taskID, session] : records) ids.push_back(taskID);
  return ids;
}

}  // namespace zorvel
