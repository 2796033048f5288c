// The cost of resizing a terminal whose scrollback is full, as a window edge dragged by the user
// resizes it dozens of times in a row: each iteration is one resize, in a drag that narrows the
// screen a column at a time and widens it back. The counter gives the memory the buffers hold
// after the drag against before it, per scrollback line. The extreme steps resize a 100,000-line
// scrollback back and forth between two sizes far apart, one resize per iteration: the counters
// give the slowest single resize (by the clock and in processor time), the heap the ring holds after the last one
// against the cells its lines show (lines times columns), and the process's peak resident memory (meaningful when the
// case runs alone, as it never goes down). Once the storm is over the terminal goes back to 80x24, and the heap and
// resident memory it holds then are given too. The single resizes take a full 100,000-row scrollback of one kind of
// text each, one line without a line end among them, to a size far off; the last case widens a build log that a first
// round of reflow has split already, as every resize after a window's first one does.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <span>
#include <string>

#include "Vantrelle/Terminal/Terminal.h"
#include "bench/NullHost.h"
#include "tests/ProcessMemory.h"

namespace {

using process_memory::heapBytesInUse;
using process_memory::residentBytes;
using vantrelle::Terminal;

struct Lcg {
  uint64_t state = 12345;
  uint32_t below(uint32_t n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return uint32_t(state >> 32) % n;
  }
};

// Output with the shape of a build log: mostly lines shorter than the screen, one in ten long
// enough to wrap over two or three rows.
std::string outputLines(int lines) {
  std::string s;
  Lcg r;
  for (int i = 0; i < lines; i++) {
    const uint32_t length = r.below(10) == 0 ? 120 + r.below(160) : 10 + r.below(70);
    for (uint32_t k = 0; k < length; ++k) s += char('!' + r.below(94));
    s += "\r\n";
  }
  return s;
}

std::unique_ptr<Terminal> makeFullTerminal(NullHost& host, int cols, int rows, int scrollback) {
  vantrelle::TerminalOptions options;
  options.cols = cols;
  options.rows = rows;
  options.scrollback = scrollback;
  auto terminal = std::make_unique<Terminal>(&host, options);
  const std::string text = outputLines(scrollback + rows);
  terminal->feed(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  terminal->feed(std::string_view("$ "));
  return terminal;
}

// One resize per iteration, walking the width down by one column `span` times and back up.
void BM_DragWidth(benchmark::State& state) {
  const int scrollback = int(state.range(0));
  const int span = int(state.range(1));
  constexpr int cols = 100, rows = 40;
  NullHost host;
  auto terminal = makeFullTerminal(host, cols, rows, scrollback);
  const size_t before = heapBytesInUse();
  int step = 0;
  for (auto _ : state) {
    const int phase = step++ % (2 * span);
    const int width = phase < span ? cols - 1 - phase : cols - 2 * span + 1 + phase;
    terminal->resize(width, rows);
  }
  state.counters["bytes/line after"] = double(int64_t(heapBytesInUse()) - int64_t(before)) / scrollback;
}

// Rows only, as when the window's bottom edge is dragged: nothing is reflowed.
void BM_DragHeight(benchmark::State& state) {
  const int scrollback = int(state.range(0));
  constexpr int cols = 100, rows = 40;
  NullHost host;
  auto terminal = makeFullTerminal(host, cols, rows, scrollback);
  int step = 0;
  for (auto _ : state) terminal->resize(cols, rows - 1 - step++ % 10);
}

// The cells the ring's lines show at the present width.
double cellBytes(Terminal& terminal) {
  return double(terminal.buffer->lines().count()) * terminal.buffer->cols() * sizeof(vantrelle::CharData);
}

double peakResidentBytes() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) * 1024;
}

// The thread's processor time: on a loaded machine the slowest resize by the clock measures the
// load as much as the resize.
double threadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Lines of `length` characters, none wrapping at 80 columns.
std::string shortLines(int lines, int length) {
  std::string s;
  Lcg r;
  for (int i = 0; i < lines; i++) {
    for (int k = 0; k < length; ++k) s += char('!' + r.below(94));
    s += "\r\n";
  }
  return s;
}

