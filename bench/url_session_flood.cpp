// A burst of requests handed to one URLSession at once, as a page that makes thousands of fetches
// in a loop hands them to the bridge, against a small libsoup server on a thread of its own. The
// time per request should not grow with the burst: BM_URLSessionFlood/1000 and /20000 differ only
// in its length.
#include <benchmark/benchmark.h>
#include <libsoup/soup.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "platform/GLibPtr.h"
#include "platform/URLSession.h"

namespace {

// Answers every path with a short JSON body that names it, as the core's echo endpoint does.
class EchoServer {
 public:
  EchoServer() {
    std::promise<void> ready;
    auto started = ready.get_future();
    thread = std::thread([this, &ready] {
      g_main_context_push_thread_default(context.get());
      server.reset(soup_server_new(nullptr, nullptr));
      soup_server_add_handler(server.get(), nullptr, &EchoServer::answer, nullptr, nullptr);
      soup_server_listen_local(server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, nullptr);
      GSList* uris = soup_server_get_uris(server.get());
      port = g_uri_get_port(static_cast<GUri*>(uris->data));
      g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
      loop = g_main_loop_new(context.get(), FALSE);
      ready.set_value();
      g_main_loop_run(loop);
      server.reset();
      g_main_loop_unref(loop);
      g_main_context_pop_thread_default(context.get());
    });
    started.wait();
  }
  ~EchoServer() {
    g_main_context_invoke(
        context.get(),
        [](gpointer loop) -> gboolean {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop);
    thread.join();
  }
  std::string url(std::size_t n) const {
    return "http://127.0.0.1:" + std::to_string(port) + "/echo/flood" + std::to_string(n);
  }

 private:
  static void answer(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, gpointer) {
    const std::string body = std::string("{\"path\":\"") + path + "\"}";
    soup_server_message_set_response(message, "application/json", SOUP_MEMORY_COPY, body.data(), body.size());
    soup_server_message_set_status(message, 200, nullptr);
  }

  platform::GMainContextPtr context{g_main_context_new()};
  platform::GObjectPtr<SoupServer> server;
  GMainLoop* loop = nullptr;
  int port = 0;
  std::thread thread;
};

void BM_URLSessionFlood(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  EchoServer server;
  auto session = platform::URLSession::makeEphemeral();
  std::size_t failed = 0;
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable done;
    std::size_t answered = 0;
    for (std::size_t n = 0; n < count; ++n) {
      platform::URLRequest request;
      request.url = server.url(n);
      request.headers = {{"Authorization", "Bearer flood"}};
      session->dataTask(std::move(request), [&](platform::URLResponse response) {
        std::lock_guard lock(mutex);
        if (response.status != 200) ++failed;
        if (++answered == count) done.notify_one();
      });
    }
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return answered == count; });
  }
  if (failed) state.SkipWithError("a request of the flood failed");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(count));
  // Wall time per request, shown in the unit that fits.
  state.counters["per_request"] =
      benchmark::Counter(double(count), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_URLSessionFlood)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
