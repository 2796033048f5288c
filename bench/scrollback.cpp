// The cost of the line ring under a terminal:
// - scrolling a region that leaves a status line below it, at screen heights from 24 to 100 rows,
//   on plain lines (BM_RegionScrolling, BM_RegionScrollingInside) and on lines with colours and bold
//   as a coloured build log or `ls --color` prints them (BM_RegionScrollingStyled). A figure holds
//   for the stream it was measured on: 80x100 against 80x24 on the plain lines says nothing of the
//   styled ones, nor of another program's output;
// - feeding text while the scrollback is still filling against feeding it once the scrollback is
//   full (each iteration is one MiB of input, so its time is the time per MiB), and the same for
//   lines of one fixed length, as `yes` (1), `seq` (7) and a build log (70) print them, where the
//   cost of each line feed outweighs that of its text, and as a full-width table or separator
//   (80) does, each row written to its last column;
// - the memory a scrollback line holds;
// - the memory a row written to its last column holds against a row one character short of it,
//   for text, text in one rendition, wide characters and one line wrapped over every row
//   (BM_FullRowMemory);
// - the resident memory of a ring fed four ring-fulls past full (BM_ScrollbackPastFull);
// - feeding lines one short of the width and lines as wide as it into a terminal with the default
//   scrollback of 500 rows against one with none (BM_DefaultScrollbackAgainstNone): at 80x24 in
//   large reads, and at 200x50 in reads of 4,095 bytes, as a pseudo-terminal hands over the output
//   of `cat`, each of which scrolls fewer rows than the screen has.
// Cells come from large-page regions through the process-wide cache of released regions, as in the
// application.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "Vantrelle/Terminal/Terminal.h"
#include "bench/NullHost.h"
#include "platform/LargePages.h"
#include "tests/ProcessMemory.h"

namespace {

using vantrelle::Terminal;

constexpr size_t kMiB = 1u << 20;
constexpr size_t kChunk = 64u << 10;  // a large read from the pseudo-terminal

struct Lcg {
  uint32_t state = 12345;
  uint32_t next() { return state = state * 1664525u + 1013904223u; }
  uint32_t below(uint32_t n) { return next() % n; }
};

// Lines of 10 to 79 printable characters, so no line wraps at 80 columns and every one scrolls.
std::string textLines(size_t size) {
  std::string s;
  s.reserve(size + 128);
  Lcg r;
  while (s.size() < size) {
    const uint32_t length = 10 + r.below(70);
    for (uint32_t i = 0; i < length; ++i) s += static_cast<char>('!' + r.below(94));
    s += "\r\n";
  }
  s.resize(size);
  return s;
}

// Lines as a coloured build log or `ls --color` prints them: words of 1 to 12 printable
// characters, about a third of them in a rendition of their own (bold, one of the 16 colours or
// one of the 256) that ends after the word; lines of 10 to 79 columns, so none wraps at 80.
std::string styledLines(size_t size) {
  std::string s;
  s.reserve(size + 128);
  Lcg r;
  while (s.size() < size) {
    const uint32_t columns = 10 + r.below(70);
    for (uint32_t column = 0; column < columns;) {
      const uint32_t word = std::min(1 + r.below(12), columns - column);
      const uint32_t style = r.below(9);
      if (style == 0) s += "\x1b[1m";
      if (style == 1) s += "\x1b[" + std::to_string(31 + r.below(7)) + "m";
      if (style == 2) s += "\x1b[1;38;5;" + std::to_string(r.below(256)) + "m";
      for (uint32_t i = 0; i < word; ++i) s += static_cast<char>('!' + r.below(94));
      if (style <= 2) s += "\x1b[m";
      column += word;
      if (column < columns) s += ' ', column++;
    }
    s += "\r\n";
  }
  return s;
}

// Lines of `length` printable characters each.
std::string fixedLines(size_t size, int length) {
  std::string s;
  s.reserve(size + 128);
  Lcg r;
  while (s.size() < size) {
    for (int i = 0; i < length; ++i) s += static_cast<char>('!' + r.below(94));
    s += "\r\n";
  }
  s.resize(size);
  return s;
}

// The stream a filling or full benchmark feeds: lines of a fixed length when the third argument
// gives one, else of mixed lengths.
std::string streamFor(const benchmark::State& state) {
  return state.range(2) > 0 ? fixedLines(kMiB, int(state.range(2))) : textLines(kMiB);
}

void feedInReads(Terminal& terminal, const std::string& stream, size_t read) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
  for (size_t at = 0; at < stream.size(); at += read) {
    terminal.feed(std::span<const uint8_t>(bytes + at, std::min(read, stream.size() - at)));
  }
  terminal.clearUpdateRange();
}

