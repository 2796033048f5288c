// The 16 installed colours, the derived 256-colour palette and the default colours.
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::installPalette(std::span<const Color> colors) {
  if (colors.size() != 16) return;
  installedColors.assign(colors.begin(), colors.end());
  rebuildAnsiPalette(false);
}

void Terminal::rebuildAnsiPalette(bool notifyDelegate) {
  if (options.ansi256PaletteStrategy == Ansi256PaletteStrategy::xterm) {
    ansiColors = Color::generateXtermPalette(installedColors);
  } else {
    ansiColors =
        Color::generateBase16LabPalette(installedColors, backgroundColor, foregroundColor,
                                        options.ansi256PaletteStrategy == Ansi256PaletteStrategy::base16LabHarmonious);
  }
  // A rebuild discards the entries that OSC 4 changed.
  defaultAnsiColors = ansiColors;
  if (notifyDelegate && tdel) tdel->colorChanged(*this, std::nullopt);
}

void Terminal::setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy) {
  if (strategy == options.ansi256PaletteStrategy) return;
  options.ansi256PaletteStrategy = strategy;
  rebuildAnsiPalette(true);
}

void Terminal::resetAllColors() {
  ansiColors = defaultAnsiColors;
  if (tdel) tdel->colorChanged(*this, std::nullopt);
}

// Each setter stores the colour and tells the host once; the host's default implementation
// calls back here, and the guard stops that loop.
void Terminal::setForegroundColor(const Color& color) {
  foregroundColor = color;
  if (settingFgColor) return;
  settingFgColor = true;
  if (tdel) tdel->setForegroundColor(*this, foregroundColor);
  settingFgColor = false;
  if (options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm) rebuildAnsiPalette(true);
}

void Terminal::setBackgroundColor(const Color& color) {
  backgroundColor = color;
  if (settingBgColor) return;
  settingBgColor = true;
  if (tdel) tdel->setBackgroundColor(*this, backgroundColor);
  settingBgColor = false;
  if (options.ansi256PaletteStrategy != Ansi256PaletteStrategy::xterm) rebuildAnsiPalette(true);
}

void Terminal::setCursorColor(const std::optional<Color>& color) {
  cursorColor = color;
  if (settingCursorColor) return;
  settingCursorColor = true;
  if (tdel) tdel->setCursorColor(*this, cursorColor);
  settingCursorColor = false;
}

void TerminalDelegate::setForegroundColor(Terminal& source, const Color& color) { source.setForegroundColor(color); }

void TerminalDelegate::setBackgroundColor(Terminal& source, const Color& color) { source.setBackgroundColor(color); }

void TerminalDelegate::setCursorColor(Terminal& source, const std::optional<Color>& color) {
  source.setCursorColor(color);
}

std::pair<Color, Color> TerminalDelegate::getColors(Terminal& source) {
  return {source.foregroundColor, source.backgroundColor};
}

}  // namespace vantrelle
