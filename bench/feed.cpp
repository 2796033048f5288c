// Throughput of feeding a terminal typical program output, in bytes per second. Each stream is
// generated once (16 MiB) outside the timed loop and fed in 64 KiB chunks, as a pty read gives.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <string>

#include "Vantrelle/Terminal/Terminal.h"

namespace {

using vantrelle::Terminal;

constexpr size_t kStreamBytes = 16u << 20;
constexpr size_t kChunk = 64u << 10;

class NullHost : public vantrelle::TerminalDelegate {
 public:
  void send(Terminal&, std::span<const uint8_t>) override {}
};

// A small deterministic generator, so every run measures the same bytes.
struct Lcg {
  uint32_t state = 12345;
  uint32_t next() { return state = state * 1664525u + 1013904223u; }
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

std::string denseSgr() {
  std::string s;
  Lcg r;
  while (s.size() < kStreamBytes) {
    for (int cell = 0; cell < 60;) {
      if (r.below(2)) {
        s += "\x1b[38;5;" + std::to_string(r.below(256)) + "m";
      } else {
        s += "\x1b[48;2;" + std::to_string(r.below(256)) + ";" + std::to_string(r.below(256)) + ";" +
             std::to_string(r.below(256)) + "m";
      }
      const uint32_t run = 1 + r.below(4);
      for (uint32_t i = 0; i < run; ++i, ++cell) s += static_cast<char>('a' + r.below(26));
    }
    s += "\x1b[m\r\n";
  }
  return s;
}

std::string mixedUnicode() {
  static const char* const pieces[] = {
      "\xe4\xb8\xad\xe6\x96\x87",          // CJK
      "e\xcc\x81",                         // combining acute
      "\xf0\x9f\x98\x80",                  // emoji
      "\xe2\x9d\xa4\xef\xb8\x8f",          // heart with emoji presentation
      "\xf0\x9f\x87\xba\xf0\x9f\x87\xb8",  // flag
      "word ",
      "\xd0\x9f\xd1\x80\xd0\xb8",  // Cyrillic
      "\xe2\x94\x80\xe2\x94\x82",  // box drawing
  };
  std::string s;
  Lcg r;
  while (s.size() < kStreamBytes) {
    for (int i = 0; i < 12; ++i) s += pieces[r.below(8)];
    s += "\r\n";
  }
  return s;
}

std::string cursorRedraws(int cols, int rows) {
  std::string s;
  Lcg r;
  while (s.size() < kStreamBytes) {
    for (int row = 1; row <= rows; ++row) {
      s += "\x1b[" + std::to_string(row) + ";1H";
      for (int col = 0; col < cols - 1; ++col) s += static_cast<char>('A' + r.below(26));
    }
  }
  return s;
}

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
  static const std::string stream = denseSgr();
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

}  // namespace

#define SIZES ->Args({80, 24})->Args({200, 50})->Unit(benchmark::kMillisecond)
BENCHMARK(BM_PlainAscii) SIZES;
BENCHMARK(BM_DenseSgr) SIZES;
BENCHMARK(BM_MixedUnicode) SIZES;
BENCHMARK(BM_CursorRedraws) SIZES;
BENCHMARK(BM_RegionScrolling) SIZES;
