#include "TestHTTPServer.h"

#include <libsoup/soup.h>

#include <stdexcept>

const std::string TestHTTPServer::binaryBody("\xff\xfe\x00zorvel\x80\x00", 11);

struct TestHTTPServerHandlers {
  static void echo(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer owner) {
    auto* server = static_cast<TestHTTPServer*>(owner);
    server->echoCount += 1;
    SoupMessageBody* request = soup_server_message_get_request_body(message);
    GBytes* bytes = soup_message_body_flatten(request);
    gsize size = 0;
    const auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    std::string body =
        std::string(soup_server_message_get_method(message)) + "\n" + std::string(data ? data : "", size);
    g_bytes_unref(bytes);
    SoupMessageHeaders* in = soup_server_message_get_request_headers(message);
    SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
    if (const char* seen = soup_message_headers_get_one(in, "X-Test")) soup_message_headers_append(out, "X-Seen", seen);
    if (const char* auth = soup_message_headers_get_one(in, "Authorization"))
      soup_message_headers_append(out, "X-Auth", auth);
    soup_server_message_set_status(message, 200, nullptr);
    soup_server_message_set_response(message, "text/plain", SOUP_MEMORY_COPY, body.data(), body.size());
    server->changed();
  }

  static void missing(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer) {
    static const char body[] = R"({"detail": "not here"})";
    soup_server_message_set_status(message, 404, nullptr);
    soup_server_message_set_response(message, "application/json", SOUP_MEMORY_STATIC, body, sizeof body - 1);
  }

  static void binary(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer) {
    soup_server_message_set_status(message, 200, nullptr);
    soup_server_message_set_response(message, "application/octet-stream", SOUP_MEMORY_STATIC,
                                     TestHTTPServer::binaryBody.data(), TestHTTPServer::binaryBody.size());
  }

  static void redirect(SoupServer*, SoupServerMessage* message, const char*, GHashTable* query, gpointer) {
    const char* target = query ? static_cast<const char*>(g_hash_table_lookup(query, "to")) : nullptr;
    soup_server_message_set_redirect(message, 302, target ? target : "/echo");
  }

  static void silent(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer owner) {
    soup_server_message_pause(message);
    auto* server = static_cast<TestHTTPServer*>(owner);
    server->silentCount += 1;
    server->changed();
  }

  struct Stream {
    TestHTTPServer* owner;
    SoupServerMessage* message;
    int sent = 0;
    int limit = -1;
    bool finished = false;
  };

  static void stream(SoupServer*, SoupServerMessage* message, const char*, GHashTable* query, gpointer data) {
    auto* owner = static_cast<TestHTTPServer*>(data);
    auto* state = new Stream{owner, SOUP_SERVER_MESSAGE(g_object_ref(message))};
    if (query) {
      if (const char* count = static_cast<const char*>(g_hash_table_lookup(query, "count"))) state->limit = atoi(count);
    }
    owner->openStreams += 1;
    owner->changed();
    soup_server_message_set_status(message, 200, nullptr);
    SoupMessageHeaders* out = soup_server_message_get_response_headers(message);
    soup_message_headers_set_encoding(out, SOUP_ENCODING_CHUNKED);
    soup_message_headers_set_content_type(out, "text/plain", nullptr);
    g_signal_connect(
        message, "finished",
        G_CALLBACK(+[](SoupServerMessage*, gpointer data) { static_cast<Stream*>(data)->finished = true; }), state);
    GSource* timer = g_timeout_source_new(20);
    g_source_set_callback(timer, tick, state, nullptr);
    g_source_attach(timer, owner->context.get());
    g_source_unref(timer);
  }

  static gboolean tick(gpointer data) {
    auto* state = static_cast<Stream*>(data);
    SoupMessageBody* body = soup_server_message_get_response_body(state->message);
    const bool done = state->finished || (state->limit >= 0 && state->sent >= state->limit);
    if (done) {
      if (!state->finished) {
        soup_message_body_complete(body);
        soup_server_message_unpause(state->message);
      }
      state->owner->openStreams -= 1;
      state->owner->changed();
      g_signal_handlers_disconnect_by_data(state->message, state);
      g_object_unref(state->message);
      delete state;
      return G_SOURCE_REMOVE;
    }
    const std::string chunk = "tick " + std::to_string(state->sent++) + "\n";
    soup_message_body_append(body, SOUP_MEMORY_COPY, chunk.data(), chunk.size());
    soup_server_message_unpause(state->message);
    return G_SOURCE_CONTINUE;
  }
};

TestHTTPServer::TestHTTPServer() {
  thread = std::thread([this] { run(); });
  waitUntil([this] { return ready.load(); });
  if (port == 0) {
    thread.join();
    throw std::runtime_error("test server could not listen");
  }
}

TestHTTPServer::~TestHTTPServer() {
  g_main_context_invoke(
      context.get(),
      [](gpointer loop) -> gboolean {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return G_SOURCE_REMOVE;
      },
      loop);
  thread.join();
}

void TestHTTPServer::run() {
  g_main_context_push_thread_default(context.get());
  loop = g_main_loop_new(context.get(), FALSE);
  server = soup_server_new(nullptr, nullptr);
  soup_server_add_handler(server, "/echo", TestHTTPServerHandlers::echo, this, nullptr);
  soup_server_add_handler(server, "/missing", TestHTTPServerHandlers::missing, this, nullptr);
  soup_server_add_handler(server, "/binary", TestHTTPServerHandlers::binary, this, nullptr);
  soup_server_add_handler(server, "/redirect", TestHTTPServerHandlers::redirect, this, nullptr);
  soup_server_add_handler(server, "/silent", TestHTTPServerHandlers::silent, this, nullptr);
  soup_server_add_handler(server, "/stream", TestHTTPServerHandlers::stream, this, nullptr);
  GInetAddress* loopback = g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4);
  GSocketAddress* address = g_inet_socket_address_new(loopback, 0);
  if (soup_server_listen(server, address, static_cast<SoupServerListenOptions>(0), nullptr)) {
    GSList* uris = soup_server_get_uris(server);
    if (uris) port = g_uri_get_port(static_cast<GUri*>(uris->data));
    g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
  }
  g_object_unref(address);
  g_object_unref(loopback);
  ready = true;
  changed();
  if (port != 0) g_main_loop_run(loop);
  soup_server_disconnect(server);
  g_object_unref(server);
  g_main_loop_unref(loop);
  g_main_context_pop_thread_default(context.get());
}

void TestHTTPServer::changed() {
  // Taking the lock orders the change before a waiter's next look at it.
  { std::lock_guard lock(mutex); }
  changes.notify_all();
}

bool TestHTTPServer::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex);
  return changes.wait_for(lock, limit, condition);
}

std::string TestHTTPServer::url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port) + path;
}
