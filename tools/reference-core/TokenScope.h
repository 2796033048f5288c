#pragma once
// What an accepted token may act on. The desktop token acts on everything. A project agent's
// token acts only on its own project: its tasks, its captures, its diagnostics and its events;
// with a task id it acts on that one task alone. Agent profiles are the application's own.
#include <optional>
#include <string>

#include "tools/reference-core/TokenVerifier.h"

namespace refcore {

class TokenScope {
 public:
  static TokenScope of(const TokenClaims& claims);
  static TokenScope desktop() { return TokenScope(true, std::nullopt, std::nullopt); }

  bool isDesktop() const { return desktopRole; }
  // Nothing for the desktop token.
  const std::optional<std::string>& projectID() const { return project; }

  // A task, capture, report or event of this project (none: of no project).
  bool allowsProject(const std::optional<std::string>& projectID) const;
  bool allowsTask(const std::string& taskID, const std::optional<std::string>& taskProjectID) const;
  // Whether it may create something in this project, or in none when it names none.
  bool allowsCreating(const std::optional<std::string>& projectID) const;

 private:
  TokenScope(bool desktopRole, std::optional<std::string> project, std::optional<std::string> task)
      : desktopRole(desktopRole), project(std::move(project)), task(std::move(task)) {}

  bool desktopRole;
  std::optional<std::string> project;  // lower case
  std::optional<std::string> task;     // lower case
};

}  // namespace refcore
