#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/EventStreamParser.h"
#include "platform/URLSession.h"

namespace zorvel {

// One server-sent-event stream from the core on a session of its own, so a long-lived stream
// never holds up the page's fetches. Callbacks run on the session's serial delegate queue; the
// owner hops to the main thread. A stream closed by its owner reports nothing more.
class AuthorizedEventStream : public std::enable_shared_from_this<AuthorizedEventStream> {
 public:
  explicit AuthorizedEventStream(platform::URLRequest request);
  ~AuthorizedEventStream();

  std::function<void()> onOpen;
  std::function<void(const std::string& type, const std::string& data, const std::optional<std::string>& id)> onEvent;
  std::function<void(const std::string& message)> onClose;

  void start();
  void cancel();

  static std::string failureMessage(int status);

 private:
  void didReceiveResponse(int status);
  void didReceiveData(std::string_view chunk);
  void didComplete(const std::optional<std::string>& error);
  bool isClosedByClient();

  platform::URLRequest request;
  std::mutex stateLock;
  bool closedByClient = false;  // guarded by stateLock
  std::shared_ptr<platform::URLSession> session;
  std::shared_ptr<platform::URLStreamTask> task;
  // Touched only on the session's delegate queue.
  EventStreamParser parser;
  std::optional<std::string> responseFailure;
  bool ended = false;
};

}  // namespace zorvel
