#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "app/PageMessages.h"
#include "app/URL.h"

namespace zorvel {

// The page's HTTP requests, carried to the core with the desktop token added natively.
namespace FetchProxy {

constexpr std::chrono::seconds timeout{60};
constexpr int noResponseStatus = 599;

struct Request {
  std::string url;
  std::string method = "GET";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
};

// What the page's `__zorvelNativeFetchResponse(id, body, headers, status)` receives.
struct Answer {
  std::string id;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  int status = noResponseStatus;
};

// A request for the core, or an immediate answer: to a path that is no URL, a target outside the
// core, or a method that is no token. Only the core's own origin is asked, and of the page's fields
// only those a browser lets a page set go, less its credentials: the desktop's token is added
// by CoreAccess, which alone writes that field and binds the request to the core's process.
std::variant<Request, Answer> makeRequest(const PageMessages::Fetch& fetch, const URL& baseURL);

// The answer for a finished request. `transportError` is set when no complete response came.
Answer makeAnswer(std::string id, int status, const std::vector<std::pair<std::string, std::string>>& headers,
                  const std::string& body, const std::optional<std::string>& transportError);

// {"detail": message}, the shape the core uses for its own errors.
std::string detailBody(const std::string& message);

}  // namespace FetchProxy

}  // namespace zorvel
