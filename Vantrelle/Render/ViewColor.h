#pragma once
// The view's colour: sRGB components in 0...1 with alpha. The terminal's own `Color` has 16-bit
// channels; these conversions keep a round trip exact up to rounding.
#include <cstddef>
#include <functional>
#include <optional>

#include "Vantrelle/Buffer/Color.h"

namespace vantrelle {

struct ViewColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;

  constexpr ViewColor() = default;
  constexpr ViewColor(double red, double green, double blue, double alpha = 1.0)
      : red(red), green(green), blue(blue), alpha(alpha) {}

  static ViewColor make(const Color& color);
  static constexpr ViewColor black() { return {0, 0, 0, 1}; }
  static constexpr ViewColor white() { return {1, 1, 1, 1}; }
  static constexpr ViewColor clear() { return {0, 0, 0, 0}; }

  // Channels outside 0...1 (extended-range values) are clamped before widening to 16 bits.
  Color getTerminalColor() const;
  ViewColor inverseColor() const;
  // The mean of the two colours, keeping this colour's alpha: how dim text is drawn.
  ViewColor dimmedColor(const ViewColor& towards) const;
  ViewColor withAlpha(double newAlpha) const { return {red, green, blue, newAlpha}; }

  bool operator==(const ViewColor&) const = default;
};

}  // namespace vantrelle

template <>
struct std::hash<vantrelle::ViewColor> {
  size_t operator()(const vantrelle::ViewColor& c) const noexcept {
    size_t h = std::hash<double>()(c.red);
    h = h * 31 + std::hash<double>()(c.green);
    h = h * 31 + std::hash<double>()(c.blue);
    return h * 31 + std::hash<double>()(c.alpha);
  }
};
