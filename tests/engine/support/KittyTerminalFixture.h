#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "KittyTestData.h"
#include "KittyTestHost.h"

namespace kittytest {

// A terminal with a test host, fed whole graphics commands.
class KittyTerminalTest : public ::testing::Test {
 protected:
  void SetUp() override { make(80, 24); }

  void make(int cols, int rows, int64_t cacheLimit = 320ll << 20) {
    vantrelle::TerminalOptions options;
    options.cols = cols;
    options.rows = rows;
    options.kittyImageCacheLimitBytes = cacheLimit;
    terminal = std::make_unique<vantrelle::Terminal>(&host, options);
  }

  void feed(const std::string& bytes) { terminal->feed(std::string_view(bytes)); }

  // Sends one command and returns what the terminal answered.
  std::string command(const std::string& body) {
    host.sent.clear();
    feed("\x1b_G" + body + "\x1b\\");
    return host.sent;
  }

  static std::string reply(const std::string& body) { return "\x1b_" + body + "\x1b\\"; }

  // Base64 of w x h RGBA pixels.
  static std::string pixels(int w, int h) { return base64(std::vector<uint8_t>(size_t(w * h * 4), 0x80)); }

  // Transmits (without placing) a w x h RGBA image.
  std::string transmit(const std::string& keys, int w = 1, int h = 1) {
    return command("a=t,f=32,s=" + std::to_string(w) + ",v=" + std::to_string(h) + "," + keys + ";" + pixels(w, h));
  }

  vantrelle::KittyGraphicsState& state() { return terminal->kittyGraphicsState; }
  vantrelle::Buffer& buffer() { return *terminal->buffer; }
  std::pair<int, int> cursor() { return {terminal->buffer->x, terminal->buffer->y}; }

  // Image cells of one line of the active buffer, as (image id, placement id) pairs.
  std::vector<std::pair<uint32_t, uint32_t>> cellsOn(int line) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    const auto& images = terminal->buffer->lines()[line]->images();
    if (!images) return out;
    for (const auto& entry : *images) {
      auto* kitty = dynamic_cast<const vantrelle::KittyPlacementImage*>(entry.get());
      if (kitty) out.emplace_back(kitty->kittyImageId.value_or(0), kitty->kittyPlacementId.value_or(0));
    }
    return out;
  }

  int linesWithCells() {
    int count = 0;
    for (int i = 0; i < buffer().lines().count(); ++i) count += cellsOn(i).empty() ? 0 : 1;
    return count;
  }

  TestHost host;
  std::unique_ptr<vantrelle::Terminal> terminal;
};

}  // namespace kittytest
