// Throughput of Kitty graphics transmissions: a 512x512 RGBA image sent as base64, plain and
// zlib-compressed, in 4096-byte chunks as clients send it, through a terminal's APC path.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace {

constexpr int kSide = 512;

class QuietHost : public vantrelle::TerminalDelegate {
 public:
  void send(vantrelle::Terminal&, std::span<const uint8_t>) override {}
};

std::vector<uint8_t> gradient() {
  std::vector<uint8_t> pixels(size_t(kSide) * kSide * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t((i / 4 % kSide) ^ (i / 4 / kSide) ^ (i % 4 * 60));
  return pixels;
}

std::vector<uint8_t> zlibOf(const std::vector<uint8_t>& data) {
  uLongf size = compressBound(uLong(data.size()));
  std::vector<uint8_t> out(size);
  compress2(out.data(), &size, data.data(), uLong(data.size()), 6);
  out.resize(size);
  return out;
}

std::string base64(const std::vector<uint8_t>& data) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t chunk = uint32_t(data[i]) << 16;
    if (i + 1 < data.size()) chunk |= uint32_t(data[i + 1]) << 8;
    if (i + 2 < data.size()) chunk |= data[i + 2];
    out += alphabet[(chunk >> 18) & 63];
    out += alphabet[(chunk >> 12) & 63];
    out += i + 1 < data.size() ? alphabet[(chunk >> 6) & 63] : '=';
    out += i + 2 < data.size() ? alphabet[chunk & 63] : '=';
  }
  return out;
}

// The escape stream of one chunked transmission.
std::string transmission(const std::string& payload, const std::string& keys) {
  std::string stream;
  for (size_t offset = 0; offset < payload.size(); offset += 4096) {
    bool last = offset + 4096 >= payload.size();
    stream += "\x1b_G";
    if (offset == 0) stream += keys + ",";
    stream += last ? "m=0;" : "m=1;";
    stream += payload.substr(offset, 4096);
    stream += "\x1b\\";
  }
  return stream;
}

void run(benchmark::State& state, bool compressed) {
  auto pixels = gradient();
  std::string keys = "a=t,q=2,i=1,f=32,s=" + std::to_string(kSide) + ",v=" + std::to_string(kSide);
  if (compressed) keys += ",o=z";
  std::string stream = transmission(base64(compressed ? zlibOf(pixels) : pixels), keys);
  QuietHost host;
  vantrelle::Terminal terminal(&host);
  for (auto _ : state) terminal.feed(std::string_view(stream));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
  state.counters["images/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_KittyTransmitRaw(benchmark::State& state) { run(state, false); }
void BM_KittyTransmitZlib(benchmark::State& state) { run(state, true); }

// A host that shows Kitty placements as one cell a line, as the view does.
class PlacingHost : public QuietHost {
 public:
  struct Cell : vantrelle::KittyPlacementImage {
    int column = 0;
    int pixelWidth() const override { return 1; }
    int pixelHeight() const override { return 1; }
    int col() const override { return column; }
    void setCol(int c) override { column = c; }
  };

  std::optional<vantrelle::CellSize> cellSizeInPixels(vantrelle::Terminal&) override {
    return vantrelle::CellSize{10, 20};
  }
  void createImageFromBitmap(vantrelle::Terminal& terminal, std::vector<uint8_t>&, int, int) override {
    const auto& context = terminal.kittyPlacementContext;
    if (!context) return;
    vantrelle::Buffer& buffer = *terminal.buffer;
    auto cell = std::make_shared<Cell>();
    cell->kittyIsKitty = true;
    cell->kittyImageId = context->imageId;
    cell->kittyPlacementId = context->placementId;
    cell->kittyCol = cell->column = buffer.x;
    cell->kittyRow = buffer.y + buffer.yBase;
    cell->kittyCols = cell->kittyRows = 1;
    vantrelle::attachImage(terminal, buffer, cell, buffer.y + buffer.yBase);
    vantrelle::recordKittyPlacement(terminal, *context, cell->kittyCol, cell->kittyRow, 1, 1);
  }
};

// Lines of text scrolling through a screen and a full history, with and without a placed image
// among them (one each half a history), and with one placed relative to it: what the upkeep of
// placements costs every line that scrolls.
void BM_TextScrollingPastImage(benchmark::State& state) {
  const int64_t history = state.range(1);
  std::string chunk;
  if (state.range(0)) chunk = "\x1b_Ga=T,q=2,i=1,p=1,f=32,s=1,v=1;AAAAAA==\x1b\\\r\n";
  // With a second placement kept one line above the first, as every scroll must check.
  if (state.range(0) == 2) chunk += "\x1b_Ga=p,q=2,i=1,p=2,P=1,Q=1,V=-1\x1b\\\r\n";
  for (int64_t i = 0; i < history / 2; ++i) chunk += "line " + std::to_string(i) + " of plain text output\r\n";
  PlacingHost host;
  vantrelle::TerminalOptions options;
  options.scrollback = history;
  vantrelle::Terminal terminal(&host, options);
  for (int i = 0; i < 4; ++i) terminal.feed(std::string_view(chunk));
  for (auto _ : state) terminal.feed(std::string_view(chunk));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(chunk.size()));
}

// One picture placed again and again under the same placement id (an animation, a picture of
// progress), each time a line further down, below a full history: each placement takes the cells
// of the one before off their line.
void BM_KittyPlacementReplaced(benchmark::State& state) {
  const int64_t history = state.range(0);
  PlacingHost host;
  vantrelle::TerminalOptions options;
  options.scrollback = history;
  vantrelle::Terminal terminal(&host, options);
  std::string text;
  for (int64_t i = 0; i < history; ++i) text += "line " + std::to_string(i) + " of plain text output\r\n";
  terminal.feed(std::string_view(text));
  terminal.feed(std::string_view("\x1b_Ga=t,q=2,i=1,f=32,s=1,v=1;AAAAAA==\x1b\\"));
  std::string chunk;
  const int placements = 1000;
  for (int i = 0; i < placements; ++i) chunk += "\x1b_Ga=p,q=2,i=1,p=1\x1b\\\r\n";
  for (auto _ : state) terminal.feed(std::string_view(chunk));
  state.counters["placements/s"] =
      benchmark::Counter(double(state.iterations()) * placements, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_KittyPlacementReplaced)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TextScrollingPastImage)->ArgsProduct({{0, 1, 2}, {500, 10000}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KittyTransmitRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KittyTransmitZlib)->Unit(benchmark::kMillisecond);
