#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Vantrelle/Buffer/BufferLine.h"
#include "Vantrelle/Buffer/CircularBufferLineList.h"
#include "Vantrelle/Buffer/Position.h"
#include "Vantrelle/Buffer/WideHalves.h"

namespace vantrelle {

// A cursor, view or scroll-region coordinate. Programs send arbitrary numbers, and a negative
// one assigned here is ignored rather than trusted, so the field keeps its value.
class NonNegativeInt {
 public:
  constexpr NonNegativeInt(int value = 0) : value(value < 0 ? 0 : value) {}
  constexpr operator int() const { return value; }
  constexpr NonNegativeInt& operator=(int newValue) {
    if (newValue >= 0) value = newValue;
    return *this;
  }
  constexpr NonNegativeInt& operator+=(int delta) { return *this = value + delta; }
  constexpr NonNegativeInt& operator-=(int delta) { return *this = value - delta; }
  constexpr NonNegativeInt& operator++() { return *this += 1; }
  constexpr NonNegativeInt& operator--() { return *this -= 1; }
  constexpr int operator++(int) {
    int old = value;
    *this += 1;
    return old;
  }
  constexpr int operator--(int) {
    int old = value;
    *this -= 1;
    return old;
  }

 private:
  int value;
};

// One screen of the terminal with its scrollback: the line ring, cursor, scroll region, margins,
// tab stops, saved cursor state and the mirrors of the terminal's insert, margin and autowrap
// modes. Rows of `lines` are buffer rows (0 = oldest kept); screen row 0 is buffer row `yBase`.
class Buffer {
 public:
  struct LastBufferStorage {
    int y = 0;
    int x = 0;
    int cols = 0;
    int rows = 0;
    bool operator==(const LastBufferStorage&) const = default;
  };

  // One batch of rows that reflow adds below a group; `start` is the buffer row the first of
  // them has once every earlier insertion is applied.
  struct InsertionSet {
    std::vector<BufferLinePtr> lines;
    int start = 0;
    bool isNull = false;
  };

  Buffer(int cols, int rows, int tabStopWidth, std::optional<int> scrollback = std::nullopt);
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;

  CircularBufferLineList& lines() { return _lines; }
  const CircularBufferLineList& lines() const { return _lines; }
  int cols() const { return _cols; }
  int rows() const { return _rows; }
  std::optional<int> scrollback() const { return scrollback_; }
  int totalLinesTrimmed() const { return linesTop; }
  // A flood drops billions of lines in a long session, so the count wraps around; differences
  // between two readings of it stay right as long as they are taken this way.
  static int linesTrimmedBetween(int earlier, int later) { return int(uint32_t(later) - uint32_t(earlier)); }
  bool isReflowEnabled() const { return hasScrollback; }
  bool hasAnyImages() const { return linesWithImagesCount > 0; }
  // Lines whose image list is present, kept up to date by the ring's callbacks.
  int linesWithImagesCount = 0;
  // Counts the lines that joined the ring already holding images (the saved rows a resize gives
  // back), from a start no other buffer shares: whoever keeps where image cells lie, line by
  // line, has not seen those lines while the count differs from the one it read.
  uint64_t linesJoinedWithImages = nextJoinCountStart();

  // Cursor and view.
  int xDisp = 0;
  NonNegativeInt yDisp = 0;
  int xBase = 0;
  NonNegativeInt x = 0;
  NonNegativeInt y = 0;
  int yBase = 0;
  int linesTop = 0;  // advanced by the terminal's scroll, reset by clear()
  // Lines that have left the top of the ring, whichever way they went (a full ring scrolling on
  // either screen, a reflow or a smaller scrollback dropping the oldest, saved lines erased, the
  // buffer cleared); it never goes back. Once the ring is full every line that scrolls in moves
  // every other one up an index, so a row kept as an index goes stale at once: kept with this
  // count as it was (`lineNumber`), it is found again, or known to be gone.
  uint64_t linesDropped = 0;
  int64_t lineNumber(int64_t index) const { return index + int64_t(linesDropped); }
  // Every way lines leave the top of the ring comes here; the buffer's own absolute row, where it
  // wrote last, moves up with the rest.
  void noteLinesDropped(int count) {
    count = std::max(count, 0);
    linesDropped += uint64_t(count);
    lastBufferStorage.y -= count;
  }
  NonNegativeInt scrollBottom = 0;
  NonNegativeInt scrollTop = 0;
  std::vector<bool> tabStops;

