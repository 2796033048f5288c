#include <algorithm>
#include <climits>
#include <string_view>
#include <vector>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyGraphicsReplies.h"
#include "Vantrelle/Graphics/KittyImageCells.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

using CellTest = KittyCellTest;
using RecordTest = std::function<bool(const KittyPlacementRecord&)>;

// A placement covers at least one cell each way, whatever size it was given.
bool spanContains(int64_t start, int64_t length, int64_t value) {
  return value >= start && value <= start + std::max<int64_t>(length, 1) - 1;
}

// Rows are read where the cells and records are now, never where they were placed: a full ring
// moves every line up an index as each new one comes in.
bool cellCovers(const KittyPlacementImage& image, int64_t top, int64_t col, int64_t line) {
  return spanContains(image.kittyCol, image.kittyCols, col) && spanContains(top, image.kittyRows, line);
}

// A position of the screen shown names a row of each screen's own lines: a record of the other
// screen is tested against the row its screen shows there, not against the same index of a ring
// that holds other lines.
int64_t recordScreenRow(const Terminal& terminal, const KittyPlacementRecord& record) {
  const Buffer& buffer = record.isAlternateBuffer ? *terminal.altBuffer : *terminal.normalBuffer;
  return kittyRecordRow(terminal, record) - buffer.yBase;
}

bool recordCovers(const Terminal& terminal, const KittyPlacementRecord& record, int64_t col, int64_t screenRow) {
  return spanContains(record.col, record.cols, col) &&
         spanContains(recordScreenRow(terminal, record), record.rows, screenRow);
}

// Strips cells in scope, drops matching records, then strips anywhere the cells of records that
// went but whose cells lay outside the scope.
void deleteBy(Terminal& terminal, const std::vector<std::pair<Buffer*, std::pair<int64_t, int64_t>>>& scope,
              const CellTest& cellTest, const RecordTest& recordTest) {
  KittyPlacementKeySet cellKeys;
  for (const auto& [buffer, range] : scope) {
    cellKeys.merge(removeKittyPlacements(terminal, *buffer, range.first, range.second, cellTest));
  }
  KittyPlacementKeySet leftover = removePlacementRecords(terminal, recordTest);
  std::erase_if(leftover, [&](const KittyPlacementKey& key) { return cellKeys.contains(key); });
  if (!leftover.empty()) removeKittyPlacementsByKey(terminal, leftover);
}

std::vector<std::pair<Buffer*, std::pair<int64_t, int64_t>>> activeBufferScope(Terminal& terminal) {
  return {{terminal.buffer, {0, INT64_MAX}}};
}

std::vector<std::pair<Buffer*, std::pair<int64_t, int64_t>>> bothBuffersScope(Terminal& terminal) {
  return {{terminal.normalBuffer.get(), {0, INT64_MAX}}, {terminal.altBuffer.get(), {0, INT64_MAX}}};
}

void clearLineImages(Buffer& buffer, BufferLine& line, std::optional<TerminalImageList> remaining) {
  if (!remaining || remaining->empty()) {
    // Keep the count of lines with images exact, so scrolling skips the upkeep once none is left.
    if (line.images()) buffer.linesWithImagesCount = std::max(buffer.linesWithImagesCount - 1, 0);
    line.setImages(std::nullopt);
  } else {
    line.setImages(std::move(remaining));
  }
}

}  // namespace

