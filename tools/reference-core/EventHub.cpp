#include "tools/reference-core/EventHub.h"

#include <libsoup/soup.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "platform/GLibPtr.h"
#include "tools/reference-core/HTTPSupport.h"

namespace refcore {

struct EventHub::Stream {
  EventHub* hub;
  platform::GObjectPtr<SoupServerMessage> message;
  bool projectScoped = false;
  std::optional<std::string> projectID;
  gulong finishedHandler = 0;
  platform::AttachedSourcePtr clientWatch = nullptr;

  bool hears(const EventAudience& audience) const {
    if (!projectScoped || audience.everyone) return true;
    return projectID && audience.projectID && lowercased(*audience.projectID) == *projectID;
  }
  void stopWatching() { clientWatch.reset(); }
};

EventHub::EventHub() {
  // A comment now and then keeps idle streams inside the client's idle timeout.
  keepAliveSource.reset(g_timeout_add_seconds(
      keepAliveSeconds,
      [](gpointer self) -> gboolean {
        auto* hub = static_cast<EventHub*>(self);
        if (!hub->streams.empty()) hub->pushRaw(": keep-alive\n\n");
        return G_SOURCE_CONTINUE;
      },
      this));
}

EventHub::~EventHub() {
  keepAliveSource.reset();
  for (Stream* stream : streams) {
    stream->stopWatching();
    g_signal_handler_disconnect(stream->message.get(), stream->finishedHandler);
    delete stream;
  }
}

bool EventHub::open(SoupServerMessage* message, std::optional<std::string> projectID, bool projectScoped) {
  if (streams.size() >= maximumStreams) return false;
  soup_server_message_set_status(message, 200, nullptr);
  SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
  soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
  soup_message_headers_set_content_type(headers, "text/event-stream", nullptr);
  soup_message_headers_replace(headers, "Cache-Control", "no-cache");
  // Written chunks are dropped, or a long-lived stream would keep every event it ever sent.
  soup_message_body_set_accumulate(soup_server_message_get_response_body(message), FALSE);
  auto* stream =
      new Stream{this, platform::GObjectPtr<SoupServerMessage>(SOUP_SERVER_MESSAGE(g_object_ref(message))),
                 projectScoped, projectID ? std::optional<std::string>(lowercased(*projectID)) : std::nullopt};
  stream->finishedHandler = g_signal_connect(message, "finished", G_CALLBACK(&EventHub::onFinished), stream);
  // The client of a stream only reads; its socket becoming readable means it closed or failed.
  if (GSocket* socket = soup_server_message_get_socket(message)) {
    stream->clientWatch.reset(
        g_socket_create_source(socket, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), nullptr));
    g_source_set_callback(stream->clientWatch.get(), G_SOURCE_FUNC(&EventHub::onClientActivity), stream, nullptr);
    g_source_attach(stream->clientWatch.get(), nullptr);
  }
  streams.push_back(stream);
  // A comment first, so the client sees the response at once; it carries no event.
  static const char hello[] = ": connected\n\n";
  soup_message_body_append(soup_server_message_get_response_body(message), SOUP_MEMORY_STATIC, hello, sizeof hello - 1);
  return true;
}

void EventHub::onFinished(SoupServerMessage*, void* data) {
  auto* stream = static_cast<Stream*>(data);
  stream->hub->remove(stream);
}

int EventHub::onClientActivity(GSocket* socket, unsigned, void* data) {
  auto* stream = static_cast<Stream*>(data);
  char byte = 0;
  const ssize_t got = recv(g_socket_get_fd(socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return G_SOURCE_CONTINUE;
  // Bytes from the client (a request after this one) say nothing of it leaving; writes will. The
  // source ends by returning G_SOURCE_REMOVE, so only the reference to it is let go here.
  platform::GSourcePtr(stream->clientWatch.release());
  if (got == 0 || got < 0) end(stream);
  return G_SOURCE_REMOVE;
}

// Completes the response; the server then finds the connection closed and lets it go, and the
// message's "finished" removes the stream.
void EventHub::end(Stream* stream) {
  soup_message_body_complete(soup_server_message_get_response_body(stream->message.get()));
  soup_server_message_unpause(stream->message.get());
}

void EventHub::remove(Stream* stream) {
  stream->stopWatching();
  streams.erase(std::remove(streams.begin(), streams.end(), stream), streams.end());
  g_signal_handler_disconnect(stream->message.get(), stream->finishedHandler);
  delete stream;
}

namespace {

// A field value must stay on its own line.
std::string oneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  return text;
}

}  // namespace

std::string EventHub::format(const std::optional<std::string>& event, const std::string& data,
                             const std::optional<std::string>& id) {
  std::string text;
  if (event) text += "event: " + oneLine(*event) + "\n";
  if (id) text += "id: " + oneLine(*id) + "\n";
  size_t start = 0;
  for (;;) {
    const size_t end = data.find('\n', start);
    text += "data: " + data.substr(start, end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return text + "\n";
}

void EventHub::push(const std::optional<std::string>& event, const std::string& data,
                    const std::optional<std::string>& id, const EventAudience& audience) {
  pushRaw(format(event, data, id), audience);
}

void EventHub::pushRaw(const std::string& bytes, const EventAudience& audience) {
  for (Stream* stream : streams) {
    if (!stream->hears(audience)) continue;
    soup_message_body_append(soup_server_message_get_response_body(stream->message.get()), SOUP_MEMORY_COPY,
                             bytes.data(), bytes.size());
    soup_server_message_unpause(stream->message.get());
  }
}

void EventHub::endAll() {
  for (Stream* stream : std::vector<Stream*>(streams)) end(stream);
}

}  // namespace refcore
