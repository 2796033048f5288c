#include "Vantrelle/Graphics/SixelDecoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace vantrelle {

namespace {

constexpr uint8_t poundChar = '#';
// Numbers in the body saturate here; every count and size is capped far below it anyway.
constexpr int64_t maxNumber = 0x7FFFFFFF;

bool isDigit(uint8_t b) { return b >= '0' && b <= '9'; }

// Reads a run of digits at index, saturating; returns the index after them.
size_t parseNumber(std::span<const uint8_t> data, size_t index, int64_t& value) {
  value = 0;
  while (index < data.size() && isDigit(data[index])) {
    value = std::min(value * 10 + (data[index] - '0'), maxNumber);
    ++index;
  }
  return index;
}

int64_t clampTo(int64_t value, int64_t low, int64_t high) { return std::clamp(value, low, high); }

uint32_t packOpaque(int64_t red, int64_t green, int64_t blue) {
  return static_cast<uint32_t>(red) << 24 | static_cast<uint32_t>(green) << 16 | static_cast<uint32_t>(blue) << 8 |
         0xFFu;
}

}  // namespace

SixelDecoder::SixelDecoder(std::span<const uint32_t> defaultPalette, int maxDimension)
    : defaultPalette_(defaultPalette), limit_(std::clamp(maxDimension, 0, maxImageDimension)) {}

SixelBitmap SixelDecoder::decode(std::span<const uint8_t> data) {
  palette.clear();
  pixels.clear();
  x = y = maxX = maxY = 0;

  // Raster attributes and anything drawn before a colour is chosen are skipped.
  const auto firstPound = std::find(data.begin(), data.end(), poundChar);
  const auto start = static_cast<size_t>(firstPound - data.begin());

  sizePixels(data, start);
  const int width = std::min(std::max(x, maxX), limit_);
  const int height = std::min(maxY, limit_);
  maxX = width;
  maxY = height;
  // Both sides are capped, so the product stays far inside size_t.
  pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);

  palette.clear();
  x = y = 0;
  drawPixels(data, start);

  SixelBitmap bitmap;
  bitmap.pixels = std::move(pixels);
  bitmap.width = width;
  bitmap.height = height;
  pixels.clear();
  return bitmap;
}

void SixelDecoder::walk(std::span<const uint8_t> data, size_t start, Pass pass) {
  std::vector<int64_t> values;
  uint32_t colour = 0;
  int64_t count = 1;
  size_t i = start;
  while (i < data.size()) {
    const uint8_t b = data[i];
    if (b == poundChar) {
      i = parseColourIntroducer(data, i + 1, values);
      if (values.empty()) {
        return;  // a colour introducer without a number ends the image here
      }
      if (pass == Pass::draw) {
        if (values.size() > 1) {
          updatePaletteEntry(values);
        }
        colour = registerColour(values[0]);
      }
      continue;
    }
    ++i;
    if (b == '-') {
      maxX = std::max(maxX, x);
      x = 0;
      y = static_cast<int>(std::min<int64_t>(int64_t{y} + 6, limit_));
    } else if (b == '$') {
      maxX = std::max(maxX, x);
      x = 0;
    } else if (b == '!') {
      if (i < data.size() && isDigit(data[i])) {
        i = parseNumber(data, i, count);
      }
    } else if (b >= 63 && b <= 126) {
      if (count > 0) {
        const auto bits = static_cast<uint8_t>(b - 63);
        if (pass == Pass::draw) {
          drawSixel(bits, count, colour);
        } else {
          sizeSixel(bits, count);
        }
        x = static_cast<int>(std::min<int64_t>(int64_t{x} + count, limit_));
      }
      count = 1;
    }
  }
}

size_t SixelDecoder::parseColourIntroducer(std::span<const uint8_t> data, size_t index,
                                           std::vector<int64_t>& values) const {
  values.clear();
  while (index < data.size() && isDigit(data[index])) {
    int64_t value = 0;
    index = parseNumber(data, index, value);
    values.push_back(value);
    // A separator counts only when something follows it.
    if (index + 1 < data.size() && data[index] == ';') {
      ++index;
    } else {
      break;
    }
  }
  return index;
}

