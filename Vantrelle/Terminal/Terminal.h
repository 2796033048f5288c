#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Vantrelle/Buffer/Attribute.h"
#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Buffer/Color.h"
#include "Vantrelle/Buffer/Line.h"
#include "Vantrelle/Graphics/KittyGraphicsState.h"
#include "Vantrelle/Keyboard/EscapeSequences.h"
#include "Vantrelle/Keyboard/KeyboardModeState.h"
#include "Vantrelle/Parser/EscapeSequenceParser.h"
#include "Vantrelle/Terminal/CharSets.h"
#include "Vantrelle/Terminal/ClusterCodeCache.h"
#include "Vantrelle/Terminal/Scheduler.h"
#include "Vantrelle/Terminal/TerminalDelegate.h"
#include "Vantrelle/Terminal/TerminalOptions.h"
#include "Vantrelle/Terminal/TerminalTypes.h"
#include "Vantrelle/Terminal/TitleState.h"
#include "Vantrelle/Text/LinkTypes.h"

namespace vantrelle {

// The emulator state of one terminal session: two screen buffers, the modes, the character sets,
// the current rendition and the parser. Fed from one thread; talks to its host only through the
// delegate, synchronously.
//
// Command handlers live in files by family (Terminal+Cursor.cpp, Terminal+Erase.cpp, ...); the
// dispatch switches that route control functions to them are in Terminal+Dispatch.cpp.
class Terminal : private ParserHandler {
 public:
  static constexpr int MINIMUM_COLS = 2;
  static constexpr int MINIMUM_ROWS = 1;
  static constexpr int32_t kFirstClusterCode = 0x400001;
  // The cluster table only grows; past this many entries new clusters keep their first scalar.
  static constexpr size_t kMaxClusterCodes = 1u << 16;
  static constexpr double synchronizedOutputTimeoutSeconds = 1.0;

  // The printer's input cursor: an incomplete UTF-8 sequence waits in `putbackBuffer`.
  struct ReadingBuffer {
    std::array<uint8_t, 4> putbackBuffer{};
    int putbackCount = 0;
  };

  struct UpdateRange {
    int startY;
    int endY;
  };

  struct HyperLink {
    Position start;
    std::string payload;
    const Buffer* buffer = nullptr;   // the buffer it was opened in
    uint64_t linesDroppedAtOpen = 0;  // that buffer's count of lines dropped then
    // The line it starts on, found again wherever reflow or line editing moved it, unless the
    // ring has dropped it and recycled it as a new line since.
    std::weak_ptr<BufferLine> startLine;
    const BufferLine* startLineSeen = nullptr;  // the same line, compared as it is recycled
    bool startLineLeft = false;
  };

  explicit Terminal(TerminalDelegate* delegate, TerminalOptions options = TerminalOptions::defaultOptions());
  ~Terminal() override;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // ---- Feeding and replies (Terminal+Print.cpp) ----
  void feed(std::span<const uint8_t> buffer);
  void feed(std::string_view text);
  void parse(std::span<const uint8_t> buffer) { feed(buffer); }
  // The host's word that the program's output has come to rest (nothing came for a while, as when
  // a command has finished and the prompt waits). Nothing a reader sees changes: the rows a flood
  // left whole in a small scrollback only go into runs, and until then hold at most
  // Buffer::wholeRowsBudgetBytes.
  void outputRests();
  void handlePrint(std::span<const uint8_t> run);
  // Sends the concatenation of the pieces to the host as one reply.
  void sendResponse(std::initializer_list<std::span<const uint8_t>> items);
  void sendResponse(std::string_view text);
  // Writes one diagnostic line, "Info: " first, unless `silentLog` is set.
  void log(std::string_view message) const;
  // The same line without the prefix, for the scroll and SGR notes that have none.
  void logUnprefixed(std::string_view message) const;

