#include "tools/reference-core/EventHub.h"

#include <libsoup/soup.h>

#include <algorithm>

namespace refcore {

struct EventHub::Stream {
  EventHub* hub;
  SoupServerMessage* message;
  gulong finishedHandler = 0;
};

EventHub::EventHub() {
  // A comment now and then keeps idle streams inside the client's idle timeout.
  keepAliveSource = g_timeout_add_seconds(
      keepAliveSeconds,
      [](gpointer self) -> gboolean {
        auto* hub = static_cast<EventHub*>(self);
        if (!hub->streams.empty()) hub->pushRaw(": keep-alive\n\n");
        return G_SOURCE_CONTINUE;
      },
      this);
}

EventHub::~EventHub() {
  g_source_remove(keepAliveSource);
  for (Stream* stream : streams) {
    g_signal_handler_disconnect(stream->message, stream->finishedHandler);
    g_object_unref(stream->message);
    delete stream;
  }
}

bool EventHub::open(SoupServerMessage* message) {
  if (streams.size() >= maximumStreams) return false;
  soup_server_message_set_status(message, 200, nullptr);
  SoupMessageHeaders* headers = soup_server_message_get_response_headers(message);
  soup_message_headers_set_encoding(headers, SOUP_ENCODING_CHUNKED);
  soup_message_headers_set_content_type(headers, "text/event-stream", nullptr);
  soup_message_headers_replace(headers, "Cache-Control", "no-cache");
  // Written chunks are dropped, or a long-lived stream would keep every event it ever sent.
  soup_message_body_set_accumulate(soup_server_message_get_response_body(message), FALSE);
  auto* stream = new Stream{this, SOUP_SERVER_MESSAGE(g_object_ref(message))};
  stream->finishedHandler = g_signal_connect(message, "finished", G_CALLBACK(&EventHub::onFinished), stream);
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

void EventHub::remove(Stream* stream) {
  streams.erase(std::remove(streams.begin(), streams.end(), stream), streams.end());
  g_signal_handler_disconnect(stream->message, stream->finishedHandler);
  g_object_unref(stream->message);
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
                    const std::optional<std::string>& id) {
  pushRaw(format(event, data, id));
}

void EventHub::pushRaw(const std::string& bytes) {
  for (Stream* stream : streams) {
    soup_message_body_append(soup_server_message_get_response_body(stream->message), SOUP_MEMORY_COPY, bytes.data(),
                             bytes.size());
    soup_server_message_unpause(stream->message);
  }
}

void EventHub::endAll() {
  for (Stream* stream : std::vector<Stream*>(streams)) {
    soup_message_body_complete(soup_server_message_get_response_body(stream->message));
    soup_server_message_unpause(stream->message);
  }
}

}  // namespace refcore
