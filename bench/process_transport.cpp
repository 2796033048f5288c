// A child writes 256 MiB of text lines to its pseudo-terminal. BM_PtyTransport reads them through
// LocalProcess and discards them: the ceiling for any terminal fed from a pty. BM_HeadlessTerminal
// feeds the same output through HeadlessTerminal into the emulator's buffer.
//
// Those two set the pty raw, so the kernel passes the bytes through untouched. In the modes a
// program finds by default the kernel's output processing turns every newline into a write of its
// own ("\r\n"), and short lines cost the writing program far more than the reader.
// BM_PtyTransportLines and BM_HeadlessTerminalLines write 8 MiB of lines of one length (1 as
// `yes` prints them, 70 as a build log) in either modes, and count the processor time per MiB on
// each side: the writer (the child, where the kernel's output processing runs) and the reader
// (this process: its reader thread, the main loop and, for the headless terminal, the emulator).
#include <benchmark/benchmark.h>
#include <glib.h>
#include <sys/resource.h>

#include <algorithm>
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

constexpr size_t linesBytes = size_t(8) << 20;

// Lines of `length` characters. In the default modes the kernel puts a carriage return before each
// newline; raw, the child writes it itself, so the terminal receives the same bytes either way.
std::vector<std::string> linesCommand(int length, bool raw) {
  return {"-c", std::string(raw ? "stty raw -echo; " : "") + "yes '" + std::string(size_t(length), 'x') +
                    (raw ? "\r" : "") + "' | head -c " + std::to_string(linesBytes)};
}

double cpuMs(int who) {
  struct rusage usage {};
  getrusage(who, &usage);
  auto ms = [](const timeval& t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Processor time on both sides of the pty while a benchmark's children run, per MiB the terminal
// received; the children count once they have been reaped, which every benchmark waits for.
struct CpuSplit {
  double self = cpuMs(RUSAGE_SELF), children = cpuMs(RUSAGE_CHILDREN);
  void report(benchmark::State& state, size_t bytes) const {
    const double mib = double(std::max<size_t>(bytes, 1)) / double(1 << 20);
    state.counters["reader_cpu_ms_per_MiB"] = (cpuMs(RUSAGE_SELF) - self) / mib;
    state.counters["writer_cpu_ms_per_MiB"] = (cpuMs(RUSAGE_CHILDREN) - children) / mib;
  }
};

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

// Arguments: the line length, and 1 for a raw pty.
#define LINES_ARGS                    \
  ->ArgNames({"length", "raw"})       \
      ->Args({1, 0})                  \
      ->Args({1, 1})                  \
      ->Args({70, 0})                 \
      ->Args({70, 1})                 \
      ->Unit(benchmark::kMillisecond) \
      ->UseRealTime()                 \
      ->Iterations(3)

void BM_PtyTransportLines(benchmark::State& state) {
  const CpuSplit cpu;
  size_t received = 0;
  for (auto _ : state) {
    auto delegate = std::make_shared<DiscardingDelegate>();
    auto process = std::make_shared<vantrelle::LocalProcess>(delegate);
    process->startProcess("/bin/sh", linesCommand(int(state.range(0)), state.range(1) != 0));
    while (!delegate->ended) g_main_context_iteration(nullptr, TRUE);
    if (delegate->received < linesBytes) state.SkipWithError("output was lost");
    received += delegate->received;
  }
  cpu.report(state, received);
  state.SetBytesProcessed(int64_t(received));
}
BENCHMARK(BM_PtyTransportLines) LINES_ARGS;

struct CountingHeadless : vantrelle::HeadlessTerminal {
  using HeadlessTerminal::HeadlessTerminal;
  size_t received = 0;
  void dataReceived(std::span<const uint8_t> slice) override {
    received += slice.size();
    HeadlessTerminal::dataReceived(slice);
  }
};

// An 80x24 terminal with a scrollback that fills during a run, as a user's window has.
vantrelle::TerminalOptions headlessOptions() {
  vantrelle::TerminalOptions options;
  options.cols = 80;
  options.rows = 24;
  options.scrollback = 10000;
  return options;
}

void BM_HeadlessTerminal(benchmark::State& state) {
  for (auto _ : state) {
    bool ended = false;
    CountingHeadless host(nullptr, headlessOptions(), [&](std::optional<int32_t>) { ended = true; });
    host.process->startProcess("/bin/sh", floodCommand());
    while (!ended) g_main_context_iteration(nullptr, TRUE);
    if (host.received != floodBytes) state.SkipWithError("output was lost");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(floodBytes));
}
BENCHMARK(BM_HeadlessTerminal)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_HeadlessTerminalLines(benchmark::State& state) {
  const CpuSplit cpu;
  size_t received = 0;
  for (auto _ : state) {
    bool ended = false;
    CountingHeadless host(nullptr, headlessOptions(), [&](std::optional<int32_t>) { ended = true; });
    host.process->startProcess("/bin/sh", linesCommand(int(state.range(0)), state.range(1) != 0));
    while (!ended) g_main_context_iteration(nullptr, TRUE);
    if (host.received < linesBytes) state.SkipWithError("output was lost");
    received += host.received;
  }
  cpu.report(state, received);
  state.SetBytesProcessed(int64_t(received));
}
BENCHMARK(BM_HeadlessTerminalLines) LINES_ARGS;

}  // namespace
