// A burst of requests handed to one URLSession at once, as a page that makes thousands of fetches
// in a loop hands them to the bridge, against the platform tests' small libsoup server on a thread
// of its own. The time per request should not grow with the burst: BM_URLSessionFlood/1000 and
// /20000 differ only in its length. The second argument says how the requests reach the server:
// 0 over kept connections; 1 over a connection each, which the server closes after its answer, as
// the reference core does; 2 the same, carrying a token and bound to the server's process as the
// application's requests to its core are, each connection checked before the request is written.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

#include "platform/URLSession.h"
#include "tests/platform/TestHTTPServer.h"

namespace {

void BM_URLSessionFlood(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const auto mode = state.range(1);
  TestHTTPServer server;
  auto session = platform::URLSession::makeEphemeral();
  std::size_t failed = 0;
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable done;
    std::size_t answered = 0;
    for (std::size_t n = 0; n < count; ++n) {
      platform::URLRequest request;
      request.url = server.url("/echo/flood" + std::to_string(n));
      if (mode >= 1) request.headers.emplace_back("Connection", "close");
      // Credentials go only with a server process to check the far end against.
      if (mode == 2) {
        request.headers.emplace_back("Authorization", "Bearer flood");
        request.serverProcess = [] { return ::getpid(); };
      }
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
BENCHMARK(BM_URLSessionFlood)
    ->Args({1000, 0})
    ->Args({20000, 0})
    ->Args({1000, 1})
    ->Args({1000, 2})
    ->Args({20000, 1})
    ->Args({20000, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
