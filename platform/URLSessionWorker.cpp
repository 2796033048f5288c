#include "platform/URLSessionWorker.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/Log.h"
#include "platform/SocketPeers.h"

namespace platform::detail {

namespace {

constexpr gsize chunkSize = 64 * 1024;
constexpr auto drainLimit = std::chrono::seconds(2);

using TransferRef = std::shared_ptr<Transfer>;

const Logger& sessionLog() {
  static const Logger log("local.zorvel.desktop", "http");
  return log;
}

// A reference handed through a GLib callback's user data and taken back in the callback.
void* hold(const TransferRef& transfer) { return new TransferRef(transfer); }
TransferRef release(void* data) {
  std::unique_ptr<TransferRef> ref(static_cast<TransferRef*>(data));
  return *ref;
}

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  return std::all_of(text.begin(), text.end(),
                     [](unsigned char c) { return c > 0x20 && c < 0x7f && !std::strchr("\"(),/:;<=>?@[\\]{}", c); });
}

// Header values must not smuggle extra lines or headers into the request.
bool isHeaderValue(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

std::optional<std::string> validate(const URLRequest& request) {
  GUriPtr uri(g_uri_parse(request.url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr));
  if (!uri) return "unsupported URL";
  const char* scheme = g_uri_get_scheme(uri.get());
  const char* host = g_uri_get_host(uri.get());
  const bool web = scheme && (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0);
  if (!web || !host || !*host) return "unsupported URL";
  if (!isToken(request.method)) return "invalid request method";
  for (const auto& [name, value] : request.headers) {
    if (!isToken(name) || !isHeaderValue(value)) return "invalid request header";
  }
  return std::nullopt;
}

bool carriesCredentials(const URLRequest& request) {
  return std::any_of(request.headers.begin(), request.headers.end(),
                     [](const auto& field) { return g_ascii_strcasecmp(field.first.c_str(), "Authorization") == 0; });
}

std::optional<TCPEndpoint> endpointOf(GSocketAddress* address) {
  if (!G_IS_INET_SOCKET_ADDRESS(address)) return std::nullopt;
  auto* socketAddress = G_INET_SOCKET_ADDRESS(address);
  GInetAddress* host = g_inet_socket_address_get_address(socketAddress);
  TCPEndpoint endpoint;
  endpoint.family = g_inet_address_get_family(host) == G_SOCKET_FAMILY_IPV6 ? AF_INET6 : AF_INET;
  const gsize size = g_inet_address_get_native_size(host);
  if (size > endpoint.address.size()) return std::nullopt;
  std::memcpy(endpoint.address.data(), g_inet_address_to_bytes(host), size);
  endpoint.port = g_inet_socket_address_get_port(socketAddress);
  return endpoint;
}

// Why the connection must not carry a request for the server process, or nothing when it may.
std::optional<std::string> refusalFor(GSocketConnection* connection, pid_t server) {
  GObjectPtr<GSocketAddress> local(g_socket_connection_get_local_address(connection, nullptr));
  GObjectPtr<GSocketAddress> remote(g_socket_connection_get_remote_address(connection, nullptr));
  auto localEnd = local ? endpointOf(local.get()) : std::nullopt;
  auto remoteEnd = remote ? endpointOf(remote.get()) : std::nullopt;
  if (!localEnd || !remoteEnd) return "the connection is not a TCP connection";
  return refusalForServer(*localEnd, *remoteEnd, server);
}

HTTPHeaders headersOf(SoupMessage* message) {
  HTTPHeaders headers;
  soup_message_headers_foreach(
      soup_message_get_response_headers(message),
      [](const char* name, const char* value, gpointer data) {
        static_cast<HTTPHeaders*>(data)->emplace_back(name, value);
      },
      &headers);
  return headers;
}

}  // namespace

Transfer::Transfer() : cancellable(g_cancellable_new()) {}

Transfer::~Transfer() = default;

void Transfer::cancel() {
  callerCancelled->store(true);
  g_cancellable_cancel(cancellable.get());
}

std::size_t Transfer::waitingBytes() const {
  std::size_t bytes = request.url.size() + request.method.size() + request.body.size();
  for (const auto& [name, value] : request.headers) bytes += name.size() + value.size();
  return bytes;
}

SessionWorker::SessionWorker(URLSession::Limits limits)
    : limits{std::max<std::size_t>(limits.running, 1), limits.waiting, limits.waitingBytes},
      context(g_main_context_new()) {
  thread = std::thread([this] { run(); });
}

SessionWorker::~SessionWorker() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  g_main_context_wakeup(context.get());
  thread.join();
}

