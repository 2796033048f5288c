#include "tools/reference-core/TokenScope.h"

#include "tools/reference-core/HTTPSupport.h"

namespace refcore {

TokenScope TokenScope::of(const TokenClaims& claims) {
  if (claims.role == "desktop") return desktop();
  // Any other role acts only within the project it names; one that names none acts on nothing.
  auto lower = [](const std::optional<std::string>& id) {
    return id ? std::optional<std::string>(lowercased(*id)) : std::nullopt;
  };
  return TokenScope(false, lower(claims.projectID), lower(claims.taskID));
}

bool TokenScope::allowsProject(const std::optional<std::string>& projectID) const {
  if (desktopRole) return true;
  return project && projectID && lowercased(*projectID) == *project;
}

bool TokenScope::allowsTask(const std::string& taskID, const std::optional<std::string>& taskProjectID) const {
  if (desktopRole) return true;
  return allowsProject(taskProjectID) && (!task || lowercased(taskID) == *task);
}

bool TokenScope::allowsCreating(const std::optional<std::string>& projectID) const {
  // A task-bound token makes no new tasks.
  return desktopRole || (!task && allowsProject(projectID));
}

}  // namespace refcore
