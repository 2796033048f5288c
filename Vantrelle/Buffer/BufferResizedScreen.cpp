// A resize that moves the screen down over its text (a narrower screen wraps rows above the
// cursor, a shorter one keeps the cursor's row) puts the screen's first rows into the scrollback.
// For a shell's output that is where they belong. A full-screen program on this screen instead
// homes the cursor and redraws all of it, and the rows moved away stay behind as a copy of its
// old screen, one more with every step of a window being dragged. The redraw comes before
// anything else the program writes, while a shell redraws its prompt first: the rows go only then.
// The other way round, saved lines a resize brought onto the screen go back before the redraw.
#include <algorithm>

#include "Vantrelle/Buffer/Buffer.h"

namespace vantrelle {

namespace {
// How far above the screen its first line may have gone: a screen narrowed to a tenth of its
// width, in steps, needs as many rows as the search looks at.
constexpr int kSearchLimit = 1 << 16;
}  // namespace

uint64_t Buffer::generationAt(int row) {
  return row >= 0 && row < _lines.count() ? _lines[row]->generation() : ~uint64_t(0);
}

bool Buffer::screenUntouchedSinceResize() {
  const ResizedScreen& r = resizedScreen;
  if (!r.pending || yBase != r.yBase || linesTop != r.linesTop || _lines.count() != r.count) return false;
  if (yBase < 0 || yBase >= _lines.count() || _lines[yBase] != r.top.lock()) return false;
  // Every print leaves its place here and changes its line.
  return lastBufferStorage == r.stored && generationAt(r.stored.y) == r.storedGeneration;
}

void Buffer::beginScreenResize() {
  if (!hasScrollback || yBase >= _lines.count()) {
    resizedScreen = {};
    return;
  }
  // Steps of one drag with no redraw between them move the same screen further.
  if (screenUntouchedSinceResize()) return;
  resizedScreen = {};
  resizedScreen.pending = true;
  resizedScreen.firstLine = _lines[yBase];
}

void Buffer::endScreenResize() {
  ResizedScreen& r = resizedScreen;
  if (!r.pending) return;
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

bool Buffer::cursorHomedAfterResize() {
  if ((x | y) != 0) return false;
  const bool untouched = screenUntouchedSinceResize();
  const BufferLinePtr firstLine = resizedScreen.firstLine.lock();
  resizedScreen = {};
  if (!untouched || !firstLine) return false;
  if (returnRowsToScrollback(firstLine)) return true;
  int first = yBase - 1;
  const int lowest = std::max(yBase - kSearchLimit, 0);
  while (first >= lowest && _lines[first] != firstLine) first--;
  if (first < lowest) return false;
  const int moved = yBase - first;
  _lines.splice(first, moved, {});
  // The screen's first row followed the rows dropped, not the row now above it.
  if (_lines[first]->isWrapped()) _lines[first]->setWrapped(false);
  yBase = first;
  yDisp = yDisp >= first + moved ? yDisp - moved : std::min<int>(yDisp, first);
  if (hasAnyImages()) recalculateLinesWithImagesCount();
  return true;
}

// A wider or taller screen brings saved lines down onto its top, where the redraw would erase
// them for good: they go back above the screen, which gets blank rows at its bottom instead.
bool Buffer::returnRowsToScrollback(const BufferLinePtr& firstLine) {
  const int end = yBase + _rows;
  // Rows below the screen would come before the blank ones.
  if (end != _lines.count()) return false;
  int row = yBase + 1;
  while (row < end && _lines[row] != firstLine) row++;
  if (row == end) return false;
  const int returned = row - yBase;
  const bool following = yDisp == yBase;
  int dropped = 0;
  for (int i = 0; i < returned; i++) {
    if (_lines.isFull()) dropped++;
    _lines.push(_lines.makeLine(_cols, CharData::Null));
  }
  yBase = row - dropped;
  linesTop = int(uint32_t(linesTop) + uint32_t(dropped));
  yDisp = following ? yBase : std::max(yDisp - dropped, 0);
  if (hasAnyImages()) recalculateLinesWithImagesCount();
  return true;
}

}  // namespace vantrelle
