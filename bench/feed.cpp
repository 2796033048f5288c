// Throughput of feeding a terminal typical program output, in bytes per second. Each stream is
// generated once (16 MiB, or a given number of lines) outside the timed loop and fed in 64 KiB
// chunks, as a pty read gives.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "Vantrelle/Terminal/Terminal.h"
#include "bench/NullHost.h"

namespace {

using vantrelle::Terminal;

constexpr size_t kStreamBytes = 16u << 20;
constexpr size_t kChunk = 64u << 10;

// A small deterministic generator, so every run measures the same bytes. It returns the high
// bits of a 64-bit state: the low bits of such a generator repeat within a few hundred draws,
// which would let the branch predictor learn the stream.
struct Lcg {
  uint64_t state = 12345;
  uint32_t next() {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<uint32_t>(state >> 32);
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

std::string plainAscii() {
  std::string s;
  Lcg r;
  while (s.size() < kStreamBytes) {
    const uint32_t length = 20 + r.below(60);
    for (uint32_t i = 0; i < length; ++i) s += static_cast<char>('!' + r.below(94));
    s += "\r\n";
  }
  return s;
}

// One SGR sequence of the kind full-screen programs send before every cell: a 256-colour or
// true-colour foreground or background, now and then with bold, italic or underline toggled.
void appendCellRendition(std::string& s, Lcg& r) {
  static const char* const toggles[] = {"1;", "22;", "3;", "23;", "4;", "24;"};
  s += "\x1b[";
  if (r.below(3) == 0) s += toggles[r.below(6)];
  const char* layer = r.below(2) ? "38" : "48";
  s += layer;
  if (r.below(2)) {
    s += ";5;" + std::to_string(r.below(256));
  } else {
    s += ";2;" + std::to_string(r.below(256)) + ";" + std::to_string(r.below(256)) + ";" + std::to_string(r.below(256));
  }
  s += "m";
}

// Full frames from the home position, every cell in a rendition of its own.
std::string denseSgr(int cols, int rows) {
  std::string s;
  Lcg r;
  while (s.size() < kStreamBytes) {
    s += "\x1b[H";
    for (int cell = 0; cell < cols * rows; ++cell) {
      appendCellRendition(s, r);
      s += static_cast<char>('a' + r.below(26));
    }
    s += "\x1b[m";
  }
  return s;
}

// Lines of ASCII, CJK, Hangul, combining marks, emoji with presentation selectors, skin tones
// and joiner sequences, flags, Cyrillic and box drawing.
std::string mixedUnicode() {
  static const char* const pieces[] = {
      "\xe4\xb8\xad\xe6\x96\x87",                                                  // CJK
      "\xed\x95\x9c\xea\xb5\xad\xec\x96\xb4",                                      // Hangul syllables
      "e\xcc\x81",                                                                 // combining acute
      "\xf0\x9f\x98\x80",                                                          // emoji
      "\xe2\x9d\xa4\xef\xb8\x8f",                                                  // heart with emoji presentation
      "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",                                          // thumbs up, skin tone
      "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7",  // family: joiner sequence
      "\xf0\x9f\x87\xba\xf0\x9f\x87\xb8",                                          // flag
      "word ",
      "const x = 42; ",
      "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82 ",  // Cyrillic
      "\xe2\x94\x80\xe2\x94\x80\xe2\x94\x82",               // box drawing
  };
  constexpr uint32_t kPieces = std::size(pieces);
  std::string s;
  Lcg r;
  while (s.size() < kStreamBytes) {
    for (int i = 0; i < 10; ++i) s += pieces[r.below(kPieces)];
    s += "\r\n";
  }
  return s;
}

// Full frames drawn as runs addressed with CUP, in shuffled order, a quarter of them with a new
// rendition, as editors and agents repaint a screen.
std::string cursorRedraws(int cols, int rows) {
  struct Run {
    int row, col, length;
  };
  std::vector<Run> runs;
  Lcg r;
  for (int row = 1; row <= rows; ++row) {
    for (int col = 1; col <= cols;) {
      const int length = std::min(cols - col + 1, 4 + static_cast<int>(r.below(20)));
      runs.push_back({row, col, length});
      col += length;
    }
  }
  std::string s;
  while (s.size() < kStreamBytes) {
    for (size_t i = runs.size(); i > 1; --i) std::swap(runs[i - 1], runs[r.below(static_cast<uint32_t>(i))]);
    for (const Run& run : runs) {
      s += "\x1b[" + std::to_string(run.row) + ";" + std::to_string(run.col) + "H";
      if (r.below(4) == 0) appendCellRendition(s, r);
      for (int i = 0; i < run.length; ++i) s += static_cast<char>('A' + r.below(26));
    }
    s += "\x1b[m";
  }
  return s;
}

// Plain lines of 10 to 59 lowercase letters, no rendition, scrolling a region above a status line.
// Its figures hold for such lines only; bench_scrollback times styled lines as well.
std::string regionScrolling(int rows) {
  std::string s = "\x1b[1;" + std::to_string(rows - 1) + "r\x1b[" + std::to_string(rows - 1) + ";1H";
  Lcg r;
  while (s.size() < kStreamBytes) {
    const uint32_t length = 10 + r.below(50);
    for (uint32_t i = 0; i < length; ++i) s += static_cast<char>('a' + r.below(26));
    s += "\r\n";
  }
  return s;
}

// Lines that are each one OSC 8 link, as a listing of files or search results with links prints.
std::string linkedLines(int lines) {
  std::string s;
  for (int n = 0; n < lines; ++n) {
    const std::string number = std::to_string(n);
    s += "\x1b]8;;file:///home/user/project/src/file" + number + ".cpp\x1b\\src/file" + number +
         ".cpp\x1b]8;;\x1b\\\r\n";
  }
  return s;
}

void feedStream(benchmark::State& state, const std::string& stream) {
  NullHost host;
  vantrelle::TerminalOptions options;
  options.cols = state.range(0);
  options.rows = state.range(1);
  options.scrollback = 10000;
  Terminal terminal(&host, options);
  const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
  for (auto _ : state) {
    for (size_t at = 0; at < stream.size(); at += kChunk) {
      terminal.feed(std::span<const uint8_t>(bytes + at, std::min(kChunk, stream.size() - at)));
    }
    terminal.clearUpdateRange();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}

void BM_PlainAscii(benchmark::State& state) {
  static const std::string stream = plainAscii();
  feedStream(state, stream);
}

void BM_DenseSgr(benchmark::State& state) {
  const std::string stream = denseSgr(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  feedStream(state, stream);
}

void BM_MixedUnicode(benchmark::State& state) {
  static const std::string stream = mixedUnicode();
  feedStream(state, stream);
}

void BM_CursorRedraws(benchmark::State& state) {
  const std::string stream = cursorRedraws(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  feedStream(state, stream);
}

void BM_RegionScrolling(benchmark::State& state) {
  const std::string stream = regionScrolling(static_cast<int>(state.range(1)));
  feedStream(state, stream);
}

// A terminal whose scrollback keeps every line, fed afresh each time: past 65,534 lines every code
// a link can have is held, and the links after that find none.
void BM_LinkedLines(benchmark::State& state) {
  const std::string stream = linkedLines(static_cast<int>(state.range(0)));
  const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data());
  NullHost host;
  vantrelle::TerminalOptions options;
  options.cols = 80;
  options.rows = 24;
  options.scrollback = 200000;
  for (auto _ : state) {
    state.PauseTiming();
    auto terminal = std::make_unique<Terminal>(&host, options);
    state.ResumeTiming();
    for (size_t at = 0; at < stream.size(); at += kChunk) {
      terminal->feed(std::span<const uint8_t>(bytes + at, std::min(kChunk, stream.size() - at)));
    }
    state.PauseTiming();
    terminal.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(stream.size()));
}

}  // namespace

#define SIZES ->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_PlainAscii) SIZES;
BENCHMARK(BM_DenseSgr) SIZES;
BENCHMARK(BM_MixedUnicode) SIZES;
BENCHMARK(BM_CursorRedraws) SIZES;
BENCHMARK(BM_RegionScrolling) SIZES;
BENCHMARK(BM_LinkedLines)->Arg(60000)->Arg(100000)->Unit(benchmark::kMillisecond);
