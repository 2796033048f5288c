// Throughput of the engine on typical streams, in bytes per second.
#include <benchmark/benchmark.h>

#include <string>

#include "Vantrelle/Engine.h"

static void BM_Placeholder(benchmark::State& state) {
  std::string text(1 << 20, 'a');
  for (auto _ : state) benchmark::DoNotOptimize(text.data());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_Placeholder);
