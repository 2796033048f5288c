#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrelle {

// How the 256-colour palette is derived from the 16 base colours.
enum class Ansi256PaletteStrategy { xterm, base16Lab, base16LabHarmonious };

// A colour with 16-bit components, as the palettes and the OSC colour commands use it.
struct Color {
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;

  constexpr Color() = default;
  constexpr Color(uint16_t red, uint16_t green, uint16_t blue) : red(red), green(green), blue(blue) {}

  static const Color defaultForeground;
  static const Color defaultBackground;
  static const std::array<Color, 16> terminalAppColors;

  // CIE L*a*b* under D65, used only to interpolate palettes.
  struct LabColor {
    double l = 0, a = 0, b = 0;
    static LabColor fromColor(const Color& color);
    Color toColor() const;
  };

  // "rgb:rrrr/gggg/bbbb" in lower-case hexadecimal.
  std::string formatAsXcolor() const;

  // An X-style colour ("#rgb" forms or "rgb:r/g/b"), or nothing when malformed.
  static std::optional<Color> parseColor(std::span<const uint8_t> text);
  static std::optional<Color> parseColor(std::string_view text);

  static std::vector<Color> generateXtermPalette(std::span<const Color> initialColors);
  static std::vector<Color> generateBase16LabPalette(std::span<const Color> initialColors,
                                                     std::optional<Color> backgroundColor,
                                                     std::optional<Color> foregroundColor, bool harmonious);

  constexpr bool operator==(const Color&) const = default;
};

constexpr uint16_t widen8(int v) { return uint16_t(v * 257); }

inline constexpr Color Color::defaultForeground{0x8a3d, 0x8a3d, 0x8a3d};
inline constexpr Color Color::defaultBackground{0, 0, 0};
inline constexpr std::array<Color, 16> Color::terminalAppColors{{
    {widen8(0), widen8(0), widen8(0)},
    {widen8(194), widen8(54), widen8(33)},
    {widen8(37), widen8(188), widen8(36)},
    {widen8(173), widen8(173), widen8(39)},
    {widen8(73), widen8(46), widen8(225)},
    {widen8(211), widen8(56), widen8(211)},
    {widen8(51), widen8(187), widen8(200)},
    {widen8(203), widen8(204), widen8(205)},
    {widen8(129), widen8(131), widen8(131)},
    {widen8(252), widen8(57), widen8(31)},
    {widen8(49), widen8(231), widen8(34)},
    {widen8(234), widen8(236), widen8(35)},
    {widen8(88), widen8(51), widen8(255)},
    {widen8(249), widen8(53), widen8(248)},
    {widen8(20), widen8(240), widen8(240)},
    {widen8(233), widen8(235), widen8(235)},
}};

}  // namespace vantrelle

template <>
struct std::hash<vantrelle::Color> {
  size_t operator()(const vantrelle::Color& c) const noexcept {
    return std::hash<uint64_t>()(uint64_t(c.red) << 32 | uint64_t(c.green) << 16 | c.blue);
  }
};
