#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zorvel {

// Strict reader for records decoded from the page or the core. Types are never converted
// (a number is not a boolean, a string is not a number) and the first failure sticks, so a
// record is either complete or not produced at all.
class JSONFieldReader {
 public:
  explicit JSONFieldReader(const nlohmann::json& value) : object(value), failed(!value.is_object()) {}

  bool ok() const { return !failed; }

  std::string requiredString(const char* key) { return required<std::string>(key, &readString); }
  std::optional<std::string> optionalString(const char* key) { return optional<std::string>(key, &readString); }
  std::int64_t requiredInteger(const char* key) { return required<std::int64_t>(key, &readInteger); }
  bool requiredBool(const char* key) { return required<bool>(key, &readBool); }
  std::optional<bool> optionalBool(const char* key) { return optional<bool>(key, &readBool); }
  std::vector<std::string> requiredStringList(const char* key) {
    return required<std::vector<std::string>>(key, &readList<std::string, &readString>);
  }

  // Nested records: `Record::decode(const json&) -> std::optional<Record>`.
  template <class Record>
  Record requiredRecord(const char* key) {
    return required<Record>(key, &readRecord<Record>);
  }
  template <class Record>
  std::optional<Record> optionalRecord(const char* key) {
    return optional<Record>(key, &readRecord<Record>);
  }
  template <class Record>
  std::vector<Record> requiredRecordList(const char* key) {
    return required<std::vector<Record>>(key, &readList<Record, &readRecord<Record>>);
  }

  static std::optional<std::string> readString(const nlohmann::json& v) {
    if (!v.is_string()) return std::nullopt;
    return v.get<std::string>();
  }

  // A JSON number with an integral value that fits 64 signed bits.
  static std::optional<std::int64_t> readInteger(const nlohmann::json& v) {
    if (v.is_number_integer() && !v.is_number_unsigned()) return v.get<std::int64_t>();
    if (v.is_number_unsigned()) {
      auto u = v.get<std::uint64_t>();
      if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
      return static_cast<std::int64_t>(u);
    }
    if (v.is_number_float()) {
      double d = v.get<double>();
      // 2^63 is exactly representable; anything at or beyond it does not fit.
      if (!std::isfinite(d) || std::trunc(d) != d || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
        return std::nullopt;
      return static_cast<std::int64_t>(d);
    }
    return std::nullopt;
  }

  static std::optional<bool> readBool(const nlohmann::json& v) {
    if (!v.is_boolean()) return std::nullopt;
    return v.get<bool>();
  }

 private:
  template <class Record>
  static std::optional<Record> readRecord(const nlohmann::json& v) {
    return Record::decode(v);
  }

  template <class T, std::optional<T> (*readOne)(const nlohmann::json&)>
  static std::optional<std::vector<T>> readList(const nlohmann::json& v) {
    if (!v.is_array()) return std::nullopt;
    std::vector<T> out;
    out.reserve(v.size());
    for (const auto& element : v) {
      auto item = readOne(element);
      if (!item) return std::nullopt;
      out.push_back(std::move(*item));
    }
    return out;
  }

  template <class T>
  T required(const char* key, std::optional<T> (*read)(const nlohmann::json&)) {
    if (failed) return T{};
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
      failed = true;
      return T{};
    }
    auto value = read(*it);
    if (!value) {
      failed = true;
      return T{};
    }
    return std::move(*value);
  }

  template <class T>
  std::optional<T> optional(const char* key, std::optional<T> (*read)(const nlohmann::json&)) {
    if (failed) return std::nullopt;
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return std::nullopt;
    auto value = read(*it);
    if (!value) failed = true;
    return value;
  }

  const nlohmann::json& object;
  bool failed;
};

}  // namespace zorvel
