#include "app/BundledUIURLSchemeHandler.h"

#include <gio/gio.h>
#include <webkit/webkit.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <utility>

#include "app/URL.h"
#include "platform/GLibPtr.h"

namespace zorvel {

namespace {

struct MimeEntry {
  std::string_view extension;
  std::string_view type;
  bool text;
};

constexpr std::array<MimeEntry, 10> mimeTable{{
    {"html", "text/html", true},
    {"js", "text/javascript", true},
    {"css", "text/css", true},
    {"json", "application/json", true},
    {"svg", "image/svg+xml", true},
    {"png", "image/png", false},
    {"jpg", "image/jpeg", false},
    {"jpeg", "image/jpeg", false},
    {"woff", "font/woff", false},
    {"woff2", "font/woff2", false},
}};

const MimeEntry* findMime(std::string_view extension) {
  std::string lower(extension);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const auto& entry : mimeTable)
    if (entry.extension == lower) return &entry;
  return nullptr;
}

std::string extensionOf(const std::filesystem::path& file) {
  std::string ext = file.extension().string();
  return ext.empty() ? ext : ext.substr(1);
}

std::optional<std::string> readWholeFile(const std::filesystem::path& file) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return data;
}

void finishWithError(WebKitURISchemeRequest* request, const std::string& message) {
  GErrorPtr error(
      g_error_new_literal(g_quark_from_static_string(BundledUIURLSchemeHandler::errorDomain), 1, message.c_str()));
  webkit_uri_scheme_request_finish_error(request, error.get());
}

}  // namespace

BundledUIURLSchemeHandler::BundledUIURLSchemeHandler(std::optional<std::filesystem::path> rootURL) {
  if (rootURL) {
    auto normal = rootURL->lexically_normal();
    // A trailing separator would make the containment check below demand a double slash.
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path())
      normal = normal.parent_path();
    root = normal;
  }
}

std::string BundledUIURLSchemeHandler::mimeType(std::string_view extension) {
  const auto* entry = findMime(extension);
  return std::string(entry ? entry->type : "application/octet-stream");
}

std::optional<std::string> BundledUIURLSchemeHandler::textEncodingName(std::string_view extension) {
  const auto* entry = findMime(extension);
  if (entry && entry->text) return std::string("utf-8");
  return std::nullopt;
}

std::variant<BundledUIURLSchemeHandler::Resource, BundledUIURLSchemeHandler::Failure>
BundledUIURLSchemeHandler::resolve(std::string_view text) const {
  auto url = URL::parse(text);
  if (!url || url->scheme() != std::optional<std::string>(scheme) || url->host() != std::optional<std::string>("app") ||
      !root)
    return Failure{"Invalid bundled UI URL"};

  // A path that cannot be decoded (a NUL byte) cannot name a file of ours.
  std::string relative = url->path().value_or(url->rawPath());
  auto first = relative.find_first_not_of('/');
  auto last = relative.find_last_not_of('/');
  relative = first == std::string::npos ? std::string() : relative.substr(first, last - first + 1);
  if (relative.empty()) relative = "index.html";

  Failure notFound{"Bundled UI resource not found: " + relative};
  if (!url->path()) return notFound;
  auto file = (*root / relative).lexically_normal();
  const std::string prefix = root->string() + "/";
  if (file.string().compare(0, prefix.size(), prefix) != 0) return notFound;

  auto ext = extensionOf(file);
  return Resource{file, relative, mimeType(ext), textEncodingName(ext)};
}

std::variant<std::string, BundledUIURLSchemeHandler::Failure> BundledUIURLSchemeHandler::read(
    const Resource& resource) const {
  Failure notFound{"Bundled UI resource not found: " + resource.relativePath};
  std::error_code error;
  auto realRoot = root ? std::filesystem::canonical(*root, error) : std::filesystem::path();
  if (!root || error) return notFound;
  auto realFile = std::filesystem::canonical(resource.file, error);
  if (error) return notFound;
  const std::string prefix = realRoot.string() + "/";
  if (realFile.string().compare(0, prefix.size(), prefix) != 0) return notFound;
  auto data = readWholeFile(realFile);
  if (!data) return notFound;
  return std::move(*data);
}

void BundledUIURLSchemeHandler::start(WebKitURISchemeRequest* request) const {
  const char* uri = webkit_uri_scheme_request_get_uri(request);
  auto resolved = resolve(uri ? uri : "");
  if (auto* failure = std::get_if<Failure>(&resolved)) {
    finishWithError(request, failure->message);
    return;
  }
  const auto& resource = std::get<Resource>(resolved);
  auto contents = read(resource);
  if (auto* failure = std::get_if<Failure>(&contents)) {
    finishWithError(request, failure->message);
    return;
  }
  auto data = std::get_if<std::string>(&contents);
  auto size = static_cast<gint64>(data->size());
  auto* owned = new std::string(std::move(*data));
  GBytesPtr bytes(g_bytes_new_with_free_func(
      owned->data(), owned->size(), [](gpointer p) { delete static_cast<std::string*>(p); }, owned));
  GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes.get()));
  GObjectPtr<WebKitURISchemeResponse> response(webkit_uri_scheme_response_new(stream.get(), size));
  std::string contentType = resource.mimeType;
  if (resource.textEncodingName) contentType += "; charset=" + *resource.textEncodingName;
  webkit_uri_scheme_response_set_content_type(response.get(), contentType.c_str());
  webkit_uri_scheme_request_finish_with_response(request, response.get());
}

}  // namespace zorvel
