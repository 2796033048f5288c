#include "app/WebDataFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <webkit/webkit.h>

#include <filesystem>

namespace zorvel::WebDataFolders {

namespace {

// A folder of ours, created private or made so; false when it cannot be.
bool privateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  struct stat status {};
  if (errno != EEXIST || ::lstat(path.c_str(), &status) != 0) return false;
  if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) return false;
  return (status.st_mode & 07777) == 0700 || ::chmod(path.c_str(), 0700) == 0;
}

void privateFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return;
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
      (status.st_mode & 07777) != 0600) {
    ::fchmod(fd, 0600);
  }
  ::close(fd);
}

void makeFolders(const std::string& base, std::initializer_list<const char*> inside) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(base).parent_path(), error);
  if (!privateFolder(base)) return;
  for (const char* name : inside) privateFolder(base + "/" + name);
}

}  // namespace

void makePrivate(const std::string& dataFolder, const std::string& cacheFolder) {
  // The folders WebKit keeps in each: local storage and media keys; the page cache, the cache
  // storage and the HSTS store, a database that starts as an empty file.
  makeFolders(dataFolder, {"storage", "mediakeys"});
  makeFolders(cacheFolder, {"WebKitCache", "CacheStorage", "HSTS"});
  privateFile(cacheFolder + "/HSTS/hsts-storage.sqlite");
}

void makeDefaultSessionPrivate() {
  auto* manager = webkit_network_session_get_website_data_manager(webkit_network_session_get_default());
  const char* data = webkit_website_data_manager_get_base_data_directory(manager);
  const char* cache = webkit_website_data_manager_get_base_cache_directory(manager);
  if (data && cache) makePrivate(data, cache);
}

}  // namespace zorvel::WebDataFolders
