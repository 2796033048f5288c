// OSC 8 hyperlinks: the link's payload text goes into the process-wide atom table and its code
// into every cell written while the link was open.
#include <algorithm>
#include <vector>

#include "Vantrelle/Terminal/OscText.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

// OSC 8 ; params ; URI opens a link; an empty URI closes it.
void Terminal::oscHyperlink(std::span<const uint8_t> data) {
  const auto separator = std::find(data.begin(), data.end(), uint8_t(';'));
  if (separator != data.end() && separator + 1 == data.end()) {
    closeHyperlink();
    return;
  }
  const int row = buffer->y + buffer->yBase;
  HyperLink link;
  link.start = Position(buffer->x, row);
  link.payload = osc::ascii(data).value_or("");
  link.buffer = buffer;
  link.linesDroppedAtOpen = buffer->linesDropped;
  if (row < buffer->lines().count()) {
    const BufferLinePtr& line = buffer->lines()[row];
    link.startLine = line;
    link.startLineSeen = line.get();
  }
  hyperLinkTracking = std::move(link);
}

Buffer* Terminal::hyperlinkBuffer(const HyperLink& link) {
  return link.buffer == normalBuffer.get() ? normalBuffer.get()
         : link.buffer == altBuffer.get()  ? altBuffer.get()
                                           : nullptr;
}

// The start line is looked for where the lines dropped since left it, and then anywhere in the
// ring, as inserted and deleted lines move it; for a line deleted since, its row is the best guess
// left.
int64_t Terminal::hyperlinkStartRow(const HyperLink& link, Buffer& target) {
  auto& lines = target.lines();
  const int64_t expected = link.start.row - int64_t(target.linesDropped - link.linesDroppedAtOpen);
  if (link.startLineLeft) return expected;
  // The link's hold on the line keeps its record, and so its address, from any other line.
  if (expected >= 0 && expected < lines.count() && lines[int(expected)].get() == link.startLineSeen) return expected;
  const BufferLinePtr line = link.startLine.lock();
  if (!line) return expected;
  for (int row = lines.count() - 1; row >= 0; --row) {
    if (lines[row] == line) return row;
  }
  return expected;
}

// A reflow lays a wrapped line's text out anew, on rows it may make or drop: the open link's
// start is carried through it as its place in the text of its line. A start below the last line
// (its rows erased) keeps its distance from that line.
Terminal::LinkStartCarry Terminal::hyperlinkStartCarry() {
  if (!hyperLinkTracking) return {};
  Buffer* target = hyperlinkBuffer(*hyperLinkTracking);
  if (!target || !target->isReflowEnabled()) return {};
  const int64_t row = hyperlinkStartRow(*hyperLinkTracking, *target);
  return {target->textPlace(row, hyperLinkTracking->start.col), row - target->lines().count()};
}

void Terminal::placeHyperlinkStart(const LinkStartCarry& carry) {
  if (!hyperLinkTracking) return;
  HyperLink& link = *hyperLinkTracking;
  Buffer* target = hyperlinkBuffer(link);
  if (!target || (!carry.place && carry.pastEnd < 0)) return;
  link.linesDroppedAtOpen = target->linesDropped;
  link.startLineLeft = false;
  if (!carry.place) {
    link.start.row = target->lines().count() + carry.pastEnd;
    link.startLine.reset();
    link.startLineSeen = nullptr;
    return;
  }
  const std::optional<Position> found = target->findTextPlaces({carry.place}).front();
  if (!found) {
    // The ring dropped the line: the link starts before whatever the ring still holds.
    link.start = Position(0, -1);
    link.startLine.reset();
    link.startLineSeen = nullptr;
    return;
  }
  link.start = *found;
  link.startLine = target->lines()[int(found->row)];
  link.startLineSeen = link.startLine.lock().get();
}

