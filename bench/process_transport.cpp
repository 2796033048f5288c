// A child writes 256 MiB of text lines to its pseudo-terminal. BM_PtyTransport reads them through
// LocalProcess and discards them: the ceiling for any terminal fed from a pty. BM_HeadlessTerminal
// feeds the same output through HeadlessTerminal into the emulator's buffer.
#include <benchmark/benchmark.h>
#include <glib.h>

#include <memory>
#include <string>

#include "Vantrelle/Process/HeadlessTerminal.h"
#include "Vantrelle/Process/LocalProcess.h"

namespace {

constexpr size_t floodBytes = size_t(256) << 20;

std::vector<std::string> floodCommand() {
  return {"-c", "stty raw -echo; yes 'the quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJ' | head -c " +
                    std::to_string(floodBytes)};
}

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
    process->startProcess("/bin/sh", floodCommand());
    while (!delegate->ended) g_main_context_iteration(nullptr, TRUE);
    if (delegate->received != floodBytes) state.SkipWithError("output was lost");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(floodBytes));
}
BENCHMARK(BM_PtyTransport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

struct CountingHeadless : vantrelle::HeadlessTerminal {
  using HeadlessTerminal::HeadlessTerminal;
  size_t received = 0;
  void dataReceived(std::span<const uint8_t> slice) override {
    received += slice.size();
    HeadlessTerminal::dataReceived(slice);
  }
};

void BM_HeadlessTerminal(benchmark::State& state) {
  for (auto _ : state) {
    bool ended = false;
    vantrelle::TerminalOptions options;
    options.cols = 80;
    options.rows = 24;
    options.scrollback = 10000;
    CountingHeadless host(nullptr, options, [&](std::optional<int32_t>) { ended = true; });
    host.process->startProcess("/bin/sh", floodCommand());
    while (!ended) g_main_context_iteration(nullptr, TRUE);
    if (host.received != floodBytes) state.SkipWithError("output was lost");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(floodBytes));
}
BENCHMARK(BM_HeadlessTerminal)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