void handleKittyDelete(Terminal& terminal, const KittyGraphicsControl& control) {
  char letter = control.deleteMode.value_or('a');
  bool upper = !(letter >= 'a' && letter <= 'z');
  char lower = char(letter >= 'A' && letter <= 'Z' ? letter - 'A' + 'a' : letter);
  // Selectors by position test the records' rectangles: they must be where their cells are.
  if (std::string_view("acpqxy").find(lower) != std::string_view::npos) syncKittyPlacementRecords(terminal);
  auto fail = [&](std::string_view message) { sendKittyError(terminal, control, message); };
  int64_t x = control.cropX, y = control.cropY;
  switch (lower) {
    case 'a':
      deletePlacementsVisibleOnScreen(terminal);
      break;
    case 'i':
      if (!control.imageId) return fail(KittyMessage::missingImageId);
      deletePlacementsByImageId(terminal, *control.imageId, control.placementId);
      break;
    case 'n': {
      if (!control.imageNumber) return fail(KittyMessage::missingImageNumber);
      auto& numbers = terminal.kittyGraphicsState.imageNumbers;
      if (auto found = numbers.find(*control.imageNumber); found != numbers.end()) {
        deletePlacementsByImageId(terminal, found->second, control.placementId);
      }
      break;
    }
    case 'c':
      deletePlacementsAtCell(terminal, int64_t(terminal.cursorColumn()) + 1, int64_t(terminal.buffer->y) + 1,
                             std::nullopt);
      break;
    case 'p':
    case 'q':
      if (x < 1 || y < 1) return fail(KittyMessage::missingCellPosition);
      deletePlacementsAtCell(terminal, x, y, lower == 'q' ? std::optional(control.zIndex) : std::nullopt);
      break;
    case 'x':
      if (x < 1) return fail(KittyMessage::missingColumn);
      deletePlacementsInColumn(terminal, x);
      break;
    case 'y':
      if (y < 1) return fail(KittyMessage::missingRow);
      deletePlacementsInRow(terminal, y);
      break;
    case 'z':
      deletePlacementsWithZIndex(terminal, control.zIndex);
      break;
    case 'r': {
      if (x < 1 || y < 1) return fail(KittyMessage::missingIdRange);
      // Bounds past the 32-bit id space reach its end.
      auto bound = [](int64_t v) { return uint32_t(std::min<int64_t>(v, UINT32_MAX)); };
      deletePlacementsByImageIdRange(terminal, bound(std::min(x, y)), bound(std::max(x, y)));
      break;
    }
    default:
      fail(KittyMessage::unsupportedDelete);
      break;
  }
  if (upper) cleanupUnusedKittyImages(terminal);
}

void deletePlacementsVisibleOnScreen(Terminal& terminal) {
  Buffer& buffer = *terminal.buffer;
  int64_t top = buffer.yBase;
  int64_t right = terminal.cols - 1;
  deleteBy(
      terminal, {{&buffer, {top, top + terminal.rows}}}, [](const KittyPlacementImage&, int64_t) { return true; },
      [&](const KittyPlacementRecord& r) {
        const int64_t row = recordScreenRow(terminal, r);
        int64_t lastRow = row + std::max<int64_t>(r.rows, 1) - 1;
        int64_t lastCol = r.col + std::max<int64_t>(r.cols, 1) - 1;
        return row < terminal.rows && lastRow >= 0 && r.col <= right && lastCol >= 0;
      });
}

void deletePlacementsByImageId(Terminal& terminal, uint32_t imageId, std::optional<uint32_t> placementId) {
  // One placement: its cells are where they were attached, its record under its key.
  if (placementId) return removeKittyPlacement(terminal, imageId, *placementId);
  deleteBy(
      terminal, bothBuffersScope(terminal),
      [&](const KittyPlacementImage& image, int64_t) {
        return image.kittyImageId == imageId && (!placementId || image.kittyPlacementId == placementId);
      },
      [&](const KittyPlacementRecord& r) {
        return r.imageId == imageId && (!placementId || r.placementId == *placementId);
      });
}

void deletePlacementsAtCell(Terminal& terminal, int64_t col, int64_t row, std::optional<int64_t> zIndex) {
  int64_t column = col - 1, line = row - 1 + terminal.buffer->yBase;
  deleteBy(
      terminal, activeBufferScope(terminal),
      [&](const KittyPlacementImage& image, int64_t top) {
        return (!zIndex || image.kittyZIndex == *zIndex) && cellCovers(image, top, column, line);
      },
      [&](const KittyPlacementRecord& r) {
        return (!zIndex || r.zIndex == *zIndex) && recordCovers(terminal, r, column, row - 1);
      });
}

