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
  hyperLinkTracking = HyperLink{Position(buffer->x, buffer->y + buffer->yBase), osc::ascii(data).value_or(""), buffer,
                                buffer->linesTop};
}

// Marks the cells from the link's start up to the last cell written before the cursor, in the
// buffer where the link was opened, allowing for rows trimmed from the scrollback meanwhile.
void Terminal::closeHyperlink() {
  std::optional<HyperLink> link = std::move(hyperLinkTracking);
  hyperLinkTracking.reset();
  if (!link) return;
  Buffer* target = link->buffer == normalBuffer.get() ? normalBuffer.get()
                   : link->buffer == altBuffer.get()  ? altBuffer.get()
                                                      : nullptr;
  if (!target) return;
  const int trimmed = Buffer::linesTrimmedBetween(link->linesTopAtOpen, target->linesTop);
  if (trimmed < 0) return;  // the scrollback was cleared: the start is gone
  int64_t startRow = link->start.row - trimmed;
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

// Every close registers a fresh code. Codes this terminal handed out are given back once no cell
// holds them any more, so a long session never runs out.
std::optional<TinyAtom> Terminal::registerPayload(std::string payload) {
  if (ownedPayloadCodes.size() >= payloadReclaimThreshold) {
    reclaimPayloadCodes();
    payloadReclaimThreshold = std::max<size_t>(1024, ownedPayloadCodes.size() * 2);
  }
  auto atom = TinyAtom::lookup(payload);
  if (!atom) {
    reclaimPayloadCodes();
    atom = TinyAtom::lookup(std::move(payload));
  }
  if (atom) ownedPayloadCodes.insert(atom->code);
  return atom;
}

void Terminal::reclaimPayloadCodes() {
  if (ownedPayloadCodes.empty()) return;
  std::vector<bool> used(static_cast<size_t>(TinyAtom::maxCode) + 1, false);
  for (Buffer* b : {normalBuffer.get(), altBuffer.get()}) {
    auto& lines = b->lines();
    for (int i = 0; i < lines.count(); ++i) {
      // Read cell by cell: a scrollback line keeps cells only as far as its text.
      const BufferLine& line = *lines[i];
      for (int c = 0; c < line.count(); ++c) used[line[c].payload.code] = true;
    }
  }
  for (auto it = ownedPayloadCodes.begin(); it != ownedPayloadCodes.end();) {
    if (used[*it]) {
      ++it;
      continue;
    }
    TinyAtom::release(*it);
    it = ownedPayloadCodes.erase(it);
  }
}

void Terminal::releasePayloadCodes() {
  for (uint16_t code : ownedPayloadCodes) TinyAtom::release(code);
  ownedPayloadCodes.clear();
}

}  // namespace vantrelle
