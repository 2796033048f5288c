// The memory a terminal holds after a storm of resizes between far-apart sizes, as a window
// maximised, shrunk to nothing and restored a few times leaves it. A 100,000-line scrollback of
// lines that wrap at 80 columns goes through 2000x1000, 1x1, 2000x1000 and 1x1 and back to 80x24.
// The counters give the process's resident memory before the storm (with the scrollback full),
// the most it reached during the storm and what it holds once the storm is over, then once the
// heap's free pages went back to the system as the application's view has them go when a run of
// resizes is over; beside them the heap in use, and the slowest of the storm's resizes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "Vantrelle/Terminal/Terminal.h"
#include "bench/NullHost.h"
#include "platform/FreeMemory.h"
#include "platform/LargePages.h"
#include "tests/ProcessMemory.h"

namespace {

using process_memory::heapBytesInUse;
using process_memory::residentBytes;
using vantrelle::Terminal;

// Lines of `length` printable characters, each ended by a line break.
std::string linesOf(int lines, int length) {
  std::string s;
  s.reserve(size_t(lines) * size_t(length + 2));
  uint64_t state = 12345;
  for (int i = 0; i < lines; i++) {
    for (int k = 0; k < length; ++k) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      s += char('!' + (state >> 33) % 94);
    }
    s += "\r\n";
  }
  return s;
}

struct StormFigures {
  double before = 0, peak = 0, after = 0, released = 0;
  double heapBefore = 0, heapPeak = 0, heapAfter = 0;
  double seconds = 0, slowestMs = 0;
};

double peakResidentBytes() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_maxrss) * 1024;
}

// Fills the scrollback with 100,000 rows of `length`-character lines at 80x24 and runs the storm;
// with `largePages`, the cells come from large-page regions past the first heap slabs, as in the
// application.
StormFigures runStorm(int length, bool largePages) {
  static const vantrelle::SlabMemory memory{platform::largePageBytes, platform::allocateReusableLargePages,
                                            platform::releaseReusableLargePages, platform::supplyPages};
  if (largePages) vantrelle::CellSlabs::useLargeSlabMemory(&memory);
  constexpr int rows = 100'000;
  const int rowsPerLine = (length + 79) / 80;
  NullHost host;
  StormFigures figures;
  vantrelle::TerminalOptions options;
  options.cols = 80;
  options.rows = 24;
  options.scrollback = rows;
  auto terminal = std::make_unique<Terminal>(&host, options);
  {
    const std::string text = linesOf(rows / rowsPerLine + 24, length);
    terminal->feed(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  }
  figures.before = double(residentBytes());
  figures.heapBefore = figures.heapPeak = double(heapBytesInUse());
  constexpr int storm[][2] = {{2000, 1000}, {1, 1}, {2000, 1000}, {1, 1}, {80, 24}};
  const auto start = std::chrono::steady_clock::now();
  for (const auto& size : storm) {
    const auto resizeStart = std::chrono::steady_clock::now();
    terminal->resize(size[0], size[1]);
    figures.slowestMs =
        std::max(figures.slowestMs,
                 std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - resizeStart).count());
    figures.heapPeak = std::max(figures.heapPeak, double(heapBytesInUse()));
  }
  figures.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  figures.after = double(residentBytes());
  platform::releaseFreeMemory();
  figures.released = double(residentBytes());
  figures.heapAfter = double(heapBytesInUse());
  // The highest the process's resident memory reached, within a resize or between them.
  figures.peak = peakResidentBytes();
  return figures;
}

// Each storm runs in a child process of its own, so that what one leaves in the heap does not
// count in the next one's figures; the child hands its figures back through a pipe.
bool stormInChild(int length, bool largePages, StormFigures& figures) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    close(ends[0]);
    const StormFigures measured = runStorm(length, largePages);
    const bool written = write(ends[1], &measured, sizeof measured) == ssize_t(sizeof measured);
    _exit(written ? 0 : 1);
  }
  close(ends[1]);
  const bool read = ::read(ends[0], &figures, sizeof figures) == ssize_t(sizeof figures);
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return read && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Arguments: the length of the lines, and whether cells come from large pages (1) or the heap.
void BM_ResizeStorm(benchmark::State& state) {
  StormFigures figures;
  for (auto _ : state) {
    if (!stormInChild(int(state.range(0)), state.range(1) != 0, figures)) {
      state.SkipWithError("the storm's child process failed");
      return;
    }
    state.SetIterationTime(figures.seconds);
  }
  state.counters["RSS_before_MB"] = figures.before / 1e6;
  state.counters["RSS_peak_MB"] = figures.peak / 1e6;
  state.counters["RSS_after_MB"] = figures.after / 1e6;
  state.counters["RSS_released_MB"] = figures.released / 1e6;
  state.counters["heap_before_MB"] = figures.heapBefore / 1e6;
  state.counters["heap_peak_MB"] = figures.heapPeak / 1e6;
  state.counters["heap_after_MB"] = figures.heapAfter / 1e6;
  state.counters["slowest_ms"] = figures.slowestMs;
}

}  // namespace

BENCHMARK(BM_ResizeStorm)
    ->Args({150, 0})
    ->Args({58, 0})
    ->Args({40, 0})
    ->Args({150, 1})
    ->Args({58, 1})
    ->Args({40, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