void deletePlacementsInColumn(Terminal& terminal, int64_t col) {
  deleteBy(
      terminal, activeBufferScope(terminal),
      [&](const KittyPlacementImage& image, int64_t) { return spanContains(image.kittyCol, image.kittyCols, col - 1); },
      [&](const KittyPlacementRecord& r) { return spanContains(r.col, r.cols, col - 1); });
}

void deletePlacementsInRow(Terminal& terminal, int64_t row) {
  int64_t line = row - 1 + terminal.buffer->yBase;
  deleteBy(
      terminal, activeBufferScope(terminal),
      [&](const KittyPlacementImage& image, int64_t top) { return spanContains(top, image.kittyRows, line); },
      [&](const KittyPlacementRecord& r) { return spanContains(recordScreenRow(terminal, r), r.rows, row - 1); });
}

void deletePlacementsWithZIndex(Terminal& terminal, int64_t zIndex) {
  deleteBy(
      terminal, bothBuffersScope(terminal),
      [&](const KittyPlacementImage& image, int64_t) { return image.kittyZIndex == zIndex; },
      [&](const KittyPlacementRecord& r) { return r.zIndex == zIndex; });
}

void deletePlacementsByImageIdRange(Terminal& terminal, uint32_t minId, uint32_t maxId) {
  deleteBy(
      terminal, bothBuffersScope(terminal),
      [&](const KittyPlacementImage& image, int64_t) {
        return image.kittyImageId && *image.kittyImageId >= minId && *image.kittyImageId <= maxId;
      },
      [&](const KittyPlacementRecord& r) { return r.imageId >= minId && r.imageId <= maxId; });
}

KittyPlacementKeySet removeKittyPlacements(Terminal& terminal, Buffer& buffer, int64_t lineStart, int64_t lineEnd,
                                           const KittyCellTest& predicate) {
  KittyPlacementKeySet removed;
  auto& lines = buffer.lines();
  int64_t start = std::max<int64_t>(lineStart, 0), end = std::min<int64_t>(lineEnd, lines.count());
  if (start >= end) return removed;
  int64_t lowest = INT64_MAX, highest = -1;
  for (auto [at, held] : kittyImageLines(terminal, buffer, int(start), int(end))) {
    const int64_t index = at;
    BufferLine& line = *held;
    if (!line.images() || line.images()->empty()) continue;
    TerminalImageList remaining;
    bool changed = false;
    for (const auto& entry : *line.images()) {
      auto* kitty = dynamic_cast<const KittyPlacementImage*>(entry.get());
      if (kitty && kitty->kittyIsKitty && predicate(*kitty, kitty->kittyTop(index))) {
        if (auto key = kitty->kittyKey()) removed.insert(*key);
        changed = true;
      } else {
        remaining.push_back(entry);
      }
    }
    if (!changed) continue;
    clearLineImages(buffer, line, std::move(remaining));
    lowest = std::min(lowest, index);
    highest = std::max(highest, index);
  }
  if (highest >= 0 && &buffer == terminal.buffer) {
    int64_t first = lowest - buffer.yBase, last = highest - buffer.yBase;
    if (last >= 0 && first < terminal.rows) {
      terminal.updateRange(int(std::max<int64_t>(first, 0)));
      terminal.updateRange(int(std::min<int64_t>(last, terminal.rows - 1)));
    }
  }
  return removed;
}

KittyPlacementKeySet removePlacementRecords(Terminal& terminal,
                                            const std::function<bool(const KittyPlacementRecord&)>& predicate) {
  KittyPlacementKeySet removed;
  auto& records = terminal.kittyGraphicsState.placementsByKey;
  for (const auto& [key, record] : records) {
    if (predicate(record)) removed.insert(key);
  }
  for (const auto& key : removed) records.erase(key);
  return removed;
}

