// Where image cells lie. A program may place the same image under the same id again and again (an
// animation, a progress picture), and every placement, deletion, scroll past a relative placement
// and switch of screens looks for image cells; walking every line of both screens made a long
// history cost that walk each time. The lines that take image cells are noted as they are
// attached, per screen and per placement id, so those looks read only them.
#include <algorithm>
#include <climits>
#include <unordered_map>
#include <unordered_set>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyImageCells.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

constexpr size_t kMinEntriesBeforePrune = 4096;

const KittyPlacementImage* keyedKittyCell(const TerminalImage* image) {
  auto* kitty = dynamic_cast<const KittyPlacementImage*>(image);
  return kitty && kitty->kittyIsKitty && kitty->kittyKey() ? kitty : nullptr;
}

void note(KittyPlacementCellLines& index, const KittyPlacementKey& key, BufferLine& line, bool alternate) {
  auto anchor = line.imagesAnchor();
  auto& lines = index.linesByKey[key];
  // A placement's cells go to its lines one after another: one entry a line.
  if (!lines.empty() && lines.back().alternate == alternate && !lines.back().anchor.owner_before(anchor) &&
      !anchor.owner_before(lines.back().anchor)) {
    return;
  }
  lines.push_back({std::move(anchor), alternate});
  index.entries++;
}

KittyImageLines& imageLinesOf(Terminal& terminal, const Buffer& buffer) {
  auto& index = terminal.kittyGraphicsState.cellLines;
  return &buffer == terminal.altBuffer.get() ? index.alternate : index.normal;
}

bool holdsKittyCell(const BufferLine& line) {
  if (!line.images()) return false;
  return std::any_of(line.images()->begin(), line.images()->end(), [](const auto& entry) {
    return dynamic_cast<const KittyPlacementImage*>(entry.get()) != nullptr;
  });
}

void noteLine(KittyImageLines& lines, BufferLine& line, int index, const Buffer& buffer) {
  auto anchor = line.imagesAnchor();
  const uint32_t place = uint32_t(index) + uint32_t(buffer.linesDropped);
  if (!lines.lines.empty()) {
    auto& last = lines.lines.back();
    if (!last.anchor.owner_before(anchor) && !anchor.owner_before(last.anchor)) {
      last.place = place;
      return;
    }
  }
  lines.lines.push_back({std::move(anchor), place});
  if (lines.lines.size() < lines.pruneAt) return;
  // Lines that scrolled away or were cleared leave notes behind: keep one a line still holding
  // images, the latest.
  std::unordered_set<const LineImagesAnchor*> seen;
  std::vector<KittyImageLines::Line> kept;
  for (auto entry = lines.lines.rbegin(); entry != lines.lines.rend(); ++entry) {
    auto held = entry->anchor.lock();
    if (held && seen.insert(held.get()).second) kept.push_back(std::move(*entry));
  }
  std::reverse(kept.begin(), kept.end());
  lines.lines = std::move(kept);
  lines.pruneAt = std::max(kMinEntriesBeforePrune, lines.lines.size() * 2);
}

// Reads every line of a screen and notes afresh each that holds image cells; returns them.
std::vector<std::pair<int, BufferLine*>> walkAllLines(Terminal& terminal, Buffer& buffer, bool alternate) {
  auto& noted = imageLinesOf(terminal, buffer);
  auto& index = terminal.kittyGraphicsState.cellLines;
  noted.lines.clear();
  noted.joined = buffer.linesJoinedWithImages;
  noted.fullWalks++;
  std::vector<std::pair<int, BufferLine*>> found;
  if (buffer.linesWithImagesCount <= 0) return found;
  auto& lines = buffer.lines();
  for (int i = 0; i < lines.count(); ++i) {
    BufferLine& line = *lines[i];
    if (!holdsKittyCell(line)) continue;
    noteLine(noted, line, i, buffer);
    found.emplace_back(i, &line);
    for (const auto& entry : *line.images()) {
      if (auto* cell = keyedKittyCell(entry.get())) note(index, *cell->kittyKey(), line, alternate);
    }
  }
  return found;
}

