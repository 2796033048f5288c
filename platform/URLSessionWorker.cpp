#include "platform/URLSessionWorker.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

#include <algorithm>
#include <cstring>

namespace platform::detail {

namespace {

constexpr gsize chunkSize = 64 * 1024;
constexpr auto drainLimit = std::chrono::seconds(2);

using TransferRef = std::shared_ptr<Transfer>;

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
  GUri* uri = g_uri_parse(request.url.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr);
  if (!uri) return "unsupported URL";
  const char* scheme = g_uri_get_scheme(uri);
  const char* host = g_uri_get_host(uri);
  const bool web = scheme && (g_ascii_strcasecmp(scheme, "http") == 0 || g_ascii_strcasecmp(scheme, "https") == 0);
  const bool hasHost = host && *host;
  g_uri_unref(uri);
  if (!web || !hasHost) return "unsupported URL";
  if (!isToken(request.method)) return "invalid request method";
  for (const auto& [name, value] : request.headers) {
    if (!isToken(name) || !isHeaderValue(value)) return "invalid request header";
  }
  return std::nullopt;
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

Transfer::~Transfer() {
  if (stream) g_object_unref(stream);
  if (message) g_object_unref(message);
  g_object_unref(cancellable);
}

void Transfer::cancel() {
  callerCancelled->store(true);
  g_cancellable_cancel(cancellable);
}

SessionWorker::SessionWorker() : context(g_main_context_new()) {
  thread = std::thread([this] { run(); });
}

SessionWorker::~SessionWorker() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  g_main_context_wakeup(context);
  thread.join();
  g_main_context_unref(context);
}

void SessionWorker::run() {
  g_main_context_push_thread_default(context);
  session = soup_session_new();
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (stopping) break;
    }
    g_main_context_iteration(context, TRUE);
  }
  // Let every running transfer see its cancellation and report, within a bounded time.
  // Cancelling may finish a transfer at once, so go over a copy of the set.
  for (const auto& transfer : std::set<TransferRef>(active)) g_cancellable_cancel(transfer->cancellable);
  soup_session_abort(session);
  const auto deadline = std::chrono::steady_clock::now() + drainLimit;
  while ((!active.empty() || g_main_context_pending(context)) && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(context, FALSE);
    if (!active.empty()) g_usleep(1000);
  }
  for (const auto& transfer : std::set<TransferRef>(active)) finish(*transfer, "The session was invalidated.");
  g_object_unref(session);
  session = nullptr;
  g_main_context_pop_thread_default(context);
}

