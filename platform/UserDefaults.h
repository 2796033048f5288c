#pragma once
// Typed settings kept in a key file ($XDG_CONFIG_HOME/zorvel/defaults.conf for the standard
// defaults). Every change is written through at once, atomically, so a crash never leaves a
// half-written file. Safe to use from any thread.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/GLibPtr.h"

namespace platform {

class UserDefaults {
 public:
  static UserDefaults& standard();

  explicit UserDefaults(std::string path);
  ~UserDefaults();
  UserDefaults(const UserDefaults&) = delete;
  UserDefaults& operator=(const UserDefaults&) = delete;

  // Absent when the key is missing or its value does not read as the asked type.
  std::optional<double> doubleForKey(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  std::optional<bool> boolForKey(const std::string& key) const;
  std::optional<int64_t> integerForKey(const std::string& key) const;

  // Each returns false (and changes nothing) when the key is not a valid key name, and false
  // when the file could not be written (the value is then kept for this run only).
  bool set(const std::string& key, double value);
  bool set(const std::string& key, const std::string& value);
  bool set(const std::string& key, const char* value);
  bool set(const std::string& key, bool value);
  bool set(const std::string& key, int64_t value);
  bool set(const std::string& key, int value);
  bool removeObject(const std::string& key);

  const std::string& path() const { return filePath; }

  // Key names are kept to what the file format can hold and read back unchanged.
  static bool isValidKey(const std::string& key);

 private:
  void load();
  bool save();

  std::string filePath;
  mutable std::mutex mutex;
  GKeyFilePtr keyFile;
};

}  // namespace platform
