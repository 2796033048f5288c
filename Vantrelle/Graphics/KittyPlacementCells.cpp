// Where the cells of placements with a placement id lie. A program may place the same image under
// the same id again and again (an animation, a progress picture); each time the old placement's
// cells must go, and finding them by walking every line of both screens made a long history cost
// that walk for every placement. The lines that took a placement's cells are noted as they are
// attached, so replacing it reads only those.
#include <algorithm>
#include <climits>
#include <unordered_map>
#include <unordered_set>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
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

// Notes every keyed cell of a screen that lines joined holding images since the last look: such
// lines are copies the index never saw being attached.
void coverJoinedLines(KittyPlacementCellLines& index, Buffer& buffer, bool alternate) {
  uint64_t& seen = alternate ? index.alternateJoined : index.normalJoined;
  if (seen == buffer.linesJoinedWithImages) return;
  seen = buffer.linesJoinedWithImages;
  if (buffer.linesWithImagesCount <= 0) return;
  auto& lines = buffer.lines();
  for (int i = 0; i < lines.count(); ++i) {
    BufferLine& line = *lines[i];
    if (!line.images()) continue;
    for (const auto& entry : *line.images()) {
      if (auto* cell = keyedKittyCell(entry.get())) note(index, *cell->kittyKey(), line, alternate);
    }
  }
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
  auto& lines = buffer.lines();
  if (lineIndex < 0 || lineIndex >= lines.count()) return;
  BufferLine& line = *lines[lineIndex];
  if (!line.images()) buffer.linesWithImagesCount++;
  const KittyPlacementImage* cell = keyedKittyCell(image.get());
  line.attach(std::move(image));
  if (!cell) return;
  auto& index = terminal.kittyGraphicsState.cellLines;
  note(index, *cell->kittyKey(), line, &buffer == terminal.altBuffer.get());
  if (index.entries >= index.pruneAt) prune(index);
}

void removeKittyPlacement(Terminal& terminal, uint32_t imageId, uint32_t placementId) {
  auto& state = terminal.kittyGraphicsState;
  auto& index = state.cellLines;
  const KittyPlacementKey key{imageId, placementId};
  coverJoinedLines(index, *terminal.normalBuffer, false);
  coverJoinedLines(index, *terminal.altBuffer, true);
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
