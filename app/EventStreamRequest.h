#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "app/FetchProxy.h"
#include "app/URL.h"

namespace zorvel {

// The checks and the request of an "event-stream-open" message: a stream id the page chose and a
// URL that must be the core's own /events endpoint.
struct EventStreamRequest {
  std::string id;
  FetchProxy::Request request;

  static std::optional<EventStreamRequest> make(const nlohmann::json& message, const URL& baseURL,
                                                const std::string& desktopToken);
  // Up to 128 characters, each a letter, a number or "-".
  static bool isValidStreamID(std::string_view id);
};

}  // namespace zorvel
