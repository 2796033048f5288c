#include "Vantrelle/Render/ViewColor.h"

#include <algorithm>

namespace vantrelle {

namespace {
uint16_t widen(double component) { return uint16_t(std::clamp(component, 0.0, 1.0) * 65535.0); }
}  // namespace

ViewColor ViewColor::make(const Color& color) {
  return {color.red / 65535.0, color.green / 65535.0, color.blue / 65535.0, 1.0};
}

Color ViewColor::getTerminalColor() const { return Color(widen(red), widen(green), widen(blue)); }

ViewColor ViewColor::inverseColor() const { return {1.0 - red, 1.0 - green, 1.0 - blue, alpha}; }

ViewColor ViewColor::dimmedColor(const ViewColor& towards) const {
  return {(red + towards.red) * 0.5, (green + towards.green) * 0.5, (blue + towards.blue) * 0.5, alpha};
}

}  // namespace vantrelle