  // ---- Cell codes (Terminal+Print.cpp) ----
  int32_t code(std::u32string_view character);
  // The UTF-8 text of a cell code: a space for an invalid scalar or an unknown key.
  std::string character(int32_t code) const;
  std::u32string scalars(int32_t code) const;
  std::string getCharacter(const CharData& cell) const { return character(cell.code); }
  CharData makeCharData(const Attribute& attribute, int32_t code, int8_t size) const;
  void updateCharData(CharData& cell, int32_t code, int8_t size) const { cell.setValue(code, size); }
  CharData makeCharData(const Attribute& attribute, std::u32string_view character, int8_t size) {
    return makeCharData(attribute, code(character), size);
  }
  void updateCharData(CharData& cell, std::u32string_view character, int8_t size) {
    cell.setValue(code(character), size);
  }

  // ---- Dirty rows ----
  // In line: printing and cursor moves mark a row for nearly every run of output.
  void updateRange(int y, bool scrolling = false) { updateRange(*buffer, y, scrolling); }
  void updateRange(const Buffer& target, int y, bool scrolling = false) {
    if (!scrolling) {
      const int invariant = y + target.yDisp;
      if (invariant >= 0) {
        scrollInvariantRefreshStart = std::min(scrollInvariantRefreshStart, invariant);
        scrollInvariantRefreshEnd = std::max(scrollInvariantRefreshEnd, invariant);
      }
    }
    if (y >= 0) {
      refreshStart = std::min(refreshStart, y);
      refreshEnd = std::max(refreshEnd, y);
    }
  }
  void updateFullScreen();
  std::optional<UpdateRange> getUpdateRange() const;
  std::optional<UpdateRange> getScrollInvariantUpdateRange() const;
  void clearUpdateRange();
  void garbageCollectPayload();

  // ---- State and buffers (Terminal.cpp) ----
  void setup(bool isReset);
  void resizeBuffers(int newColumns, int newRows);
  void resetNormalBuffer();
  void activateNormalBuffer(bool clearAlt);
  void activateAltBuffer(std::optional<Attribute> fillAttr);
  std::pair<int, int> getDims() const { return {cols, rows}; }
  std::pair<int, int> getCursorLocation() const { return {buffer->x, buffer->y}; }
  int getTopVisibleRow() const { return buffer->yDisp; }
  bool isCurrentBufferAlternate() const { return buffer == altBuffer.get(); }
  const Attribute& currentAttribute() const { return curAttr; }
  MouseMode mouseMode() const { return mouseMode_; }
  void setMouseMode(MouseMode mode);
  void setTerminalFocus(bool focused);
  void sendFocusReport();
  BufferLine* getLine(int row);
  BufferLine* getScrollInvariantLine(int row);
  std::optional<CharData> getCharData(int col, int row);
  std::optional<std::string> getCharacter(int col, int row);
  void registerOscHandler(int64_t code, std::function<void(std::span<const uint8_t>)> handler);
  static std::vector<std::string> getEnvironmentVariables(std::optional<std::string> termName, bool trueColor);

  // ---- Text of the buffer (Terminal+Text.cpp, Text/Terminal+Extraction.cpp) ----
  // Text read back for the user reads as it shows: a hidden cell (SGR 8) as a blank a column, so
  // that what a program hid (a password typed back) never leaves through a selection.
  // The text between buffer positions a and b (a first) as logical lines of row fragments.
  std::vector<Line> _getSelectedLines(Position a, Position b, Buffer& source);
  // One row from column `start` up to, not including, `end` (-1: the whole row), trailing
  // empty and hidden cells left out.
  std::string translateBufferLineToString(Buffer& source, int64_t line, int64_t start, int64_t end);
  // The columns of a row up to its last character that shows, hidden ones not counted.
  static int64_t shownLength(const BufferLine& line);
  // The text between two positions of the active buffer, in either order.
  std::string getText(Position start, Position end);
  // Every row of a buffer encoded with the named ICU converter ("UTF-8", "ISO-8859-1", ...), a
  // line feed after each; characters the encoding lacks become its substitute. Nothing for an
  // unknown encoding.
  std::optional<Bytes> getBufferAsData(BufferKind kind = BufferKind::active, const std::string& encoding = "UTF-8");

