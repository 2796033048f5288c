#include "tools/reference-core/HTTPSupport.h"

#include <libsoup/soup.h>

#include <algorithm>
#include <cctype>

#include "platform/GLibPtr.h"

namespace refcore {

namespace {

std::vector<std::string> decodeSegments(const std::string& path, bool& valid) {
  std::vector<std::string> segments;
  size_t start = 1;
  if (path.empty() || path[0] != '/') {
    valid = false;
    return segments;
  }
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string raw = path.substr(start, end - start);
    // An escaped "/" or NUL would let one segment pose as two, so such paths are refused.
    platform::GCharPtr decoded(g_uri_unescape_segment(raw.c_str(), nullptr, "/"));
    if (!decoded) {
      valid = false;
      return {};
    }
    if (*decoded) segments.emplace_back(decoded.get());
    start = end + 1;
  }
  return segments;
}

}  // namespace

std::optional<std::string> Request::header(const char* name) const {
  for (const auto& [key, value] : headers.items()) {
    if (g_ascii_strcasecmp(key.c_str(), name) == 0) return value.get<std::string>();
  }
  return std::nullopt;
}

std::optional<nlohmann::json> Request::jsonObject() const {
  auto parsed = nlohmann::json::parse(body, nullptr, false);
  if (!parsed.is_object()) return std::nullopt;
  return parsed;
}

Request readRequest(SoupServerMessage* message, GHashTable* query) {
  Request request;
  request.message = message;
  request.method = soup_server_message_get_method(message);
  GUri* uri = soup_server_message_get_uri(message);
  request.path = g_uri_get_path(uri);
  request.segments = decodeSegments(request.path, request.pathValid);
  if (query) {
    GHashTableIter iter;
    gpointer key = nullptr, value = nullptr;
    g_hash_table_iter_init(&iter, query);
    while (g_hash_table_iter_next(&iter, &key, &value)) {
      request.query[static_cast<const char*>(key)] = value ? static_cast<const char*>(value) : "";
    }
  }
  soup_message_headers_foreach(
      soup_server_message_get_request_headers(message),
      [](const char* name, const char* value, gpointer data) {
        auto& headers = *static_cast<nlohmann::json*>(data);
        const std::string text = g_utf8_validate(value, -1, nullptr) ? value : "<not UTF-8>";
        if (headers.contains(name)) {
          headers[name] = headers[name].get<std::string>() + ", " + text;
        } else {
          headers[name] = text;
        }
      },
      &request.headers);
  SoupMessageBody* body = soup_server_message_get_request_body(message);
  platform::GBytesPtr bytes(soup_message_body_flatten(body));
  gsize size = 0;
  const auto* data = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
  if (data && size) request.body.assign(data, size);
  return request;
}

void respondBytes(SoupServerMessage* message, int status, const char* contentType, const std::string& bytes) {
  soup_server_message_set_status(message, static_cast<guint>(status), nullptr);
  soup_server_message_set_response(message, contentType, SOUP_MEMORY_COPY, bytes.data(), bytes.size());
}

void respondJSON(SoupServerMessage* message, int status, const nlohmann::json& body) {
  respondBytes(message, status, "application/json",
               body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

void respondDetail(SoupServerMessage* message, int status, const std::string& detail) {
  respondJSON(message, status, {{"detail", detail}});
}

bool isUUID(const std::string& text) {
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace refcore
