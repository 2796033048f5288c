#include "app/FilePickers.h"

#include <nlohmann/json.hpp>

namespace zorvel::FilePickers {

FilePickerRequest executable(const std::string& agent) {
  FilePickerRequest request;
  request.title = "Choose Agent Executable";
  request.message = "Select the executable Zorvel should use for " + agent + ".";
  request.canChooseFiles = true;
  request.eventName = "zorvel:executable-picked";
  request.agent = agent;
  return request;
}

FilePickerRequest projectDirectory(const std::optional<std::string>& projectID) {
  FilePickerRequest request;
  request.title = "Choose Project Folder";
  request.message = "Select the repository folder Zorvel should use.";
  request.canChooseDirectories = true;
  request.eventName = "zorvel:project-directory-picked";
  request.projectID = projectID;
  return request;
}

std::optional<std::string> pickedScript(const FilePickerRequest& request, const std::string& path) {
  nlohmann::json detail = {{"path", path}};
  if (request.agent) detail["agent"] = *request.agent;
  if (request.projectID) detail["project_id"] = *request.projectID;
  std::string json;
  try {
    json = detail.dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
  return "window.dispatchEvent(new CustomEvent('" + request.eventName + "', { detail: " + json + " }));";
}

}  // namespace zorvel::FilePickers
