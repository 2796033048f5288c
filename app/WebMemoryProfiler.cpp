#include "app/WebMemoryProfiler.h"

#include <cmath>
#include <ctime>

#include "app/LogFile.h"

namespace zorvel {

namespace {

bool isRepresentable(const nlohmann::json& value) {
  if (value.is_number_float()) return std::isfinite(value.get<double>());
  if (value.is_structured())
    for (const auto& child : value)
      if (!isRepresentable(child)) return false;
  return !value.is_binary() && !value.is_discarded();
}

}  // namespace

WebMemoryProfiler::WebMemoryProfiler(const std::filesystem::path& dataDirectory,
                                     const std::optional<std::string>& distributionChannel)
    : isEnabled(distributionChannel == std::optional<std::string>("development")),
      logFile(dataDirectory / "logs" / "web-memory-profile.jsonl") {}

std::string WebMemoryProfiler::timestamp(std::chrono::system_clock::time_point time) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

bool WebMemoryProfiler::isWritable(const nlohmann::json& sample) {
  if (!sample.is_object() || !isRepresentable(sample)) return false;
  try {
    (void)sample.dump();
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;  // text that is not UTF-8
  }
}

void WebMemoryProfiler::record(const nlohmann::json& payload) const {
  record(payload, std::chrono::system_clock::now());
}

void WebMemoryProfiler::record(const nlohmann::json& payload, std::chrono::system_clock::time_point now) const {
  if (!isEnabled || !isWritable(payload)) return;
  nlohmann::json entry = payload;
  entry["timestamp"] = timestamp(now);
  LogFile::appendLine(logFile, entry.dump() + "\n");
}

}  // namespace zorvel
