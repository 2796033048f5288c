#include "app/ApplicationLinks.h"

#include <pango/pango.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "app/URL.h"

namespace zorvel::ApplicationLinks {

namespace {

constexpr std::size_t shownCharacters = 500;

std::vector<std::string> pathPieces(const std::string& path) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= path.size()) {
    auto slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) pieces.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return pieces;
}

// The value of the first query item with the name; nothing when there is none or it has no "=".
std::optional<std::string> queryValue(const std::string& query, std::string_view name) {
  std::size_t start = 0;
  while (start <= query.size()) {
    auto end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string_view item(query.data() + start, end - start);
    auto equals = item.find('=');
    auto itemName = percentDecode(item.substr(0, equals));
    if (itemName && *itemName == name) {
      if (equals == std::string_view::npos) return std::nullopt;
      return percentDecode(item.substr(equals + 1));
    }
    start = end + 1;
  }
  return std::nullopt;
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string jsonOrEmpty(const nlohmann::json& value) {
  try {
    return value.dump();
  } catch (const nlohmann::json::exception&) {
    return {};
  }
}

// The first `count` grapheme clusters. Only a bounded prefix is examined: a clipboard may hold
// megabytes, and no cluster of real text is longer than a few dozen bytes.
std::string leadingCharacters(const std::string& text, std::size_t count) {
  std::size_t limit = std::min(text.size(), count * 64);
  while (limit < text.size() && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) --limit;
  std::string prefix = text.substr(0, limit);
  if (!g_utf8_validate(prefix.data(), static_cast<gssize>(prefix.size()), nullptr)) return prefix;
  const glong characters = g_utf8_strlen(prefix.data(), static_cast<gssize>(prefix.size()));
  std::vector<PangoLogAttr> attributes(static_cast<std::size_t>(characters) + 1);
  pango_get_log_attrs(prefix.data(), static_cast<int>(prefix.size()), -1, pango_language_get_default(),
                      attributes.data(), static_cast<int>(attributes.size()));
  std::size_t clusters = 0;
  const char* position = prefix.data();
  for (glong i = 1; i <= characters; ++i) {
    position = g_utf8_next_char(position);
    if (attributes[static_cast<std::size_t>(i)].is_cursor_position && ++clusters == count)
      return prefix.substr(0, static_cast<std::size_t>(position - prefix.data()));
  }
  return prefix;
}

}  // namespace

Link interpret(std::string_view link) {
  auto url = URL::parse(link);
  if (!url || url->scheme() != std::optional<std::string>("zorvel")) return std::monostate{};
  auto host = url->host();
  if (host != std::optional<std::string>("tasks") && host != std::optional<std::string>("sessions"))
    return std::monostate{};
  auto path = url->path();
  if (!path) return std::monostate{};
  auto pieces = pathPieces(*path);

  if (*host == "tasks" && pieces.size() == 1 && pieces[0] == "capture") {
    if (!url->query()) return std::monostate{};
    auto projectID = queryValue(*url->query(), "project_id");
    if (!projectID || !isUUID(*projectID)) return std::monostate{};
    return CaptureLink{*projectID};
  }
  if (pieces.size() != 2 || pieces[1] != "open" || !isUUID(pieces[0])) return std::monostate{};
  return ZorvelOpenLink{*host, lowercased(pieces[0])};
}

std::optional<std::string> openLinkScript(const ZorvelOpenLink& link) {
  auto json = jsonOrEmpty({{"resource", link.resource}, {"identifier", link.identifier}});
  if (json.empty()) return std::nullopt;
  return "window.__ZORVEL_PENDING_OPEN_LINK__ = " + json +
         "; window.dispatchEvent(new CustomEvent('zorvel:open-link', { detail: " + json + " }));";
}

std::string captureAlertInformativeText(const std::string& projectID, const std::string& text) {
  return "Project: " + projectID + "\n\n" + leadingCharacters(text, shownCharacters);
}

bool isBlank(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  });
}

std::optional<std::string> captureRequestBody(const PendingCapture& capture) {
  auto json = jsonOrEmpty({{"content", capture.content}, {"project_id", capture.projectID}});
  if (json.empty()) return std::nullopt;
  return json;
}

std::string captureFailureMessage(int status) { return "Capture request failed (" + std::to_string(status) + ")"; }

std::string taskLink(const std::string& taskID) { return "zorvel://tasks/" + taskID + "/open"; }

}  // namespace zorvel::ApplicationLinks
