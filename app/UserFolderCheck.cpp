#include "app/UserFolderCheck.h"

#include <glib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace zorvel::UserFolderCheck {

namespace {

std::optional<std::string> setVariable(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(name);
}

bool isNoFolder(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) return !S_ISDIR(info.st_mode);
  return errno == ENOTDIR;
}

}  // namespace

std::vector<UserFolder> currentFolders() {
  // GLib's own answers: they are the paths the web view and its sandbox go on to use.
  return {
      {"home", g_get_home_dir(), setVariable("HOME")},
      {"cache", g_get_user_cache_dir(), setVariable("XDG_CACHE_HOME")},
      {"configuration", g_get_user_config_dir(), setVariable("XDG_CONFIG_HOME")},
      {"data", g_get_user_data_dir(), setVariable("XDG_DATA_HOME")},
      {"runtime", g_get_user_runtime_dir(), setVariable("XDG_RUNTIME_DIR")},
  };
}

std::optional<std::string> problem(const std::vector<UserFolder>& folders) {
  for (const auto& folder : folders) {
    if (folder.path.empty() || !isNoFolder(folder.path)) continue;
    std::string text = "Your " + folder.role + " folder " + folder.path;
    text += folder.variable ? " (from " + *folder.variable + ")" : "";
    text += " is a file, or lies inside one, rather than a folder; Zorvel's web view cannot run without it. ";
    text += folder.variable ? "Set " + *folder.variable + " to a folder, or unset it," : "Move the file out of the way";
    return text + " and start Zorvel again.";
  }
  return std::nullopt;
}

}  // namespace zorvel::UserFolderCheck
