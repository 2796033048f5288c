#include "app/PageDownloads.h"

#include <webkit/webkit.h>

#include "app/PageActivation.h"
#include "platform/Log.h"

namespace zorvel::PageDownloads {

namespace {

constexpr const char* dataKey = "zorvel-followed-download";
constexpr int maximumCopies = 999;

const platform::Logger& linksLog() {
  static const platform::Logger log("local.zorvel.desktop", "links");
  return log;
}

// The engine serves the application's own pages to the view only; it has nothing to save them with.
bool isApplicationFile(WebKitDownload* download) {
  auto* request = webkit_download_get_request(download);
  const char* address = request ? webkit_uri_request_get_uri(request) : nullptr;
  const char* scheme = address ? g_uri_peek_scheme(address) : nullptr;
  return scheme && std::string_view(scheme) == "zorvel-ui";
}

void refuse(WebKitDownload* download, const char* reason) {
  linksLog().error("Not downloading a file: %{public}s", reason);
  webkit_download_cancel(download);
}

// The downloads folder of the user's folders, else the home, as the engine would choose; the file
// goes there under a name no file has yet.
gboolean decideDestination(WebKitDownload* download, const char* suggested, gpointer) {
  const char* downloads = g_get_user_special_dir(G_USER_DIRECTORY_DOWNLOAD);
  auto destination = freeDestination(downloads ? downloads : g_get_home_dir(), suggested ? suggested : "");
  if (!destination) {
    refuse(download, "the downloads folder holds too many files of its name");
    return TRUE;
  }
  webkit_download_set_allow_overwrite(download, FALSE);
  webkit_download_set_destination(download, destination->c_str());
  return TRUE;
}

void started(WebKitNetworkSession*, WebKitDownload* download, gpointer) {
  g_signal_connect(download, "decide-destination", G_CALLBACK(decideDestination), nullptr);
  // A download cancelled here was logged here; any other failure is logged when it comes.
  g_signal_connect(download, "failed", G_CALLBACK(+[](WebKitDownload*, GError* error, gpointer) {
                     if (g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER)) return;
                     linksLog().error("Could not download a file: %{public}s",
                                      error ? error->message : "unknown error");
                   }),
                   nullptr);
  if (isApplicationFile(download))
    return refuse(download, "the application's own pages are shown in it, not saved as files");
  if (!PageActivation::consume(webkit_download_get_web_view(download))) refuse(download, PageActivation::noPressBehind);
}

}  // namespace

std::optional<std::filesystem::path> freeDestination(const std::filesystem::path& folder, std::string_view suggested) {
  std::string name = std::filesystem::path(suggested).filename().string();
  if (name.empty() || name == "." || name == "..") name = "download";
  // The extension stays last; a name that is all extension (".profile") has none.
  const std::size_t dot = name.rfind('.');
  const std::size_t split = dot == std::string::npos || dot == 0 ? name.size() : dot;
  for (int copy = 0; copy <= maximumCopies; ++copy) {
    auto candidate =
        folder / (copy == 0 ? name : name.substr(0, split) + " (" + std::to_string(copy) + ")" + name.substr(split));
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, error))) return candidate;
  }
  return std::nullopt;
}

void watch() {
  static bool connected = false;
  if (connected) return;
  connected = true;
  g_signal_connect(webkit_network_session_get_default(), "download-started", G_CALLBACK(started), nullptr);
}

bool FollowedLink::names(std::string_view address) const {
  return address.size() == length && address.substr(0, start.size()) == start;
}

void noteFollowed(WebKitWebView* view, FollowedLink link) {
  if (!view) return;
  g_object_set_data_full(G_OBJECT(view), dataKey, new FollowedLink(std::move(link)),
                         [](gpointer data) { delete static_cast<FollowedLink*>(data); });
}

bool takeFollowed(WebKitWebView* view, const char* address) {
  auto* link = view ? static_cast<FollowedLink*>(g_object_get_data(G_OBJECT(view), dataKey)) : nullptr;
  const bool followed = link && address && link->names(address);
  if (link) g_object_set_data(G_OBJECT(view), dataKey, nullptr);
  return followed;
}

}  // namespace zorvel::PageDownloads
