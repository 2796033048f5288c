#include "platform/LinkOpener.h"

#include <gio/gio.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/GLibPtr.h"
#include "platform/Log.h"

namespace platform {

namespace {

const Logger& linkLog() {
  static const Logger log("local.zorvel.desktop", "links");
  return log;
}

// Schemes that name local files, or content and script for a browser's own page rather than a
// place to go, are not for another application even when one claims them.
constexpr std::array<std::string_view, 5> neverHandedOver{"javascript", "data", "vbscript", "about", "blob"};

// The kinds of file a link points a user at (a folder, text and source, a picture, a document);
// the programs that open them show the file. A program, a launcher or a file that may be run is
// never opened from a link, as its handler would run it.
constexpr std::array<const char*, 5> shownFileTypes{"text/plain", "image/*", "audio/*", "video/*", "application/pdf"};
constexpr std::array<const char*, 2> programTypes{"application/x-executable", "application/x-desktop"};

bool isShownType(const char* type) {
  auto is = [type](const char* kind) {
    return g_str_has_suffix(kind, "/*") ? g_str_has_prefix(type, std::string(kind, std::strlen(kind) - 1).c_str())
                                        : g_content_type_is_a(type, kind);
  };
  return std::any_of(shownFileTypes.begin(), shownFileTypes.end(), is) &&
         std::none_of(programTypes.begin(), programTypes.end(), is);
}

// A file link is followed to a folder, or to a file of this machine that only shows.
std::optional<std::string> fileRefusal(const std::string& link) {
  GCharPtr host;
  GCharPtr path(g_filename_from_uri(link.c_str(), out(host), nullptr));
  if (!path) return "the file link names no local path";
  if (host && std::strcmp(host.get(), "localhost") != 0 && std::strcmp(host.get(), g_get_host_name()) != 0) {
    return "the file link names a file of another machine";
  }
  GObjectPtr<GFile> file(g_file_new_for_path(path.get()));
  GObjectPtr<GFileInfo> info(g_file_query_info(file.get(), "standard::type,standard::content-type,unix::mode",
                                               G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
  if (!info) return "the file link names no file";
  auto type = g_file_info_get_file_type(info.get());
  if (type == G_FILE_TYPE_DIRECTORY) return std::nullopt;
  const char* content = g_file_info_get_content_type(info.get());
  const guint32 mode = g_file_info_get_attribute_uint32(info.get(), G_FILE_ATTRIBUTE_UNIX_MODE);
  if (type != G_FILE_TYPE_REGULAR || (mode & 0111) || !content || !isShownType(content)) {
    return "the file link names a file that could be run";
  }
  return std::nullopt;
}

// RFC 3986 has no spaces or controls in a URI; a handler's command line could split at them.
bool hasSpaceOrControl(std::string_view link) {
  return std::any_of(link.begin(), link.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7f;
  });
}

std::string schemeOf(const std::string& link) {
  const char* scheme = g_uri_peek_scheme(link.c_str());  // lower case, interned
  return scheme ? scheme : "";
}

GAppInfo* defaultForFile(const std::string& link) {
  GObjectPtr<GFile> file(g_file_new_for_uri(link.c_str()));
  return g_file_query_default_handler(file.get(), nullptr, nullptr);
}

}  // namespace

std::optional<std::string> LinkOpener::refusal(std::string_view link) {
  if (link.empty()) return "the link is empty";
  if (link.size() > maximumLength) return "the link is longer than " + std::to_string(maximumLength) + " bytes";
  if (!g_utf8_validate(link.data(), static_cast<gssize>(link.size()), nullptr)) return "the link is not UTF-8";
  if (hasSpaceOrControl(link)) return "the link holds spaces or control characters";
  const std::string text(link);
  if (!g_uri_is_valid(text.c_str(), G_URI_FLAGS_NONE, nullptr)) return "the link is not a URI";
  const std::string scheme = schemeOf(text);
  if (std::find(neverHandedOver.begin(), neverHandedOver.end(), scheme) != neverHandedOver.end()) {
    return scheme + " links are not opened by other applications";
  }
  if (scheme == "file") return fileRefusal(text);
  return std::nullopt;
}

std::optional<std::string> LinkOpener::open(const std::string& link) {
  auto refused = refusal(link);
  const std::string scheme = refused ? std::string() : schemeOf(link);
  // Only an application registered for the scheme itself: the desktop's fallback treats the link
  // as a file (remote ones included) and opens it with whatever program handles its type. A file
  // link that passed goes to the program for its file's type.
  GObjectPtr<GAppInfo> handler;
  if (!refused)
    handler.reset(scheme == "file" ? defaultForFile(link) : g_app_info_get_default_for_uri_scheme(scheme.c_str()));
  if (!refused && !handler) refused = "no application opens " + scheme + " links";
  if (refused) {
    linkLog().error("Not opening a link: %{public}s", refused->c_str());
    return refused;
  }
  GList uris{const_cast<char*>(link.c_str()), nullptr, nullptr};
  g_app_info_launch_uris_async(
      handler.get(), &uris, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer) {
        GErrorPtr error;
        if (!g_app_info_launch_uris_finish(G_APP_INFO(source), result, out(error))) {
          linkLog().error("Could not open a link with %{public}s: %{public}s", g_app_info_get_name(G_APP_INFO(source)),
                          error ? error->message : "unknown error");
        }
      },
      nullptr);
  return std::nullopt;
}

}  // namespace platform
