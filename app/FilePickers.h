#pragma once

#include <optional>
#include <string>

namespace zorvel {

// One request of the page to choose a file or a folder, and how the choice goes back to it.
struct FilePickerRequest {
  std::string title;
  std::string message;
  std::string prompt = "Choose";
  bool canChooseFiles = false;
  bool canChooseDirectories = false;
  std::string eventName;
  std::optional<std::string> agent;
  std::optional<std::string> projectID;
};

namespace FilePickers {

FilePickerRequest executable(const std::string& agent);
FilePickerRequest projectDirectory(const std::optional<std::string>& projectID);

// The main page's script for a chosen path; nothing when the answer cannot be written as JSON.
std::optional<std::string> pickedScript(const FilePickerRequest& request, const std::string& path);

}  // namespace FilePickers

}  // namespace zorvel
