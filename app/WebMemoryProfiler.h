#pragma once

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zorvel {

// Appends the page's memory samples, one JSON line each, to logs/web-memory-profile.jsonl in the
// data directory. Only development builds record; elsewhere every sample is dropped.
class WebMemoryProfiler {
 public:
  WebMemoryProfiler(const std::filesystem::path& dataDirectory, const std::optional<std::string>& distributionChannel);

  bool enabled() const { return isEnabled; }
  const std::filesystem::path& logURL() const { return logFile; }

  // Never reports a failure: a sample that cannot be written is dropped.
  void record(const nlohmann::json& payload) const;
  void record(const nlohmann::json& payload, std::chrono::system_clock::time_point now) const;

  static std::string timestamp(std::chrono::system_clock::time_point time);
  // Whether the sample can be a line of the log: an object of finite numbers and UTF-8 text.
  static bool isWritable(const nlohmann::json& sample);

 private:
  bool isEnabled;
  std::filesystem::path logFile;
};

}  // namespace zorvel