// Where a noted line is now: where it stood, or (a line of the screen, which scrolling regions and
// line insertions move) somewhere from the screen's top down; -1 when it is not found there.
int locate(Buffer& buffer, const LineImagesAnchor& anchor, uint32_t place) {
  auto& lines = buffer.lines();
  const int count = lines.count();
  const int at = int(place - uint32_t(buffer.linesDropped));
  for (int guess : {at, at - 1, at + 1}) {
    if (guess >= 0 && guess < count && lines[guess].get() == anchor.line) return guess;
  }
  for (int i = std::max(buffer.yBase, 0); i < count; ++i) {
    if (lines[i].get() == anchor.line) return i;
  }
  return -1;
}

// Drops the entries whose lines no longer hold their placement's cells.
void prune(KittyPlacementCellLines& index) {
  std::unordered_map<const LineImagesAnchor*, KittyPlacementKeySet> keysOnLine;
  auto holds = [&](const LineImagesAnchor& anchor, const KittyPlacementKey& key) {
    auto [found, made] = keysOnLine.try_emplace(&anchor);
    if (made) {
      for (const auto& entry : *anchor.line->images()) {
        if (auto* cell = keyedKittyCell(entry.get())) found->second.insert(*cell->kittyKey());
      }
    }
    return found->second.contains(key);
  };
  index.entries = 0;
  for (auto keyed = index.linesByKey.begin(); keyed != index.linesByKey.end();) {
    std::erase_if(keyed->second, [&](const KittyPlacementCellLines::Line& entry) {
      auto anchor = entry.anchor.lock();
      return !anchor || !holds(*anchor, keyed->first);
    });
    index.entries += keyed->second.size();
    keyed = keyed->second.empty() ? index.linesByKey.erase(keyed) : std::next(keyed);
  }
  index.pruneAt = std::max(kMinEntriesBeforePrune, index.entries * 2);
}

}  // namespace

void attachImage(Terminal& terminal, Buffer& buffer, std::shared_ptr<TerminalImage> image, int lineIndex) {
  auto* kitty = dynamic_cast<KittyPlacementImage*>(image.get());
  const auto& context = terminal.kittyPlacementContext;
  if (kitty && context && &buffer == terminal.buffer) {
    // The host counts the placement's rows from the line the cursor was on when it began; the
    // line feeds it takes between rows may have scrolled a full ring since, moving every index.
    const int64_t top = kitty->kittyRow + int64_t(context->linesDropped);
    kitty->kittyRowInPlacement = std::max<int64_t>(buffer.lineNumber(lineIndex) - top, 0);
  }
  attachImageCell(terminal, buffer, std::move(image), lineIndex);
}

void attachImageCell(Terminal& terminal, Buffer& buffer, std::shared_ptr<TerminalImage> image, int lineIndex) {
  auto& lines = buffer.lines();
  if (lineIndex < 0 || lineIndex >= lines.count()) return;
  BufferLine& line = *lines[lineIndex];
  if (!line.images()) buffer.linesWithImagesCount++;
  const bool kitty = dynamic_cast<const KittyPlacementImage*>(image.get()) != nullptr;
  const KittyPlacementImage* cell = keyedKittyCell(image.get());
  line.attach(std::move(image));
  if (!kitty) return;
  noteLine(imageLinesOf(terminal, buffer), line, lineIndex, buffer);
  if (!cell) return;
  auto& index = terminal.kittyGraphicsState.cellLines;
  note(index, *cell->kittyKey(), line, &buffer == terminal.altBuffer.get());
  if (index.entries >= index.pruneAt) prune(index);
}

