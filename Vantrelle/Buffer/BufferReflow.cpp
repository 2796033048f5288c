// Reflow keeps soft-wrapped text readable across width changes: groups of rows joined by wrap
// flags are re-laid in place with cell copies, rows that empty out are removed in one layout
// pass, and rows that a narrower screen needs are inserted in one bottom-up pass. The cursor's
// group is re-laid like any other, and the cursor goes with the character it was on, unless a
// line editor owns it: the editor redraws it after the resize, counting on its rows being where
// it drew them, so then the group stays as it is.
#include <algorithm>
#include <limits>
#include <unordered_map>

#include "Vantrelle/Buffer/Buffer.h"

namespace vantrelle {

namespace {

// A row's last cell left empty because the wide character after it did not fit.
bool isWideGap(const BufferLine& line, const BufferLine& next, int cols) {
  const CharData& last = line[cols - 1];
  return last.code == 0 && last.width == 1 && last.hasDefaultAttribute() && next.count() > 0 && next[0].width == 2;
}

// The first old row that the sets' lines go after (sets are listed from the bottom up).
int firstInsertion(const std::vector<Buffer::InsertionSet>& toInsert) {
  return toInsert.empty() ? std::numeric_limits<int>::max() : toInsert.front().start;
}

std::vector<BufferLinePtr> gatherGroupDown(CircularBufferLineList& lines, int y) {
  std::vector<BufferLinePtr> group{lines[y]};
  for (int i = y + 1; i < lines.count() && lines[i]->isWrapped(); i++) group.push_back(lines[i]);
  return group;
}

}  // namespace

int Buffer::getWrappedLineTrimmedLength(const std::vector<BufferLinePtr>& lines, int i, int cols) {
  if (i < 0 || i >= int(lines.size())) return 0;
  if (i == int(lines.size()) - 1) return lines[size_t(i)]->getTrimmedLength();
  return isWideGap(*lines[size_t(i)], *lines[size_t(i) + 1], cols) ? cols - 1 : cols;
}

// Pulls the text of every row of a group forward to fill the wider rows, and returns the last
// row that still holds text. Rows in the scrollback keep their text as the lines that scrolled
// there do, each as soon as it is laid out: a line joined over thousands of rows then takes the
// block for one row at a time, not one for each.
int Buffer::joinGroupForward(const std::vector<BufferLinePtr>& group, int oldCols, int newCols,
                             const CharData& nullChar, int rowsAboveScreen) {
  int size = int(group.size());
  int laidOut = 0;
  auto finish = [&](int end) {
    for (; laidOut < std::min(end, rowsAboveScreen); laidOut++) _lines.compact(*group[size_t(laidOut)]);
  };
  int destRow = 0;
  int destCol = getWrappedLineTrimmedLength(group, 0, oldCols);
  int srcRow = 1;
  int srcCol = 0;
  // The cells still to copy: a row that takes text first gets a block for what it will hold, as
  // a line made wider has cells only for what it held before.
  int remaining = 0;
  for (int i = 1; i < size; i++) remaining += getWrappedLineTrimmedLength(group, i, oldCols);
  while (srcRow < size) {
    int srcLen = getWrappedLineTrimmedLength(group, srcRow, oldCols);
    int n = std::max(std::min(srcLen - srcCol, newCols - destCol), 0);
    if (destRow < size) {
      group[size_t(destRow)]->reserve(std::min(newCols, destCol + remaining));
      group[size_t(destRow)]->copyFrom(*group[size_t(srcRow)], srcCol, destCol, n);
    }
    remaining -= n;
    destCol += n;
    if (destCol == newCols) {
      destRow++;
      destCol = 0;
    }
    srcCol += n;
    if (srcCol >= srcLen) {
      // A row read to its end that takes no text yet holds none worth keeping: its cells go now,
      // not with the emptied rows at the end, where they kept the slabs of their runs from
      // going back while the joined rows took runs of their own.
      if (srcRow > destRow) group[size_t(srcRow)]->dropCells();
      srcRow++;
      srcCol = 0;
    }
    // A wide character may not end a row with its second half on the next one: move it whole.
    if (destCol == 0 && destRow != 0 && destRow < size && (*group[size_t(destRow) - 1])[newCols - 1].width == 2) {
      group[size_t(destRow)]->reserve(std::min(newCols, 1 + remaining));
      group[size_t(destRow)]->copyFrom(*group[size_t(destRow) - 1], newCols - 1, 0, 1);
      destCol = 1;
      group[size_t(destRow) - 1]->set(newCols - 1, nullChar);
    }
    finish(destRow);
  }
  if (destRow < size) {
    // An erase to the end: a line whose blank it is only stops counting those cells as
    // written, rather than storing a blank in every column of a wide row.
    BufferLine& last = *group[size_t(destRow)];
    last.fill(nullChar, destCol, std::min(newCols, last.count()) - destCol);
  }
  finish(destRow + 1);
  return destRow;
}

// Also gives every line the new width, before any text moves into it.
std::vector<int> Buffer::getLinesToRemove(int oldCols, int newCols, int keptRow, const CharData& nullChar) {
  std::vector<int> toRemove;
  const int count = _lines.count();
  int row = 0;
  while (row < count) {
    resizeLine(*_lines[row], newCols);
    if (row == count - 1 || !_lines[row + 1]->isWrapped()) {
      row++;
      continue;
    }
    std::vector<BufferLinePtr> group = gatherGroupDown(_lines, row);
    for (size_t i = 1; i < group.size(); i++) resizeLine(*group[i], newCols);
    int size = int(group.size());
    int end = row + size;
    if (row <= keptRow && keptRow < end) {
      row = end;
      continue;
    }
    int destRow = joinGroupForward(group, oldCols, newCols, nullChar, std::clamp(yBase - row, 0, size));
    int emptied = 0;
    for (int i = size - 1; i > 0; i--) {
      if (i > destRow || group[size_t(i)]->getTrimmedLength() == 0) {
        emptied++;
      } else {
        break;
      }
    }
    if (emptied > 0) {
      toRemove.push_back(row + size - emptied);
      toRemove.push_back(emptied);
    }
    row = end;
  }
  return toRemove;
}

void Buffer::reflowWider(int oldCols, int newCols, int newRows) {
  std::vector<int> toRemove = getLinesToRemove(oldCols, newCols, keptCursorRow(), CharData::Null);
  if (toRemove.empty()) return;

  // Rows above the first removal keep their places; the rest move up over the removed ones.
  size_t pair = 0;
  int countRemoved = 0;
  int kept = toRemove[0];
  for (int row = kept; row < _lines.count(); row++) {
    if (pair < toRemove.size() && row == toRemove[pair]) {
      int skip = toRemove[pair + 1];
      countRemoved += skip;
      row += skip - 1;
      pair += 2;
      continue;
    }
    _lines.store(kept++, std::move(_lines[row]));
  }
  _lines.setCount(kept);

  for (int i = 0; i < countRemoved; i++) {
    if (yBase == 0) {
      if (y > 0) y -= 1;
      if (_lines.count() < newRows) _lines.push(_lines.makeLine(newCols, CharData::Null));
    } else {
      if (yDisp == yBase) yDisp -= 1;
      yBase -= 1;
    }
  }
  savedY = std::max(savedY - countRemoved, 0);
}

std::vector<int> Buffer::getNewLineLengths(const std::vector<BufferLinePtr>& wrappedLines, int oldCols, int newCols) {
  int size = int(wrappedLines.size());
  // Each row's length once: the last one's is a pass over its cells, and a narrow width asks
  // for it once a piece.
  std::vector<int> rowLengths(static_cast<size_t>(size));
  int needed = 0;
  for (int i = 0; i < size; i++)
    needed += rowLengths[size_t(i)] = getWrappedLineTrimmedLength(wrappedLines, i, oldCols);
  std::vector<int> lengths;
  int srcRow = 0;
  int srcCol = 0;
  int available = 0;
  while (available < needed) {
    if (needed - available < newCols) {
      lengths.push_back(needed - available);
      break;
    }
    srcCol += newCols;
    int rowLength = srcRow < size ? rowLengths[size_t(srcRow)] : 0;
    if (srcCol > rowLength) {
      srcCol -= rowLength;
      srcRow++;
    }
    int length = newCols;
    // A row one cell shorter keeps a wide character from being split; one-column rows cannot.
    if (srcRow < size && newCols > 1 && srcCol >= 1 && (*wrappedLines[size_t(srcRow)])[srcCol - 1].width == 2) {
      srcCol--;
      length = newCols - 1;
    }
    lengths.push_back(length);
    available += length;
  }
  return lengths;
}

// Lays a group's text out over the narrower row lengths, walking from the end so no cell is
// overwritten before it has moved. `group` holds its `sourceRows` rows followed by the blank rows
// added for it.
void Buffer::copyGroupBackwards(const std::vector<BufferLinePtr>& group, int sourceRows,
                                const std::vector<int>& lengths, int lastLen, int oldCols, int newCols,
                                const std::function<void(int)>& laidOut) {
  // A row is laid out once the walk has passed its start. Its own text as a source lies no
  // earlier in the group's text than its place in the narrower layout, so the walk has read all
  // of it by then as well.
  int pending = int(std::min(group.size(), lengths.size()));
  auto layOutFrom = [&](int first) {
    for (; pending > std::max(first, 0); pending--) {
      const size_t i = size_t(pending) - 1;
      group[i]->blankFrom(lengths[i]);
      // Rows cut short for a wide character keep a gap where it would have started; one that
      // reads the gap already is not written, which would give a compact row full cells.
      if (lengths[i] < newCols && !((*group[i])[lengths[i]] == CharData::Null))
        group[i]->set(lengths[i], CharData::Null);
      laidOut(int(i));
    }
  };
  int destRow = int(lengths.size()) - 1;
  int destCol = lengths[size_t(destRow)];
  if (destCol == 0) {
    destRow--;
    destCol = destRow >= 0 ? lengths[size_t(destRow)] : 0;
  }
  int srcRow = sourceRows - 1;
  int srcCol = lastLen;
  while (srcRow >= 0 && destRow >= 0) {
    int n = std::min(srcCol, destCol);
    srcCol -= n;
    destCol -= n;
    // A compact row gets a block for the text it takes, not for the width. What it held past
    // that text lies later in the group's text than the walk, which has moved it already.
    group[size_t(destRow)]->reserve(lengths[size_t(destRow)], true);
    group[size_t(destRow)]->copyFrom(*group[size_t(srcRow)], srcCol, destCol, n);
    if (destCol == 0) {
      destRow--;
      destCol = destRow >= 0 ? lengths[size_t(destRow)] : 0;
      layOutFrom(destRow + 1);
    }
    if (srcCol == 0) {
      srcRow--;
      srcCol = getWrappedLineTrimmedLength(group, std::max(srcRow, 0), oldCols);
    }
  }
  layOutFrom(0);
}

// Keeps the cursor's text on screen as rows are added above it: on a screen that is not yet
// full the cursor moves down and the blank bottom line goes; otherwise, or when the bottom line
// holds text, the screen moves down. `insertedAfter` is the first row that rows added so far go
// after: a line there or above is not the bottom of the ring once they are in, however blank
// it reads, and removing it would join the added rows to the line above it.
void Buffer::showAddedRows(int count, int newRows, int countToInsert, int insertedAfter) {
  const int capacity = _lines.maxLength();
  for (int i = 0; i < count; i++) {
    if (yBase == 0) {
      const int last = _lines.count() - 1;
      const BufferLine& bottom = *_lines[last];
      if (y < newRows - 1 && last >= insertedAfter && !bottom.isWrapped() && bottom.getTrimmedLength() == 0) {
        y += 1;
        _lines.setCount(_lines.count() - 1);
      } else {
        yBase += 1;
        yDisp += 1;
      }
    } else if (yBase < std::min(capacity, _lines.count() + countToInsert) - newRows) {
      if (yBase == yDisp) yDisp += 1;
      yBase += 1;
    }
  }
}

void Buffer::reflowNarrower(int oldCols, int newCols, int newRows) {
  std::vector<InsertionSet> toInsert;
  int countToInsert = 0;
  const Attribute nullAttribute = CharData::Null.attribute();
  const int capacity = _lines.maxLength();
  // Lines are cut to the new width as the walk leaves them, except those of the group that ends
  // the ring: the rows added above the cursor look at the ring's last line as it was.
  std::vector<BufferLinePtr> cutLast;
  const int lastRow = _lines.count() - 1;
  auto cut = [&](const std::vector<BufferLinePtr>& lines, int first) {
    if (first + int(lines.size()) > lastRow) {
      cutLast.insert(cutLast.end(), lines.begin(), lines.end());
    } else {
      for (const BufferLinePtr& line : lines) resizeLine(*line, newCols);
    }
  };
  // The walk moves the screen and the cursor for the rows it adds, but the rows it has yet to
  // reach keep their places until the insertions are made: the cursor's group is the one that
  // held it when the walk began.
  const int keptRow = keptCursorRow();
  // Rows the groups walked so far add, those the ring will not keep included.
  int added = 0;
  int row = lastRow;
  while (row >= 0) {
    // Once the rows below make up a full ring, this row and all above it fall off the top: they
    // are counted, for the screen's place, but not built. Blank rows the screen may still take
    // off the bottom are not counted among those below.
    if (_lines.count() - 1 - row + countToInsert >= capacity + rowsStillRemovable(newRows)) {
      countDroppedRows(row, oldCols, newCols, newRows, countToInsert, firstInsertion(toInsert), keptRow, added);
      break;
    }
    BufferLine& line = *_lines[row];
    if (!line.isWrapped() && line.getTrimmedLength() <= newCols) {
      if (row < lastRow) resizeLine(line, newCols);
      if (row == lastRow) cutLast.push_back(_lines[row]);
      row--;
      continue;
    }
    // The group's first row is found before any line is gathered, so a line wrapped over the
    // whole ring is gathered in one pass rather than one insertion at the front per row.
    const int groupEnd = row;
    while (_lines[row]->isWrapped() && row > 0) row--;
    std::vector<BufferLinePtr> group;
    group.reserve(size_t(groupEnd - row + 1));
    for (int i = row; i <= groupEnd; i++) group.push_back(_lines[i]);
    int size = int(group.size());
    if (row <= keptRow && keptRow < row + size) {
      cut(group, row);
      row--;
      continue;
    }
    int lastLen = group.back()->getTrimmedLength();
    std::vector<int> lengths = getNewLineLengths(group, oldCols, newCols);
    int add = int(lengths.size()) - size;
    // A layout with fewer rows than the group (every row ending in a wide-character gap, the
    // last one empty) would start copying past the group: leave such a group as it is.
    if (lengths.empty() || add < 0) {
      cut(group, row);
      row--;
      continue;
    }
    const int trimmed = rowsTrimmed(add, added);
    added += add;
    const int rowsBelow = _lines.count() - row - size + countToInsert;
    // When the pieces that fall off the top take in every row of the group, only those the ring
    // keeps are built, as new lines after the group's own rows, which then go with the rows above:
    // one line of a long wrapped text narrowed to a sliver would otherwise make far more pieces
    // than the ring holds.
    const int room = capacity + rowsStillRemovable(newRows) - (_lines.count() - row - size) - countToInsert;
    if (int(lengths.size()) - room >= size) {
      InsertionSet set;
      set.lines = lastPieces(group, lengths, room, oldCols, newCols, room - std::max(newRows - rowsBelow, 0));
      set.start = row + size + countToInsert;
      countToInsert += room;
      toInsert.push_back(std::move(set));
      showAddedRows(add - trimmed, newRows, countToInsert, firstInsertion(toInsert));
      savedY = std::min(savedY + add, yBase + newRows - 1);
      row--;
      continue;
    }

    if (add > 0) {
      InsertionSet set;
      // At the new width, and with no cells until the copy gives them their text: a row of the
      // old width would hold a whole old row's memory for a narrow piece of it, and one long line
      // makes thousands of pieces.
      for (int i = 0; i < add; i++) {
        set.lines.push_back(_lines.makeLine(newCols, CharData(0, 1, nullAttribute), true));
        _lines.compact(*set.lines.back());
      }
      set.start = row + size + countToInsert;
      countToInsert += add;
      group.insert(group.end(), set.lines.begin(), set.lines.end());
      toInsert.push_back(std::move(set));
    }

    // Each row is cut as soon as its text is in place, and one above the screen goes back into a
    // run (once cut, as a cut afterwards could give it a block for its cells again), so a line
    // over thousands of rows holds a block for one row at a time. Only the ring's last line waits
    // for the end, which is never above the screen.
    const int rows = int(group.size());
    copyGroupBackwards(group, size, lengths, lastLen, oldCols, newCols, [&](int i) {
      if (i < size && row + i == lastRow) {
        cutLast.push_back(group[size_t(i)]);
        return;
      }
      resizeLine(*group[size_t(i)], newCols);
      if (rows - 1 - i + rowsBelow >= newRows) _lines.compact(*group[size_t(i)]);
    });
    showAddedRows(add - trimmed, newRows, countToInsert, firstInsertion(toInsert));
    savedY = std::min(savedY + add, yBase + newRows - 1);
    row--;
  }
  for (const BufferLinePtr& line : cutLast) resizeLine(*line, newCols);
  rearrange(toInsert, countToInsert);
}

// The last `keep` pieces of a group's text laid out over `lengths`, as new lines at the new width.
std::vector<BufferLinePtr> Buffer::lastPieces(const std::vector<BufferLinePtr>& group, const std::vector<int>& lengths,
                                              int keep, int oldCols, int newCols, int compactFirst) {
  const int size = int(group.size());
  std::vector<int> rowLengths(static_cast<size_t>(size));
  for (int i = 0; i < size; i++) rowLengths[size_t(i)] = getWrappedLineTrimmedLength(group, i, oldCols);
  const int first = int(lengths.size()) - keep;
  int64_t skip = 0;
  for (int i = 0; i < first; i++) skip += lengths[size_t(i)];
  int srcRow = 0;
  while (srcRow < size && skip >= rowLengths[size_t(srcRow)]) skip -= rowLengths[size_t(srcRow++)];
  int srcCol = int(skip);
  const CharData blank(0, 1, CharData::Null.attribute());
  std::vector<BufferLinePtr> pieces;
  pieces.reserve(size_t(keep));
  for (int i = first; i < int(lengths.size()); i++) {
    BufferLinePtr piece = _lines.makeLine(newCols, blank, true);
    const int length = lengths[size_t(i)];
    for (int destCol = 0; destCol < length && srcRow < size;) {
      const int n = std::min(length - destCol, rowLengths[size_t(srcRow)] - srcCol);
      piece->copyFrom(*group[size_t(srcRow)], srcCol, destCol, n);
      destCol += n;
      srcCol += n;
      if (srcCol >= rowLengths[size_t(srcRow)]) {
        srcRow++;
        srcCol = 0;
      }
    }
    // A row cut short for a wide character reads its blank in the gap: the line is new.
    if (i - first < compactFirst) _lines.compact(*piece);
    pieces.push_back(std::move(piece));
  }
  return pieces;
}

int Buffer::rowsStillRemovable(int newRows) const { return yBase == 0 ? std::max(newRows - 1 - y, 0) : 0; }

// Rows that will fall off the top of a full ring need no room on screen. Of a group's rows, those
// fall off that take the ring past its capacity together with the rows the groups below it add:
// counted a group at a time, two groups each one row past a ring one row short of full would
// each seem to fit, and the screen would move down a row more than its text.
int Buffer::rowsTrimmed(int add, int addedBefore) const {
  const int capacity = _lines.maxLength();
  // A screen not yet scrolled takes the rows by moving the cursor down, which counts them.
  if (yBase == 0 && y != _lines.count() - 1) return std::max(0, y - capacity + add);
  const int64_t base = int64_t(_lines.count()) - capacity + addedBefore;
  return int(std::max<int64_t>(0, base + add) - std::max<int64_t>(0, base));
}

// The rest of a narrowing reflow from `row` up, whose rows the ring will not keep: the screen and
// the saved cursor move as the added rows would move them, and the ring drops the rows
// unbuilt.
// The peak of the reflow is then what the ring keeps, however many pieces the old rows make.
void Buffer::countDroppedRows(int row, int oldCols, int newCols, int newRows, int countToInsert, int insertedAfter,
                              int keptRow, int added) {
  std::vector<BufferLinePtr> group;
  while (row >= 0) {
    const int end = row;
    while (row > 0 && _lines[row]->isWrapped()) row--;
    const bool cursorGroup = row <= keptRow && keptRow <= end;
    const bool fits = row == end && _lines[row]->getTrimmedLength() <= newCols;
    row--;
    if (cursorGroup || fits) continue;
    group.clear();
    for (int i = row + 1; i <= end; i++) group.push_back(_lines[i]);
    const std::vector<int> lengths = getNewLineLengths(group, oldCols, newCols);
    const int add = int(lengths.size()) - int(group.size());
    if (lengths.empty() || add < 0) continue;
    showAddedRows(add - rowsTrimmed(add, added), newRows, countToInsert, insertedAfter);
    added += add;
    savedY = std::min(savedY + add, yBase + newRows - 1);
  }
}

// Sets are listed from the bottom up; the lines of each go right before the old row `start` less
// the lines of the sets below it. Rows above the topmost set keep their places, and a ring that
// overflows drops its oldest rows first, so only the rows below that set move.
void Buffer::rearrange(const std::vector<InsertionSet>& toInsert, int countToInsert) {
  if (toInsert.empty()) return;
  const int capacity = _lines.maxLength();
  int oldCount = _lines.count();
  const int topmost = toInsert.back().start - (countToInsert - int(toInsert.back().lines.size()));
  const int64_t excess = std::max<int64_t>(int64_t(oldCount) + countToInsert - capacity, 0);
  if (excess > topmost) return rearrangeWhole(toInsert, countToInsert);
  if (excess > 0) {
    _lines.trimStart(int(excess));
    noteLinesDropped(int(excess));
    oldCount -= int(excess);
  }
  _lines.setCount(oldCount + countToInsert);
  int destination = oldCount + countToInsert - 1;
  int source = oldCount - 1;
  int inserted = 0;
  for (const InsertionSet& set : toInsert) {
    const int before = set.start - inserted - int(excess);
    while (source >= before) _lines.store(destination--, std::move(_lines[source--]));
    for (auto it = set.lines.rbegin(); it != set.lines.rend(); ++it) _lines.store(destination--, *it);
    inserted += int(set.lines.size());
  }
}

// The same where the oldest rows to drop hold inserted lines: the whole ring is laid out anew.
void Buffer::rearrangeWhole(const std::vector<InsertionSet>& toInsert, int countToInsert) {
  std::vector<BufferLinePtr> original;
  int oldCount = _lines.count();
  original.reserve(size_t(oldCount));
  for (int i = 0; i < oldCount; i++) original.push_back(std::move(_lines[i]));

  const int capacity = _lines.maxLength();
  int64_t total = int64_t(oldCount) + countToInsert;
  noteLinesDropped(int(std::max<int64_t>(total - capacity, 0)));
  _lines.setCount(int(std::min<int64_t>(capacity, total)));
  int oldIndex = oldCount - 1;
  int insertedSoFar = 0;
  size_t next = 0;
  for (int i = int(std::min<int64_t>(capacity - 1, total - 1)); i >= 0; i--) {
    if (next < toInsert.size() && toInsert[next].start > oldIndex + insertedSoFar) {
      const auto& set = toInsert[next];
      for (auto it = set.lines.rbegin(); it != set.lines.rend() && i >= 0; ++it) _lines.store(i--, *it);
      i++;
      insertedSoFar += int(set.lines.size());
      next++;
    } else {
      if (oldIndex < 0) break;
      _lines.store(i, std::move(original[size_t(oldIndex)]));
      oldIndex--;
    }
  }
}

int Buffer::keptCursorRow() const { return cursorLineRedrawn ? yBase + y : -1; }

// Counts the cells of text before the cursor in its group, and after it, as the group's rows lay
// it out at the current width: a row's text ends at its wrapped length, so a gap left by a wide
// character or a pending wrap counts as the start of the next row. Past the text on the last row
// the blank cells count too.
Buffer::CursorText Buffer::cursorText(int cursorX, bool afterReturn) {
  const int row = yBase + y;
  if (row < 0 || row >= _lines.count()) return {};
  int first = row;
  while (first > 0 && _lines[first]->isWrapped()) first--;
  std::vector<BufferLinePtr> group = gatherGroupDown(_lines, first);
  CursorText text{group.front().get(), 0, 0};
  const int inGroup = row - first;
  const int last = int(group.size()) - 1;
  if (afterReturn) text.rowsBelow = last - inGroup;
  for (int i = 0; i <= last; i++) {
    const int length = getWrappedLineTrimmedLength(group, i, _cols);
    if (i < inGroup) text.offset += length;
    if (i == inGroup) text.offset += i == last ? cursorX : std::min(cursorX, length);
    text.after += length;
  }
  text.after -= text.offset;
  return text;
}

std::optional<Buffer::TextPlace> Buffer::textPlace(int64_t row, int64_t col) {
  if (row < 0 || row >= _lines.count()) return std::nullopt;
  int first = int(row);
  while (first > 0 && _lines[first]->isWrapped()) first--;
  const std::vector<BufferLinePtr> group = gatherGroupDown(_lines, first);
  const int inGroup = int(row) - first, last = int(group.size()) - 1;
  TextPlace place{group.front(), 0};
  for (int i = 0; i < inGroup; i++) place.offset += getWrappedLineTrimmedLength(group, i, _cols);
  // Past the text of its row a place counts from the next row's start, but on the last row the
  // blank cells count too, as they do for the cursor.
  place.offset += inGroup == last ? col : std::min<int64_t>(col, getWrappedLineTrimmedLength(group, inGroup, _cols));
  return place;
}

std::vector<std::optional<Position>> Buffer::findTextPlaces(const std::vector<std::optional<TextPlace>>& places) {
  std::unordered_map<const BufferLine*, int> firstRows;
  for (const auto& place : places) {
    if (place) {
      if (auto first = place->first.lock()) firstRows.emplace(first.get(), -1);
    }
  }
  size_t left = firstRows.size();
  for (int row = _lines.count() - 1; row >= 0 && left > 0; row--) {
    if (auto found = firstRows.find(_lines[row].get()); found != firstRows.end() && found->second < 0) {
      found->second = row;
      left--;
    }
  }
  std::vector<std::optional<Position>> found(places.size());
  for (size_t i = 0; i < places.size(); i++) {
    const auto first = places[i] ? places[i]->first.lock() : nullptr;
    const int row = first ? firstRows[first.get()] : -1;
    if (row < 0) continue;
    const std::vector<BufferLinePtr> group = gatherGroupDown(_lines, row);
    int64_t offset = places[i]->offset;
    int inGroup = 0;
    for (; inGroup < int(group.size()) - 1; inGroup++) {
      const int length = getWrappedLineTrimmedLength(group, inGroup, _cols);
      if (offset < length) break;
      offset -= length;
    }
    found[i] = Position(offset, row + inGroup);
  }
  return found;
}

// Puts the cursor back on the cell `text` counted, in its group's new layout. A cursor just past
// text that fills the last row keeps its pending wrap; one that a carriage return left at the
// start of a row keeps as many of the group's rows below it. When the new place is off the screen the
// screen follows it: down by moving into the scrollback, up by dropping blank rows below it, or
// by leaving rows of text below it.
void Buffer::placeCursor(const CursorText& text, int newCols, int newRows) {
  if (!text.first) return;
  int first = _lines.count() - 1;
  while (first >= 0 && _lines[first].get() != text.first) first--;
  // A full ring may have dropped the group's first rows: what is left starts the ring, and the
  // cursor is counted back from the group's end.
  const bool headDropped = first < 0;
  if (headDropped) {
    if (_lines.isEmpty() || !_lines[0]->isWrapped()) return;
    first = 0;
  }
  std::vector<BufferLinePtr> group = gatherGroupDown(_lines, first);
  const int last = int(group.size()) - 1;
  int offset = text.offset;
  if (headDropped) {
    int total = 0;
    for (int i = 0; i <= last; i++) total += getWrappedLineTrimmedLength(group, i, newCols);
    offset = std::max(total - text.after, 0);
  }
  int row = 0;
  for (; row < last; row++) {
    const int length = getWrappedLineTrimmedLength(group, row, newCols);
    if (offset < length) break;
    offset -= length;
  }
  const bool pending = row == last && offset == newCols && group[size_t(row)]->getTrimmedLength() == newCols;
  x = pending ? newCols : std::min(offset, newCols - 1);
  if (text.rowsBelow >= 0) {
    // Output mostly ends its lines with a carriage return and a line feed, and a resize can come
    // between the two: the line feed must take the cursor past the text, not onto its own rows.
    row = std::max(last - text.rowsBelow, 0);
    x = 0;
  }

  showCursorRow(first + row, newRows);
}

// Keeps the cursor of a line editor on the row it was on, whose group the reflow left as it
// was: the rows a reflow adds or removes move the screen and the cursor as if each were above
// the cursor, and those of a group below it (a completion list under the prompt) are not.
void Buffer::keepCursorOn(const BufferLine* line, int newRows) {
  for (int row = _lines.count() - 1; row >= 0; row--) {
    if (_lines[row].get() == line) return showCursorRow(row, newRows);
  }
}

// Puts the cursor on buffer row `absolute`, moving the screen to it when it is off the screen.
void Buffer::showCursorRow(int absolute, int newRows) {
  // A full ring drops its oldest lines under a screen that moved down for added rows: bring the
  // screen back inside the ring before placing the cursor on it.
  yBase = std::min(yBase, std::max(_lines.count() - newRows, 0));
  if (yDisp > yBase) yDisp = yBase;
  int screenRow = absolute - yBase;
  if (screenRow >= newRows) {
    const bool following = yDisp == yBase;
    yBase += screenRow - newRows + 1;
    if (following) yDisp = yBase;
    screenRow = newRows - 1;
  }
  while (screenRow < 0 && yBase > 0 && _lines.count() - 1 > absolute) {
    const BufferLine& bottom = *_lines[_lines.count() - 1];
    if (bottom.isWrapped() || bottom.getTrimmedLength() > 0) break;
    _lines.setCount(_lines.count() - 1);
    yBase--;
    if (yDisp > yBase) yDisp = yBase;
    screenRow++;
  }
  if (screenRow < 0) {
    // The text after the cursor needs more rows than the screen has below it. The cursor stays on
    // its character, at the top of the screen, and the rows that do not fit stay below the
    // screen, where scrolling reaches them and taller or wider screens bring them back.
    const bool following = yDisp == yBase;
    yBase = absolute;
    if (following || yDisp > yBase) yDisp = yBase;
    screenRow = 0;
  }
  y = screenRow;
}

}  // namespace vantrelle
