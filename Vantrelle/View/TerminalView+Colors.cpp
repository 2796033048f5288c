// The terminal's colours as the view's colours, their caches, and the native foreground,
// background, caret and selection colours kept in step with the terminal.
#include <gtkmm/settings.h>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

ViewColor TerminalView::mapColor(Attribute::Color color, bool isFg, bool isBold, bool brightColors) {
  return runStyle.mapColor(color, isFg, isBold, brightColors);
}

const RunAttributes& TerminalView::getAttributes(const Attribute& attribute, bool withUrl) {
  return runStyle.attributes(attribute, withUrl);
}

RunAttributes TerminalView::getAttributedValue(const Attribute& attribute, const ViewColor& usingFg,
                                               const ViewColor& andBg) {
  return runStyle.attributedValue(attribute, usingFg, andBg);
}

std::optional<ColumnRange> TerminalView::selectedColumnsRange(int row, int cols) const {
  if (!selection || !selection->active()) return std::nullopt;
  return vantrelle::selectedColumnsRange(SelectionRange{selection->start(), selection->end()}, row, cols,
                                         terminal->cols);
}

RowAnalysis TerminalView::rowAnalysis() {
  RowAnalysis analysis;
  analysis.terminal = terminal.get();
  analysis.style = &runStyle;
  if (selection && selection->active()) analysis.selection = SelectionRange{selection->start(), selection->end()};
  analysis.terminalCols = terminal->cols;
  analysis.linkHighlightMode = linkState.linkHighlightMode;
  analysis.linkRanges = linkState.linkHighlightRange;
  analysis.commandActive = commandActive;
  analysis.customBlockGlyphs = customBlockGlyphs;
  analysis.selectedBackground = _selectedTextBackgroundColor;
  analysis.selectedForeground = _selectedTextForegroundColor;
  return analysis;
}

ViewLineInfo TerminalView::buildAttributedString(int row, const BufferLine& line, int cols) {
  return rowAnalysis().cut(row, line, cols);
}

bool TerminalView::startsWithPlaceholder(const CharData& cell) const {
  RowAnalysis analysis;
  analysis.terminal = terminal.get();
  return analysis.startsWithPlaceholder(cell);
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
  runStyle.clearRuns();
  path->invalidateAll();
  fullRefresh();
}

void TerminalView::resetCaches() {
  dropShapeCache();
  runStyle.clearRuns();
  runStyle.colors.fill(std::nullopt);
}

void TerminalView::installColors(std::span<const Color> newColors) {
  if (!terminal) return;
  if (newColors.size() == 16) {
    terminal->installedColors.assign(newColors.begin(), newColors.end());
    terminal->rebuildAnsiPalette(false);
  }
  runStyle.colors.fill(std::nullopt);
  colorsChanged();
}

void TerminalView::setNativeForegroundColor(const ViewColor& color) {
  if (settingFg) return;
  settingFg = true;
  runStyle.foreground = color;
  if (terminal) terminal->setForegroundColor(color.getTerminalColor());
  settingFg = false;
}

void TerminalView::setNativeBackgroundColor(const ViewColor& color) {
  if (settingBg) return;
  settingBg = true;
  runStyle.background = color;
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

ViewColor TerminalView::caretTextColor() const { return caretView ? caretView->textColor() : runStyle.foreground; }

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
    runStyle.colors.fill(std::nullopt);
  } else if (*idx >= 0 && *idx < 256) {
    runStyle.colors[*idx].reset();
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
