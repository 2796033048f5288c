// xterm window operations (CSI Ps ; Ps ; Ps t): window actions go to the host, size reports ask
// the host first, and the title stacks are the terminal's own.
#include <algorithm>
#include <initializer_list>

#include "Vantrelle/Terminal/ReportFormat.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

namespace {

using Kind = WindowManipulationCommand::Kind;

bool matches(std::span<const int> pars, std::initializer_list<int> values) {
  return pars.size() == values.size() && std::equal(values.begin(), values.end(), pars.begin());
}

std::optional<Kind> windowAction(std::span<const int> pars) {
  if (pars.size() == 1) {
    switch (pars[0]) {
      case 1:
        return Kind::deiconifyWindow;
      case 2:
        return Kind::iconifyWindow;
      case 5:
        return Kind::bringToFront;
      case 6:
        return Kind::sendToBack;
      case 7:
        return Kind::refreshWindow;
      default:
        return std::nullopt;
    }
  }
  if (pars.size() != 2) return std::nullopt;
  static constexpr Kind maximize[] = {Kind::restoreMaximizedWindow, Kind::maximizeWindow,
                                      Kind::maximizeWindowVertically, Kind::maximizeWindowHorizontally};
  static constexpr Kind fullScreen[] = {Kind::undoFullScreen, Kind::switchToFullScreen, Kind::toggleFullScreen};
  if (pars[0] == 9 && pars[1] >= 0 && pars[1] <= 3) return maximize[pars[1]];
  if (pars[0] == 10 && pars[1] >= 0 && pars[1] <= 2) return fullScreen[pars[1]];
  return std::nullopt;
}

// Enough to restore a few nested programs' titles; deeper pushes drop the oldest.
constexpr size_t maxTitleStackDepth = 10;

// A title may be as long as any string a program sends, 8 MiB; a stack keeps no more than this
// many bytes of titles. A longer title keeps its beginning, all a window shows of it, cut at a
// character's edge, and past the bound a stack lets go of its oldest titles.
constexpr size_t maxTitleStackBytes = size_t(1) << 20;

std::string savedTitle(const std::string& title) {
  if (title.size() <= maxTitleStackBytes) return title;
  size_t end = maxTitleStackBytes;
  while (end > 0 && (uint8_t(title[end]) & 0xC0) == 0x80) end--;
  return title.substr(0, end);
}

void push(std::vector<std::string>& stack, const std::string& title) {
  if (stack.size() >= maxTitleStackDepth) stack.erase(stack.begin());
  stack.push_back(savedTitle(title));
  size_t bytes = 0;
  for (const auto& saved : stack) bytes += saved.size();
  while (stack.size() > 1 && bytes > maxTitleStackBytes) {
    bytes -= stack.front().size();
    stack.erase(stack.begin());
  }
}

}  // namespace

namespace {

// Asks the host first; without an answer, computes the reply from the terminal's size and the
// host's cell size (10 by 16 when it has none).
void reportWindowSize(Terminal& t, Kind kind) {
  TerminalDelegate* tdel = t.tdel;
  const int rows = t.rows, cols = t.cols;
  if (auto bytes = tdel->windowCommand(t, {kind})) {
    t.sendResponse({*bytes});
    return;
  }
  const auto cell = tdel->cellSizeInPixels(t);
  const int64_t cellWidth = cell ? cell->width : 10;
  const int64_t cellHeight = cell ? cell->height : 16;
  std::string text;
  switch (kind) {
    case Kind::reportTextAreaPixelDimension:
    case Kind::reportTerminalWindowPixelDimension:
    case Kind::reportSizeOfScreenInPixels:
      text = (kind == Kind::reportSizeOfScreenInPixels ? "5;" : "4;") + std::to_string(int64_t(rows) * cellHeight) +
             ";" + std::to_string(int64_t(cols) * cellWidth) + "t";
      break;
    case Kind::reportCellSizeInPixels:
      text = "6;" + std::to_string(cellHeight) + ";" + std::to_string(cellWidth) + "t";
      break;
    case Kind::reportTextAreaCharacters:
      text = "8;" + std::to_string(rows) + ";" + std::to_string(cols) + "t";
      break;
    default:
      text = "9;" + std::to_string(rows) + ";" + std::to_string(cols) + "t";
      break;
  }
  t.sendResponse({t.cc.csi(), asBytes(text)});
}

}  // namespace

void Terminal::cmdWindowOptions(std::span<const int> pars) {
  if (!tdel) return;
  if (auto action = windowAction(pars)) {
    tdel->windowCommand(*this, {*action});
    return;
  }
  if (pars.size() == 3 && (pars[0] == 3 || pars[0] == 4 || pars[0] == 8)) {
    const Kind kind = pars[0] == 3 ? Kind::moveWindowTo : pars[0] == 4 ? Kind::resizeWindowTo : Kind::resizeTerminal;
    // xterm gives the height first for 4; the command carries width, height.
    if (pars[0] == 4)
      tdel->windowCommand(*this, {kind, pars[2], pars[1]});
    else
      tdel->windowCommand(*this, {kind, pars[1], pars[2]});
    return;
  }
  if (matches(pars, {14}) || matches(pars, {14, 2}))
    return reportWindowSize(
        *this, pars.size() == 2 ? Kind::reportTerminalWindowPixelDimension : Kind::reportTextAreaPixelDimension);
  if (matches(pars, {15})) return reportWindowSize(*this, Kind::reportSizeOfScreenInPixels);
  if (matches(pars, {16})) return reportWindowSize(*this, Kind::reportCellSizeInPixels);
  if (matches(pars, {18})) return reportWindowSize(*this, Kind::reportTextAreaCharacters);
  if (matches(pars, {19})) return reportWindowSize(*this, Kind::reportScreenSizeCharacters);
  if (matches(pars, {20}) || matches(pars, {21})) {
    // The titles themselves are never sent back: a title is data a program could smuggle in.
    sendResponse({cc.osc(), asBytes(pars[0] == 20 ? "L" : "l"), cc.st()});
    return;
  }
  const bool both = matches(pars, {22, 0}) || matches(pars, {22, 0, 0});
  if (both || matches(pars, {22, 1}) || matches(pars, {22, 2})) {
    if (both || pars[1] == 2) push(titles.windowStack, titles.window);
    if (both || pars[1] == 1) push(titles.iconStack, titles.icon);
    return;
  }
  const bool popBoth = matches(pars, {23, 0}) || matches(pars, {23, 0, 0});
  if (popBoth || matches(pars, {23, 1}) || matches(pars, {23, 2})) {
    if ((popBoth || pars[1] == 2) && !titles.windowStack.empty()) {
      std::string title = std::move(titles.windowStack.back());
      titles.windowStack.pop_back();
      setTitle(title);
    }
    if ((popBoth || pars[1] == 1) && !titles.iconStack.empty()) {
      std::string title = std::move(titles.iconStack.back());
      titles.iconStack.pop_back();
      setIconTitle(title);
    }
    return;
  }
  log("Unhandled Window command: " + parameterListText(pars));
}

}  // namespace vantrelle
