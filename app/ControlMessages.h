#pragma once

#include <sys/types.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zorvel {

// Splits the core's output into newline-delimited JSON objects. A line longer than the limit is
// dropped up to its line feed rather than growing the buffer without bound.
class ControlLineReader {
 public:
  static constexpr size_t defaultLineLimit = 4 << 20;
  explicit ControlLineReader(size_t lineLimit = defaultLineLimit) : lineLimit(lineLimit) {}

  void feed(std::string_view bytes, const std::function<void(nlohmann::json&&)>& onObject);

 private:
  void finishLine(const std::function<void(nlohmann::json&&)>& onObject);

  size_t lineLimit;
  std::string buffer;
  bool discarding = false;
};

// The core's requests, decoded and validated; anything that does not fit is not represented.
struct IssueRequest {
  std::string requestID;
  std::string projectID;
  std::string access;
  std::optional<std::string> taskID;
  std::optional<std::string> sessionID;
  std::optional<std::string> reportID;
};
struct RevokeRequest {
  std::string tokenID;
};
struct BindRequest {
  std::string requestID;
  std::string tokenID;
  pid_t pid = 0;
};
struct SyncedReply {
  std::string requestID;
};
using ControlMessage = std::variant<IssueRequest, RevokeRequest, BindRequest, SyncedReply>;

std::optional<ControlMessage> decodeControlMessage(const nlohmann::json& object);
// One control line: compact JSON with "/" escaped, then a line feed.
std::string encodeControlLine(const nlohmann::json& message);

}  // namespace zorvel
