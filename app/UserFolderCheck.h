#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zorvel::UserFolderCheck {

// A folder of the user's that the web view's sandbox mounts from, with the environment variable
// that chose it when one did.
struct UserFolder {
  std::string role;
  std::string path;
  std::optional<std::string> variable;
};

// The home, cache, config, data and runtime folders as this process resolves them.
std::vector<UserFolder> currentFolders();

// What keeps the web view from starting, said for a person: a folder that is a file, or lies
// under one. The web content process would be refused by its sandbox and the application would
// abort, so the launch stops here with the reason instead. A folder that does not exist yet, or
// that cannot be written, is no problem: the web view starts without it.
std::optional<std::string> problem(const std::vector<UserFolder>& folders);

}  // namespace zorvel::UserFolderCheck
