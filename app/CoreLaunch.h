#pragma once

#include <sys/types.h>

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zorvel {

class DesktopRuntimeAuthority;

// What the core is started with and what counts as its readiness answer.
struct CoreLaunch {
  static constexpr int defaultPort = 7332;
  static constexpr const char* failureDomain = "ZorvelDesktop.Core";
  static constexpr const char* notReadyReason = "Core did not become ready";

  static std::vector<std::string> arguments(const std::string& dataDirectory, int port, pid_t parentPID);
  static std::map<std::string, std::string> environment(const std::map<std::string, std::string>& inherited,
                                                        const nlohmann::json& info, bool setupPreview,
                                                        const std::string& executableSearchPath);
  static nlohmann::json bootstrapMessage(const DesktopRuntimeAuthority& authority);
  // Whether a readiness answer's body names a compatible desktop runtime of the given process.
  static bool isReadyAnswer(const std::string& body, std::optional<pid_t> corePID);
  // The port of a base URL such as "http://127.0.0.1:7332"; the default when it has none.
  static int portOf(const std::string& baseURL);
  // The reason shown for a core that did not become ready: its trimmed error output.
  static std::string failureReason(const std::string& errorOutput);
};

// Keeps the last bytes a stream produced, so a chatty process can be drained without limit while
// only its tail is remembered.
class BoundedTail {
 public:
  explicit BoundedTail(size_t limit = 8 * 1024) : limit(limit) {}
  void append(std::string_view bytes);
  const std::string& text() const { return tail; }

 private:
  size_t limit;
  std::string tail;
};

}  // namespace zorvel