void SessionWorker::submit(std::function<void()> work) {
  std::lock_guard lock(mutex);
  if (stopping) return;
  g_main_context_invoke_full(
      context, G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      new std::function<void()>(std::move(work)),
      [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

void SessionWorker::start(std::shared_ptr<Transfer> transfer) {
  bool accepted = false;
  {
    std::lock_guard lock(mutex);
    accepted = !stopping;
  }
  if (accepted) {
    submit([this, transfer] { begin(transfer); });
  } else {
    transfer->onComplete("The session was invalidated.");
  }
}

void SessionWorker::invalidate() {
  invalidated = true;
  submit([this] {
    for (const auto& transfer : std::set<TransferRef>(active)) g_cancellable_cancel(transfer->cancellable);
  });
}

void SessionWorker::begin(const std::shared_ptr<Transfer>& transfer) {
  active.insert(transfer);
  transfer->owner = this;
  if (invalidated || stopping) return finish(*transfer, "The session was invalidated.");
  if (auto invalid = validate(transfer->request)) return finish(*transfer, std::move(invalid));
  if (g_cancellable_is_cancelled(transfer->cancellable)) return finish(*transfer, "cancelled");
  const URLRequest& request = transfer->request;
  SoupMessage* message = soup_message_new(request.method.c_str(), request.url.c_str());
  if (!message) return finish(*transfer, "unsupported URL");
  transfer->message = message;
  SoupMessageHeaders* headers = soup_message_get_request_headers(message);
  for (const auto& [name, value] : request.headers) soup_message_headers_append(headers, name.c_str(), value.c_str());
  // Credentials are meant for the server asked, so a redirect of such a request is handed back
  // to the caller instead of being followed with the credentials to wherever it points.
  if (soup_message_headers_get_one(headers, "Authorization")) soup_message_add_flags(message, SOUP_MESSAGE_NO_REDIRECT);
  if (!request.body.empty()) {
    GBytes* body = g_bytes_new(request.body.data(), request.body.size());
    soup_message_set_request_body_from_bytes(message, nullptr, body);
    g_bytes_unref(body);
  }
  armTimeout(*transfer);
  soup_session_send_async(session, message, G_PRIORITY_DEFAULT, transfer->cancellable,
                          reinterpret_cast<GAsyncReadyCallback>(&SessionWorker::onSent), hold(transfer));
}

void SessionWorker::disarmTimeout(Transfer& transfer) {
  if (!transfer.timeoutSource) return;
  g_source_destroy(static_cast<GSource*>(transfer.timeoutSource));
  g_source_unref(static_cast<GSource*>(transfer.timeoutSource));
  transfer.timeoutSource = nullptr;
}

void SessionWorker::armTimeout(Transfer& transfer) {
  disarmTimeout(transfer);
  if (transfer.request.timeout.count() <= 0) return;
  const auto ms = static_cast<guint>(std::min<long long>(transfer.request.timeout.count(), G_MAXUINT));
  GSource* source = g_timeout_source_new(ms);
  g_source_set_callback(source, &SessionWorker::onTimeout, &transfer, nullptr);
  g_source_attach(source, context);
  transfer.timeoutSource = source;
}

int SessionWorker::onTimeout(void* data) {
  auto* transfer = static_cast<Transfer*>(data);
  transfer->timedOut = true;
  g_cancellable_cancel(transfer->cancellable);
  return G_SOURCE_REMOVE;
}

void SessionWorker::onSent(void* source, void* result, void* data) {
  TransferRef transfer = release(data);
  SessionWorker* worker = transfer->owner;
  GError* error = nullptr;
  GInputStream* stream = soup_session_send_finish(SOUP_SESSION(source), G_ASYNC_RESULT(result), &error);
  if (!stream) {
    const std::string text = error ? error->message : "request failed";
    if (error) g_error_free(error);
    return worker->finish(*transfer, worker->failureText(*transfer, text.c_str()));
  }
  transfer->stream = stream;
  auto* message = static_cast<SoupMessage*>(transfer->message);
  transfer->onResponse(static_cast<int>(soup_message_get_status(message)), headersOf(message));
  worker->armTimeout(*transfer);
  worker->readNext(*transfer);
}

void SessionWorker::readNext(Transfer& transfer) {
  g_input_stream_read_bytes_async(static_cast<GInputStream*>(transfer.stream), chunkSize, G_PRIORITY_DEFAULT,
                                  transfer.cancellable, reinterpret_cast<GAsyncReadyCallback>(&SessionWorker::onRead),
                                  hold(transfer.shared_from_this()));
}

void SessionWorker::onRead(void* source, void* result, void* data) {
  TransferRef transfer = release(data);
  SessionWorker* worker = transfer->owner;
  GError* error = nullptr;
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), G_ASYNC_RESULT(result), &error);
  if (!bytes) {
    const std::string text = error ? error->message : "read failed";
    if (error) g_error_free(error);
    return worker->finish(*transfer, worker->failureText(*transfer, text.c_str()));
  }
  gsize size = 0;
  const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  if (size == 0) {
    g_bytes_unref(bytes);
    return worker->finish(*transfer, std::nullopt);
  }
  std::string stop;
  const bool keepGoing = transfer->onData(std::string_view(chunk, size), stop);
  g_bytes_unref(bytes);
  if (!keepGoing) return worker->finish(*transfer, stop);
  worker->armTimeout(*transfer);
  worker->readNext(*transfer);
}

std::optional<std::string> SessionWorker::failureText(const Transfer& transfer, const char* error) const {
  if (transfer.timedOut) return "The request timed out.";
  if (transfer.callerCancelled->load() || invalidated) return "cancelled";
  return std::string(error);
}

void SessionWorker::finish(Transfer& transfer, std::optional<std::string> error) {
  if (transfer.finished) return;
  transfer.finished = true;
  disarmTimeout(transfer);
  // Soup objects belong to this thread; the caller may drop its last reference anywhere.
  if (transfer.stream) g_object_unref(transfer.stream);
  if (transfer.message) g_object_unref(transfer.message);
  transfer.stream = nullptr;
  transfer.message = nullptr;
  auto keep = transfer.shared_from_this();
  active.erase(keep);
  transfer.onComplete(std::move(error));
}

}  // namespace platform::detail