  // ---- Links under a cell (Text/Terminal+Links.cpp) ----
  using LinkLookupMode = vantrelle::LinkLookupMode;
  using LinkLookupLocation = vantrelle::LinkLookupLocation;
  using LinkMatch = vantrelle::LinkMatch;
  using ImplicitCellRef = vantrelle::ImplicitCellRef;
  using ImplicitLineMap = vantrelle::ImplicitLineMap;
  using LinkRowEdgeInfo = vantrelle::LinkRowEdgeInfo;
  std::optional<std::string> link(LinkLookupLocation at, LinkLookupMode mode);
  std::optional<Position> resolveLinkLocation(LinkLookupLocation location, Buffer& in);
  std::optional<LinkMatch> explicitLinkMatch(Position at, Buffer& in);
  std::optional<LinkMatch> implicitLinkMatch(Position at, Buffer& in);
  std::optional<ImplicitLineMap> buildImplicitLineMap(Position at, Buffer& in);

  // ---- C0 controls (Terminal+C0.cpp) ----
  void cmdLineFeedBasic();
  void cmdCarriageReturn();
  void cmdBackspace();
  void cmdHorizontalTab();
  void cmdNextLine();

  // ---- Character sets (Terminal+Charsets.cpp) ----
  void setgLevel(uint8_t v);
  void setgCharset(uint8_t v, std::optional<CharsetMap> charset);
  void selectCharset(std::span<const uint8_t> p);

  // ---- Cursor (Terminal+Cursor.cpp) ----
  void cmdCursorUp(std::span<const int> pars);
  void cmdCursorDown(std::span<const int> pars);
  void cursorForward(int count);
  void cursorBackward(int count);
  void cmdCursorCharAbsolute(std::span<const int> pars);
  void cmdCursorPosition(std::span<const int> pars);
  void cmdHVPosition(std::span<const int> pars);
  void cmdCharPosAbsolute(std::span<const int> pars);
  void cmdHPositionRelative(std::span<const int> pars);
  void cmdLinePosAbsolute(std::span<const int> pars);
  void cmdVPositionRelative(std::span<const int> pars);
  void cmdTabClear(std::span<const int> pars);
  void cmdSaveCursor(std::span<const uint8_t> collect);
  void cmdRestoreCursor(std::span<const uint8_t> collect);
  void cmdCursorForwardTab(std::span<const int> pars);
  void cmdCursorBackwardTab(std::span<const int> pars);
  void setCursor(int col, int row);
  void restrictCursor(bool clampToLastColumn = true);
  // Printing into the last column (or up to the right margin) leaves the cursor one column past
  // it, so that the next character wraps. Every other operation sees the cursor on that column:
  // `cursorColumn` is where it stands, and `endPendingWrap` puts it there for good.
  bool wrapPending() const { return buffer->x >= cols || (buffer->marginWrapRow >= 0 && marginWrapPending()); }
  int cursorColumn() const;
  // Lines left the ring or the screen's place in it changed without a scroll: the host shows the
  // scroll position and the scrollbar from them, as after a scroll.
  void scrollbackChanged() {
    if (tdel) tdel->scrolled(*this, buffer->yDisp);
  }
  // The program's redraw after a resize dropped the copy of its screen that the resize left in the
  // scrollback, or gave back the saved lines it wrote over (`moved`): the host shows the new rows.
  void showRowsMovedAfterResize(bool moved);
  void endPendingWrap() {
    if (buffer->x >= cols || buffer->marginWrapRow >= 0) settlePendingWrap();
  }

  // ---- Scrolling (Terminal+Scrolling.cpp) ----
  void scroll(bool isWrapped = false);
  void cmdIndex();
  // One row down as LF, IND and NEL move: scrolls only on the region's bottom row.
  void indexDown();
  void reverseIndex();
  void columnIndex(bool back);
  void columnScroll(bool back, int at);
  void emitLineFeed();
  void resize(int cols, int rows);
  void changeScrollback(std::optional<int> scrollback);
  void changeHistorySize(std::optional<int> scrollback) { changeScrollback(scrollback); }

  // ---- Attributes (Terminal+Attributes.cpp) ----
  // SGR without intermediates; `separators[k]` follows parameter k (the quick forms in
  // Terminal+Dispatch.cpp, where the parser's loop can take them in line).
  void selectGraphicRendition(std::span<const int> pars, std::span<const uint8_t> separators);
  void selectGraphicRenditionOtherThanLoneColor(std::span<const int> pars, std::span<const uint8_t> separators);
  void selectGraphicRenditionFrom(size_t start, std::span<const int> pars, std::span<const uint8_t> separators);

