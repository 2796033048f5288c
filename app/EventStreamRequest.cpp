#include "app/EventStreamRequest.h"

namespace zorvel {

std::optional<EventStreamRequest> EventStreamRequest::make(const PageMessages::EventStreamOpen& open,
                                                           const URL& baseURL) {
  if (!open.url.hasSameOrigin(baseURL)) return std::nullopt;
  EventStreamRequest result;
  result.id = open.id;
  result.request.url = open.url.string();
  if (open.lastEventID) result.request.headers.emplace_back("Last-Event-ID", *open.lastEventID);
  return result;
}

}  // namespace zorvel
