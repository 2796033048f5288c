#include "Vantrelle/Terminal/Terminal.h"

#include <cstdlib>

#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Terminal/ChildLocale.h"

namespace vantrelle {

Terminal::Terminal(TerminalDelegate* delegate, TerminalOptions options)
    : options(std::move(options)), tdel(delegate), parser(static_cast<ParserHandler&>(*this)) {
  installedColors.assign(Color::terminalAppColors.begin(), Color::terminalAppColors.end());
  rebuildAnsiPalette(false);
  defaultAnsiColors = ansiColors;
  normalBuffer = makeBuffer(this->options.scrollback);
  normalBuffer->fillViewportRows();
  altBuffer = makeBuffer(std::nullopt);
  buffer = normalBuffer.get();
  blankLine = std::make_unique<BufferLine>(0);
  setup(false);
}

Terminal::~Terminal() {
  releasePayloadCodes();
  if (synchronizedOutputTimeoutItem) synchronizedOutputTimeoutItem->cancel();
}

std::unique_ptr<Buffer> Terminal::makeBuffer(std::optional<int> scrollback) {
  auto made = std::make_unique<Buffer>(cols, rows, tabStopWidth, scrollback);
  // The buffer lives no longer than its terminal, so it may call back into it directly.
  made->scroll = [this](bool isWrapped) { scroll(isWrapped); };
  made->setupTabStops(-1, tabStopWidth);
  return made;
}

void Terminal::setup(bool isReset) {
  cols = static_cast<int>(std::max<int64_t>(options.cols, MINIMUM_COLS));
  rows = static_cast<int>(std::max<int64_t>(options.rows, MINIMUM_ROWS));
  // Bounded so that a host's mistake cannot ask for an absurd allocation.
  cols = std::min(cols, 65535);
  rows = std::min(rows, 65535);
  if (isReset) {
    resetNormalBuffer();
    activateNormalBuffer(false);
  } else {
    normalBuffer->resize(cols, rows);
    altBuffer->resize(cols, rows);
  }
  cursorHidden = false;
  applicationKeypad = false;
  applicationCursor = false;
  originMode = false;
  setMarginMode(false);
  setInsertMode(false);
  setWraparound(true);
  bracketedPasteMode = false;
  gCharsets = {};
  charset = gCharsets[0];
  gcharset = 0;
  gLevel = 0;
  curAttr = defaultAttribute();
  setMouseMode(MouseMode::off);
  mouseShiftCapture = false;
  buffer->scrollTop = 0;
  buffer->scrollBottom = rows - 1;
  buffer->marginLeft = 0;
  buffer->marginRight = cols - 1;
  cc.send8bit = false;
  keyboardModeNormal = {};
  keyboardModeAlt = {};
  conformance = TerminalConformance::vt500;
  // The column switch waits for the program to allow it first (mode 40): the reset strings of
  // TERM=xterm-256color (reset, tput init) send DECCOLM's reset, which would otherwise narrow
  // the terminal to 80 columns whatever the size of its window.
  allow80To132 = false;
  titles.modes = {};
  hyperLinkTracking.reset();
  cursorBlink = false;
  hostCurrentDirectory.reset();
  lineFeedMode = options.convertEol;
}

void Terminal::resizeBuffers(int newColumns, int newRows) {
  const int savedDelta = normalBuffer->savedY - normalBuffer->y;
  const int32_t printedCode = lastPrintedBeforeCursor();
  // Reflow moves rows about: what keeps a row follows the text it was on.
  const LinkStartCarry linkStart = hyperlinkStartCarry();
  const KittyRecordPlaces records = kittyRecordPlaces(*this);
  // Line editors turn bracketed paste on while they read a line, and redraw it on a resize.
  normalBuffer->cursorLineRedrawn = bracketedPasteMode;
  normalBuffer->beginScreenResize();
  normalBuffer->resize(newColumns, newRows);
  normalBuffer->savedY = normalBuffer->y + savedDelta;
  altBuffer->resize(newColumns, newRows);
  carryLastPrinted(printedCode, newColumns, newRows);
  placeHyperlinkStart(linkStart);
  placeKittyRecords(*this, records);
  normalBuffer->endScreenResize();
}

void Terminal::resetNormalBuffer() {
  const bool wasActive = buffer == normalBuffer.get();
  lastPrinted = {};
  normalBuffer = makeBuffer(options.scrollback);
  normalBuffer->fillViewportRows();
  normalBuffer->insertMode = insertMode;
  normalBuffer->marginMode = marginMode;
  normalBuffer->wraparound = wraparound;
  if (wasActive) buffer = normalBuffer.get();
}

void Terminal::activateNormalBuffer(bool clearAlt) {
  if (buffer == normalBuffer.get()) return;
  normalBuffer->x = altBuffer->x;
  normalBuffer->y = altBuffer->y;
  if (clearAlt) {
    clearKittyImages(*altBuffer, true);
    altBuffer->clear();
  }
  buffer = normalBuffer.get();
}

void Terminal::activateAltBuffer(std::optional<Attribute> fillAttr) {
  if (buffer == altBuffer.get()) return;
  altBuffer->x = normalBuffer->x;
  altBuffer->y = normalBuffer->y;
  altBuffer->fillViewportRows(fillAttr);
  buffer = altBuffer.get();
  clearKittyImages(*altBuffer, true);
}

void Terminal::setMouseMode(MouseMode mode) {
  mouseMode_ = mode;
  if (tdel) tdel->mouseModeChanged(*this);
}

void Terminal::setTerminalFocus(bool focused) {
  reportedFocusState = focused;
  if (sendFocus) sendFocusReport();
}

void Terminal::sendFocusReport() {
  Bytes report = cc.csi();
  report.push_back(reportedFocusState ? 'I' : 'O');
  if (tdel) tdel->send(*this, report);
}

void Terminal::setInsertMode(bool value) { insertMode = normalBuffer->insertMode = altBuffer->insertMode = value; }

void Terminal::setMarginMode(bool value) { marginMode = normalBuffer->marginMode = altBuffer->marginMode = value; }

void Terminal::setWraparound(bool value) { wraparound = normalBuffer->wraparound = altBuffer->wraparound = value; }

BufferLine* Terminal::getLine(int row) {
  if (row < 0 || row >= rows) return nullptr;
  const int index = buffer->yDisp + row;
  if (index >= buffer->lines().count()) return nullptr;
  return buffer->lines()[index].get();
}

BufferLine* Terminal::getScrollInvariantLine(int row) {
  const int index = Buffer::linesTrimmedBetween(buffer->linesTop, row);
  if (index < 0 || index >= buffer->lines().count()) return nullptr;
  return buffer->lines()[index].get();
}

std::optional<CharData> Terminal::getCharData(int col, int row) {
  if (col < 0 || col >= cols) return std::nullopt;
  BufferLine* line = getLine(row);
  if (!line) return std::nullopt;
  return (*line)[col];
}

std::optional<std::string> Terminal::getCharacter(int col, int row) {
  auto cell = getCharData(col, row);
  if (!cell) return std::nullopt;
  return character(cell->code);
}

void Terminal::registerOscHandler(int64_t code, std::function<void(std::span<const uint8_t>)> handler) {
  oscHandlers[code] = std::move(handler);
}

std::vector<std::string> Terminal::getEnvironmentVariables(std::optional<std::string> termName, bool trueColor) {
  std::vector<std::string> env;
  env.push_back("TERM=" + termName.value_or("xterm-256color"));
  if (trueColor) env.emplace_back("COLORTERM=truecolor");
  env.push_back("LANG=" + childLocale());
  for (const char* name : {"LOGNAME", "USER", "DISPLAY", "LC_TYPE", "HOME"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

}  // namespace vantrelle
