#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <unordered_map>
#include <vector>

namespace vantrelle {

// An RGBA bitmap: 4 bytes a pixel (red, green, blue, alpha), row by row, width pixels a row.
struct SixelBitmap {
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
};

// Decodes the body of a Sixel string (what follows DCS ... q) into a bitmap, in two passes over
// the same walk: one to size the image, one to draw it. Both passes run the very same state
// machine, so the size always covers what is drawn.
//
// The body comes from the program in the terminal, so every number is saturated, both sides of
// the image are capped, and work per byte is bounded by the capped width: a huge repeat count or
// a long run of new lines costs no more than an image at the cap.
class SixelDecoder {
 public:
  static constexpr int maxImageDimension = 10000;

  // defaultPalette: colours, packed red << 24 | green << 16 | blue << 8 | alpha, for registers
  // that the image selects without defining them.
  explicit SixelDecoder(std::span<const uint32_t> defaultPalette, int maxDimension = maxImageDimension);

  SixelBitmap decode(std::span<const uint8_t> data);

  // Applies one colour definition: register, colour space (1 HLS, 2 RGB), three components.
  void updatePaletteEntry(std::span<const int64_t> values);

  // Sixel HLS (hue 0 is blue) in percent units to packed 0xRRGGBB.
  static uint32_t hls_to_rgb(int hue, int lum, int sat);

 private:
  enum class Pass : uint8_t { size, draw };

  // The sizing pass: leaves the extent in maxX (the last x counts too) and maxY.
  void sizePixels(std::span<const uint8_t> data, size_t start) { walk(data, start, Pass::size); }
  void drawPixels(std::span<const uint8_t> data, size_t start) { walk(data, start, Pass::draw); }
  void walk(std::span<const uint8_t> data, size_t start, Pass pass);
  size_t parseColourIntroducer(std::span<const uint8_t> data, size_t index, std::vector<int64_t>& values) const;
  uint32_t registerColour(int64_t colourRegister) const;
  void drawSixel(uint8_t bits, int64_t count, uint32_t colour);
  void sizeSixel(uint8_t bits, int64_t count);

  std::span<const uint32_t> defaultPalette_;
  int limit_;
  std::unordered_map<int64_t, uint32_t> palette;
  std::vector<uint8_t> pixels;
  int x = 0;
  int y = 0;
  int maxX = 0;
  int maxY = 0;
};

}  // namespace vantrelle
