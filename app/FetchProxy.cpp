#include "app/FetchProxy.h"

#include <algorithm>

#include "app/HTTPFields.h"
#include "app/TextEncoding.h"

namespace zorvel::FetchProxy {

namespace {

Answer failure(const std::string& id, const std::string& message) {
  Answer answer;
  answer.id = id;
  answer.body = detailBody(message);
  return answer;
}

}  // namespace

std::string detailBody(const std::string& message) {
  return nlohmann::json{{"detail", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::variant<Request, Answer> makeRequest(const PageMessages::Fetch& fetch, const URL& baseURL) {
  // The page waits for an answer to every fetch it made; one that cannot be sent fails.
  if (!fetch.path) return failure(fetch.id, "Invalid request path");
  auto target = baseURL.resolving(*fetch.path);
  if (!target.hasSameOrigin(baseURL)) return failure(fetch.id, "Refused to send a request outside the Zorvel core");
  if (!fetch.method || HTTPFields::isForbiddenMethod(*fetch.method)) return failure(fetch.id, "Invalid request method");

  Request request{target.string(), *fetch.method, fetch.headers, fetch.body};
  // Only what a browser would let a page send: a page must not reframe the request, address
  // another host, or speak for the browser or a proxy with the desktop's credentials.
  // The page's own credentials never go: the core sees the desktop's alone.
  std::erase_if(request.headers, [](const auto& f) {
    return HTTPFields::isForbiddenRequestField(f.first, f.second) ||
           HTTPFields::equalsIgnoringCase(f.first, "Authorization");
  });
  return request;
}

Answer makeAnswer(std::string id, int status, const std::vector<std::pair<std::string, std::string>>& headers,
                  const std::string& body, const std::optional<std::string>& transportError) {
  Answer answer;
  answer.id = std::move(id);
  answer.status = status > 0 ? status : noResponseStatus;
  // Repeated fields are folded into one, as HTTP allows for list-valued fields.
  for (const auto& field : headers) {
    auto it = std::find_if(answer.headers.begin(), answer.headers.end(),
                           [&](const auto& f) { return HTTPFields::equalsIgnoringCase(f.first, field.first); });
    if (it != answer.headers.end())
      it->second += ", " + field.second;
    else
      answer.headers.push_back(field);
  }
  if (transportError)
    answer.body = detailBody(*transportError);
  else if (isValidUTF8(body))
    answer.body = body;
  return answer;
}

}  // namespace zorvel::FetchProxy
