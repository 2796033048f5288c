#include "platform/URLSession.h"

#include <glib.h>

#include <future>

#include "platform/URLSessionWorker.h"

namespace platform {

using detail::Transfer;

std::optional<std::string> URLResponse::header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && g_ascii_strncasecmp(key.data(), name.data(), name.size()) == 0) return value;
  }
  return std::nullopt;
}

void URLStreamTask::cancel() {
  if (transfer) transfer->cancel();
}

bool URLStreamTask::isCancelled() const { return transfer && transfer->callerCancelled->load(); }

URLSession& URLSession::shared() {
  // Never destroyed: other threads may still use it while the process exits.
  static auto* session = new URLSession();
  return *session;
}

std::shared_ptr<URLSession> URLSession::makeEphemeral(Limits limits) { return std::make_shared<URLSession>(limits); }

URLSession::URLSession(Limits limits) : worker(std::make_unique<detail::SessionWorker>(limits)) {}

URLSession::~URLSession() = default;

namespace {

// Collects a whole response on the worker thread; `deliver` receives it once.
std::shared_ptr<Transfer> collectingTransfer(URLRequest request, std::function<void(URLResponse)> deliver) {
  auto transfer = std::make_shared<Transfer>();
  auto response = std::make_shared<URLResponse>();
  transfer->request = std::move(request);
  transfer->onResponse = [response](int status, const HTTPHeaders& headers) {
    response->status = status;
    response->headers = headers;
  };
  transfer->onData = [response](std::string_view chunk, std::string& error) {
    if (response->body.size() + chunk.size() > URLSession::maximumBodySize) {
      error = "The response is too large.";
      return false;
    }
    response->body.append(chunk);
    return true;
  };
  transfer->onComplete = [response, deliver = std::move(deliver)](std::optional<std::string> error) {
    response->error = std::move(error);
    deliver(std::move(*response));
  };
  return transfer;
}

}  // namespace

void URLSession::dataTask(URLRequest request, std::function<void(URLResponse)> completion) {
  DispatchQueue& queue = worker->delegateQueue();
  auto shared = std::make_shared<std::function<void(URLResponse)>>(std::move(completion));
  worker->start(collectingTransfer(std::move(request), [&queue, shared](URLResponse response) {
    queue.async([shared, response = std::move(response)]() mutable { (*shared)(std::move(response)); });
  }));
}

URLResponse URLSession::sendSynchronously(URLRequest request) {
  if (worker->isCurrent()) {
    URLResponse refused;
    refused.error = "a synchronous request cannot wait on its own session's thread";
    return refused;
  }
  auto promise = std::make_shared<std::promise<URLResponse>>();
  auto answer = promise->get_future();
  worker->start(collectingTransfer(std::move(request),
                                   [promise](URLResponse response) { promise->set_value(std::move(response)); }));
  return answer.get();
}

std::shared_ptr<URLStreamTask> URLSession::streamTask(URLRequest request, ResponseHandler onResponse,
                                                      DataHandler onData, CompletionHandler onComplete) {
  auto task = std::make_shared<URLStreamTask>();
  auto transfer = std::make_shared<Transfer>();
  task->transfer = transfer;
  transfer->request = std::move(request);
  DispatchQueue& queue = worker->delegateQueue();
  // Each callback hops to the delegate queue and is dropped there once the caller has cancelled,
  // so a cancelled stream says nothing more even if data was already on its way.
  auto live = [cancelled = transfer->callerCancelled] { return !cancelled->load(); };
  auto handlers = std::make_shared<std::tuple<ResponseHandler, DataHandler, CompletionHandler>>(
      std::move(onResponse), std::move(onData), std::move(onComplete));
  transfer->onResponse = [&queue, handlers, live](int status, const HTTPHeaders& headers) {
    queue.async([handlers, live, status, headers] {
      if (live() && std::get<0>(*handlers)) std::get<0> (*handlers)(status, headers);
    });
  };
  transfer->onData = [&queue, handlers, live](std::string_view chunk, std::string&) {
    queue.async([handlers, live, data = std::string(chunk)] {
      if (live() && std::get<1>(*handlers)) std::get<1> (*handlers)(data);
    });
    return true;
  };
  transfer->onComplete = [&queue, handlers, live](std::optional<std::string> error) {
    queue.async([handlers, live, error = std::move(error)] {
      if (live() && std::get<2>(*handlers)) std::get<2> (*handlers)(error);
    });
  };
  worker->start(transfer);
  return task;
}

void URLSession::invalidateAndCancel() { worker->invalidate(); }

}  // namespace platform
