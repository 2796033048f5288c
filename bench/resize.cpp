// The cost of resizing a terminal whose scrollback is full, as a window edge dragged by the user
// resizes it dozens of times in a row: each iteration is one resize, in a drag that narrows the
// screen a column at a time and widens it back. The counter gives the memory the buffers hold
// after the drag against before it, per scrollback line.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "Vantrelle/Terminal/Terminal.h"

namespace {

using vantrelle::Terminal;

class NullHost : public vantrelle::TerminalDelegate {
 public:
  void send(Terminal&, std::span<const uint8_t>) override {}
};

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

size_t bytesInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
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
  const size_t before = bytesInUse();
  int step = 0;
  for (auto _ : state) {
    const int phase = step++ % (2 * span);
    const int width = phase < span ? cols - 1 - phase : cols - 2 * span + 1 + phase;
    terminal->resize(width, rows);
  }
  state.counters["bytes/line after"] = double(int64_t(bytesInUse()) - int64_t(before)) / scrollback;
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

}  // namespace

BENCHMARK(BM_DragWidth)->Args({200'000, 10})->Args({10'000, 10})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DragHeight)->Args({200'000, 0})->Unit(benchmark::kMicrosecond);
