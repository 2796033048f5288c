#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "Vantrelle/Graphics/SixelDecoder.h"

using namespace vantrelle;

namespace {

// Registers 0..15 of a stand-in default palette: colour n is 0x0n0n0nFF.
std::vector<uint32_t> testPalette() {
  std::vector<uint32_t> colours;
  for (uint32_t n = 0; n < 16; ++n) {
    colours.push_back(n << 24 | n << 16 | n << 8 | 0xFF);
  }
  return colours;
}

SixelBitmap decode(const std::string& body, int maxDimension = SixelDecoder::maxImageDimension) {
  static const std::vector<uint32_t> palette = testPalette();
  SixelDecoder decoder(palette, maxDimension);
  const std::vector<uint8_t> bytes(body.begin(), body.end());
  return decoder.decode(bytes);
}

// The pixel at (column, row) packed as red << 24 | green << 16 | blue << 8 | alpha.
uint32_t pixel(const SixelBitmap& image, int column, int row) {
  const size_t at = (static_cast<size_t>(row) * static_cast<size_t>(image.width) + static_cast<size_t>(column)) * 4;
  return uint32_t{image.pixels[at]} << 24 | uint32_t{image.pixels[at + 1]} << 16 | uint32_t{image.pixels[at + 2]} << 8 |
         image.pixels[at + 3];
}

// Every pixel of a rectangle has one colour.
void expectBlock(const SixelBitmap& image, int x0, int y0, int x1, int y1, uint32_t colour) {
  for (int row = y0; row < y1; ++row) {
    for (int column = x0; column < x1; ++column) {
      ASSERT_EQ(pixel(image, column, row), colour) << "at " << column << "," << row;
    }
  }
}

void expectSize(const SixelBitmap& image, int width, int height) {
  EXPECT_EQ(image.width, width);
  EXPECT_EQ(image.height, height);
  EXPECT_EQ(image.pixels.size(), static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
}

constexpr uint32_t red = 0xFF0000FF;
constexpr uint32_t blue = 0x0000FFFF;
constexpr uint32_t white = 0xFFFFFFFF;
constexpr uint32_t transparent = 0;

}  // namespace

TEST(SixelDecoder, DefinedColoursAndLayout) {
  // A definition, then the register selected again before the data.
  const SixelBitmap twoRed = decode("#0;2;100;0;0#0~~");
  expectSize(twoRed, 2, 6);
  expectBlock(twoRed, 0, 0, 2, 6, red);

  // The definition and the data in one section size the image too.
  const SixelBitmap inline_ = decode("#1;2;0;0;100~~~");
  expectSize(inline_, 3, 6);
  expectBlock(inline_, 0, 0, 3, 6, blue);

  const SixelBitmap twoBands = decode("#1;2;100;100;100~-~");
  expectSize(twoBands, 1, 12);
  expectBlock(twoBands, 0, 0, 1, 12, white);

  // Only the top bit of each sixel: a one-pixel-high image.
  expectSize(decode("#0;2;100;0;0@@"), 2, 1);

  // Overprinting with $ and a second colour; what no sixel covers stays transparent.
  const SixelBitmap over = decode("#1;2;100;0;0~~~$#2;2;0;0;100AA-#1@");
  expectSize(over, 3, 7);
  expectBlock(over, 0, 0, 2, 1, red);
  expectBlock(over, 0, 1, 2, 2, blue);
  expectBlock(over, 2, 0, 3, 6, red);
  EXPECT_EQ(pixel(over, 0, 6), red);
  EXPECT_EQ(pixel(over, 1, 6), transparent);
}

TEST(SixelDecoder, HlsColours) {
  EXPECT_EQ(SixelDecoder::hls_to_rgb(0, 50, 100), 0x0000FFu);
  EXPECT_EQ(SixelDecoder::hls_to_rgb(120, 50, 100), 0xFF0000u);
  EXPECT_EQ(SixelDecoder::hls_to_rgb(240, 50, 100), 0x00FF00u);
  EXPECT_EQ(SixelDecoder::hls_to_rgb(360, 50, 100), 0x0000FFu);
  EXPECT_EQ(SixelDecoder::hls_to_rgb(77, 0, 0), 0x000000u);
  EXPECT_EQ(SixelDecoder::hls_to_rgb(77, 100, 0), 0xFFFFFFu);
  EXPECT_EQ(SixelDecoder::hls_to_rgb(200, 100, 60), 0xFFFFFFu);
  EXPECT_EQ(SixelDecoder::hls_to_rgb(0, 50, 0), 0x7F7F7Fu);
  // Hue 60 lies half-way from blue to red.
  EXPECT_EQ(SixelDecoder::hls_to_rgb(60, 50, 100), 0xFF00FFu);

  const SixelBitmap image = decode("#5;1;0;50;100~#6;1;120;50;100~#7;1;999;0;400~");
  expectSize(image, 3, 6);
  EXPECT_EQ(pixel(image, 0, 0), blue);
  EXPECT_EQ(pixel(image, 1, 0), red);
  EXPECT_EQ(pixel(image, 2, 0), 0x000000FFu);  // clamped to hue 360, lightness 0
}

TEST(SixelDecoder, Repeats) {
  const SixelBitmap ten = decode("#1;2;100;0;0!10~");
  expectSize(ten, 10, 6);
  expectBlock(ten, 0, 0, 10, 6, red);

  // A zero count draws nothing and does not advance.
  const SixelBitmap zero = decode("#1;2;100;0;0!0~@");
  expectSize(zero, 1, 1);
  EXPECT_EQ(pixel(zero, 0, 0), red);

  // The count applies to one sixel only.
  expectSize(decode("#1!3~~"), 4, 6);
}

TEST(SixelDecoder, RegistersAndDefaults) {
  // Selected but never defined: the default palette, then transparent beyond it.
  const SixelBitmap image = decode("#3~#300~#2;3;1;2;3~");
  expectSize(image, 3, 6);
  EXPECT_EQ(pixel(image, 0, 0), 0x030303FFu);
  EXPECT_EQ(pixel(image, 1, 0), transparent);
  EXPECT_EQ(pixel(image, 2, 0), 0x020202FFu);  // an unknown colour space only selects

  // Definitions do not outlive their image.
  decode("#3;2;100;100;100~");
  EXPECT_EQ(pixel(decode("#3~"), 0, 0), 0x030303FFu);

  // Colour components are clamped to 0..100.
  EXPECT_EQ(pixel(decode("#1;2;250;0;50~"), 0, 0), 0xFF007FFFu);
}

TEST(SixelDecoder, WhatDoesNotDraw) {
  // Data before the first colour, raster attributes and stray bytes do not size the image.
  expectSize(decode("\"1;1;40;40~~~~#1~"), 1, 6);
  expectSize(decode("~~~~"), 0, 0);
  expectSize(decode(""), 0, 0);
  expectSize(decode("#1\r\n~;;5~"), 2, 6);

  // A colour introducer without a number ends the image; what came before is kept.
  const SixelBitmap cut = decode("#1;2;100;0;0~~#x~~~~");
  expectSize(cut, 2, 6);
  expectBlock(cut, 0, 0, 2, 6, red);

  // Sixels with no bits give width but no height.
  expectSize(decode("#1???"), 3, 0);

  // The last byte of the body draws like any other.
  const SixelBitmap last = decode("#1;2;100;0;0~");
  expectSize(last, 1, 6);
  EXPECT_EQ(pixel(last, 0, 5), red);
}

// The size pass and the draw pass walk the same way: a definition section with no sixels of its
// own, or with later sections, must not shrink the image below what is drawn.
TEST(SixelDecoder, SizeCoversEverythingDrawn) {
  const SixelBitmap image = decode("#0;2;0;0;100#1;2;100;0;0#0~~$#1-~~~");
  expectSize(image, 3, 12);
  expectBlock(image, 0, 0, 2, 6, blue);
  expectBlock(image, 0, 6, 3, 12, red);
}

// Untrusted sizes: both sides are capped and the work stays bounded however large the numbers.
TEST(SixelDecoder, HugeNumbersAreCapped) {
  const auto started = std::chrono::steady_clock::now();

  const SixelBitmap wide = decode("#1;2;100;0;0!99999999999999999999~", 64);
  expectSize(wide, 64, 6);
  expectBlock(wide, 0, 0, 64, 6, red);

  std::string tall = "#1;2;100;0;0~";
  tall.append(100000, '-');
  tall += "~";
  const SixelBitmap tallImage = decode(tall, 64);
  expectSize(tallImage, 1, 64);
  EXPECT_EQ(pixel(tallImage, 0, 63), transparent);

  // Repeats past the cap keep advancing without drawing or wrapping around.
  const SixelBitmap past = decode("#1;2;100;0;0!2147483647~!2147483647~$#1~", 32);
  expectSize(past, 32, 6);

  // A huge register number and huge components are saturated, not wrapped.
  const SixelBitmap reg = decode("#99999999999999999999;2;99999999999999999999;0;0~");
  expectSize(reg, 1, 6);
  EXPECT_EQ(pixel(reg, 0, 0), red);

  // The default cap holds too.
  const SixelBitmap capped = decode("#1!20000@");
  expectSize(capped, SixelDecoder::maxImageDimension, 1);

  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}
