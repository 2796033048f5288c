// Throughput of the Sixel decoder on a body shaped like an encoder's output: every band drawn
// once per colour, with runs of equal sixels folded into repeats.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "Vantrelle/Graphics/SixelDecoder.h"

namespace {

// Appends numbers separated by ';'.
void appendNumbers(std::string& out, std::initializer_list<int> numbers) {
  const char* separator = "";
  for (const int n : numbers) {
    out.append(separator);
    out.append(std::to_string(n));
    separator = ";";
  }
}

std::string gradientBody(int width, int height, int colours) {
  std::string body = "\"1;1;";
  appendNumbers(body, {width, height});
  for (int c = 0; c < colours; ++c) {
    body += '#';
    appendNumbers(body, {c, 2, c * 100 / colours, 50, 100 - c * 100 / colours});
  }
  const int stripe = width / colours;
  for (int band = 0; band < (height + 5) / 6; ++band) {
    for (int c = 0; c < colours; ++c) {
      body += '#';
      appendNumbers(body, {c});
      if (c > 0) {
        body += '!';
        appendNumbers(body, {c * stripe});
        body += '?';
      }
      // A striped column pattern so that every sixel of the stripe differs from its neighbour.
      for (int x = 0; x < stripe; ++x) {
        body += static_cast<char>(63 + ((x + band) % 63 + 1));
      }
      body += "$";
    }
    body += "-";
  }
  return body;
}

void BM_SixelDecode(benchmark::State& state) {
  const std::string body = gradientBody(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 16);
  const std::vector<uint8_t> bytes(body.begin(), body.end());
  std::vector<uint32_t> palette(256, 0x808080FF);
  for (auto _ : state) {
    vantrelle::SixelDecoder decoder(palette);
    auto image = decoder.decode(bytes);
    benchmark::DoNotOptimize(image.pixels.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
  state.counters["pixels/s"] = benchmark::Counter(double(state.range(0) * state.range(1)) * double(state.iterations()),
                                                  benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SixelDecode)->Args({640, 480})->Args({1920, 1080});

}  // namespace