// Alternates between {cols0, rows0} and {cols1, rows1}, starting from the first, on a terminal
// made at 80x24 with a full 100,000-line scrollback of 40-character lines.
void BM_ResizeExtremes(benchmark::State& state) {
  constexpr int scrollback = 100'000;
  const int sizes[2][2] = {{int(state.range(0)), int(state.range(1))}, {int(state.range(2)), int(state.range(3))}};
  NullHost host;
  const size_t before = heapBytesInUse();
  vantrelle::TerminalOptions options;
  options.cols = 80;
  options.rows = 24;
  options.scrollback = scrollback;
  auto terminal = std::make_unique<Terminal>(&host, options);
  {
    const std::string text = shortLines(scrollback + 24, 40);
    terminal->feed(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  terminal->resize(sizes[0][0], sizes[0][1]);
  double slowest = 0, slowestCpu = 0;
  int step = 1;
  for (auto _ : state) {
    const auto& size = sizes[step++ % 2];
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuMs();
    terminal->resize(size[0], size[1]);
    slowestCpu = std::max(slowestCpu, threadCpuMs() - cpuStart);
    slowest =
        std::max(slowest, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  // Back to an ordinary size once the storm is over: what the terminal still holds then.
  terminal->resize(80, 24);
  state.counters["slowest_ms"] = slowest;
  state.counters["slowest_cpu_ms"] = slowestCpu;
  state.counters["heap_MB"] = double(heapBytesInUse() - before) / 1e6;
  state.counters["RSS_MB"] = double(residentBytes()) / 1e6;
  state.counters["cells_MB"] = cellBytes(*terminal) / 1e6;
  state.counters["peak_RSS_MB"] = peakResidentBytes() / 1e6;
}

// One narrowing reflow of a long scrollback, and the heap it leaves against the cells shown.
// Arguments: lines, their length, the width before and after; each iteration builds the terminal
// anew outside the timing.
void BM_NarrowOnce(benchmark::State& state) {
  const int lines = int(state.range(0));
  const int from = int(state.range(2)), to = int(state.range(3));
  const std::string text = shortLines(lines, int(state.range(1)));
  NullHost host;
  double heap = 0, cells = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const size_t before = heapBytesInUse();
    vantrelle::TerminalOptions options;
    options.cols = from;
    options.rows = 24;
    options.scrollback = lines;
    auto terminal = std::make_unique<Terminal>(&host, options);
    terminal->feed(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    state.ResumeTiming();
    terminal->resize(to, 24);
    state.PauseTiming();
    heap = double(heapBytesInUse() - before);
    cells = cellBytes(*terminal);
    terminal.reset();
    state.ResumeTiming();
  }
  state.counters["heap_MB"] = heap / 1e6;
  state.counters["cells_MB"] = cells / 1e6;
  state.counters["peak_RSS_MB"] = peakResidentBytes() / 1e6;
}

// Text without a line end, as a minified file or a log written without them: one line wrapped over
// every row it fills.
std::string oneLongLine(int64_t characters) {
  std::string s;
  s.reserve(size_t(characters));
  Lcg r;
  for (int64_t i = 0; i < characters; i++) s += char('!' + r.below(94));
  return s;
}

// What a 100,000-row scrollback at 80 columns holds in the cases below.
std::string scrollbackText(int kind) {
  constexpr int rows = 100'000;
  switch (kind) {
    case 0:
      return oneLongLine(int64_t(rows) * 80);  // one line over every row
    case 1:
      return shortLines(rows / 2 + 24, 150);  // lines wrapped over two rows each
    default:
      return outputLines(rows + 24);  // a build log: a line in ten wraps
  }
}

// One resize of a terminal made at 80x24 with a full 100,000-row scrollback. Arguments: what the
// scrollback holds (0: one line of 8,000,000 characters without a line end, 1: lines of 150
// characters, 2: a build log), the new width and height. Each iteration builds the terminal anew
// outside the timing; the counter gives the slowest resize in processor time.
void BM_ResizeOnce(benchmark::State& state) {
  const std::string text = scrollbackText(int(state.range(0)));
  NullHost host;
  double slowestCpu = 0;
  for (auto _ : state) {
    state.PauseTiming();
    vantrelle::TerminalOptions options;
    options.cols = 80;
    options.rows = 24;
    options.scrollback = 100'000;
    auto terminal = std::make_unique<Terminal>(&host, options);
    terminal->feed(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    state.ResumeTiming();
    const double cpuStart = threadCpuMs();
    terminal->resize(int(state.range(1)), int(state.range(2)));
    slowestCpu = std::max(slowestCpu, threadCpuMs() - cpuStart);
    state.PauseTiming();
    terminal.reset();
    state.ResumeTiming();
  }
  state.counters["slowest_cpu_ms"] = slowestCpu;
}

// A build log's 100,000-row scrollback widened from 80 to 200 columns and narrowed back, one
// resize per iteration, after it was so once already: the rows the first narrowing made are
// joined again. The counters give the mean processor time of a widening and of a narrowing.
void BM_WidenAfterReflow(benchmark::State& state) {
  NullHost host;
  auto terminal = makeFullTerminal(host, 80, 24, 100'000);
  terminal->resize(200, 24);
  terminal->resize(80, 24);
  double cpu[2] = {0, 0};
  int64_t count[2] = {0, 0};
  int step = 0;
  for (auto _ : state) {
    const int wider = step++ % 2 == 0 ? 1 : 0;
    const double cpuStart = threadCpuMs();
    terminal->resize(wider ? 200 : 80, 24);
    cpu[wider] += threadCpuMs() - cpuStart;
    count[wider]++;
  }
  state.counters["widen_cpu_ms"] = count[1] ? cpu[1] / double(count[1]) : 0;
  state.counters["narrow_cpu_ms"] = count[0] ? cpu[0] / double(count[0]) : 0;
}

}  // namespace

BENCHMARK(BM_ResizeOnce)
    ->Args({0, 79, 24})
    ->Args({0, 1, 1})
    ->Args({0, 2000, 1000})
    ->Args({1, 2000, 24})
    ->Args({1, 79, 24})
    ->Args({2, 1, 1})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WidenAfterReflow)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResizeExtremes)
    ->Args({80, 24, 200, 50})
    ->Args({80, 24, 2, 1})
    ->Args({1, 1, 2000, 1000})
    ->Iterations(8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NarrowOnce)
    ->Args({20'000, 150, 200, 80})
    ->Args({20'000, 60, 80, 2})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DragWidth)->Args({200'000, 10})->Args({10'000, 10})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DragHeight)->Args({200'000, 0})->Unit(benchmark::kMicrosecond);
