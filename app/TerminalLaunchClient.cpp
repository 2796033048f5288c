#include "app/TerminalLaunchClient.h"

#include "app/URL.h"
#include "platform/Dispatch.h"
#include "platform/URLSession.h"

namespace zorvel::TerminalLaunchClient {

namespace {

std::string appendingSegment(std::string url, const std::string& segment) {
  if (url.empty() || url.back() != '/') url += '/';
  return url + percentEncodePathSegment(segment);
}

}  // namespace

std::string planURL(const std::string& baseURL, const std::string& taskID) {
  // Query and fragment of the base are not expected on the core's loopback URL.
  return appendingSegment(appendingSegment(appendingSegment(baseURL, "tasks"), taskID), "terminal-plan");
}

std::optional<std::string> taskURL(const std::string& baseURL, const std::string& taskID, const std::string& action) {
  auto base = URL::parse(baseURL);
  if (!base || taskID.empty()) return std::nullopt;
  std::string path = "/tasks/" + percentEncodePathSegment(taskID);
  if (!action.empty()) path += "/" + action;
  auto resolved = base->resolving(path);
  if (!resolved) return std::nullopt;
  return resolved->string();
}

nlohmann::json planBody(const Request& request) {
  nlohmann::json body = {{"agent", request.agent}, {"login", request.login}};
  if (request.model) body["model"] = *request.model;
  if (request.effort) body["effort"] = *request.effort;
  return body;
}

LaunchResult classify(const platform::URLResponse& response) {
  if (response.error) return LaunchError{"NSURLErrorDomain", -1, *response.error};
  if (response.status == 0) return LaunchError{"NSURLErrorDomain", -1011, "The server's response was not valid."};
  if (response.status >= 200 && response.status <= 299) {
    if (auto plan = TerminalLaunchPlan::decodeText(response.body)) return *plan;
    return LaunchError{"NSCocoaErrorDomain", 4864, "The data couldn't be read because it isn't in the correct format."};
  }
  std::string message = "Could not prepare terminal launch.";
  auto json = nlohmann::json::parse(response.body, nullptr, false);
  if (json.is_object()) {
    auto detail = json.find("detail");
    if (detail != json.end() && detail->is_string()) message = detail->get<std::string>();
  }
  return LaunchError{"ZorvelLaunch", 1, message};
}

std::shared_ptr<PendingLaunch> prepare(const Request& request, std::function<void(LaunchResult)> completion) {
  auto pending = std::make_shared<PendingLaunch>();
  platform::URLRequest http;
  http.url = planURL(request.baseURL, request.taskID);
  http.method = "POST";
  http.timeout = std::chrono::seconds(10);
  http.headers = {{"Content-Type", "application/json"}};
  request.core.authorize(http);
  try {
    http.body = planBody(request).dump();
  } catch (const nlohmann::json::exception&) {
    http.body.clear();  // text that is not UTF-8: sent without a body
  }
  platform::URLSession::shared().dataTask(
      std::move(http), [pending, completion = std::move(completion)](platform::URLResponse response) {
        auto result = classify(response);
        platform::DispatchQueue::main().async([pending, completion, result = std::move(result)] {
          if (!pending->isCancelled()) completion(result);
        });
      });
  return pending;
}

}  // namespace zorvel::TerminalLaunchClient
