#include "platform/UserDefaults.h"

#include <glib.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <cstring>

#include "platform/Log.h"

namespace platform {

namespace {

constexpr const char* group = "defaults";

const Logger& defaultsLog() {
  static const Logger log("local.zorvel.desktop", "defaults");
  return log;
}

const char* describe(const GErrorPtr& error) { return error ? error->message : "unknown error"; }

}  // namespace

UserDefaults& UserDefaults::standard() {
  static UserDefaults* defaults = [] {
    GCharPtr path(g_build_filename(g_get_user_config_dir(), "zorvel", "defaults.conf", nullptr));
    return new UserDefaults(path.get());
  }();
  return *defaults;
}

UserDefaults::UserDefaults(std::string path) : filePath(std::move(path)), keyFile(g_key_file_new()) { load(); }

UserDefaults::~UserDefaults() = default;

void UserDefaults::load() {
  GErrorPtr error;
  if (g_key_file_load_from_file(keyFile.get(), filePath.c_str(), G_KEY_FILE_KEEP_COMMENTS, out(error))) return;
  if (g_error_matches(error.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT)) return;
  // An unreadable file is set aside rather than overwritten by the next change, so whatever it
  // held can still be recovered by hand.
  defaultsLog().error("cannot read %{public}s: %{public}s", filePath.c_str(), describe(error));
  const std::string aside = filePath + ".unreadable";
  if (g_rename(filePath.c_str(), aside.c_str()) != 0) {
    defaultsLog().error("cannot move %{public}s aside: %{public}s", filePath.c_str(), std::strerror(errno));
  }
  keyFile.reset(g_key_file_new());
}

bool UserDefaults::save() {
  GCharPtr directory(g_path_get_dirname(filePath.c_str()));
  if (g_mkdir_with_parents(directory.get(), 0700) != 0) {
    defaultsLog().error("cannot create the folder of %{public}s: %{public}s", filePath.c_str(), std::strerror(errno));
    return false;
  }
  gsize length = 0;
  GCharPtr data(g_key_file_to_data(keyFile.get(), &length, nullptr));
  GErrorPtr error;
  // Writes a temporary file, syncs it and renames it over the old one.
  const bool written = g_file_set_contents_full(filePath.c_str(), data.get(), static_cast<gssize>(length),
                                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, out(error));
  if (!written) defaultsLog().error("cannot write %{public}s: %{public}s", filePath.c_str(), describe(error));
  return written;
}

bool UserDefaults::isValidKey(const std::string& key) {
  if (key.empty() || key.front() == ' ' || key.back() == ' ' || key.front() == '#') return false;
  if (!g_utf8_validate(key.data(), static_cast<gssize>(key.size()), nullptr)) return false;
  for (unsigned char c : key) {
    if (c < 0x20 || c == 0x7f || c == '=' || c == '[' || c == ']') return false;
  }
  return true;
}

std::optional<double> UserDefaults::doubleForKey(const std::string& key) const {
  if (!isValidKey(key)) return std::nullopt;
  std::lock_guard lock(mutex);
  GErrorPtr error;
  const double value = g_key_file_get_double(keyFile.get(), group, key.c_str(), out(error));
  if (error) return std::nullopt;
  return value;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  if (!isValidKey(key)) return std::nullopt;
  std::lock_guard lock(mutex);
  GCharPtr value(g_key_file_get_string(keyFile.get(), group, key.c_str(), nullptr));
  if (!value) return std::nullopt;
  return std::string(value.get());
}

std::optional<bool> UserDefaults::boolForKey(const std::string& key) const {
  if (!isValidKey(key)) return std::nullopt;
  std::lock_guard lock(mutex);
  GErrorPtr error;
  const gboolean value = g_key_file_get_boolean(keyFile.get(), group, key.c_str(), out(error));
  if (error) return std::nullopt;
  return value != FALSE;
}

std::optional<int64_t> UserDefaults::integerForKey(const std::string& key) const {
  if (!isValidKey(key)) return std::nullopt;
  std::lock_guard lock(mutex);
  GErrorPtr error;
  const gint64 value = g_key_file_get_int64(keyFile.get(), group, key.c_str(), out(error));
  if (error) return std::nullopt;
  return static_cast<int64_t>(value);
}

bool UserDefaults::set(const std::string& key, double value) {
  if (!isValidKey(key)) return false;
  std::lock_guard lock(mutex);
  g_key_file_set_double(keyFile.get(), group, key.c_str(), value);
  return save();
}

bool UserDefaults::set(const std::string& key, const std::string& value) {
  if (!isValidKey(key) || !g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr) ||
      value.find('\0') != std::string::npos) {
    return false;
  }
  std::lock_guard lock(mutex);
  g_key_file_set_string(keyFile.get(), group, key.c_str(), value.c_str());
  return save();
}

bool UserDefaults::set(const std::string& key, const char* value) {
  return value ? set(key, std::string(value)) : removeObject(key);
}

bool UserDefaults::set(const std::string& key, bool value) {
  if (!isValidKey(key)) return false;
  std::lock_guard lock(mutex);
  g_key_file_set_boolean(keyFile.get(), group, key.c_str(), value);
  return save();
}

bool UserDefaults::set(const std::string& key, int64_t value) {
  if (!isValidKey(key)) return false;
  std::lock_guard lock(mutex);
  g_key_file_set_int64(keyFile.get(), group, key.c_str(), value);
  return save();
}

bool UserDefaults::set(const std::string& key, int value) { return set(key, static_cast<int64_t>(value)); }

bool UserDefaults::removeObject(const std::string& key) {
  if (!isValidKey(key)) return false;
  std::lock_guard lock(mutex);
  if (!g_key_file_has_key(keyFile.get(), group, key.c_str(), nullptr)) return true;
  g_key_file_remove_key(keyFile.get(), group, key.c_str(), nullptr);
  return save();
}

}  // namespace platform
