// Cost of counting matches over a full scrollback (what the find bar does on each keystroke) and
// of a link lookup on a long wrapped line, in rows searched per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/SearchService.h"
#include "bench/NullHost.h"

namespace {

using vantrelle::Terminal;

constexpr int kRows = 10000;

// Ten thousand rows of log-like text, one in a hundred holding the word looked for.
void fill(Terminal& t) {
  std::string text;
  for (int i = 0; i < kRows; ++i) {
    text += "2026-12-07 05:00:" + std::to_string(i % 60) + " worker " + std::to_string(i);
    text += i % 100 == 0 ? " needle found in request\r\n" : " handled request in 3 ms\r\n";
  }
  t.feed(text);
}

vantrelle::TerminalOptions options() {
  vantrelle::TerminalOptions o;
  o.cols = 120;
  o.rows = 40;
  o.scrollback = kRows;
  return o;
}

void findAll(benchmark::State& state, vantrelle::SearchOptions searchOptions, const std::string& term) {
  NullHost host;
  Terminal t(&host, options());
  fill(t);
  vantrelle::SearchService search(t);
  for (auto _ : state) {
    search.lineCache.drop();  // every line is read again
    benchmark::DoNotOptimize(search.findAll(term, searchOptions, 1000));
  }
  state.SetItemsProcessed(state.iterations() * t.buffer->lines().count());
}

void BM_FindAllPlain(benchmark::State& state) { findAll(state, {}, "NEEDLE"); }

// A term found nowhere, looked for again over lines already read: each keystroke in the find bar
// while no new output arrives.
void BM_NoMatchOverCachedLines(benchmark::State& state) {
  NullHost host;
  Terminal t(&host, options());
  fill(t);
  vantrelle::SearchService search(t);
  search.findNext("absent", {});
  for (auto _ : state) benchmark::DoNotOptimize(search.findNext("absent", {}));
  state.SetItemsProcessed(state.iterations() * t.buffer->lines().count());
}
void BM_FindAllRegex(benchmark::State& state) { findAll(state, {true, true, false}, "nee+dle\\s+f"); }

// The first key typed into the find bar over a big scrollback: no line is read yet, and the one
// match sits at the bottom, so every line is read once. The time is the stall of that key when
// the whole step runs at once.
void BM_FirstKeyOverLargeScrollback(benchmark::State& state) {
  constexpr int kLarge = 200000;
  NullHost host;
  vantrelle::TerminalOptions o = options();
  o.scrollback = kLarge;
  Terminal t(&host, o);
  std::string text;
  for (int i = 0; i < kLarge; ++i) {
    text += "2026-12-07 05:00:" + std::to_string(i % 60) + " worker " + std::to_string(i) + " handled request\r\n";
    if (text.size() > (1 << 20)) t.feed(std::exchange(text, {}));
  }
  t.feed(text + "last line: zebra\r\n");
  vantrelle::SearchService search(t);
  for (auto _ : state) {
    search.reset();
    search.lineCache.drop();
    benchmark::DoNotOptimize(search.findNext("z", {}));
  }
  state.SetItemsProcessed(state.iterations() * t.buffer->lines().count());
}

void BM_ImplicitLinkOnWrappedLine(benchmark::State& state) {
  NullHost host;
  Terminal t(&host, options());
  std::string url = "https://example.test/";
  while (url.size() < 4000) url += "segment/";
  t.feed(url);
  for (auto _ : state) {
    benchmark::DoNotOptimize(t.link(vantrelle::LinkLookupLocation::screen(vantrelle::Position(10, 10)),
                                    vantrelle::LinkLookupMode::explicitAndImplicit));
  }
}

BENCHMARK(BM_FindAllPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindAllRegex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NoMatchOverCachedLines)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstKeyOverLargeScrollback)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImplicitLinkOnWrappedLine)->Unit(benchmark::kMicrosecond);

}  // namespace
