#include <algorithm>
#include <vector>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyGraphicsReplies.h"
#include "Vantrelle/Graphics/KittyImageCells.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

bool inCurrentBuffer(Terminal& terminal, const KittyPlacementRecord& record) {
  return record.isAlternateBuffer == terminal.isCurrentBufferAlternate();
}

const KittyPlacementRecord* findRecord(Terminal& terminal, const KittyPlacementKey& key) {
  auto& records = terminal.kittyGraphicsState.placementsByKey;
  auto found = records.find(key);
  return found == records.end() ? nullptr : &found->second;
}

}  // namespace

KittyPlacementOrigin resolveKittyPlacementOrigin(Terminal& terminal, const KittyGraphicsControl& control) {
  if (!control.parentImageId || !control.parentPlacementId) return {};
  KittyPlacementKey parentKey{*control.parentImageId, *control.parentPlacementId};
  const KittyPlacementRecord* parent = findRecord(terminal, parentKey);
  if (!parent) return {std::nullopt, std::nullopt, false, KittyMessage::parentNotFound};
  if (!inCurrentBuffer(terminal, *parent))
    return {std::nullopt, std::nullopt, false, KittyMessage::parentInOtherBuffer};
  auto positions = collectKittyPlacementPositions(terminal, *terminal.buffer);
  KittyPlacementPositions memo;
  KittyPlacementKeySet visiting;
  auto position = resolveKittyPlacementPosition(terminal, parentKey, positions, memo, visiting);
  if (!position) return {std::nullopt, std::nullopt, false, KittyMessage::parentNotFound};
  return {position->second + control.offsetH, position->first + control.offsetV, true, std::nullopt};
}

// Walks up the parent chain with an explicit stack, so a chain of any length costs no recursion
// depth; a cycle or a missing ancestor leaves every placement below it unresolved.
std::optional<std::pair<int64_t, int64_t>> resolveKittyPlacementPosition(Terminal& terminal,
                                                                         const KittyPlacementKey& key,
                                                                         const KittyPlacementPositions& positions,
                                                                         KittyPlacementPositions& resolved,
                                                                         KittyPlacementKeySet& visiting) {
  std::vector<KittyPlacementKey> chain;
  std::optional<std::pair<int64_t, int64_t>> base;
  KittyPlacementKey current = key;
  bool failed = false;
  while (true) {
    if (auto memo = resolved.find(current); memo != resolved.end()) {
      base = memo->second;
      break;
    }
    const KittyPlacementRecord* record = findRecord(terminal, current);
    if (!record || !inCurrentBuffer(terminal, *record) || visiting.contains(current)) {
      failed = true;
      break;
    }
    visiting.insert(current);
    chain.push_back(current);
    if (!record->isRelative()) {
      std::pair<int64_t, int64_t> own{kittyRecordRow(terminal, *record), record->col};
      if (!record->isVirtual) {
        if (auto live = positions.find(current); live != positions.end()) own = live->second;
      }
      base = own;
      chain.pop_back();
      visiting.erase(current);
      resolved[current] = own;
      break;
    }
    current = {*record->parentImageId, *record->parentPlacementId};
  }
  // Unwind: each relative placement sits at its parent's position plus its offsets.
  while (!chain.empty()) {
    KittyPlacementKey child = chain.back();
    chain.pop_back();
    visiting.erase(child);
    if (failed) continue;
    const KittyPlacementRecord* record = findRecord(terminal, child);
    base = std::pair{base->first + record->parentOffsetV, base->second + record->parentOffsetH};
    resolved[child] = *base;
  }
  if (failed) return std::nullopt;
  return base;
}

namespace {

// Where each placement's cells put it. A region that scrolls some of a placement's rows and not
// the others, or a reflow that adds rows between them, tears it apart, and its cells then
// disagree: the lowest one decides, as a full ring drops the top rows first and so keeps it as
// long as it keeps any, where the topmost would put the placement elsewhere once that went.
// `torn` gets the keys whose cells disagree.
KittyPlacementPositions placementPositions(Terminal& terminal, Buffer& buffer, KittyPlacementKeySet* torn) {
  KittyPlacementPositions positions;
  forEachKittyImageCell(terminal, buffer, [&](int index, const KittyPlacementImage& cell) {
    if (!cell.kittyIsKitty) return;
    auto key = cell.kittyKey();
    if (!key) return;
    const std::pair<int64_t, int64_t> at{cell.kittyTop(index), int64_t(cell.col())};
    auto [found, made] = positions.try_emplace(*key, at);
    if (made || found->second == at) return;
    if (torn) torn->insert(*key);
    found->second = at;
  });
  return positions;
}

}  // namespace

KittyPlacementPositions collectKittyPlacementPositions(Terminal& terminal, Buffer& buffer) {
  return placementPositions(terminal, buffer, nullptr);
}

