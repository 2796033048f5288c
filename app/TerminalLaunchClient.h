#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <variant>

#include "app/CoreAccess.h"
#include "app/CoreRecords.h"

namespace platform {
struct URLResponse;
}

namespace zorvel {

// Why a plan could not be had: a transport failure, a reply that is not a plan, or the core's
// own refusal (domain "ZorvelLaunch", code 1).
struct LaunchError {
  std::string domain;
  long code = 0;
  std::string localizedDescription;
};

using LaunchResult = std::variant<TerminalLaunchPlan, LaunchError>;

// A request in flight. Cancelling it means its completion never runs.
class PendingLaunch {
 public:
  void cancel() { cancelled = true; }
  bool isCancelled() const { return cancelled; }

 private:
  std::atomic<bool> cancelled = false;
};

// Asks the core what a task terminal should run.
namespace TerminalLaunchClient {

struct Request {
  std::string baseURL;
  CoreAccess core;
  std::string taskID;
  std::string agent;
  std::optional<std::string> model;
  std::optional<std::string> effort;
  bool login = false;
};

std::string planURL(const std::string& baseURL, const std::string& taskID);
// "/tasks/<id>[/<action>]" from the base URL's root. The id is one escaped path segment, so no
// id can make the desktop token reach another path of the core.
std::optional<std::string> taskURL(const std::string& baseURL, const std::string& taskID, const std::string& action);
nlohmann::json planBody(const Request& request);
LaunchResult classify(const platform::URLResponse& response);

// The completion runs on the main queue, unless the request was cancelled first.
std::shared_ptr<PendingLaunch> prepare(const Request& request, std::function<void(LaunchResult)> completion);

}  // namespace TerminalLaunchClient

}  // namespace zorvel
