#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Vantrelle/Buffer/Color.h"

namespace vantrelle {

enum class CursorStyle : uint8_t {
  blinkBlock,
  steadyBlock,
  blinkUnderline,
  steadyUnderline,
  blinkBar,
  steadyBar,
};

// The case whose name equals the text exactly, or nothing.
std::optional<CursorStyle> cursorStyleFrom(std::string_view string);

// How many columns a printed pair of regional indicators (a flag) takes.
enum class RegionalIndicatorWidth : uint8_t { wide, narrow };

// What a host hands a terminal at creation. A plain value: nothing is clamped here, the
// terminal's setup clamps the size.
struct TerminalOptions {
  int64_t cols = 80;
  int64_t rows = 25;
  bool convertEol = false;
  std::string termName = "xterm-256color";
  CursorStyle cursorStyle = CursorStyle::blinkBlock;
  bool screenReaderMode = false;
  int64_t scrollback = 500;
  int64_t tabStopWidth = 8;
  bool enableSixelReported = true;
  int64_t kittyImageCacheLimitBytes = 320ll << 20;
  Ansi256PaletteStrategy ansi256PaletteStrategy = Ansi256PaletteStrategy::base16Lab;
  RegionalIndicatorWidth regionalIndicatorWidth = RegionalIndicatorWidth::wide;

  static const TerminalOptions& defaultOptions() {
    static const TerminalOptions value;
    return value;
  }
};

}  // namespace vantrelle
