#include "app/WebMemoryProfiler.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <ctime>

namespace zorvel {

namespace {

bool isRepresentable(const nlohmann::json& value) {
  if (value.is_number_float()) return std::isfinite(value.get<double>());
  if (value.is_structured())
    for (const auto& child : value)
      if (!isRepresentable(child)) return false;
  return !value.is_binary() && !value.is_discarded();
}

bool writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool appendToExisting(const std::filesystem::path& file, const std::string& line) {
  int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  writeAll(fd, line);
  ::close(fd);
  return true;
}

// The new file appears complete or not at all; a file created meanwhile by someone else is kept.
void createAtomically(const std::filesystem::path& file, const std::string& line) {
  std::string temporary = file.string() + ".XXXXXX";
  int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return;
  bool written = writeAll(fd, line);
  ::close(fd);
  if (!written || ::link(temporary.c_str(), file.c_str()) != 0) {
    if (written && errno == EEXIST) appendToExisting(file, line);
  }
  ::unlink(temporary.c_str());
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

void WebMemoryProfiler::record(const nlohmann::json& payload) const {
  record(payload, std::chrono::system_clock::now());
}

void WebMemoryProfiler::record(const nlohmann::json& payload, std::chrono::system_clock::time_point now) const {
  if (!isEnabled || !payload.is_object()) return;
  nlohmann::json entry = payload;
  entry["timestamp"] = timestamp(now);
  if (!isRepresentable(entry)) return;
  std::string line;
  try {
    line = entry.dump() + "\n";
  } catch (const nlohmann::json::exception&) {
    return;  // text that is not UTF-8
  }
  std::error_code ignored;
  std::filesystem::create_directories(logFile.parent_path(), ignored);
  if (std::filesystem::exists(logFile, ignored)) {
    appendToExisting(logFile, line);
  } else {
    createAtomically(logFile, line);
  }
}

}  // namespace zorvel