  // The slot written by save-cursor. Until the first save it holds the starting modes, so a
  // restore without a save changes nothing but the position.
  int savedX = 0;
  int savedY = 0;
  bool savedOriginMode = false;
  bool savedMarginMode = false;
  bool savedWraparound = true;
  bool savedReverseWraparound = false;
  Attribute savedAttr = CharData::Null.attribute();
  std::optional<std::map<uint8_t, std::string>> savedCharset;

  int marginLeft = 0;
  int marginRight = 0;
  bool hasScrollback = false;
  // A line editor (a shell at its prompt) owns the cursor's line and redraws it after a resize,
  // counting on its rows being where it drew them: reflow then leaves the cursor's group alone.
  bool cursorLineRedrawn = false;
  // Where a line editor's prompt begins. Editors turn bracketed paste on just before they print
  // the prompt, so the cursor is there then; they know nothing of the text a program left before
  // it on the row, and their redraw after a resize starts from column 0 of the prompt's row.
  void notePromptStart();
  void forgetPromptStart() {
    promptLine.reset();
    promptLineSeen = nullptr;
  }
  // A full ring turns its oldest line into its newest: a prompt noted on it is long gone.
  void forgetRecycledPrompt(const BufferLine* line) {
    if (promptLineSeen == line) forgetPromptStart();
  }
  // Where the last carriage return left the cursor: its buffer row, the lines dropped then and
  // where text was last written. The row's index alone would also match a cursor that came back
  // to it by another way after text was written, as soon as a ring not yet full, whose indexes
  // scrolling leaves alone, let it.
  void noteCarriageReturn() {
    carriageReturnRow = yBase + y;
    carriageReturnDropped = linesDropped;
    carriageReturnStored = lastBufferStorage;
  }
  void forgetCarriageReturn() { carriageReturnRow = -1; }
  bool cursorAfterCarriageReturn() const {
    return x == 0 && carriageReturnRow == yBase + y && carriageReturnDropped == linesDropped &&
           carriageReturnStored == lastBufferStorage;
  }

  // Attribute of the filler and continuation cells that insertCharacter writes: default colours,
  // so a blank left where a wide character lost a half draws as blank, not in inverted colours.
  Attribute curAttr = CharData::Null.attribute();
  // Mirrors of the terminal's modes; the terminal writes them, the buffer only reads them.
  bool insertMode = false;
  bool marginMode = false;
  bool wraparound = false;

  // Scrolls the scroll region up one row, leaving at its bottom a blank row with the given
  // wrapped flag. The terminal installs it right after creating the buffer.
  std::function<void(bool)> scroll;

  // Set once the buffer may hold a wide character: every writer of one sets it (text runs of
  // anything but ASCII set it whatever their widths). Until then no write can cut one in half, so
  // the writers of ASCII text skip looking at the cells beside what they wrote.
  bool mayHoldWideCells = false;
  // Where insertCharacter or insertAsciiRun wrote last, with the size at that moment.
  LastBufferStorage lastBufferStorage;
  // The screen row on which printing left the cursor just past a right margin narrower than the
  // screen, or -1. That column is then the margin's wrap-pending column rather than a cursor
  // placed right of the margin; the terminal ends it with any other operation on the cursor.
  int marginWrapRow = -1;

  BufferLinePtr getBlankLine(const Attribute& attribute, bool isWrapped = false);
  CharData getNullCell(std::optional<Attribute> attribute = std::nullopt) const;
  int getCorrectBufferLength(int rows) const;
  // The cell at a screen position of the view, or at a buffer position; columns outside the
  // line give CharData.Null.
  CharData getChar(Position at);
  CharData getCharAtBufferRelative(Position at);

  void clear();
  void softReset();
  void fillViewportRows(std::optional<Attribute> attribute = std::nullopt);
  void changeHistorySize(std::optional<int> newScrollback);

  void setupTabStops(int index = -1, int tabStopWidth = 8);
  int previousTabStop(int index = -1) const;
  int nextTabStop(bool marginMode, int index = -1) const;
  void tabSet(int pos);
  void tabClear(int pos);

  void clearImagesFromLine(int at);
  void recalculateLinesWithImagesCount();