// Marks the cells from the link's start up to the last cell written before the cursor, in the
// buffer where the link was opened, wherever the lines moved meanwhile; a start the scrollback
// has dropped marks from the first line it holds.
void Terminal::closeHyperlink() {
  std::optional<HyperLink> link = std::move(hyperLinkTracking);
  hyperLinkTracking.reset();
  if (!link) return;
  Buffer* target = hyperlinkBuffer(*link);
  if (!target) return;
  int64_t startRow = hyperlinkStartRow(*link, *target);
  int64_t startCol = link->start.col;
  if (startRow < 0) startRow = startCol = 0;
  // Opened with a wrap pending: the first character of the link went to the next row.
  if (startCol >= target->cols()) {
    startRow += 1;
    startCol = 0;
  }
  const int64_t endRow = target->y + target->yBase;
  const int64_t endCol = static_cast<int64_t>(target->x) - 1;
  if (endRow < startRow || endRow >= target->lines().count()) return;
  const auto atom = registerPayload(std::move(link->payload));
  if (!atom) return;
  const int64_t lastColumn = target->cols() - 1;
  const int64_t rowEnd = target->marginMode ? target->marginRight : lastColumn;
  for (int64_t row = startRow; row <= endRow; ++row) {
    const int64_t first = row == startRow ? std::min(lastColumn, startCol) : 0;
    const int64_t last = row == endRow ? std::min(lastColumn, endCol) : rowEnd;
    if (first > last) continue;
    BufferLine& line = *target->lines()[static_cast<int>(row)];
    const int64_t stop = std::min<int64_t>(last, line.count() - 1);
    for (int64_t col = first; col <= stop; ++col) line.cells()[col].setPayload(*atom);
    line.touch();
    updateRange(*target, static_cast<int>(row - target->yBase));
  }
}

std::optional<std::string> Terminal::parseHyperlinkPayload(std::string_view payload) {
  const size_t separator = payload.find(';');
  if (separator == std::string_view::npos) return std::nullopt;
  return std::string(payload.substr(separator + 1));
}

namespace {

// What one link pays towards the next sweep, in cells read, besides its bytes.
constexpr uint64_t kCellsSweptPerLink = 128;
constexpr size_t kMinCodesBetweenSweeps = 1024;
// What a link's entry in the table costs besides its text.
constexpr uint64_t kPayloadEntryBytes = 64;

}  // namespace

// Every close registers a fresh code. Codes this terminal handed out are given back once no cell
// holds them any more, so a long session never runs out. Finding them reads every cell of both
// buffers, so sweeps are spaced out: one each time the codes held have doubled, and while the
// table is full or this terminal's links hold all the bytes they may, one only once the output
// fed since the last sweep has paid for the next. A link that finds no room in between is
// dropped (its text stays), as one is when no sweep can make room.
std::optional<TinyAtom> Terminal::registerPayload(std::string payload) {
  auto& codes = payloadCodes;
  codes.credit += kCellsSweptPerLink;
  const uint64_t bytes = payload.size() + kPayloadEntryBytes;
  auto full = [&] { return TinyAtom::exhausted() || codes.bytesHeld + bytes > kMaxPayloadBytesHeld; };
  if (codes.owned.size() >= codes.sweepAtOwned) reclaimPayloadCodes();
  if (full() && codes.credit >= nextSweepCost()) reclaimPayloadCodes();
  if (full()) return std::nullopt;
  auto atom = TinyAtom::lookup(std::move(payload));
  if (!atom) return std::nullopt;
  codes.owned.emplace(atom->code, bytes);
  codes.bytesHeld += bytes;
  return atom;
}

// What the next sweep will read, judged from the last: a scrollback cleared since costs little.
uint64_t Terminal::nextSweepCost() const {
  const auto& codes = payloadCodes;
  if (codes.lastSweepLines == 0) return 0;
  const uint64_t lines = uint64_t(normalBuffer->lines().count()) + uint64_t(altBuffer->lines().count());
  return codes.lastSweepCells / codes.lastSweepLines * lines;
}

void Terminal::reclaimPayloadCodes() {
  auto& codes = payloadCodes;
  if (codes.owned.empty()) return;
  std::vector<bool> used(static_cast<size_t>(TinyAtom::maxCode) + 1, false);
  uint64_t cells = 0, lineCount = 0;
  for (Buffer* b : {normalBuffer.get(), altBuffer.get()}) {
    auto& lines = b->lines();
    lineCount += uint64_t(lines.count());
    for (int i = 0; i < lines.count(); ++i) {
      // Read cell by cell: a scrollback line keeps cells only as far as its text.
      const BufferLine& line = *lines[i];
      for (int c = 0; c < line.count(); ++c) used[line[c].payload.code] = true;
      cells += uint64_t(line.count());
    }
  }
  std::erase_if(codes.owned, [&](const auto& entry) {
    if (used[entry.first]) return false;
    TinyAtom::release(entry.first);
    codes.bytesHeld -= entry.second;
    return true;
  });
  codes.sweeps++;
  codes.cellsSwept += cells;
  codes.credit = 0;
  codes.lastSweepCells = cells;
  codes.lastSweepLines = lineCount;
  codes.sweepAtOwned = std::max(kMinCodesBetweenSweeps, codes.owned.size() * 2);
}

void Terminal::releasePayloadCodes() {
  for (const auto& [code, bytes] : payloadCodes.owned) TinyAtom::release(code);
  payloadCodes.owned.clear();
  payloadCodes.bytesHeld = 0;
}

}  // namespace vantrelle