std::vector<std::pair<int, BufferLine*>> kittyImageLines(Terminal& terminal, Buffer& buffer, int start, int end) {
  const bool alternate = &buffer == terminal.altBuffer.get();
  auto& noted = imageLinesOf(terminal, buffer);
  std::vector<std::pair<int, BufferLine*>> found;
  if (noted.joined != buffer.linesJoinedWithImages) {
    found = walkAllLines(terminal, buffer, alternate);
  } else {
    // The notes are rewritten as they are read: lines that lost their images drop out, and a line
    // noted twice counts once, with where it stands now.
    std::vector<KittyImageLines::Line> kept;
    std::unordered_set<const LineImagesAnchor*> seen;
    kept.reserve(noted.lines.size());
    bool lost = false;
    for (auto& entry : noted.lines) {
      auto anchor = entry.anchor.lock();
      if (!anchor || !seen.insert(anchor.get()).second) continue;
      const int at = locate(buffer, *anchor, entry.place);
      if (at < 0) {
        lost = true;
        break;
      }
      kept.push_back({entry.anchor, uint32_t(at) + uint32_t(buffer.linesDropped)});
      found.emplace_back(at, anchor->line);
    }
    if (lost) {
      found = walkAllLines(terminal, buffer, alternate);
    } else {
      noted.lines = std::move(kept);
      std::sort(found.begin(), found.end());
    }
  }
  std::erase_if(found, [&](const auto& line) { return line.first < start || line.first >= end; });
  return found;
}

void removeKittyPlacement(Terminal& terminal, uint32_t imageId, uint32_t placementId) {
  auto& state = terminal.kittyGraphicsState;
  auto& index = state.cellLines;
  const KittyPlacementKey key{imageId, placementId};
  for (Buffer* buffer : {terminal.normalBuffer.get(), terminal.altBuffer.get()}) {
    if (imageLinesOf(terminal, *buffer).joined != buffer->linesJoinedWithImages) {
      walkAllLines(terminal, *buffer, buffer == terminal.altBuffer.get());
    }
  }
  state.placementsByKey.erase(key);
  auto found = index.linesByKey.find(key);
  if (found == index.linesByKey.end()) return;
  std::vector<KittyPlacementCellLines::Line> noted = std::move(found->second);
  index.linesByKey.erase(found);
  index.entries -= std::min(index.entries, noted.size());

  std::unordered_set<const BufferLine*> changedOnScreen;
  const bool alternateActive = terminal.isCurrentBufferAlternate();
  for (const auto& entry : noted) {
    auto anchor = entry.anchor.lock();
    if (!anchor) continue;
    BufferLine& line = *anchor->line;
    index.linesRead++;
    TerminalImageList remaining;
    for (const auto& image : *line.images()) {
      auto* cell = keyedKittyCell(image.get());
      if (!cell || cell->kittyKey() != key) remaining.push_back(image);
    }
    if (remaining.size() == line.images()->size()) continue;
    Buffer& buffer = entry.alternate ? *terminal.altBuffer : *terminal.normalBuffer;
    if (remaining.empty()) {
      buffer.linesWithImagesCount = std::max(buffer.linesWithImagesCount - 1, 0);
      line.setImages(std::nullopt);
    } else {
      line.setImages(std::move(remaining));
    }
    if (entry.alternate == alternateActive) changedOnScreen.insert(&line);
  }
  // Only rows of the screen are redrawn by range; a line in the history redraws by its generation.
  if (changedOnScreen.empty()) return;
  Buffer& active = *terminal.buffer;
  auto& lines = active.lines();
  const int end = std::min(lines.count(), active.yBase + terminal.rows);
  int first = INT_MAX, last = -1;
  for (int row = active.yBase; row < end; ++row) {
    if (!changedOnScreen.contains(lines[row].get())) continue;
    first = std::min(first, row - active.yBase);
    last = row - active.yBase;
  }
  if (last < 0) return;
  terminal.updateRange(first);
  terminal.updateRange(last);
}

}  // namespace vantrelle
