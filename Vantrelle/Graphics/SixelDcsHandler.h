#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "Vantrelle/Parser/DcsHandler.h"

namespace vantrelle {

// Collects the body of one DCS ... q string and, when it ends, decodes it into an RGBA bitmap
// for the host. A fresh handler serves each string, so colour registers never carry over from
// one image to the next.
class SixelDcsHandler final : public DcsHandler {
 public:
  // Receives the finished bitmap; the terminal forwards it to its delegate.
  using ImageSink = std::function<void(std::vector<uint8_t>& pixels, int width, int height)>;

  // The body is buffered until the string ends; beyond this size the rest is dropped, so a
  // program cannot make the terminal hold an unbounded string.
  static constexpr size_t maxBodyBytes = size_t{32} << 20;

  // defaultPalette: packed red << 24 | green << 16 | blue << 8 | alpha colours for registers the
  // image selects without defining.
  SixelDcsHandler(std::vector<uint32_t> defaultPalette, ImageSink sink);

  void hook(std::span<const uint8_t> collect, std::span<const int> parameters, uint8_t flag) override;
  void put(std::span<const uint8_t> data) override;
  void unhook() override;

 private:
  std::vector<uint8_t> data;
  std::vector<uint32_t> defaultPalette;
  ImageSink sink;
};

}  // namespace vantrelle