  // ---- Colours and palettes (Terminal+Colors.cpp) ----
  void installPalette(std::span<const Color> colors);
  void rebuildAnsiPalette(bool notifyDelegate);
  void setForegroundColor(const Color& color);
  void setBackgroundColor(const Color& color);
  void setCursorColor(const std::optional<Color>& color);
  Ansi256PaletteStrategy ansi256PaletteStrategy() const { return options.ansi256PaletteStrategy; }
  void setAnsi256PaletteStrategy(Ansi256PaletteStrategy strategy);
  // Puts every palette entry back to the derived palette (OSC 104 without indices, soft reset).
  void resetAllColors();
  void sendColorReply(const std::string& text);

  // ---- Erasing, insertion and deletion (Terminal+Erase.cpp) ----
  void cmdInsertChars(std::span<const int> pars);
  void cmdEraseInDisplay(std::span<const int> pars);
  void cmdEraseInLine(std::span<const int> pars);
  void cmdInsertLines(std::span<const int> pars);
  void cmdDeleteLines(std::span<const int> pars);
  void cmdDeleteChars(std::span<const int> pars);
  void cmdScrollUp(std::span<const int> pars);
  void cmdScrollDown(std::span<const int> pars);
  void cmdEraseChars(std::span<const int> pars);
  void cmdRepeatPrecedingCharacter(std::span<const int> pars);
  void cmdInsertColumns(std::span<const int> pars);
  void cmdDeleteColumns(std::span<const int> pars);
  void setLineRenderMode(BufferLine::RenderLineMode mode);
  void cmdScreenAlignmentPattern();
  // Blanks one screen row with the erase cell.
  void resetBufferLine(int y, bool clearImages);

  // ---- Rectangular areas (Terminal+Rectangles.cpp) ----
  // Screen rows and columns, 0-based and inclusive.
  struct Rectangle {
    int top, left, bottom, right;
  };
  // The rectangle of a request's Pt;Pl;Pb;Pr parameters, clamped to the screen; none when empty.
  std::optional<Rectangle> getRectangleFromRequest(std::span<const int> pars) const;
  void cmdDECERA(std::span<const int> pars);
  void cmdSelectiveEraseRectangularArea(std::span<const int> pars);
  void csiCopyRectangularArea(std::span<const int> pars);
  void cmdFillRectangularArea(std::span<const int> pars);
  void cmdDECRQCRA(std::span<const int> pars, std::span<const uint8_t> collect);

  // ---- Modes (Terminal+Modes.cpp) ----
  void cmdSetMode(std::span<const int> pars);
  void cmdResetMode(std::span<const int> pars);
  void cmdSetPrivateMode(std::span<const int> pars);
  void cmdResetPrivateMode(std::span<const int> pars);
  void cmdSetCursorStyle(std::span<const int> pars);
  void cmdSetScrollRegion(std::span<const int> pars);
  void cmdSetMargins(std::span<const int> pars);
  void setPrivateMode(int par, bool on);
  void setCursorStyle(CursorStyle style);
  void cmdSetConformanceLevel(std::span<const int> pars);
  // Writes the mode into the terminal and into both buffers' copies.
  void setInsertMode(bool value);
  void setMarginMode(bool value);
  void setWraparound(bool value);

  // ---- Device reports (Terminal+Reports.cpp) ----
  void cmdSendDeviceAttributes(std::span<const int> pars, std::span<const uint8_t> collect);
  void cmdDeviceStatus(std::span<const int> pars, std::span<const uint8_t> collect);
  // DCS $ q: collects the name of a setting and answers with its current value.
  class DECRQSS;
  // The handler of DCS $ q (request setting), or none.
  std::unique_ptr<DcsHandler> makeDecrqssHandler();
  void cmdDecRqm(std::span<const int> pars, bool decMode);

  // ---- Resets and synchronized output (Terminal+Resets.cpp) ----
  void cmdReset();
  void cmdSoftReset();
  void beginSynchronizedOutput();
  void endSynchronizedOutput();
  void scheduleSynchronizedOutputTimeout();
  // The full reset for the host: like RIS but the parser keeps its state.
  void resetToInitialState();
  void softReset();
  void showCursor();
  void hideCursor();
  void setTitle(const std::string& text);
  void setIconTitle(const std::string& text);
  void refresh(int startRow, int endRow);

