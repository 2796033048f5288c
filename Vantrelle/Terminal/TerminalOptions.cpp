#include "Vantrelle/Terminal/TerminalOptions.h"

#include <array>
#include <utility>

namespace vantrelle {

std::optional<CursorStyle> cursorStyleFrom(std::string_view string) {
  static constexpr std::array<std::pair<std::string_view, CursorStyle>, 6> names{{
      {"blinkBlock", CursorStyle::blinkBlock},
      {"steadyBlock", CursorStyle::steadyBlock},
      {"blinkUnderline", CursorStyle::blinkUnderline},
      {"steadyUnderline", CursorStyle::steadyUnderline},
      {"blinkBar", CursorStyle::blinkBar},
      {"steadyBar", CursorStyle::steadyBar},
  }};
  for (const auto& [name, style] : names) {
    if (name == string) return style;
  }
  return std::nullopt;
}

}  // namespace vantrelle
