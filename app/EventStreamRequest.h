#pragma once

#include <optional>
#include <string>

#include "app/FetchProxy.h"
#include "app/PageMessages.h"
#include "app/URL.h"

namespace zorvel {

// The request of an "event-stream-open" message: the page's stream id and the core's /events
// endpoint, never another origin's. The desktop's token is CoreAccess's to add.
struct EventStreamRequest {
  std::string id;
  FetchProxy::Request request;

  static std::optional<EventStreamRequest> make(const PageMessages::EventStreamOpen& open, const URL& baseURL);
};

}  // namespace zorvel