  // ---- Mouse reports (Terminal+Mouse.cpp) ----
  int encodeButton(int button, bool release, bool shift, bool meta, bool control) const;
  void sendEvent(int buttonFlags, int x, int y, int pixelX = 0, int pixelY = 0);
  void sendMotion(int buttonFlags, int x, int y, int pixelX = 0, int pixelY = 0);
  static void encodeMouseUtf(Bytes& data, int ch);
  // Marks a release in the button flags of SGR reports, which name the released button; above
  // every bit the report codes use.
  static constexpr int mouseReleaseFlag = 1 << 12;

  // ---- Window operations (Terminal+Window.cpp) ----
  void cmdWindowOptions(std::span<const int> pars);

  // ---- OSC (Terminal+Osc.cpp) ----
  void dispatchOscCommand(int64_t code, std::span<const uint8_t> data);
  void oscFallback(int64_t code, std::span<const uint8_t> data);
  void oscChangeOrQueryColorIndex(std::span<const uint8_t> data);
  void oscSetCurrentDocument(std::span<const uint8_t> data);
  void oscSetCurrentDirectory(std::span<const uint8_t> data);
  void oscHyperlink(std::span<const uint8_t> data);
  // The URI of a stored hyperlink payload ("params;URI"), or nothing.
  static std::optional<std::string> parseHyperlinkPayload(std::string_view payload);
  std::optional<ProgressReport> parseProgressReport(std::span<const uint8_t> data);
  // OSC 10, 11 and 12: colours from `startIndex` (0 foreground, 1 background, 2 cursor) on.
  void oscSetColors(std::span<const uint8_t> data, int startIndex);
  void oscClipboard(std::span<const uint8_t> data);
  void oscResetColor(std::span<const uint8_t> data);
  void oscNotification(std::span<const uint8_t> data);
  void osciTerm2(std::span<const uint8_t> data);

  // ---- Hyperlink payload codes (Terminal+Hyperlink.cpp) ----
  std::optional<TinyAtom> registerPayload(std::string payload);
  // Gives back the codes this terminal registered that no cell of its buffers holds.
  void reclaimPayloadCodes();
  void releasePayloadCodes();
  // How many times the buffers were swept for codes to give back, and the cells read doing so.
  uint64_t payloadSweeps() const { return payloadCodes.sweeps; }
  uint64_t payloadCellsSwept() const { return payloadCodes.cellsSwept; }
  // What the payloads of the links this terminal registered hold, in bytes, and the most they may.
  uint64_t payloadBytesHeld() const { return payloadCodes.bytesHeld; }
  static constexpr uint64_t kMaxPayloadBytesHeld = uint64_t(32) << 20;

  // ---- Kitty graphics, APC G (Terminal+KittyGraphics.cpp) ----
  void handleKittyGraphics(std::span<const uint8_t> content);
  // Keeps relative placements attached after the active buffer scrolled.
  void updateKittyRelativePlacementsForCurrentBuffer();
  // Drops every image, placement and number, on both screens.
  void clearAllKittyImages();
  // Drops the placements of one screen, then the images nothing uses any more.
  void clearKittyImages(Buffer& buffer, bool isAlternateBuffer);

  // ---- Sixel, DCS q (Terminal+Sixel.cpp) ----
  std::unique_ptr<DcsHandler> makeSixelHandler(std::span<const int> pars);

  // ---- Kitty keyboard, CSI u (Terminal+KittyKeyboard.cpp) ----
  using KeyboardModeState = vantrelle::KeyboardModeState;
  // False when the sequence is not one of the keyboard protocol's.
  bool handleKittyKeyboardProtocol(std::span<const int> pars, std::span<const uint8_t> collect);
  // The flags of the screen in use; the view builds its key encoder from them.
  KittyKeyboardFlags keyboardEnhancementFlags() const { return activeKeyboardMode().flags; }
  const KeyboardModeState& activeKeyboardMode() const {
    return isCurrentBufferAlternate() ? keyboardModeAlt : keyboardModeNormal;
  }

