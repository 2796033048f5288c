// Throughput of writing text into the screen buffer, in input bytes per second: the ASCII fast
// path against printing cell by cell, filling the screen and scrolling into a full scrollback.
#include "Vantrelle/Buffer/Buffer.h"

#include <benchmark/benchmark.h>

#include <string>

using namespace vantrelle;

namespace {

constexpr int scrollbackLines = 10'000;

// Scrolls like the terminal: into the scrollback, recycling the oldest line once it is full.
void installScroll(Buffer& buffer) {
  buffer.scroll = [&buffer, blank = CharData::Null.attribute()](bool isWrapped) {
    auto& lines = buffer.lines();
    if (lines.isFull()) {
      lines.recycle(blank);
      lines[lines.count() - 1]->setWrapped(isWrapped);
    } else {
      lines.push(buffer.getBlankLine(blank, isWrapped));
      buffer.yBase += 1;
      buffer.yDisp = buffer.yBase;
    }
    buffer.linesTop += 1;
  };
}

// Text with the shape of compiler or log output: words and punctuation, no control bytes, so
// rows fill by autowrap and the screen scrolls on every row.
std::string sampleText(size_t size) {
  static const char words[] = "src/Vantrelle/Buffer/Buffer.cpp:120:7: note: candidate function [-Wextra] ok ";
  std::string text;
  text.reserve(size);
  while (text.size() < size) text += words;
  text.resize(size);
  return text;
}

// Prefills the ring so the measured runs scroll a full scrollback, the steady state of a
// long-running session.
std::unique_ptr<Buffer> makeFullBuffer(int cols, int rows, const std::string& text, const Attribute& attribute) {
  auto buffer = std::make_unique<Buffer>(cols, rows, 8, scrollbackLines);
  buffer->fillViewportRows();
  installScroll(*buffer);
  buffer->wraparound = true;
  auto bytes = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  while (!buffer->lines().isFull()) buffer->insertAsciiRun(bytes, attribute);
  return buffer;
}

const Attribute attribute(Attribute::Color::ansi256(2), Attribute::Color::defaultColor, CharacterStyle::bold);

void BM_InsertAsciiRun(benchmark::State& state) {
  const std::string text = sampleText(1 << 20);
  auto buffer = makeFullBuffer(int(state.range(0)), int(state.range(1)), text, attribute);
  auto bytes = std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  constexpr size_t chunk = 4096;  // the size of a typical read from the pseudo-terminal
  for (auto _ : state) {
    for (size_t offset = 0; offset < bytes.size(); offset += chunk) {
      benchmark::DoNotOptimize(buffer->insertAsciiRun(bytes.subspan(offset, chunk), attribute));
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_InsertCharacter(benchmark::State& state) {
  const std::string text = sampleText(1 << 20);
  auto buffer = makeFullBuffer(int(state.range(0)), int(state.range(1)), text, attribute);
  for (auto _ : state) {
    for (unsigned char byte : text) buffer->insertCharacter(CharData(byte, 1, attribute));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

}  // namespace

BENCHMARK(BM_InsertAsciiRun)->Args({80, 24})->Args({200, 50});
BENCHMARK(BM_InsertCharacter)->Args({80, 24})->Args({200, 50});
