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

struct ErrorHolder {
  GError* error = nullptr;
  ~ErrorHolder() {
    if (error) g_error_free(error);
  }
  const char* message() const { return error ? error->message : "unknown error"; }
};

}  // namespace

UserDefaults& UserDefaults::standard() {
  static UserDefaults* defaults = [] {
    char* path = g_build_filename(g_get_user_config_dir(), "zorvel", "defaults.conf", nullptr);
    auto* result = new UserDefaults(path);
    g_free(path);
    return result;
  }();
  return *defaults;
}

UserDefaults::UserDefaults(std::string path) : filePath(std::move(path)), keyFile(g_key_file_new()) { load(); }

UserDefaults::~UserDefaults() { g_key_file_free(keyFile); }

void UserDefaults::load() {
  ErrorHolder holder;
  if (g_key_file_load_from_file(keyFile, filePath.c_str(), G_KEY_FILE_KEEP_COMMENTS, &holder.error)) return;
  if (g_error_matches(holder.error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) return;
  // An unreadable file is set aside rather than overwritten by the next change, so whatever it
  // held can still be recovered by hand.
  defaultsLog().error("cannot read %{public}s: %{public}s", filePath.c_str(), holder.message());
  const std::string aside = filePath + ".unreadable";
  if (g_rename(filePath.c_str(), aside.c_str()) != 0) {
    defaultsLog().error("cannot move %{public}s aside: %{public}s", filePath.c_str(), std::strerror(errno));
  }
  g_key_file_free(keyFile);
  keyFile = g_key_file_new();
}

bool UserDefaults::save() {
  char* directory = g_path_get_dirname(filePath.c_str());
  const int made = g_mkdir_with_parents(directory, 0700);
  g_free(directory);
  if (made != 0) {
    defaultsLog().error("cannot create the folder of %{public}s: %{public}s", filePath.c_str(), std::strerror(errno));
    return false;
  }
  gsize length = 0;
  char* data = g_key_file_to_data(keyFile, &length, nullptr);
  ErrorHolder holder;
  // Writes a temporary file, syncs it and renames it over the old one.
  const bool written = g_file_set_contents_full(filePath.c_str(), data, static_cast<gssize>(length),
                                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, &holder.error);
  g_free(data);
  if (!written) defaultsLog().error("cannot write %{public}s: %{public}s", filePath.c_str(), holder.message());
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
  ErrorHolder holder;
  const double value = g_key_file_get_double(keyFile, group, key.c_str(), &holder.error);
  if (holder.error) return std::nullopt;
  return value;
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
  if (!isValidKey(key)) return std::nullopt;
  std::lock_guard lock(mutex);
  char* value = g_key_file_get_string(keyFile, group, key.c_str(), nullptr);
  if (!value) return std::nullopt;
  std::string result(value);
  g_free(value);
  return result;
}

std::optional<bool> UserDefaults::boolForKey(const std::string& key) const {
  if (!isValidKey(key)) return std::nullopt;
  std::lock_guard lock(mutex);
  ErrorHolder holder;
  const gboolean value = g_key_file_get_boolean(keyFile, group, key.c_str(), &holder.error);
  if (holder.error) return std::nullopt;
  return value != FALSE;
}

std::optional<int64_t> UserDefaults::integerForKey(const std::string& key) const {
  if (!isValidKey(key)) return std::nullopt;
  std::lock_guard lock(mutex);
  ErrorHolder holder;
  const gint64 value = g_key_file_get_int64(keyFile, group, key.c_str(), &holder.error);
  if (holder.error) return std::nullopt;
  return static_cast<int64_t>(value);
}

bool UserDefaults::set(const std::string& key, double value) {
  if (!isValidKey(key)) return false;
  std::lock_guard lock(mutex);
  g_key_file_set_double(keyFile, group, key.c_str(), value);
  return save();
}

bool UserDefaults::set(const std::string& key, const std::string& value) {
  if (!isValidKey(key) || !g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr) ||
      value.find('\0') != std::string::npos) {
    return false;
  }
  std::lock_guard lock(mutex);
  g_key_file_set_string(keyFile, group, key.c_str(), value.c_str());
  return save();
}

bool UserDefaults::set(const std::string& key, const char* value) {
  return value ? set(key, std::string(value)) : removeObject(key);
}

bool UserDefaults::set(const std::string& key, bool value) {
  if (!isValidKey(key)) return false;
  std::lock_guard lock(mutex);
  g_key_file_set_boolean(keyFile, group, key.c_str(), value);
  return save();
}

bool UserDefaults::set(const std::string& key, int64_t value) {
  if (!isValidKey(key)) return false;
  std::lock_guard lock(mutex);
  g_key_file_set_int64(keyFile, group, key.c_str(), value);
  return save();
}

bool UserDefaults::set(const std::string& key, int value) { return set(key, static_cast<int64_t>(value)); }

bool UserDefaults::removeObject(const std::string& key) {
  if (!isValidKey(key)) return false;
  std::lock_guard lock(mutex);
  if (!g_key_file_has_key(keyFile, group, key.c_str(), nullptr)) return true;
  g_key_file_remove_key(keyFile, group, key.c_str(), nullptr);
  return save();
}

}  // namespace platform