  // ---- Fields ----
  KittyGraphicsState kittyGraphicsState;
  // Set only while a displayed image is handed to the host.
  std::optional<KittyPlacementContext> kittyPlacementContext;
  int cols = 80;
  int rows = 25;
  int tabStopWidth = 8;
  TerminalOptions options;
  std::unique_ptr<Buffer> normalBuffer;
  std::unique_ptr<Buffer> altBuffer;
  Buffer* buffer = nullptr;  // always one of the two
  TerminalDelegate* tdel = nullptr;
  // Runs the synchronized-output time-out; the host provides it (none: no time-out).
  WorkScheduler* scheduler = nullptr;
  EscapeSequenceParser parser;

  bool synchronizedOutputActive = false;
  bool applicationKeypad = false;
  bool applicationCursor = false;
  bool sendFocus = false;
  bool cursorHidden = false;
  bool originMode = false;
  bool marginMode = false;
  bool insertMode = false;
  bool wraparound = false;
  bool bracketedPasteMode = false;
  bool reverseWraparound = false;
  bool cursorBlink = false;
  bool allow80To132 = false;  // the column switch waits for the program to allow it: see setup
  bool userScrolling = false;
  bool lineFeedMode = false;
  bool smoothScroll = false;
  bool mouseShiftCapture = false;
  bool reportedFocusState = true;
  bool silentLog = true;

  std::optional<CharsetMap> charset;  // none: no translation
  std::array<std::optional<CharsetMap>, 4> gCharsets{};
  int gcharset = 0;
  uint8_t gLevel = 0;

  Attribute curAttr = defaultAttribute();
  // The rendition that reverse video (DECSCNM) replaced, given back when it ends.
  std::optional<Attribute> attributeBeforeReverseVideo;

  // Grapheme clusters that need more than one UTF-16 unit, by code from kFirstClusterCode.
  std::unordered_map<std::u32string, int32_t> charToIndexMap;
  std::unordered_map<int32_t, std::u32string> indexToCharMap;
  int32_t lastCharIndex = kFirstClusterCode;

  int refreshStart = std::numeric_limits<int>::max();
  int refreshEnd = -1;
  int scrollInvariantRefreshStart = std::numeric_limits<int>::max();
  int scrollInvariantRefreshEnd = -1;

  std::vector<Color> installedColors;
  std::vector<Color> defaultAnsiColors;
  std::vector<Color> ansiColors;
  Color foregroundColor = Color::defaultForeground;
  Color backgroundColor = Color::defaultBackground;
  std::optional<Color> cursorColor;

  CC cc;
  // Each screen keeps its own keyboard flags and stack; switching screens changes neither.
  KeyboardModeState keyboardModeNormal;
  KeyboardModeState keyboardModeAlt;
  std::optional<std::string> hostCurrentDirectory;
  std::optional<std::string> hostCurrentDocument;
  MouseProtocolEncoding mouseProtocol = MouseProtocolEncoding::x10;
  TerminalConformance conformance = TerminalConformance::vt500;
  ReadingBuffer readingBuffer;
  TitleState titles;
  const std::string& terminalTitle() const { return titles.window; }
  const std::string& iconTitle() const { return titles.icon; }
  bool xtermTitleSetHex() const { return titles.modes.setHex; }
  bool xtermTitleQueryHex() const { return titles.modes.queryHex; }
  bool xtermTitleSetUtf() const { return titles.modes.setUtf; }
  bool xtermTitleQueryUtf() const { return titles.modes.queryUtf; }

  static Attribute defaultAttribute() {
    return Attribute(Attribute::Color::defaultColor, Attribute::Color::defaultColor, CharacterStyle::none);
  }
  // Default foreground on the current background: what erasing and scrolling fill with.
  Attribute eraseAttr() const { return Attribute(Attribute::Color::defaultColor, curAttr.bg, CharacterStyle::none); }

 private:
  // Set while the host is told of a colour change, so a host that sets the colour back on the
  // terminal does not loop (Terminal+Colors.cpp).
  bool settingFgColor = false;
  bool settingBgColor = false;
  bool settingCursorColor = false;
  // The OSC 8 link being printed, from its opening to its closing sequence (Terminal+Hyperlink.cpp).
  std::optional<HyperLink> hyperLinkTracking;
  // The pending synchronized-output time-out (Terminal+Resets.cpp).
  std::shared_ptr<ScheduledWork> synchronizedOutputTimeoutItem;

