#include "app/PageDownloads.h"

#include <sys/stat.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <cstdint>
#include <filesystem>

#include "app/DownloadDestination.h"
#include "app/PageActivation.h"
#include "platform/Log.h"

namespace zorvel::PageDownloads {

namespace {

constexpr const char* dataKey = "zorvel-followed-download";

const platform::Logger& linksLog() {
  static const platform::Logger log("local.zorvel.desktop", "links");
  return log;
}

std::function<void(const std::string&)>& failureShower() {
  static std::function<void(const std::string&)> show;
  return show;
}

// The engine serves the application's own pages to the view only; it has nothing to save them with.
bool isApplicationFile(WebKitDownload* download) {
  auto* request = webkit_download_get_request(download);
  const char* address = request ? webkit_uri_request_get_uri(request) : nullptr;
  const char* scheme = address ? g_uri_peek_scheme(address) : nullptr;
  return scheme && std::string_view(scheme) == "zorvel-ui";
}

// A download the page asked for without the user, or one the application never saves.
void refuse(WebKitDownload* download, const char* reason) {
  linksLog().error("Not downloading a file: %{public}s", reason);
  webkit_download_cancel(download);
}

// A download the user asked for that cannot be saved: the user is told, as nothing else shows it.
void fail(const std::string& reason) {
  const std::string message = "Could not download a file: " + reason;
  linksLog().error("%{public}s", message.c_str());
  if (failureShower()) failureShower()(message);
}

gboolean decideDestination(WebKitDownload* download, const char* suggested, gpointer) {
  const std::filesystem::path folder = DownloadDestination::folder();
  auto reserved = DownloadDestination::Reservation{};
  if (auto missing = DownloadDestination::make(folder, g_get_home_dir())) {
    reserved.failure = *missing;
  } else {
    reserved = DownloadDestination::reserve(folder, suggested ? suggested : "");
  }
  if (reserved.file.empty()) {
    fail(reserved.failure);
    webkit_download_cancel(download);
    return TRUE;
  }
  // The file is the download's own, made empty for it: the engine writes into it.
  webkit_download_set_allow_overwrite(download, TRUE);
  webkit_download_set_destination(download, reserved.file.c_str());
  return TRUE;
}

// The empty file made for a download that wrote nothing is not left behind as if it were saved.
void removeIfEmpty(const char* file) {
  struct stat status {};
  if (file && ::lstat(file, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0) ::unlink(file);
}

// The length the server gave for the download, or 0.
std::uint64_t expectedLength(WebKitDownload* download) {
  auto* response = webkit_download_get_response(download);
  return response ? webkit_uri_response_get_content_length(response) : 0;
}

void failed(WebKitDownload* download, GError* error, gpointer) {
  const char* file = webkit_download_get_destination(download);
  removeIfEmpty(file);
  // A download cancelled here was logged here.
  if (g_error_matches(error, WEBKIT_DOWNLOAD_ERROR, WEBKIT_DOWNLOAD_ERROR_CANCELLED_BY_USER)) return;
  std::string reason = error ? error->message : "unknown error";
  if (!file) return fail(reason);
  const std::filesystem::path saved(file);
  if (auto full = DownloadDestination::lackOfRoom(saved.parent_path(), expectedLength(download))) reason = *full;
  std::string why = "\"";
  why += saved.filename().string();
  why += "\" could not be saved in " + saved.parent_path().string() + ": " + reason;
  fail(why);
}

void started(WebKitNetworkSession*, WebKitDownload* download, gpointer) {
  g_signal_connect(download, "decide-destination", G_CALLBACK(decideDestination), nullptr);
  g_signal_connect(download, "failed", G_CALLBACK(failed), nullptr);
  if (isApplicationFile(download))
    return refuse(download, "the application's own pages are shown in it, not saved as files");
  if (!PageActivation::consume(webkit_download_get_web_view(download))) refuse(download, PageActivation::noPressBehind);
}

}  // namespace

void watch(std::function<void(const std::string&)> showFailure) {
  failureShower() = std::move(showFailure);
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

Followed takeFollowed(WebKitWebView* view, const char* address) {
  auto* link = view ? static_cast<FollowedLink*>(g_object_get_data(G_OBJECT(view), dataKey)) : nullptr;
  Followed followed = Followed::notClicked;
  if (link && address && link->names(address)) followed = link->download ? Followed::toDownload : Followed::byClick;
  if (link) g_object_set_data(G_OBJECT(view), dataKey, nullptr);
  return followed;
}

}  // namespace zorvel::PageDownloads
