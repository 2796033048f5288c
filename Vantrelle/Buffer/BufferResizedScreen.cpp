// A resize that moves the screen down over its text (a narrower screen wraps rows above the
// cursor, a shorter one keeps the cursor's row) puts the screen's first rows into the scrollback.
// For a shell's output that is where they belong. A full-screen program on this screen instead
// homes the cursor and redraws all of it, and the rows moved away stay behind as a copy of its
// old screen, one more with every step of a window being dragged. The rows go only when the
// program's first act after the resize is to home the cursor, it then redraws the screen in one
// pass (every row from the top down, or all of it erased and written again), and what it draws
// is the rows' own text again: that alone makes them a copy. A status line or clock written in a
// corner, `tput cup 0 0` followed by text, a prompt that draws a bar on the top row, a clear
// followed by other output: all home the cursor first, none of them puts the rows back, and the
// rows are the shell's history. When in doubt the rows stay: a second copy of a screen is a
// nuisance, a line dropped is lost.
// The other way round, saved lines a taller screen brought down onto its top go back above it
// once the redraw has written over them.
#include <algorithm>

#include "Vantrelle/Buffer/Buffer.h"

namespace vantrelle {

namespace {
// How far above the screen its first line may have gone: a screen narrowed to a tenth of its
// width, in steps, needs as many rows as the search looks at.
constexpr int kSearchLimit = 1 << 16;
// A redraw places the cursor or erases a few times a row; a program that keeps doing so without
// having redrawn the screen is doing something else, and each step looks at every row.
constexpr int kStepsPerRow = 8;
// A monitor's clock and counters move on between two draws of its screen, its words stay: a row
// drawn again keeps at least this many of them, and more than the figures it changed.
constexpr int kWordCells = 4;

bool isBlank(int32_t code) { return code == 0 || code == ' '; }
bool isFigure(int32_t code) { return code >= '0' && code <= '9'; }

// A screen row's text beside a row of the copy, column by column.
struct TextMatch {
  int words = 0;    // columns with the same character, neither blank nor a figure
  int figures = 0;  // columns where a figure took another's place
  int cut = 0;      // columns of the copy's text past the end of the screen row's
  int others = 0;   // columns that differ otherwise
  bool screenBlank = true;
  bool copyBlank = true;
  bool same() const { return others == 0 && figures == 0 && cut == 0; }
  // A monitor cuts its lines where it sees fit, and its words outnumber what changed.
  bool sameButFigures() const { return others == 0 && words >= kWordCells && words > figures + cut; }
};

TextMatch compareText(const BufferLine& screen, const BufferLine& copy, int cols) {
  TextMatch match;
  int screenEnd = std::min(screen.count(), cols);
  while (screenEnd > 0 && isBlank(screen[screenEnd - 1].code)) screenEnd--;
  const int copyEnd = std::min(copy.count(), cols);
  for (int col = 0; col < std::max(screenEnd, copyEnd); col++) {
    const int32_t shown = col < screenEnd ? screen[col].code : 0;
    const int32_t held = col < copyEnd ? copy[col].code : 0;
    const bool shownBlank = isBlank(shown);
    const bool heldBlank = isBlank(held);
    match.screenBlank &= shownBlank;
    match.copyBlank &= heldBlank;
    if (shownBlank && heldBlank) continue;
    if (shown == held) {
      if (!isFigure(shown)) match.words++;
    } else if (isFigure(shown) && isFigure(held)) {
      match.figures++;
    } else if (col >= screenEnd) {
      match.cut++;
    } else {
      match.others++;
    }
  }
  return match;
}
}  // namespace

uint64_t Buffer::generationAt(int row) {
  return row >= 0 && row < _lines.count() ? _lines[row]->generation() : ~uint64_t(0);
}

bool Buffer::screenUntouchedSinceResize() {
  const ResizedScreen& r = resizedScreen;
  if (r.phase == ResizedScreen::Phase::none || yBase != r.yBase || linesTop != r.linesTop || _lines.count() != r.count)
    return false;
  if (yBase < 0 || yBase >= _lines.count() || _lines[yBase] != r.top.lock()) return false;
  // Every print leaves its place here and changes its line.
  return lastBufferStorage == r.stored && generationAt(r.stored.y) == r.storedGeneration;
}

void Buffer::beginScreenResize() {
  ResizedScreen& r = resizedScreen;
  if (!hasScrollback || yBase >= _lines.count()) {
    r = {};
    return;
  }
  // Steps of one drag with no redraw between them move the same screen further.
  if (screenUntouchedSinceResize()) {
    r.phase = ResizedScreen::Phase::resized;
    r.rowsAtHome.clear();
    r.copyStart = -1;
    r.firstRowShownAtHome = false;
    r.savedLines.clear();
    return;
  }
  r = {};
  r.phase = ResizedScreen::Phase::resized;
  r.firstLine = _lines[yBase];
}

void Buffer::endScreenResize() {
  ResizedScreen& r = resizedScreen;
  if (r.phase == ResizedScreen::Phase::none) return;
  if (yBase >= _lines.count()) {
    r = {};
    return;
  }
  r.top = _lines[yBase];
  r.yBase = yBase;
  r.linesTop = linesTop;
  r.count = _lines.count();
  r.stored = lastBufferStorage;
  r.storedGeneration = generationAt(lastBufferStorage.y);
}

bool Buffer::cursorPlacedAfterResize() {
  ResizedScreen& r = resizedScreen;
  if (r.phase == ResizedScreen::Phase::cleared) return clearedScreenRedrawn();
  if (r.phase == ResizedScreen::Phase::redrawing) {
    const int redrawn = rowsRedrawn();
    // A redraw places the cursor on rows it has drawn or on the next one, never further down.
    if (redrawn < 0 || y > redrawn) {
      r = {};
      return false;
    }
    return redrawn == _rows && redrawFinished();
  }
  if ((x | y) != 0) return false;
  if (!screenUntouchedSinceResize()) {
    r = {};
    return false;
  }
  watchForRedraw();
  return false;
}

bool Buffer::lineErasedAfterResize() {
  ResizedScreen& r = resizedScreen;
  if (r.phase == ResizedScreen::Phase::cleared) return clearedScreenRedrawn();
  if (r.phase != ResizedScreen::Phase::redrawing) return false;
  // An erase that leaves the row's cells as they were still redraws it.
  if (size_t(y) < r.rowsAtHome.size()) r.rowsAtHome[size_t(y)].line = nullptr;
  // Erasing a row to its end parts the next one from it, which the redraw has not drawn yet.
  if (size_t(y) + 1 < r.rowsAtHome.size() && yBase + y + 1 < _lines.count()) {
    ResizedScreen::Row& next = r.rowsAtHome[size_t(y) + 1];
    const BufferLine& line = *_lines[yBase + y + 1];
    if (next.line == &line) next.generation = line.generation();
  }
  const int redrawn = rowsRedrawn();
  if (redrawn < 0) {
    r = {};
    return false;
  }
  return redrawn == _rows && redrawFinished();
}

bool Buffer::displayErasingAfterResize(int mode) {
  ResizedScreen& r = resizedScreen;
  if (r.phase == ResizedScreen::Phase::cleared) return clearedScreenRedrawn();
  if (r.phase != ResizedScreen::Phase::redrawing) return false;
  const int redrawn = rowsRedrawn();
  // The whole screen erased at once right after the home (less), or the rest of it erased after
  // the rows drawn so far (a list shorter than the screen); erasing what the program has just
  // drawn is no redraw, nor is erasing only part of the screen.
  const bool whole = redrawn == 0 && (mode == 2 || (mode == 0 && (x | y) == 0));
  const bool rest = redrawn > 0 && mode == 0 && (x == 0 ? y == redrawn : y + 1 == redrawn);
  if (!whole && !rest) {
    r = {};
    return false;
  }
  // The saved lines go back whatever comes next: the erase would take them with it.
  if (rest || !r.savedLines.empty()) return redrawFinished();
  // Nothing is drawn yet: whether the rows are a copy shows in what the program writes next.
  r.phase = ResizedScreen::Phase::cleared;
  return false;
}

// Keeps the screen's rows as the home found them, and what the redraw would replace.
void Buffer::watchForRedraw() {
  ResizedScreen& r = resizedScreen;
  const BufferLinePtr firstLine = r.firstLine.lock();
  r.phase = ResizedScreen::Phase::none;
  if (!firstLine || yBase + _rows > _lines.count()) return;
  // A taller screen: the first line before the resizes now stands below saved lines.
  int row = 1;
  while (row < _rows && _lines[yBase + row] != firstLine) row++;
  if (row < _rows) {
    r.savedLines.reserve(size_t(row));
    for (int i = 0; i < row; i++) r.savedLines.push_back(std::make_shared<BufferLine>(*_lines[yBase + i]));
  } else {
    int first = yBase - 1;
    const int lowest = std::max(yBase - kSearchLimit, 0);
    while (first >= lowest && _lines[first] != firstLine) first--;
    if (first < lowest) return;
    r.copyStart = first;
    // A top row that already reads as the copy's first says nothing when it is drawn again.
    r.firstRowShownAtHome = firstRowShownAgain();
  }
  r.stepsLeft = kStepsPerRow * _rows + kStepsPerRow;
  r.rowsAtHome.reserve(size_t(_rows));
  for (int i = 0; i < _rows; i++) {
    const BufferLine& line = *_lines[yBase + i];
    r.rowsAtHome.push_back({&line, line.generation()});
  }
  r.phase = ResizedScreen::Phase::redrawing;
}

// The rows the program has written or erased since the home, when they are the screen's first
// ones with none below them untouched: -1 when what it did is no redraw from the top down, or the
// screen has moved in the ring.
int Buffer::rowsRedrawn() {
  ResizedScreen& r = resizedScreen;
  if (--r.stepsLeft < 0 || yBase != r.yBase || linesTop != r.linesTop || _lines.count() != r.count ||
      r.rowsAtHome.size() != size_t(_rows))
    return -1;
  auto changed = [&](int row) {
    const ResizedScreen::Row& was = r.rowsAtHome[size_t(row)];
    const BufferLine& line = *_lines[yBase + row];
    return was.line != &line || was.generation != line.generation();
  };
  int redrawn = 0;
  while (redrawn < _rows && changed(redrawn)) redrawn++;
  for (int row = redrawn + 1; row < _rows; row++)
    if (changed(row)) return -1;
  return redrawn;
}

// After a redraw of every row, or of the rows above an erase of the rest: saved lines a taller
// screen brought down go back above it, and the rows a resize moved up go when the redraw put the
// first of them back on the top row.
bool Buffer::redrawFinished() {
  ResizedScreen& r = resizedScreen;
  if (!r.savedLines.empty() || (!r.firstRowShownAtHome && firstRowShownAgain())) return dropScreenCopy();
  r = {};
  return false;
}

// A full-screen program draws its top row again as it was, figures aside (top's clock). One row is
// all a one-row screen has, and a clock or a prompt's bar touches all of it: no sign of a redraw.
bool Buffer::firstRowShownAgain() {
  const ResizedScreen& r = resizedScreen;
  if (_rows < 2 || r.copyStart < 0 || r.copyStart >= yBase || yBase >= _lines.count()) return false;
  return compareText(*_lines[yBase], *_lines[r.copyStart], _cols).sameButFigures();
}

// After the screen was erased whole: the copy goes once the program has written its text back from
// the top down, row for row (less) or a row for each of its lines (a pager that cuts lines),
// on every row but the last (a pager's prompt). Other text, or too little of it to tell, keeps it;
// rows not yet written leave the question open.
bool Buffer::clearedScreenRedrawn() {
  ResizedScreen& r = resizedScreen;
  if (--r.stepsLeft < 0 || yBase != r.yBase || linesTop != r.linesTop || _lines.count() != r.count) {
    r = {};
    return false;
  }
  const TextShown byRow = copyTextShown(false);
  const TextShown byLine = byRow == TextShown::yes ? byRow : copyTextShown(true);
  if (byRow == TextShown::yes || byLine == TextShown::yes) return dropScreenCopy();
  if (byRow == TextShown::notYet || byLine == TextShown::notYet) return false;
  r = {};
  return false;
}

Buffer::TextShown Buffer::copyTextShown(bool byLine) {
  const ResizedScreen& r = resizedScreen;
  const BufferLinePtr firstLine = r.firstLine.lock();
  if (!firstLine || r.copyStart < 0 || r.copyStart >= yBase || _lines[r.copyStart] != firstLine) return TextShown::no;
  const int compared = _rows - 1;
  int row = 0;
  int matched = 0;
  int at = r.copyStart;
  for (; row < compared && at < yBase; row++) {
    const TextMatch match = compareText(*_lines[yBase + row], *_lines[at], _cols);
    if (match.screenBlank && !match.copyBlank) return TextShown::notYet;
    if (!match.same()) return TextShown::no;
    if (!match.copyBlank) matched++;
    at++;
    while (byLine && at < yBase && _lines[at]->isWrapped()) at++;
  }
  // Two rows of text make a redraw; the whole copy put back is one too, however short.
  const bool wholeCopy = at == yBase;
  return matched >= 2 || (wholeCopy && matched >= 1) ? TextShown::yes : TextShown::no;
}

bool Buffer::dropScreenCopy() {
  ResizedScreen r = std::move(resizedScreen);
  resizedScreen = {};
  if (!r.savedLines.empty()) return returnSavedLines(r.savedLines);
  const BufferLinePtr firstLine = r.firstLine.lock();
  const int first = r.copyStart;
  if (!firstLine || first < 0 || first >= yBase || _lines[first] != firstLine) return false;
  const int moved = yBase - first;
  _lines.splice(first, moved, {});
  // The screen's first row followed the rows dropped, not the row now above it.
  if (_lines[first]->isWrapped()) _lines[first]->setWrapped(false);
  yBase = first;
  yDisp = yDisp >= first + moved ? yDisp - moved : std::min<int>(yDisp, first);
  if (hasAnyImages()) recalculateLinesWithImagesCount();
  return true;
}

// Puts the saved lines back above the redrawn screen, as they were before the redraw wrote over
// them; a full ring gives its oldest lines for them, never a row of the screen.
bool Buffer::returnSavedLines(const std::vector<BufferLinePtr>& saved) {
  const bool following = yDisp == yBase;
  int start = yBase;
  int dropped = 0;
  int returned = 0;
  for (const BufferLinePtr& line : saved) {
    if (_lines.isFull()) {
      if (start == 0) break;
      start--;
      dropped++;
    }
    _lines.push(line);
    _lines.rotate(start + returned, _lines.count() - 1, false);
    returned++;
  }
  if (returned == 0) return false;
  yBase = start + returned;
  linesTop = int(uint32_t(linesTop) + uint32_t(dropped));
  noteLinesDropped(dropped);
  yDisp = following ? yBase : std::max(yDisp - dropped, 0);
  if (hasAnyImages()) recalculateLinesWithImagesCount();
  return true;
}

}  // namespace vantrelle