void SessionWorker::run() {
  g_main_context_push_thread_default(context.get());
  // One connection for each running transfer, so libsoup never keeps a queue of its own.
  const int connections = static_cast<int>(std::min<std::size_t>(limits.running, G_MAXINT));
  session.reset(soup_session_new_with_options("max-conns", connections, "max-conns-per-host", connections, nullptr));
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (stopping) break;
    }
    g_main_context_iteration(context.get(), TRUE);
  }
  failWaiting("The session was invalidated.");
  // Let every running transfer see its cancellation and report, within a bounded time.
  // Cancelling may finish a transfer at once, so go over a copy of the set.
  for (const auto& transfer : std::set<TransferRef>(active)) g_cancellable_cancel(transfer->cancellable.get());
  soup_session_abort(session.get());
  const auto deadline = std::chrono::steady_clock::now() + drainLimit;
  while ((!active.empty() || g_main_context_pending(context.get())) && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(context.get(), FALSE);
    if (!active.empty()) g_usleep(1000);
  }
  for (const auto& transfer : std::set<TransferRef>(active)) finish(*transfer, "The session was invalidated.");
  session.reset();
  g_main_context_pop_thread_default(context.get());
}

bool SessionWorker::submit(std::function<void()> work) {
  std::lock_guard lock(mutex);
  if (stopping) return false;
  g_main_context_invoke_full(
      context.get(), G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(work)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
  return true;
}

void SessionWorker::start(std::shared_ptr<Transfer> transfer) {
  const char* refusal = nullptr;
  bool wake = false;
  {
    std::lock_guard lock(mutex);
    const std::size_t bytes = transfer->waitingBytes();
    if (stopping) {
      refusal = "The session was invalidated.";
    } else if (waiting.size() >= limits.waiting || bytes > limits.waitingBytes - waitingBytes) {
      refusal = URLSession::tooManyWaiting;
    } else {
      waiting.push_back(std::move(transfer));
      waitingBytes += bytes;
      wake = !std::exchange(admitScheduled, true);
    }
  }
  if (refusal) {
    transfer->finished = true;
    transfer->onComplete(refusal);
    return;
  }
  // One wake-up for a whole burst: the worker takes every request that came meanwhile.
  if (wake) {
    submit([this] {
      {
        std::lock_guard lock(mutex);
        admitScheduled = false;
      }
      admit();
    });
  }
}

void SessionWorker::invalidate() {
  invalidated = true;
  submit([this] {
    failWaiting("The session was invalidated.");
    for (const auto& transfer : std::set<TransferRef>(active)) g_cancellable_cancel(transfer->cancellable.get());
  });
}

void SessionWorker::failWaiting(const char* reason) {
  std::deque<TransferRef> dropped;
  {
    std::lock_guard lock(mutex);
    dropped.swap(waiting);
    waitingBytes = 0;
  }
  for (const auto& transfer : dropped) {
    transfer->finished = true;
    transfer->onComplete(reason);
  }
}

void SessionWorker::admit() {
  // A transfer that fails as it begins finishes, and so admits, within this loop.
  if (admitting) return;
  admitting = true;
  while (running < limits.running) {
    TransferRef next;
    {
      std::lock_guard lock(mutex);
      if (waiting.empty()) break;
      next = std::move(waiting.front());
      waiting.pop_front();
      waitingBytes -= next->waitingBytes();
    }
    begin(next);
  }
  admitting = false;
}

void SessionWorker::begin(const std::shared_ptr<Transfer>& transfer) {
  active.insert(transfer);
  transfer->owner = this;
  transfer->holdsPlace = true;
  ++running;
  if (invalidated) return finish(*transfer, "The session was invalidated.");
  if (auto invalid = validate(transfer->request)) return finish(*transfer, std::move(invalid));
  if (g_cancellable_is_cancelled(transfer->cancellable.get())) return finish(*transfer, "cancelled");
  const URLRequest& request = transfer->request;
  // Credentials go only where a process was named to check the far end against: whoever holds
  // the port otherwise, another user among them, would get them.
  if (!request.serverProcess && carriesCredentials(request)) {
    sessionLog().error("%{public}s %{public}s", request.url.c_str(), URLSession::credentialsWithoutServer);
    return finish(*transfer, URLSession::credentialsWithoutServer);
  }
  if (request.serverProcess && request.serverProcess() <= 0) return finish(*transfer, URLSession::noServerProcess);
  transfer->message.reset(soup_message_new(request.method.c_str(), request.url.c_str()));
  SoupMessage* message = transfer->message.get();
  if (!message) return finish(*transfer, "unsupported URL");
  SoupMessageHeaders* headers = soup_message_get_request_headers(message);
  for (const auto& [name, value] : request.headers) soup_message_headers_append(headers, name.c_str(), value.c_str());
  // Credentials are meant for the server asked, so a redirect of such a request is handed back
  // to the caller instead of being followed with the credentials to wherever it points.
  if (soup_message_headers_get_one(headers, "Authorization")) soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
  if (request.serverProcess) watchConnection(*transfer);
  if (!request.body.empty()) {
    GBytesPtr body(g_bytes_new(request.body.data(), request.body.size()));
    soup_message_set_request_body_from_bytes(message, nullptr, body.get());
  }
  armTimeout(*transfer);
  soup_session_send_async(session.get(), message, G_PRIORITY_DEFAULT, transfer->cancellable.get(),
                          reinterpret_cast<GAsyncReadyCallback>(&SessionWorker::onSent), hold(transfer));
}

void SessionWorker::watchConnection(Transfer& transfer) {
  SoupMessage* message = transfer.message.get();
  // A connection kept from an earlier request was checked for that request's server, if at all;
  // a connection of its own is checked for this one's, before its first byte is written.
  soup_message_add_flags(message, SOUP_MESSAGE_NEW_CONNECTION);
  g_signal_connect(message, "network-event", G_CALLBACK(&SessionWorker::onNetworkEvent), &transfer);
  g_signal_connect(message, "starting", G_CALLBACK(&SessionWorker::onStarting), &transfer);
}

void SessionWorker::onNetworkEvent(SoupMessage* message, int event, void* connection, void* data) {
  auto& transfer = *static_cast<Transfer*>(data);
  if (event != G_SOCKET_CLIENT_CONNECTED || transfer.refusal) return;
  if (!G_IS_SOCKET_CONNECTION(connection)) return refuse(transfer, "the connection is not a socket connection");
  const pid_t server = transfer.request.serverProcess();
  if (auto refusal = refusalFor(G_SOCKET_CONNECTION(connection), server)) return refuse(transfer, std::move(*refusal));
  transfer.checkedConnection = soup_message_get_connection_id(message);
}

void SessionWorker::onStarting(SoupMessage* message, void* data) {
  auto& transfer = *static_cast<Transfer*>(data);
  // The request is about to be written: only over the connection that was checked for it.
  if (!transfer.refusal && transfer.checkedConnection != soup_message_get_connection_id(message)) {
    refuse(transfer, "its connection was not checked");
  }
}

void SessionWorker::refuse(Transfer& transfer, std::string reason) {
  transfer.refusal = "Refused to send the request: " + std::move(reason) + ".";
  // A server's address taken by another process is worth a line in the log, for each request.
  sessionLog().error("%{public}s %{public}s", transfer.request.url.c_str(), transfer.refusal->c_str());
  // Cancelled here, within the signal, nothing of the request is written.
  g_cancellable_cancel(transfer.cancellable.get());
}

void SessionWorker::disarmTimeout(Transfer& transfer) { transfer.timeoutSource.reset(); }

void SessionWorker::armTimeout(Transfer& transfer) {
  disarmTimeout(transfer);
  if (transfer.request.timeout.count() <= 0) return;
  const auto ms = static_cast<guint>(std::min<long long>(transfer.request.timeout.count(), G_MAXUINT));
  AttachedSourcePtr source(g_timeout_source_new(ms));
  g_source_set_callback(source.get(), &SessionWorker::onTimeout, &transfer, nullptr);
  g_source_attach(source.get(), context.get());
  transfer.timeoutSource = std::move(source);
}

int SessionWorker::onTimeout(void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  transfer->timedOut = true;
  g_cancellable_cancel(transfer->cancellable.get());
  return G_SOURCE_REMOVE;
}

void SessionWorker::onSent(void* source, void* result, void* data) {
  TransferRef transfer = release(data);
  SessionWorker* worker = transfer->owner;
  GErrorPtr error;
  GObjectPtr<GInputStream> stream(soup_session_send_finish(SOUP_SESSION(source), G_ASYNC_RESULT(result), out(error)));
  if (!stream) {
    const char* text = error ? error->message : "request failed";
    return worker->finish(*transfer, worker->failureText(*transfer, text));
  }
  transfer->stream = std::move(stream);
  SoupMessage* message = transfer->message.get();
  transfer->onResponse(static_cast<int>(soup_message_get_status(message)), headersOf(message));
  worker->armTimeout(*transfer);
  worker->readNext(*transfer);
}

void SessionWorker::readNext(Transfer& transfer) {
  g_input_stream_read_bytes_async(transfer.stream.get(), chunkSize, G_PRIORITY_DEFAULT, transfer.cancellable.get(),
                                  reinterpret_cast<GAsyncReadyCallback>(&SessionWorker::onRead),
                                  hold(transfer.shared_from_this()));
}

void SessionWorker::onRead(void* source, void* result, void* data) {
  TransferRef transfer = release(data);
  SessionWorker* worker = transfer->owner;
  GErrorPtr error;
  GBytesPtr bytes(g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), G_ASYNC_RESULT(result), out(error)));
  if (!bytes) {
    const char* text = error ? error->message : "read failed";
    return worker->finish(*transfer, worker->failureText(*transfer, text));
  }
  gsize size = 0;
  const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
  if (size == 0) return worker->finish(*transfer, std::nullopt);
  std::string stop;
  const bool keepGoing = transfer->onData(std::string_view(chunk, size), stop);
  bytes.reset();
  if (!keepGoing) return worker->finish(*transfer, stop);
  worker->armTimeout(*transfer);
  worker->readNext(*transfer);
}

std::optional<std::string> SessionWorker::failureText(const Transfer& transfer, const char* error) const {
  if (transfer.refusal) return transfer.refusal;
  if (transfer.timedOut) return "The request timed out.";
  if (transfer.callerCancelled->load() || invalidated) return "cancelled";
  return std::string(error);
}

void SessionWorker::finish(Transfer& transfer, std::optional<std::string> error) {
  if (transfer.finished) return;
  transfer.finished = true;
  disarmTimeout(transfer);
  // Soup objects belong to this thread; the caller may drop its last reference anywhere.
  transfer.stream.reset();
  // The message may outlive this transfer inside libsoup; it must call back into it no more.
  if (transfer.message) g_signal_handlers_disconnect_by_data(transfer.message.get(), &transfer);
  transfer.message.reset();
  auto keep = transfer.shared_from_this();
  active.erase(keep);
  if (std::exchange(transfer.holdsPlace, false)) --running;
  transfer.onComplete(std::move(error));
  admit();
}

}  // namespace platform::detail