void moveKittyPlacementImages(Terminal& terminal, Buffer& buffer, const KittyPlacementKey& key, int64_t newTopRow,
                              int64_t newLeftCol) {
  std::vector<std::shared_ptr<TerminalImage>> taken;
  auto& lines = buffer.lines();
  for (auto [index, line] : kittyImageLines(terminal, buffer)) {
    for (const auto& entry : *line->images()) {
      auto* kitty = dynamic_cast<const KittyPlacementImage*>(entry.get());
      if (kitty && kitty->kittyIsKitty && kitty->kittyKey() == key) taken.push_back(entry);
    }
  }
  if (taken.empty()) return;
  removeKittyPlacements(terminal, buffer, 0, INT64_MAX,
                        [&](const KittyPlacementImage& image, int64_t) { return image.kittyKey() == key; });
  for (auto& image : taken) {
    auto* kitty = static_cast<KittyPlacementImage*>(image.get());
    // Each cell goes to the row of the placement it shows, so one torn apart comes together again.
    const int64_t target = newTopRow + kitty->kittyRowInPlacement;
    // Cells that would land outside the lines held are dropped, not clamped.
    if (target < 0 || target >= lines.count()) continue;
    image->setCol(int(newLeftCol));
    kitty->kittyCol = newLeftCol;
    kitty->kittyRow = newTopRow;
    attachImageCell(terminal, buffer, image, int(target));
  }
}

namespace {

// Records follow the cells that scrolling, erasing or a resize moved.
void syncRecordsToCells(Terminal& terminal, bool alternate, const KittyPlacementPositions& positions) {
  auto& records = terminal.kittyGraphicsState.placementsByKey;
  for (const auto& [key, live] : positions) {
    auto found = records.find(key);
    if (found == records.end()) continue;
    auto& record = found->second;
    if (record.isAlternateBuffer != alternate || record.isVirtual) continue;
    setKittyRecordRow(terminal, record, live.first);
    record.col = live.second;
  }
}

}  // namespace

void keepKittyRecordsOfOldestLine(Terminal& terminal, Buffer& buffer) {
  if (buffer.lines().isEmpty()) return;
  const BufferLine& oldest = *buffer.lines()[0];
  if (!oldest.images()) return;
  const bool alternate = &buffer == terminal.altBuffer.get();
  auto& records = terminal.kittyGraphicsState.placementsByKey;
  for (const auto& entry : *oldest.images()) {
    auto* kitty = dynamic_cast<const KittyPlacementImage*>(entry.get());
    if (!kitty || !kitty->kittyIsKitty) continue;
    auto key = kitty->kittyKey();
    auto found = key ? records.find(*key) : records.end();
    if (found == records.end()) continue;
    auto& record = found->second;
    if (record.isAlternateBuffer != alternate || record.isVirtual) continue;
    setKittyRecordRow(terminal, record, kitty->kittyTop(0));
    record.col = kitty->col();
  }
}

void syncKittyPlacementRecords(Terminal& terminal) {
  for (bool alternate : {false, true}) {
    Buffer& buffer = alternate ? *terminal.altBuffer : *terminal.normalBuffer;
    syncRecordsToCells(terminal, alternate, collectKittyPlacementPositions(terminal, buffer));
  }
}

// Runs after every scroll of a screen holding images, so it must not walk the lines or the
// records for nothing: only the positions of relative placements need keeping up as lines move.
// The other records are brought in line with their cells when something reads where they are
// (deletion).
void updateKittyRelativePlacementsForCurrentBuffer(Terminal& terminal) {
  Buffer& buffer = *terminal.buffer;
  auto& records = terminal.kittyGraphicsState.placementsByKey;
  std::vector<KittyPlacementKey> relative;
  std::erase_if(terminal.kittyGraphicsState.relativeKeys, [&](const KittyPlacementKey& key) {
    auto found = records.find(key);
    if (found == records.end() || !found->second.isRelative()) return true;
    if (inCurrentBuffer(terminal, found->second)) relative.push_back(key);
    return false;
  });
  if (relative.empty()) return;
  KittyPlacementKeySet torn;
  const KittyPlacementPositions positions = placementPositions(terminal, buffer, &torn);
  syncRecordsToCells(terminal, terminal.isCurrentBufferAlternate(), positions);

  // Relative placements move after their parents.
  KittyPlacementPositions memo;
  KittyPlacementKeySet visiting;
  for (const auto& key : relative) {
    auto target = resolveKittyPlacementPosition(terminal, key, positions, memo, visiting);
    if (!target) continue;
    auto& record = records.at(key);
    if (!record.isVirtual) {
      std::pair<int64_t, int64_t> current{kittyRecordRow(terminal, record), record.col};
      if (auto live = positions.find(key); live != positions.end()) current = live->second;
      if (*target != current || torn.contains(key)) {
        moveKittyPlacementImages(terminal, buffer, key, target->first, target->second);
      }
    }
    setKittyRecordRow(terminal, record, target->first);
    record.col = target->second;
  }
}

}  // namespace vantrelle