  // The screen's top row has just scrolled into the scrollback. It keeps its text in a run of the
  // ring's runs, as the lines there do, once that is worth its pass over the row's cells: a ring
  // whose whole scrollback fits the budget below keeps the rows of a flood whole until the host
  // says the output rests, and those it recycles meanwhile are never packed; a larger ring packs
  // each row now, as its rows outlive the flood anyway.
  void noteScrolledOff() {
    if (compactEachScrolledRow) {
      compactRowAboveScreen();
    } else {
      // A full ring recycles its oldest row for the new one: a row it dropped waits no longer.
      rowsAwaitingCompaction = std::min(rowsAwaitingCompaction + 1, yBase);
    }
  }
  // The output rests: the rows that scrolled off whole go into runs.
  void compactScrolledRows();
  // The cells of rows a flood leaves whole in the scrollback, at most.
  static constexpr size_t wholeRowsBudgetBytes = size_t(2) << 20;

  // Takes the cell by value, in registers: callers build it just before, and a cell written
  // field by field in memory and then copied whole stalls the copy on store forwarding.
  void insertCharacter(CharData charData);
  // Writes a run of bytes below 0x80 as one-column cells; returns how many were consumed.
  int insertAsciiRun(std::span<const uint8_t> bytes, const Attribute& attribute);
  // The same with the rendition already packed into a cell, whose code and width are ignored.
  int insertAsciiRun(std::span<const uint8_t> bytes, const CharData& cell);
  // Marks a code of insertTextRun as a two-column character.
  static constexpr int32_t kWideCode = int32_t(1) << 30;
  // Marks a code of insertTextRun as a one-column character that an emoji presentation selector
  // widened: it takes two columns where it lands with room for the second before the last
  // column, and stays one column in the last.
  static constexpr int32_t kWidenedCode = int32_t(1) << 29;
  static constexpr int32_t kRunFormBits = kWideCode | kWidenedCode;
  static constexpr int32_t runCellCode(int32_t runCode) { return runCode & ~kRunFormBits; }
  // Writes cells of the given codes, one-column or marked two-column or widened, as
  // insertCharacter would one at a time outside insert mode (the widened ones as if the selector
  // joined them after); returns how many were consumed.
  int insertTextRun(std::span<const int32_t> codes, const CharData& cell);
  // The cursor's row opened for text written cell by cell as it is decoded, by a writer that
  // never wraps: the cells of the rendition (codes cleared), where the cursor is and where the
  // row ends. Opened only outside insert mode and margins, with autowrap on.
  struct TextRow {
    BufferLine* line = nullptr;
    CharData* cells = nullptr;
    CharData* at = nullptr;
    CharData* limit = nullptr;
    CellWords narrow{}, continuation{};
  };
  bool openTextRow(const CharData& cell, TextRow& row);
  // Takes the cells written up to `row.at`, the last of them beginning at `last`, as a run would.
  void closeTextRow(const TextRow& row, const CharData* last);
  // The continuation of a one-column cell of the rendition `narrow` that an emoji selector widened.
  const CellWords& widenedContinuation(const CellWords& narrow);
  // Where one-column cells go on after one stored at the cursor: its line, the cell after it and
  // the end of the cells the cursor reaches on that row without a wrap. Empty where a cell must
  // look at its neighbours (the buffer may hold wide characters).
  struct CellRun {
    BufferLine* line = nullptr;
    CharData* next = nullptr;
    int left = 0;
  };
  // One one-column cell, given as its words, at the cursor where that takes no wrap, no insert
  // mode and lands inside a line of the ring: the cell and the bookkeeping insertAsciiRun leaves for one
  // byte. Returns the line written, or null having done nothing; `run` gets where cells go on.
  BufferLine* storeCellAtCursor(CellWords words, CellRun& run) {
    const int col = x;
    const int right = marginMode ? marginRight : _cols - 1;
    const int row = yBase + y;
    if (insertMode || col > right || row >= _lines.count()) return nullptr;
    BufferLine& line = *_lines[row];
    if (col >= line.count()) return nullptr;
    CharData* const cells = line.cellsFrom(col);
    std::memcpy(static_cast<void*>(cells + col), &words, sizeof words);
    line.storedBelow(col + 1);
    if (mayHoldWideCells) blankCutWideHalves(line, cells, col, col + 1, words);
    line.touch();
    x = col + 1;
    lastBufferStorage = {row, col, _cols, _rows};
    // Every print decides afresh whether a wrap is pending: one left from an earlier print must
    // not come back when the cursor returns to the margin.
    noteMarginWrap();
    run = mayHoldWideCells ? CellRun{} : CellRun{&line, cells + col + 1, std::min(right, line.count() - 1) - col};
    return &line;
  }
  // The same for the next cell of `run` (with cells left), where nothing has changed since the
  // cell before it was stored but the rendition: the cursor, the modes and the line are as that
  // store left them, so the line need not be found and checked again. Returns the cell's column.
  int storeNextCell(CellRun& run, CellWords words) {
    const int col = x;
    std::memcpy(static_cast<void*>(run.next), &words, sizeof words);
    ++run.next;
    --run.left;
    run.line->storedBelow(col + 1);
    run.line->touch();
    x = col + 1;
    lastBufferStorage.x = col;
    noteMarginWrap();
    return col;
  }
  // One-column cells of the given codes at the cursor, where all of them fit on its row left of
  // the right margin and inside a line of the ring, outside insert mode: the cells and the bookkeeping
  // insertAsciiRun leaves for them, without its set-up for wrapping. Returns the line written,
  // or null having done nothing.
  BufferLine* storeOnCursorRow(std::span<const uint8_t> codes, const CharData& cell) {
    const int col = x;
    const int right = marginMode ? marginRight : _cols - 1;
    if (insertMode || codes.empty() || codes.size() > size_t(_cols)) return nullptr;
    const int last = col + int(codes.size()) - 1;
    const int row = yBase + y;
    if (last > right || row >= _lines.count()) return nullptr;
    BufferLine& line = *_lines[row];
    if (last >= line.count()) return nullptr;
    // The cell's words are read once: the line's cells might alias it for all the compiler knows.
    const CellWords words = cellWordsWithValue(cell, 0, 1);
    auto* cells = reinterpret_cast<unsigned char*>(line.cellsFrom(col) + col);
    size_t i = 0;
#if defined(__SSE2__)
    // Each cell is one 16-byte store of the rendition with the byte in its low bits, four a round.
    // The last four go first, so the rounds leave no tail: a loop or branch on what is left over
    // would mispredict with the length of every run, where a full-screen program's runs are short.
    if (codeAndWidthLeadTheFirstWord() && codes.size() >= 4) {
      const __m128i rendition = _mm_set_epi64x(int64_t(words.high), int64_t(words.low));
      const auto storeFour = [&rendition](unsigned char* to, const uint8_t* from) {
        for (int k = 0; k < 4; ++k)
          _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k * sizeof(CharData)),
                           _mm_or_si128(rendition, _mm_cvtsi32_si128(from[k])));
      };
      const size_t size = codes.size();
      storeFour(cells + (size - 4) * sizeof(CharData), codes.data() + size - 4);
      for (; i + 4 <= size; i += 4) storeFour(cells + i * sizeof(CharData), codes.data() + i);
      i = size;
    }
#endif
    for (; i < codes.size(); ++i, cells += sizeof(CharData)) {
      if constexpr (codeAndWidthLeadTheFirstWord()) {
        // The code is the low half of the first word: one OR a cell.
        const uint64_t low = words.low | codes[i];
        std::memcpy(cells, &low, sizeof low);
        std::memcpy(cells + sizeof low, &words.high, sizeof words.high);
      } else {
        const CellWords built = cellWordsWithValue(std::bit_cast<CharData>(words), codes[i], 1);
        std::memcpy(cells, &built, sizeof built);
      }
    }
    line.storedBelow(last + 1);
    if (mayHoldWideCells) blankCutWideHalvesOutOfLine(line, col, last + 1, words);
    line.touch(codes.size());
    x = last + 1;
    lastBufferStorage = {row, last, _cols, _rows};
    noteMarginWrap();
    return &line;
  }

  void resize(int newCols, int newRows);

  // A place in the text of a line, which a reflow keeps whatever rows it lays the line out on:
  // the first row of the wrapped line, whose line a reflow keeps, and the cells of the line's text
  // before the place, as its rows lay it out at the width the place was taken at.
  struct TextPlace {
    std::weak_ptr<BufferLine> first;
    int64_t offset = 0;
  };
  // The place of a column of a buffer row; none for a row the ring does not hold.
  std::optional<TextPlace> textPlace(int64_t row, int64_t col);
  // Where the places lie now, as positions of buffer rows; none for one whose line the ring no
  // longer holds. One pass over the ring finds them all.
  std::vector<std::optional<Position>> findTextPlaces(const std::vector<std::optional<TextPlace>>& places);

  // A full-screen program that runs on this screen (less -X, top) redraws the whole screen after
  // a resize, from its first row. The rows the resize moved from the screen's top into the
  // scrollback are then a stale copy of what it showed, left there on every resize. The terminal
  // brackets its resizes with these.
  void beginScreenResize();
  void endScreenResize();
  bool mayHoldScreenLeftByResize() const { return resizedScreen.phase != ResizedScreen::Phase::none; }
  // What the program does after the resizes, told while a copy may be pending. The cursor homed
  // before anything was written, scrolled or edited starts watching for a redraw; the copy goes
  // only once the program has redrawn every row of the screen from its top down (top), or erased
  // all of it and written it again (less), in one pass, and put the rows' text back on the
  // screen. Whatever else it does (a status line written in a corner, a prompt's top bar, a
  // scroll, a clear followed by other text) keeps the rows. Each says whether rows went or came
  // back.
  // After every absolute cursor move:
  bool cursorPlacedAfterResize();
  // After an erase in line, and before an erase in display (`mode` as ED's parameter):
  bool lineErasedAfterResize();
  bool displayErasingAfterResize(int mode);

 private:
  static uint64_t nextJoinCountStart() {
    static uint64_t buffersMade = 0;
    return ++buffersMade << 32;
  }
  void setupLinesCallbacks(CircularBufferLineList& ring);
  BufferLinePtr makeEmptyLine();
  // Moves the cursor to the start of the next row for a wrap, scrolling when it sits on the
  // bottom of the scroll region.
  void wrapToNextRow();
  // Records, after every print, whether it left the cursor past a right margin short of the
  // screen's edge; the column past the screen's last one says so by itself.
  void noteMarginWrap() { marginWrapRow = marginMode && x == marginRight + 1 && x < _cols ? int(y) : -1; }
  template <typename Code>
  int insertOneColumnRun(std::span<const Code> codes, const CharData& rendition);
  // The cells of a text run's rendition, with their codes cleared.
  struct TextCells {
    CellWords narrow, wide, continuation;
  };
  size_t storeTextOnRow(std::span<const int32_t> codes, int right, const TextCells& cells, int& lastColumn);
  int storeWidenedCell(CharData* destination, int col, int end, int right, const TextCells& cells, int32_t code);
  // The continuation of a cell that an emoji selector widened, for the one-column cell it was
  // made from (code 0).
  CellWords selectorRendition{~uint64_t(0), ~uint64_t(0)};
  CellWords selectorContinuation{};
  // The continuation cell of `curAttr`, packed again only when `curAttr` changes.
  Attribute continuationAttr = CharData::Null.attribute();
  CharData continuationCell = CharData(0, 0, CharData::Null.attribute());

  void compactRowAboveScreen();
  // Chooses, for the ring's size and the width, whether rows wait whole in a flood.
  void chooseScrolledRowCompaction();
  bool compactEachScrolledRow = false;
  // Rows right above the screen that scrolled off and wait whole to go into runs.
  int rowsAwaitingCompaction = 0;

  static void resizeLine(BufferLine& line, int cols);
  void reflowWider(int oldCols, int newCols, int newRows);
  void reflowNarrower(int oldCols, int newCols, int newRows);
  std::vector<int> getLinesToRemove(int oldCols, int newCols, int keptRow, const CharData& nullChar);
  int keptCursorRow() const;  // the row of the cursor when reflow leaves its group alone, else -1
  std::vector<int> getNewLineLengths(const std::vector<BufferLinePtr>& wrappedLines, int oldCols, int newCols);
  static int getWrappedLineTrimmedLength(const std::vector<BufferLinePtr>& lines, int i, int cols);
  void resizeRows(int newCols, int newRows, int& addToY);
  void shrinkCapacity(int capacity);
  int rowsBelowScreenTopNarrowed(int newCols, int newRows);
  static constexpr int64_t kMaxRoomForScreen = int64_t(1) << 24;
  void keepViewportInsideRing(int newRows);
  void rearrange(const std::vector<InsertionSet>& toInsert, int countToInsert);
  void rearrangeWhole(const std::vector<InsertionSet>& toInsert, int countToInsert);
  // The first `rowsAboveScreen` rows of the group go back into runs as they are laid out.
  int joinGroupForward(const std::vector<BufferLinePtr>& group, int oldCols, int newCols, const CharData& nullChar,
                       int rowsAboveScreen);
  // Calls `laidOut` with each row once its text is in place, from the last row up.
  static void copyGroupBackwards(const std::vector<BufferLinePtr>& group, int sourceRows,
                                 const std::vector<int>& lengths, int lastLen, int oldCols, int newCols,
                                 const std::function<void(int)>& laidOut);
  void showAddedRows(int count, int newRows, int countToInsert, int insertedAfter);
  int rowsTrimmed(int add, int addedBefore) const;
  // Blank rows at the bottom that rows added during a narrowing reflow may still take away.
  int rowsStillRemovable(int newRows) const;
  // The first `compactFirst` pieces go back into runs as they are made.
  std::vector<BufferLinePtr> lastPieces(const std::vector<BufferLinePtr>& group, const std::vector<int>& lengths,
                                        int keep, int oldCols, int newCols, int compactFirst);
  void countDroppedRows(int row, int oldCols, int newCols, int newRows, int countToInsert, int insertedAfter,
                        int keptRow, int added);
  // Where the cursor is in the text of its wrapped group, so a reflow can carry it along.
  struct CursorText {
    const BufferLine* first = nullptr;  // the group's first line
    int offset = 0;                     // cells of the group's text before the cursor
    int after = 0;                      // and after it (negative past the text's end)
    // Rows of the group below the cursor's, kept for a cursor a carriage return left at the
    // start of its row: the line feed that follows must still leave the group's text behind.
    int rowsBelow = -1;
  };
  CursorText cursorText(int cursorX, bool afterReturn);
  void placeCursor(const CursorText& text, int newCols, int newRows);
  void keepCursorOn(const BufferLine* line, int newRows);
  void showCursorRow(int absolute, int newRows);
  // Moves the text that lies before the prompt in the cursor's group to a line of its own, so
  // that reflow treats it as any other output and the editor's redraw cannot erase it.
  void detachTextBeforePrompt();
  void insertLineAboveCursor(int row, BufferLinePtr line);

  // How the ring stood when the last resize ended, to tell that nothing came after it, and what
  // the program has redrawn since it homed the cursor.
  struct ResizedScreen {
    // `cleared`: the screen was erased whole after the home, and the program is writing it again.
    enum class Phase : uint8_t { none, resized, redrawing, cleared };
    Phase phase = Phase::none;
    std::weak_ptr<BufferLine> firstLine;  // the screen's first line before the resizes
    std::weak_ptr<BufferLine> top;        // and after the last of them
    int yBase = 0;
    int linesTop = 0;
    int count = 0;
    LastBufferStorage stored;
    uint64_t storedGeneration = 0;
    // While redrawing: each screen row as the home found it (no line once it was erased), and
    // where the copy starts above the screen, or the saved lines a taller screen brought down
    // onto its top, kept as they were since the redraw writes over them.
    struct Row {
      const BufferLine* line;
      uint64_t generation;
    };
    std::vector<Row> rowsAtHome;
    int stepsLeft = 0;  // cursor moves and erases a redraw may take
    int copyStart = -1;
    bool firstRowShownAtHome = false;
    std::vector<BufferLinePtr> savedLines;
  };
  ResizedScreen resizedScreen;
  bool screenUntouchedSinceResize();
  void watchForRedraw();
  int rowsRedrawn();
  bool redrawFinished();
  bool firstRowShownAgain();
  bool clearedScreenRedrawn();
  enum class TextShown : uint8_t { notYet, yes, no };
  TextShown copyTextShown(bool byLine);
  bool dropScreenCopy();
  bool returnSavedLines(const std::vector<BufferLinePtr>& saved);
  uint64_t generationAt(int row);

  std::weak_ptr<BufferLine> promptLine;
  const BufferLine* promptLineSeen = nullptr;  // the same line, compared as it is recycled
  int promptColumn = 0;
  int carriageReturnRow = -1;
  uint64_t carriageReturnDropped = 0;
  LastBufferStorage carriageReturnStored;

  CircularBufferLineList _lines;
  int _cols;
  int _rows;
  std::optional<int> scrollback_;
};

}  // namespace vantrelle
