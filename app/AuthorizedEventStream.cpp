#include "app/AuthorizedEventStream.h"

#include "platform/Dispatch.h"

namespace zorvel {

AuthorizedEventStream::AuthorizedEventStream(platform::URLRequest request)
    : request(std::move(request)), parser([this](ServerSentEvent event) {
        if (onEvent && !isClosedByClient()) onEvent(event.type, event.data, event.id);
      }) {}

AuthorizedEventStream::~AuthorizedEventStream() {
  if (task) task->cancel();
  // The last reference may go on the session's own delegate queue, which cannot tear down the
  // session that runs it; the main queue can.
  if (session) platform::DispatchQueue::main().async([session = std::move(session)] {});
}

std::string AuthorizedEventStream::failureMessage(int status) {
  return "Event stream request failed (" + std::to_string(status) + ")";
}

void AuthorizedEventStream::start() {
  session = platform::URLSession::makeEphemeral();
  // Weak, so the stream and its session go as soon as their owner lets go of them.
  std::weak_ptr<AuthorizedEventStream> weak = weak_from_this();
  task = session->streamTask(
      request,
      [weak](int status, const platform::HTTPHeaders&) {
        if (auto self = weak.lock()) self->didReceiveResponse(status);
      },
      [weak](std::string_view chunk) {
        if (auto self = weak.lock()) self->didReceiveData(chunk);
      },
      [weak](std::optional<std::string> error) {
        if (auto self = weak.lock()) self->didComplete(error);
      });
}

void AuthorizedEventStream::cancel() {
  {
    std::lock_guard<std::mutex> lock(stateLock);
    closedByClient = true;
  }
  if (task) task->cancel();
  if (session) session->invalidateAndCancel();
}

bool AuthorizedEventStream::isClosedByClient() {
  std::lock_guard<std::mutex> lock(stateLock);
  return closedByClient;
}

void AuthorizedEventStream::didReceiveResponse(int status) {
  if (status >= 200 && status <= 299) {
    if (onOpen && !isClosedByClient()) onOpen();
    return;
  }
  responseFailure = failureMessage(status > 0 ? status : 599);
  // A cancelled transfer reports no completion, so the failure is reported here.
  if (task) task->cancel();
  didComplete(std::nullopt);
}

void AuthorizedEventStream::didReceiveData(std::string_view chunk) {
  if (!ended && !responseFailure) parser.append(chunk);
}

void AuthorizedEventStream::didComplete(const std::optional<std::string>& error) {
  if (ended) return;
  ended = true;
  bool byClient = isClosedByClient();
  if (byClient || !onClose) return;
  if (responseFailure)
    onClose(*responseFailure);
  else if (error)
    onClose(*error);
  else
    onClose("Event stream ended");
}

}  // namespace zorvel
