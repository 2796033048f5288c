#pragma once
// HTTP requests over libsoup. Each session runs its transfers on a worker thread with a main
// context of its own, so nothing here needs the application's main loop; completions and stream
// callbacks are delivered, in order, on the session's own serial delegate queue (never the main
// thread). Hop to the main queue from there when the UI needs the answer.
//
// A session runs a few transfers at once, one connection each, and keeps the rest waiting in the
// order they came, so a burst of requests costs the same per request however long it is: libsoup
// looks a message up by walking its whole queue, and every transfer handed to it waits with a
// timer of its own on the worker's context.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

using HTTPHeaders = std::vector<std::pair<std::string, std::string>>;

// Redirects are followed, except for requests that carry an "Authorization" header: those get
// the redirect response itself, so credentials never travel to another server. Such a request
// must also name its server process (`serverProcess`); one that does not is refused unsent.
struct URLRequest {
  std::string url;
  std::string method = "GET";
  HTTPHeaders headers;
  std::string body;
  // Fails the request when nothing arrives for this long (before the response or between chunks).
  std::chrono::milliseconds timeout{60000};
  // The one process that may receive the request, 0 while there is none. When set, the request
  // goes over a connection made for it, and only once the socket at the far end is seen to be
  // held by that process or one it started and to have been opened by this process's user
  // (platform/SocketPeers.h); otherwise it fails without a byte of it sent. Asked on the
  // session's thread, as the request starts and as its connection is made.
  std::function<pid_t()> serverProcess = {};
};

struct URLResponse {
  int status = 0;
  HTTPHeaders headers;
  std::string body;
  std::optional<std::string> error;  // a transport failure; HTTP error statuses are not errors

  // The first header of this name, compared without regard to case.
  std::optional<std::string> header(std::string_view name) const;
};

namespace detail {
class SessionWorker;
struct Transfer;
}  // namespace detail

// A running streamed request. Once cancelled it reports nothing more, not even its completion.
class URLStreamTask {
 public:
  void cancel();
  bool isCancelled() const;

 private:
  friend class URLSession;
  std::shared_ptr<detail::Transfer> transfer;
};

struct URLSessionLimits {
  // Transfers running at once; a stream holds its place until it ends.
  std::size_t running = 6;
  // Requests waiting for a place, counted and by the bytes of their URLs, fields and bodies.
  // One beyond either fails at once rather than waiting.
  std::size_t waiting = std::numeric_limits<std::size_t>::max();
  std::size_t waitingBytes = std::numeric_limits<std::size_t>::max();
};

class URLSession {
 public:
  using Limits = URLSessionLimits;

  using ResponseHandler = std::function<void(int status, const HTTPHeaders& headers)>;
  using DataHandler = std::function<void(std::string_view chunk)>;
  using CompletionHandler = std::function<void(std::optional<std::string> error)>;

  // Bodies of data tasks beyond this size fail rather than exhaust memory.
  static constexpr size_t maximumBodySize = 64 * 1024 * 1024;

  static URLSession& shared();
  static std::shared_ptr<URLSession> makeEphemeral(Limits limits = {});

  explicit URLSession(Limits limits = {});
  ~URLSession();
  URLSession(const URLSession&) = delete;
  URLSession& operator=(const URLSession&) = delete;

  void dataTask(URLRequest request, std::function<void(URLResponse)> completion);
  // Blocks until the answer arrives; never call it on the main thread or from a session callback.
  URLResponse sendSynchronously(URLRequest request);
  std::shared_ptr<URLStreamTask> streamTask(URLRequest request, ResponseHandler onResponse, DataHandler onData,
                                            CompletionHandler onComplete);
  // The answer of a request refused because too many are waiting.
  static constexpr const char* tooManyWaiting = "Too many requests are waiting to be sent.";
  // The answer of a request whose server process is not there (`URLRequest::serverProcess`).
  static constexpr const char* noServerProcess = "The server for this request is not running.";
  // The answer of a request that carries credentials but names no server process to receive them.
  static constexpr const char* credentialsWithoutServer =
      "Refused to send the request: it carries credentials but names no server process to receive them.";
  // Cancels every running and waiting task; tasks started afterwards fail at once.
  void invalidateAndCancel();

 private:
  std::unique_ptr<detail::SessionWorker> worker;
};

}  // namespace platform
