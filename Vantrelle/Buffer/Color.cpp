#include "Vantrelle/Buffer/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vantrelle {

std::string Color::formatAsXcolor() const {
  char text[32];
  std::snprintf(text, sizeof text, "rgb:%04x/%04x/%04x", red, green, blue);
  return text;
}

namespace {

int hexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Three hexadecimal digits spread to 16 bits the way X does it.
uint16_t scaleTwelveBits(uint32_t v) { return uint16_t((v << 4) | ((v & 0xfff0) >> 4)); }

uint16_t scaleDigits(uint32_t value, int digits) {
  switch (digits) {
    case 1:
      return uint16_t(value * 4112);
    case 2:
      return uint16_t(value * 257);
    case 3:
      return scaleTwelveBits(value);
    default:
      return uint16_t(value);
  }
}

std::optional<Color> parseHashForm(std::span<const uint8_t> digits) {
  size_t n = digits.size();
  if (n != 3 && n != 6 && n != 9 && n != 12) return std::nullopt;
  size_t per = n / 3;
  uint32_t parts[3];
  for (size_t p = 0; p < 3; p++) {
    uint32_t v = 0;
    for (size_t i = 0; i < per; i++) {
      // A stray character counts as a zero digit rather than rejecting the colour.
      int d = hexValue(digits[p * per + i]);
      v = v * 16 + uint32_t(std::max(d, 0));
    }
    parts[p] = v;
  }
  int scaleDigitsCount = int(per);
  return Color(scaleDigits(parts[0], scaleDigitsCount), scaleDigits(parts[1], scaleDigitsCount),
               scaleDigits(parts[2], scaleDigitsCount));
}

std::optional<Color> parseRgbForm(std::span<const uint8_t> text) {
  size_t pos = 0;
  uint32_t values[3];
  int counts[3];
  for (int c = 0; c < 3; c++) {
    uint32_t v = 0;
    int digits = 0;
    while (pos < text.size() && digits < 4) {
      int d = hexValue(text[pos]);
      if (d < 0) {
        pos++;  // the character that stops a component is consumed
        break;
      }
      v = v * 16 + uint32_t(d);
      digits++;
      pos++;
    }
    if (pos < text.size() && text[pos] == '/') pos++;
    values[c] = v;
    counts[c] = digits;
  }
  int scale = std::max({counts[0], counts[1], counts[2]});
  if (scale == 0) return std::nullopt;
  return Color(scaleDigits(values[0], scale), scaleDigits(values[1], scale), scaleDigits(values[2], scale));
}

}  // namespace

std::optional<Color> Color::parseColor(std::span<const uint8_t> text) {
  if (text.empty()) return std::nullopt;
  if (text[0] == '#') return parseHashForm(text.subspan(1));
  static constexpr std::string_view prefix = "rgb:";
  if (text.size() < prefix.size() ||
      !std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, uint8_t b) { return uint8_t(a) == b; })) {
    return std::nullopt;
  }
  return parseRgbForm(text.subspan(prefix.size()));
}

std::optional<Color> Color::parseColor(std::string_view text) {
  return parseColor(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::vector<Color> Color::generateXtermPalette(std::span<const Color> initialColors) {
  static constexpr int levels[6] = {0, 0x5f, 0x87, 0xaf, 0xd7, 0xff};
  std::vector<Color> palette(initialColors.begin(), initialColors.end());
  palette.reserve(palette.size() + 240);
  for (int i = 0; i < 216; i++) {
    palette.emplace_back(widen8(levels[(i / 36) % 6]), widen8(levels[(i / 6) % 6]), widen8(levels[i % 6]));
  }
  for (int i = 0; i < 24; i++) {
    uint16_t v = widen8(8 + 10 * i);
    palette.emplace_back(v, v, v);
  }
  return palette;
}

namespace {

double linearize(double v) { return v > 0.04045 ? std::pow((v + 0.055) / 1.055, 2.4) : v / 12.92; }
double labF(double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; }
double labFInverse(double t) {
  double cube = t * t * t;
  return cube > 0.008856 ? cube : (t - 16.0 / 116.0) / 7.787;
}
double gammaEncode(double v) { return v > 0.0031308 ? 1.055 * std::pow(v, 1.0 / 2.4) - 0.055 : 12.92 * v; }

uint16_t toComponent(double v) {
  v = std::clamp(v, 0.0, 1.0);
  return widen8(int(v * 255 + 0.5));
}

double quantize(uint16_t c) { return std::min(std::round(c / 65535.0 * 255.0), 255.0) / 255.0; }

Color::LabColor lerp(const Color::LabColor& p, const Color::LabColor& q, double t) {
  return {p.l + (q.l - p.l) * t, p.a + (q.a - p.a) * t, p.b + (q.b - p.b) * t};
}

}  // namespace

Color::LabColor Color::LabColor::fromColor(const Color& color) {
  double r = linearize(quantize(color.red));
  double g = linearize(quantize(color.green));
  double b = linearize(quantize(color.blue));
  double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / 0.95047;
  double y = 0.2126729 * r + 0.7151522 * g + 0.072175 * b;
  double z = (0.0193339 * r + 0.119192 * g + 0.9503041 * b) / 1.08883;
  double fx = labF(x), fy = labF(y), fz = labF(z);
  return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

Color Color::LabColor::toColor() const {
  double fy = (l + 16) / 116;
  double fx = fy + a / 500;
  double fz = fy - b / 200;
  double x = labFInverse(fx) * 0.95047;
  double y = labFInverse(fy);
  double z = labFInverse(fz) * 1.08883;
  double r = 3.2404542 * x - 1.5371385 * y - 0.4985314 * z;
  double g = -0.969266 * x + 1.8760108 * y + 0.041556 * z;
  double bl = 0.0556434 * x - 0.2040259 * y + 1.0572252 * z;
  return Color(toComponent(gammaEncode(r)), toComponent(gammaEncode(g)), toComponent(gammaEncode(bl)));
}

std::vector<Color> Color::generateBase16LabPalette(std::span<const Color> initialColors,
                                                   std::optional<Color> backgroundColor,
                                                   std::optional<Color> foregroundColor, bool harmonious) {
  if (initialColors.size() < 8) return generateXtermPalette(initialColors);
  LabColor corner[8];
  for (int i = 0; i < 8; i++) corner[i] = LabColor::fromColor(initialColors[i]);
  if (backgroundColor) corner[0] = LabColor::fromColor(*backgroundColor);
  if (foregroundColor) corner[7] = LabColor::fromColor(*foregroundColor);
  // Plain mode keeps the cube running from dark to light; the harmonious one keeps a light
  // background at the cube's origin.
  if (!harmonious && corner[7].l < corner[0].l) std::swap(corner[0], corner[7]);

  std::vector<Color> palette(initialColors.begin(), initialColors.end());
  palette.reserve(palette.size() + 240);
  for (int r = 0; r < 6; r++) {
    double tr = r / 5.0;
    LabColor a = lerp(corner[0], corner[1], tr), b = lerp(corner[2], corner[3], tr);
    LabColor c = lerp(corner[4], corner[5], tr), d = lerp(corner[6], corner[7], tr);
    for (int g = 0; g < 6; g++) {
      double tg = g / 5.0;
      LabColor e = lerp(a, b, tg), f = lerp(c, d, tg);
      for (int bl = 0; bl < 6; bl++) palette.push_back(lerp(e, f, bl / 5.0).toColor());
    }
  }
  for (int i = 1; i <= 24; i++) palette.push_back(lerp(corner[0], corner[7], i / 25.0).toColor());
  return palette;
}

}  // namespace vantrelle
