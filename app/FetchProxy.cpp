#include "app/FetchProxy.h"

#include <algorithm>
#include <cctype>

#include "app/ScriptMessageFields.h"
#include "app/TextEncoding.h"

namespace zorvel::FetchProxy {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// RFC 9110 token characters; field values may not carry line breaks or NUL, which would let the
// page forge further fields.
bool isToken(std::string_view s) {
  static constexpr std::string_view extra = "!#$%&'*+-.^_`|~";
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || extra.find(c) != std::string_view::npos;
  });
}

bool isFieldValue(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

void setField(std::vector<std::pair<std::string, std::string>>& fields, const std::string& name,
              const std::string& value) {
  auto it =
      std::find_if(fields.begin(), fields.end(), [&](const auto& f) { return equalsIgnoringCase(f.first, name); });
  if (it != fields.end())
    *it = {name, value};
  else
    fields.emplace_back(name, value);
}

std::optional<std::vector<std::pair<std::string, std::string>>> pageHeaders(const nlohmann::json& message) {
  auto headers = ScriptMessageFields::object(message, "headers");
  if (!headers) return std::nullopt;
  std::vector<std::pair<std::string, std::string>> fields;
  for (const auto& [name, value] : headers->items()) {
    if (!value.is_string()) return std::nullopt;
    auto text = value.get<std::string>();
    if (isToken(name) && isFieldValue(text)) setField(fields, name, text);
  }
  return fields;
}

}  // namespace

std::string detailBody(const std::string& message) {
  return nlohmann::json{{"detail", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::variant<Request, Answer, Dropped> makeRequest(const nlohmann::json& message, const URL& baseURL,
                                                   const std::string& desktopToken) {
  auto id = ScriptMessageFields::string(message, "id");
  auto path = ScriptMessageFields::string(message, "path");
  if (!id || !path) return Dropped{};
  auto target = baseURL.resolving(*path);
  if (!target) {
    // The page waits for an answer to every fetch it made; a path that is no URL fails it.
    Answer failed;
    failed.id = *id;
    failed.body = detailBody("Invalid request path");
    return failed;
  }
  if (!target->hasSameOrigin(baseURL)) {
    Answer refused;
    refused.id = *id;
    refused.body = detailBody("Refused to send a request outside the Zorvel core");
    return refused;
  }

  Request request;
  request.url = target->string();
  request.method = ScriptMessageFields::string(message, "method").value_or("GET");
  if (!isToken(request.method)) {
    Answer invalid;
    invalid.id = *id;
    invalid.body = detailBody("Invalid request method");
    return invalid;
  }
  if (auto headers = pageHeaders(message)) request.headers = std::move(*headers);
  setField(request.headers, "Authorization", "Bearer " + desktopToken);
  if (auto body = ScriptMessageFields::string(message, "body"); body && !body->empty()) request.body = *body;
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
                           [&](const auto& f) { return equalsIgnoringCase(f.first, field.first); });
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