  // ParserHandler: the fixed dispatch switches (Terminal+Dispatch.cpp). The parser calls the
  // final ones directly on its quick path.
  friend class EscapeSequenceParser;
  void print(std::span<const uint8_t> run) final;
  [[gnu::noinline]] void printOther(std::span<const uint8_t> run);
  // A run the parser found to be all below DEL, or not.
  void printText(std::span<const uint8_t> run, bool belowDel);
  bool printOnCursorRow(std::span<const uint8_t> run, bool belowDel = false);
  bool printCellOnCursorRow(uint8_t code);
  // Where one-column cells printed one at a time go on, while nothing has come from the parser
  // since the last of them but renditions: anything else may move the cursor or the lines, so
  // every other report of the parser, and every feed, forgets it first.
  Buffer::CellRun cellRun;
  void forgetCellRun() { cellRun.left = 0; }
  void printStateReset() final { readingBuffer.putbackCount = 0; }
  void dispatchExecute(uint8_t code) final;
  void dispatchEsc(std::span<const uint8_t> collect, uint8_t code) override;
  void dispatchCsi(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect,
                   std::span<const uint8_t> parsTxt) final;
  void dispatchOtherCsi(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect,
                        std::span<const uint8_t> parsTxt);
  bool routeCsi(uint32_t key, std::span<const int> pars, std::span<const uint8_t> collect);
  static uint32_t routingKey(std::span<const uint8_t> collect, uint8_t code);
  void unhandledCsi(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect);
  void setTitleModes(std::span<const int> pars, bool on);
  void dispatchOsc(int64_t code, std::span<const uint8_t> data) override;
  void dispatchApc(uint8_t command, std::span<const uint8_t> content) override;
  std::unique_ptr<DcsHandler> dispatchDcs(std::span<const uint8_t> collect, uint8_t code,
                                          std::span<const int> pars) override;
  ParsingState parseError(const ParsingState& state) override;
  void dispatchEscWithIntermediate(uint8_t intermediate, uint8_t code);
  void csiFallback(std::span<const int> pars, std::span<const uint8_t> collect, uint8_t code);
  void escFallback(std::span<const uint8_t> collect, uint8_t code);

  // Print path helpers (Terminal+Print.cpp).
  // The cell printed last, as the join of a following combining character needs it: valid only
  // while the same line object still holds what was written (its generation is unchanged).
  struct LastPrinted {
    const Buffer* buffer = nullptr;
    const BufferLine* line = nullptr;
    uint64_t generation = 0;
    int col = 0;
    bool endsWithJoiner = false;  // only a join can leave a cluster ending in U+200D
  };
  void printSlow(std::span<const uint8_t> run);
  size_t printAsciiRun(std::span<const uint8_t> run);
  void printScalar(char32_t scalar);
  void printByte(uint8_t byte);
  void printNewCell(int32_t code, int width);
  const CharData& renditionCell();
  void rememberLastPrinted();
  BufferLine* lastPrintedLine();
  bool lastPrintedEndsWithJoiner();
  bool lastPrintedIsLoneIndicator();
  int32_t lastPrintedBeforeCursor();
  void carryLastPrinted(int32_t code, int newCols, int newRows);
  bool tryJoin(char32_t scalar, int width);
  // Whether the cursor stands at column `col` of `line`.
  bool cursorRightAfter(const BufferLine& line, int col);
  void widenJoinedCell(BufferLine& line, int col, const CharData& cell);
  bool joinRegionalIndicator(char32_t scalar, int width);
  size_t printTextRun(std::span<const uint8_t> run);
  size_t printOnRow(std::span<const uint8_t> run);
  struct TextRun;
  struct RowRun;
  template <typename Run>
  size_t buildTextRun(Run& batch, std::span<const uint8_t> run, size_t cells);
  enum class RunJoin : uint8_t { joined, separate, single };
  template <typename Run>
  bool addToTextRun(Run& batch, char32_t scalar, int width);
  template <typename Run>
  RunJoin joinInTextRun(Run& batch, char32_t scalar);
  void printEachCharacter(std::span<const uint8_t> text);
  bool clusterEndsWithJoiner(int32_t cellCode) const;
  // `code` of one scalar, and of a cell's cluster with one more scalar, without building strings
  // for what was decided before.
  int32_t scalarCode(char32_t scalar);
  int32_t newScalarCode(char32_t scalar);
  inline ClusterCodeCache::Step joinStep(int32_t cellCode, char32_t scalar);
  ClusterCodeCache::Step decideJoinStep(int32_t cellCode, char32_t scalar, bool settled);
  bool isLoneRegionalIndicator(int32_t cellCode) const;
  ClusterCodeCache clusterCodes;
  LastPrinted lastPrinted;
  // The cell template of `curAttr`, packed once per change of rendition rather than per cell.
  Attribute printAttr = defaultAttribute();
  CharData printCell = CharData(0, 1, defaultAttribute());

