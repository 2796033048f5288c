// The terminal's colours as the view's colours, their caches, and the native foreground,
// background, caret and selection colours kept in step with the terminal.
#include <gtkmm/settings.h>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

ViewColor TerminalView::mapColor(Attribute::Color color, bool isFg, bool isBold, bool brightColors) {
  switch (color.kind()) {
    case Attribute::Color::Kind::ansi256: {
      int c = color.code();
      int index;
      if (brightColors) {
        index = c >= 7 ? c : (isBold ? (c | 8) : c);
      } else {
        // Only the eight bright colours fold onto their normal ones; the cube and the grey ramp
        // (16-255) have no bright form and keep their own index.
        index = c >= 8 && c < 16 ? c - 8 : c;
      }
      if (colors[index]) return *colors[index];
      const auto& palette = terminal->ansiColors;
      ViewColor made = size_t(index) < palette.size() ? ViewColor::make(palette[index]) : _nativeFg;
      colors[index] = made;
      return made;
    }
    case Attribute::Color::Kind::trueColor:
      // Three divisions cost less than a lookup, and a program may use millions of colours.
      return ViewColor{color.red() / 255.0, color.green() / 255.0, color.blue() / 255.0, 1.0};
    case Attribute::Color::Kind::defaultColor:
      return isFg ? _nativeFg : _nativeBg;
    case Attribute::Color::Kind::defaultInvertedColor:
      return isFg ? _nativeFg.inverseColor() : _nativeBg.inverseColor();
  }
  return _nativeFg;
}

void TerminalView::fullRefresh() {
  if (!terminal) return;
  terminal->refreshStart = 0;
  terminal->refreshEnd = terminal->rows;
  terminal->scrollInvariantRefreshStart = terminal->buffer->yDisp;
  terminal->scrollInvariantRefreshEnd = terminal->buffer->yDisp + terminal->rows;
  queuePendingDisplay();
}

void TerminalView::colorsChanged() {
  urlAttributes.clear();
  attributes.clear();
  path->invalidateAll();
  fullRefresh();
}

void TerminalView::resetCaches() {
  dropShapeCache();
  attributes.clear();
  urlAttributes.clear();
  colors.fill(std::nullopt);
}

void TerminalView::installColors(std::span<const Color> newColors) {
  if (!terminal) return;
  if (newColors.size() == 16) {
    terminal->installedColors.assign(newColors.begin(), newColors.end());
    terminal->rebuildAnsiPalette(false);
  }
  colors.fill(std::nullopt);
  colorsChanged();
}

void TerminalView::setNativeForegroundColor(const ViewColor& color) {
  if (settingFg) return;
  settingFg = true;
  _nativeFg = color;
  if (terminal) terminal->setForegroundColor(color.getTerminalColor());
  settingFg = false;
}

void TerminalView::setNativeBackgroundColor(const ViewColor& color) {
  if (settingBg) return;
  settingBg = true;
  _nativeBg = color;
  if (terminal) terminal->setBackgroundColor(color.getTerminalColor());
  settingBg = false;
  queue_draw();
}

void TerminalView::configureNativeColors() {
  bool dark = false;
  if (auto settings = Gtk::Settings::get_default()) dark = settings->property_gtk_application_prefer_dark_theme();
  setNativeForegroundColor(dark ? ViewColor::white() : ViewColor::black());
  setNativeBackgroundColor(dark ? ViewColor::black() : ViewColor::white());
}

ViewColor TerminalView::caretColor() const { return caretView ? caretView->caretColor : CaretView::defaultCaretColor; }

void TerminalView::setCaretColor(const ViewColor& color) {
  if (!caretView) return;
  caretView->caretColor = color;
  caretView->redraw();
}

ViewColor TerminalView::caretTextColor() const { return caretView ? caretView->textColor() : _nativeFg; }

void TerminalView::setCaretTextColor(const ViewColor& color) {
  if (!caretView) return;
  caretView->caretTextColor = color;
  caretView->redraw();
}

void TerminalView::setSelectedTextBackgroundColor(const ViewColor& color) {
  _selectedTextBackgroundColor = color;
  path->invalidateAll();
  fullRefresh();
}

void TerminalView::setSelectedTextForegroundColor(const ViewColor& color) {
  _selectedTextForegroundColor = color;
  path->invalidateAll();
  fullRefresh();
}

void TerminalView::setCustomBlockGlyphs(bool value) {
  customBlockGlyphs = value;
  path->invalidateAll();
  fullRefresh();
}

void TerminalView::setAntiAliasCustomBlockGlyphs(bool value) {
  antiAliasCustomBlockGlyphs = value;
  path->invalidateAll();
  fullRefresh();
}

// ---- TerminalDelegate ----

void TerminalView::colorChanged(Terminal&, std::optional<int> idx) {
  if (!idx) {
    colors.fill(std::nullopt);
  } else if (*idx >= 0 && *idx < 256) {
    colors[*idx].reset();
  }
  colorsChanged();
}

void TerminalView::setForegroundColor(Terminal&, const Color& color) {
  setNativeForegroundColor(ViewColor::make(color));
  colorsChanged();
}

void TerminalView::setBackgroundColor(Terminal&, const Color& color) {
  setNativeBackgroundColor(ViewColor::make(color));
  colorsChanged();
}

void TerminalView::setCursorColor(Terminal&, const std::optional<Color>& color) {
  if (!caretView) return;
  caretView->caretColor = color ? ViewColor::make(*color) : CaretView::defaultCaretColor;
  caretView->caretTextColor = CaretView::defaultCaretTextColor;
  caretView->redraw();
  queueMetalDisplay();
}

}  // namespace vantrelle