KittyPlacementKeySet removeKittyPlacementsByKey(Terminal& terminal, const KittyPlacementKeySet& keys) {
  if (keys.empty()) return {};
  auto inSet = [&](const KittyPlacementImage& image, int64_t) {
    auto key = image.kittyKey();
    return key && keys.contains(*key);
  };
  KittyPlacementKeySet removed = removeKittyPlacements(terminal, *terminal.normalBuffer, 0, INT64_MAX, inSet);
  removed.merge(removeKittyPlacements(terminal, *terminal.altBuffer, 0, INT64_MAX, inSet));
  return removed;
}

void collectUsedKittyImageIds(Terminal& terminal, Buffer& buffer, std::unordered_set<uint32_t>& into) {
  forEachKittyImageCell(terminal, buffer, [&](int, const KittyPlacementImage& cell) {
    if (cell.kittyImageId) into.insert(*cell.kittyImageId);
  });
}

std::unordered_set<uint32_t> collectUsedKittyImageIds(Terminal& terminal) {
  std::unordered_set<uint32_t> used;
  collectUsedKittyImageIds(terminal, *terminal.normalBuffer, used);
  collectUsedKittyImageIds(terminal, *terminal.altBuffer, used);
  for (const auto& [key, record] : terminal.kittyGraphicsState.placementsByKey) used.insert(record.imageId);
  return used;
}

// Every image stored is either referenced, and so met by the walk over the cells and records, or
// freed here: the walk over the store costs no more than those two.
void cleanupUnusedKittyImages(Terminal& terminal) {
  auto& state = terminal.kittyGraphicsState;
  if (state.imagesById.empty()) return;
  auto used = collectUsedKittyImageIds(terminal);
  std::vector<uint32_t> unused;
  for (const auto& [id, image] : state.imagesById) {
    if (!used.contains(id)) unused.push_back(id);
  }
  for (uint32_t id : unused) removeStoredKittyImage(state, id);
}

void clearAllKittyImages(Terminal& terminal) {
  // The screen showing loses its images, and the alternate screen with it. An editor clearing its
  // own screen must not take the pictures from the shell's screen and history it returns to, those
  // in cells and those shown through placeholders: on the alternate screen only its placements go,
  // and the images nothing shows any more.
  for (Buffer* buffer : {terminal.buffer, terminal.altBuffer.get()}) {
    if (buffer->linesWithImagesCount <= 0) continue;
    for (int index = 0; index < buffer->lines().count(); ++index) buffer->clearImagesFromLine(index);
  }
  auto& state = terminal.kittyGraphicsState;
  if (terminal.isCurrentBufferAlternate()) {
    removePlacementRecords(terminal, [](const KittyPlacementRecord& record) { return record.isAlternateBuffer; });
    cleanupUnusedKittyImages(terminal);
    terminal.updateRange(terminal.buffer->scrollTop);
    terminal.updateRange(terminal.buffer->scrollBottom);
    return;
  }
  state.imagesById.clear();
  state.idsByAccess.clear();
  state.imageNumbers.clear();
  state.placementsByKey.clear();
  state.totalImageBytes = 0;
  state.nextImageAccessTick = 1;
  // Its ticks will be handed out again: what the last look found no longer names these images.
  state.referenceScan.unused.clear();
  state.referenceScan.firstTickAfter = 1;
  state.referenceScan.cost = 0;
  terminal.updateRange(terminal.buffer->scrollTop);
  terminal.updateRange(terminal.buffer->scrollBottom);
}

void clearKittyImages(Terminal& terminal, Buffer& buffer, bool isAlternateBuffer) {
  deleteBy(
      terminal, {{&buffer, {0, INT64_MAX}}}, [](const KittyPlacementImage&, int64_t) { return true; },
      [&](const KittyPlacementRecord& r) { return r.isAlternateBuffer == isAlternateBuffer; });
  cleanupUnusedKittyImages(terminal);
}

}  // namespace vantrelle