void feed(Terminal& terminal, const std::string& stream) { feedInReads(terminal, stream, kChunk); }

// The timed feed of BM_DefaultScrollbackAgainstNone, kept out of line so that an instruction count
// can be taken of it alone (callgrind --toggle-collect=*timedFeed*).
[[gnu::noinline]] void timedFeed(Terminal& terminal, const std::string& stream, size_t read) {
  feedInReads(terminal, stream, read);
}

std::unique_ptr<Terminal> makeTerminal(NullHost& host, int cols, int rows, int64_t scrollback) {
  vantrelle::TerminalOptions options;
  options.cols = cols;
  options.rows = rows;
  options.scrollback = scrollback;
  return std::make_unique<Terminal>(&host, options);
}

// Large-page regions, counted: the heap's figures do not see them.
size_t largeBytesHeld = 0;
void* allocateCounted(size_t bytes) {
  void* region = platform::allocateReusableLargePages(bytes);
  if (region) largeBytesHeld += bytes;
  return region;
}
void releaseCounted(void* region, size_t bytes) {
  largeBytesHeld -= bytes;
  platform::releaseReusableLargePages(region, bytes);
}
const vantrelle::SlabMemory countedLargePages{platform::largePageBytes, allocateCounted, releaseCounted,
                                              platform::supplyPages};
[[maybe_unused]] const bool largePages = (vantrelle::CellSlabs::useLargeSlabMemory(&countedLargePages), true);

// A terminal in a new process finds no released regions to take back.
void emptyRegionCache() {
  while (platform::reusableRegionsHeld() > 0) {
    platform::releaseLargePages(platform::allocateReusableLargePages(platform::largePageBytes),
                                platform::largePageBytes);
  }
}

// The bytes held on the heap and in large-page regions.
size_t bytesInUse() { return process_memory::heapBytesInUse() + largeBytesHeld; }

int64_t pageFaults() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt + usage.ru_majflt;
}