  bool marginWrapPending() const;
  void settlePendingWrap();
  std::unique_ptr<Buffer> makeBuffer(std::optional<int> scrollback);
  BufferLine& prepareBlankLine(bool isWrapped);
  void scrollWithinMargins(int topRow, int bottomRow);

  // The separator bytes of the CSI being dispatched, read by SGR for sub-parameters.
  std::span<const uint8_t> currentParsTxt;
  MouseMode mouseMode_ = MouseMode::off;
  std::unordered_map<int64_t, std::function<void(std::span<const uint8_t>)>> oscHandlers;
  void closeHyperlink();
  Buffer* hyperlinkBuffer(const HyperLink& link);
  // Where the open link starts in `target` now, as an index of its ring; negative once gone.
  int64_t hyperlinkStartRow(const HyperLink& link, Buffer& target);
  struct LinkStartCarry {
    std::optional<Buffer::TextPlace> place;
    int64_t pastEnd = -1;  // rows past the ring's last line, for a start below it
  };
  LinkStartCarry hyperlinkStartCarry();
  void placeHyperlinkStart(const LinkStartCarry& carry);
  // A full ring has just turned its oldest line into its newest: what held on to that line as the
  // one it knew lets go of it. Runs for every line a full scrollback scrolls: compares pointers.
  void forgetRecycledLine(Buffer& b, const BufferLine* line) {
    b.forgetRecycledPrompt(line);
    if (hyperLinkTracking && hyperLinkTracking->startLineSeen == line) hyperLinkTracking->startLineLeft = true;
  }
  uint64_t nextSweepCost() const;
  // Link detection steps (Text/Terminal+Links.cpp).
  std::optional<uint16_t> payloadCode(Position at, Buffer& in);
  bool isImplicitContinuationRow(int64_t row, int64_t startRow, Buffer& in);
  std::optional<std::pair<int64_t, int64_t>> heuristicImplicitGroup(int64_t around, Buffer& in);
  bool canJoinImplicitRows(int64_t upper, int64_t lower, Buffer& in);
  std::optional<LinkRowEdgeInfo> linkRowEdgeInfo(int64_t row, Buffer& in);
  bool seamContainsImplicitLink(int64_t upper, int64_t lower, int64_t upperLastCol, int64_t lowerFirstCol, Buffer& in);
  std::string implicitLineSegmentText(const BufferLine& line, int64_t startCol, int64_t endCol) const;
  // The hyperlink payload codes this terminal registered, and when its buffers are next swept for
  // those no cell holds any more (Terminal+Hyperlink.cpp).
  struct PayloadCodes {
    std::unordered_map<uint16_t, uint64_t> owned;  // code -> what its payload holds, in bytes
    uint64_t bytesHeld = 0;                        // all of them together
    size_t sweepAtOwned = 1024;                    // sweep once this many codes are held
    // While every code is taken: the work done since the last sweep (bytes fed, and a share for
    // each link), which must pay for the next: what the last cost in cells read, in proportion to
    // the lines the buffers hold now.
    uint64_t credit = 0;
    uint64_t lastSweepCells = 0;
    uint64_t lastSweepLines = 0;
    uint64_t sweeps = 0;
    uint64_t cellsSwept = 0;
  };
  PayloadCodes payloadCodes;
  std::unique_ptr<BufferLine> blankLine;
  Attribute blankLineAttribute = defaultAttribute();
};

}  // namespace vantrelle
