// Raw pseudo-terminal transport: a child writes 256 MiB to its pty, LocalProcess reads it and hands
// it to a delegate on the main queue that discards it. The ceiling for any terminal fed from a pty.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <memory>
#include <string>

#include "Vantrelle/Process/LocalProcess.h"

namespace {

constexpr size_t floodBytes = size_t(256) << 20;

struct DiscardingDelegate : vantrelle::LocalProcessDelegate {
  size_t received = 0;
  bool ended = false;
  void processTerminated(vantrelle::LocalProcess&, std::optional<int32_t>) override { ended = true; }
  void dataReceived(std::span<const uint8_t> slice) override { received += slice.size(); }
  winsize getWindowSize() override { return {24, 80, 0, 0}; }
};

void BM_PtyTransport(benchmark::State& state) {
  for (auto _ : state) {
    auto delegate = std::make_shared<DiscardingDelegate>();
    auto process = std::make_shared<vantrelle::LocalProcess>(delegate);
    process->startProcess("/bin/sh", {"-c", "stty raw -echo; head -c " + std::to_string(floodBytes) + " /dev/zero"});
    while (!delegate->ended) g_main_context_iteration(nullptr, TRUE);
    if (delegate->received != floodBytes) state.SkipWithError("output was lost");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(floodBytes));
}
BENCHMARK(BM_PtyTransport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
