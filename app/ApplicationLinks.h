#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zorvel {

// A task or session the page should open: `resource` is "tasks" or "sessions", `identifier` a
// lower-case UUID.
struct ZorvelOpenLink {
  std::string resource;
  std::string identifier;
  bool operator==(const ZorvelOpenLink&) const = default;
};

// Clipboard text the user agreed to turn into a task of a project, waiting for the core.
struct PendingCapture {
  std::string content;
  std::string projectID;
  bool operator==(const PendingCapture&) const = default;
};

namespace ApplicationLinks {

// A "zorvel://tasks/capture?project_id=<UUID>" link; the id is kept exactly as written.
struct CaptureLink {
  std::string projectID;
  bool operator==(const CaptureLink&) const = default;
};

using Link = std::variant<std::monostate, ZorvelOpenLink, CaptureLink>;

// What a link asks for; std::monostate for anything that is not one of the application's links.
Link interpret(std::string_view link);

// The page script that stores the link in a global and announces it; nothing when the link
// cannot be written as JSON.
std::optional<std::string> openLinkScript(const ZorvelOpenLink& link);

inline constexpr const char* captureAlertMessage = "Capture clipboard as a Zorvel task?";
// "Project: <id>\n\n" and the first 500 characters (grapheme clusters) of the text.
std::string captureAlertInformativeText(const std::string& projectID, const std::string& text);
// Text with nothing but white space and line breaks is no task.
bool isBlank(std::string_view text);

std::optional<std::string> captureRequestBody(const PendingCapture& capture);
std::string captureFailureMessage(int status);

// The link a click on a task's notification opens.
std::string taskLink(const std::string& taskID);

}  // namespace ApplicationLinks

}  // namespace zorvel