// Line feeds on the bottom row of a scroll region that ends above the last row, as under a
// program that keeps a status line. `top` is the region's first row (1-based): from row 1 the
// region feeds the scrollback; from row 2 (under a title line) it scrolls inside the screen. The
// lines are plain (textLines) unless `styled` (styledLines).
void regionScrolling(benchmark::State& state, int top, bool styled = false) {
  const int cols = int(state.range(0));
  const int rows = int(state.range(1));
  const std::string stream = "\x1b[" + std::to_string(top) + ";" + std::to_string(rows - 1) + "r\x1b[" +
                             std::to_string(rows - 1) + ";1H" +
                             (styled ? styledLines(16 * kMiB) : textLines(16 * kMiB));
  NullHost host;
  auto terminal = makeTerminal(host, cols, rows, 10'000);
  feed(*terminal, stream);  // the steady state: a full scrollback
  for (auto _ : state) feed(*terminal, stream);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

void BM_RegionScrolling(benchmark::State& state) { regionScrolling(state, 1); }
void BM_RegionScrollingInside(benchmark::State& state) { regionScrolling(state, 2); }
void BM_RegionScrollingStyled(benchmark::State& state) { regionScrolling(state, 1, true); }

// One MiB of text into a fresh terminal whose scrollback it does not fill: every line feed adds a
// line to the ring. With `coldMemory` the heap gives its free memory back to the system between
// runs and no released regions are kept, so the lines land on pages the kernel has to supply, as
// in a new terminal; otherwise the heap keeps its memory and released regions wait in their cache,
// as when a terminal refills a scrollback that was cleared. The counters give the bytes each added
// line holds, on the heap and in large-page regions, and the page faults per MiB.
void scrollbackFilling(benchmark::State& state, bool coldMemory) {
  const int cols = int(state.range(0));
  const int rows = int(state.range(1));
  const std::string stream = streamFor(state);
  NullHost host;
  if (!coldMemory) mallopt(M_TRIM_THRESHOLD, 1 << 30);
  double bytesPerLine = 0;
  int64_t faults = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (coldMemory) {
      malloc_trim(0);
      emptyRegionCache();
    }
    const size_t before = bytesInUse();
    auto terminal = makeTerminal(host, cols, rows, 1'000'000);
    const int64_t faultsBefore = pageFaults();
    state.ResumeTiming();
    feed(*terminal, stream);
    state.PauseTiming();
    faults += pageFaults() - faultsBefore;
    const int lines = terminal->buffer->lines().count() - rows;
    bytesPerLine = double(bytesInUse() - before) / std::max(lines, 1);
    terminal.reset();
    state.ResumeTiming();
  }
  if (!coldMemory) mallopt(M_TRIM_THRESHOLD, 128 << 10);  // the documented default
  state.counters["bytes_per_line"] = bytesPerLine;
  state.counters["faults_per_MiB"] = double(faults) / double(std::max<int64_t>(state.iterations(), 1));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

void BM_ScrollbackFillingColdMemory(benchmark::State& state) { scrollbackFilling(state, true); }
void BM_ScrollbackFillingWarmMemory(benchmark::State& state) { scrollbackFilling(state, false); }

// The same MiB into a terminal whose scrollback is full: every line feed recycles the oldest line.
// The counter gives the bytes each line of the full scrollback holds.
void BM_ScrollbackFull(benchmark::State& state) {
  const int cols = int(state.range(0));
  const int rows = int(state.range(1));
  const std::string stream = streamFor(state);
  NullHost host;
  const size_t before = bytesInUse();
  auto terminal = makeTerminal(host, cols, rows, 100'000);
  while (!terminal->buffer->lines().isFull()) feed(*terminal, stream);
  state.counters["bytes_per_line"] = double(bytesInUse() - before) / terminal->buffer->lines().count();
  for (auto _ : state) feed(*terminal, stream);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

// The output of `count` rows of `columns` columns each, `columns` the width or one less: plain text
// (kind 0), text in one rendition (1) or wide characters (2), a line each; or (3) one line without
// a line end that wraps over every row, its rows one short of the width being lines of their own.
std::string rowsOf(int kind, int width, int columns, int count) {
  Lcg r;
  auto text = [&](int length) {
    std::string s;
    for (int i = 0; i < length; ++i) s += static_cast<char>('!' + r.below(94));
    return s;
  };
  std::string s;
  if (kind == 3 && columns == width) return text(width * count);
  for (int row = 0; row < count; ++row) {
    if (kind == 2) {
      for (int c = 0; c < columns / 2; ++c) s += "\xe6\x97\xa5";
    } else {
      s += (kind == 1 ? "\x1b[1;38;5;208m" : "") + text(columns) + (kind == 1 ? "\x1b[m" : "");
    }
    s += "\r\n";
  }
  return s;
}

// The bytes per line a scrollback of `rows` lines at `cols` columns holds for the rows of `kind`
// (see rowsOf) `columns` columns wide.
double bytesPerRow(int kind, int cols, int rows, int columns) {
  const std::string stream = rowsOf(kind, cols, columns, rows);
  NullHost host;
  const size_t before = bytesInUse();
  auto terminal = makeTerminal(host, cols, 24, rows);
  feed(*terminal, stream);
  return double(bytesInUse() - before) / terminal->buffer->lines().count();
}

// A scrollback of rows written to their last column against one of rows one character short of
// it. Arguments: the width, the rows and the kind of rows (see rowsOf). The counters give the
// bytes per row of each, on the heap and in large-page regions, and the first against the second;
// the time is that of filling both.
void BM_FullRowMemory(benchmark::State& state) {
  const int cols = int(state.range(0)), rows = int(state.range(1)), kind = int(state.range(2));
  double full = 0, shorter = 0;
  for (auto _ : state) {
    full = bytesPerRow(kind, cols, rows, cols);
    // Wide characters are one character shorter by two columns.
    shorter = bytesPerRow(kind, cols, rows, kind == 2 ? cols - 2 : cols - 1);
  }
  state.counters["full_bytes_per_row"] = full;
  state.counters["shorter_bytes_per_row"] = shorter;
  state.counters["full_vs_shorter"] = shorter > 0 ? full / shorter : 0;
}

double residentMiB() { return double(process_memory::residentBytes()) / double(kMiB); }

// Feeds a ring of `scrollback` lines until it is full (untimed), then four times as many lines
// again, and at least 64 MiB. The counters give the resident memory when the ring first filled
// and how much it grew while it stayed full, which it should not: recycled lines take the memory
// the dropped ones gave up. The bytes per second, of the feed into the full ring only, compare a
// long ring with a short one.
void BM_ScrollbackPastFull(benchmark::State& state) {
  const int scrollback = int(state.range(0));
  const std::string stream = textLines(kMiB);
  NullHost host;
  emptyRegionCache();
  malloc_trim(0);
  double fullMiB = 0, grownMiB = 0;
  int64_t fed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto terminal = makeTerminal(host, 80, 24, scrollback);
    while (!terminal->buffer->lines().isFull()) feed(*terminal, stream);
    fullMiB = residentMiB();
    const int64_t start = terminal->buffer->linesTop;
    state.ResumeTiming();
    int64_t bytes = 0;
    while (terminal->buffer->linesTop - start < 4 * int64_t(scrollback) || bytes < int64_t(64 * kMiB)) {
      feed(*terminal, stream);
      bytes += int64_t(stream.size());
    }
    state.PauseTiming();
    fed += bytes;
    grownMiB = residentMiB() - fullMiB;
    terminal.reset();
    state.ResumeTiming();
  }
  state.counters["RSS_full_MiB"] = fullMiB;
  state.counters["RSS_growth_pct"] = fullMiB > 0 ? 100.0 * grownMiB / fullMiB : 0;
  state.SetBytesProcessed(fed);
}

// One MiB of lines of `length` characters (the second argument) an iteration, in reads of the
// fifth argument's bytes, into a terminal of the third and fourth arguments' size whose ring is
// full, with a scrollback of the first argument's rows: the default 500, or none (0), to set
// against each other. No iteration lets the output rest. The counters give the bytes the ring
// holds while the lines flood in and once the output rests, as after the prompt that follows.
void BM_DefaultScrollbackAgainstNone(benchmark::State& state) {
  const int scrollback = int(state.range(0));
  const std::string stream = fixedLines(kMiB, int(state.range(1)));
  const size_t read = size_t(state.range(4));
  NullHost host;
  const size_t before = bytesInUse();
  auto terminal = makeTerminal(host, int(state.range(2)), int(state.range(3)), scrollback);
  // The same warm-up for both, so an instruction count of the whole run compares them too.
  do {
    feed(*terminal, stream);
  } while (!terminal->buffer->lines().isFull());
  for (auto _ : state) timedFeed(*terminal, stream, read);
  state.counters["flood_KiB"] = double(bytesInUse() - before) / 1024;
  terminal->feed("$ ");
  terminal->outputRests();
  state.counters["rest_KiB"] = double(bytesInUse() - before) / 1024;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
}

}  // namespace

#define REGION_SIZES ->Args({80, 24})->Args({80, 100})->Args({200, 50})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_RegionScrolling) REGION_SIZES;
BENCHMARK(BM_RegionScrollingInside) REGION_SIZES;
BENCHMARK(BM_RegionScrollingStyled) REGION_SIZES;
#define FILL_SIZES         \
  ->Args({80, 24, 0})      \
      ->Args({200, 50, 0}) \
      ->Args({80, 24, 1})  \
      ->Args({80, 24, 7})  \
      ->Args({80, 24, 70}) \
      ->Args({80, 24, 80}) \
      ->Unit(benchmark::kMillisecond)
BENCHMARK(BM_ScrollbackFillingColdMemory) FILL_SIZES;
BENCHMARK(BM_ScrollbackFillingWarmMemory) FILL_SIZES;
BENCHMARK(BM_ScrollbackFull) FILL_SIZES;
#define FULL_ROW_KINDS          \
  ->Args({80, 200'000, 0})      \
      ->Args({80, 200'000, 1})  \
      ->Args({80, 200'000, 2})  \
      ->Args({80, 200'000, 3})  \
      ->Args({200, 100'000, 0}) \
      ->Args({200, 100'000, 1}) \
      ->Args({200, 100'000, 2}) \
      ->Args({200, 100'000, 3}) \
      ->Iterations(1)           \
      ->Unit(benchmark::kMillisecond)
BENCHMARK(BM_FullRowMemory) FULL_ROW_KINDS;
BENCHMARK(BM_ScrollbackPastFull)->Arg(1'000)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DefaultScrollbackAgainstNone)
    ->Args({0, 79, 80, 24, kChunk})
    ->Args({500, 79, 80, 24, kChunk})
    ->Args({0, 80, 80, 24, kChunk})
    ->Args({500, 80, 80, 24, kChunk})
    ->Args({0, 199, 200, 50, 4095})
    ->Args({500, 199, 200, 50, 4095})
    ->Args({0, 200, 200, 50, 4095})
    ->Args({500, 200, 200, 50, 4095})
    ->Unit(benchmark::kMillisecond);