uint32_t SixelDecoder::registerColour(int64_t colourRegister) const {
  if (const auto found = palette.find(colourRegister); found != palette.end()) {
    return found->second;
  }
  if (colourRegister >= 0 && static_cast<uint64_t>(colourRegister) < defaultPalette_.size()) {
    return defaultPalette_[static_cast<size_t>(colourRegister)];
  }
  return 0;
}

void SixelDecoder::sizeSixel(uint8_t bits, int64_t count) {
  for (int k = 5; k >= 0; --k) {
    if (bits & (1u << k)) {
      maxY = static_cast<int>(std::min<int64_t>(std::max<int64_t>(maxY, int64_t{y} + k + 1), limit_));
      break;
    }
  }
}

void SixelDecoder::drawSixel(uint8_t bits, int64_t count, uint32_t colour) {
  const int width = maxX;
  const int height = maxY;
  const int64_t end = std::min<int64_t>(int64_t{x} + count, width);
  if (x >= end) {
    return;
  }
  const std::array<uint8_t, 4> rgba = {static_cast<uint8_t>(colour >> 24), static_cast<uint8_t>(colour >> 16),
                                       static_cast<uint8_t>(colour >> 8), static_cast<uint8_t>(colour)};
  for (int k = 0; k < 6; ++k) {
    const int64_t row = int64_t{y} + k;
    if (!(bits & (1u << k)) || row >= height) {
      continue;
    }
    uint8_t* line = pixels.data() + static_cast<size_t>(row) * static_cast<size_t>(width) * 4;
    for (int64_t column = x; column < end; ++column) {
      std::memcpy(line + column * 4, rgba.data(), 4);
    }
  }
}

void SixelDecoder::updatePaletteEntry(std::span<const int64_t> values) {
  if (values.size() < 5) {
    return;
  }
  const int64_t colourRegister = values[0];
  const auto percentToByte = [](int64_t v) { return clampTo(v, 0, 100) * 255 / 100; };
  switch (values[1]) {
    case 2:
      palette[colourRegister] =
          packOpaque(percentToByte(values[2]), percentToByte(values[3]), percentToByte(values[4]));
      break;
    case 1: {
      const uint32_t rgb =
          hls_to_rgb(static_cast<int>(clampTo(values[2], 0, 360)), static_cast<int>(clampTo(values[3], 0, 100)),
                     static_cast<int>(clampTo(values[4], 0, 100)));
      palette[colourRegister] = rgb << 8 | 0xFFu;
      break;
    }
    default:
      break;
  }
}

uint32_t SixelDecoder::hls_to_rgb(int hue, int lum, int sat) {
  if (sat == 0) {
    const auto v = static_cast<uint32_t>(lum * 255 / 100);
    return v << 16 | v << 8 | v;
  }
  const int h = (hue + 240) % 360;
  const double c = (1.0 - std::fabs(2.0 * lum / 100.0 - 1.0)) * sat;
  const double hi = lum + c / 2.0;
  const double lo = lum - c / 2.0;
  const auto f = [&](double a) { return a / 60.0 * (hi - lo); };
  double red = 0, green = 0, blue = 0;
  switch (h / 60) {
    case 0:
      red = hi, green = lo + f(h), blue = lo;
      break;
    case 1:
      red = lo + f(120 - h), green = hi, blue = lo;
      break;
    case 2:
      red = lo, green = hi, blue = lo + f(h - 120);
      break;
    case 3:
      red = lo, green = lo + f(240 - h), blue = hi;
      break;
    case 4:
      red = lo + f(h - 240), green = lo, blue = hi;
      break;
    default:
      red = hi, green = lo, blue = lo + f(360 - h);
      break;
  }
  const auto toByte = [](double percent) {
    const auto whole = static_cast<int64_t>(std::trunc(percent));
    return static_cast<uint32_t>(clampTo(whole, 0, 100) * 255 / 100);
  };
  return toByte(red) << 16 | toByte(green) << 8 | toByte(blue);
}

}  // namespace vantrelle
