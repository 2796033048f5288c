#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphicsControl.h"
#include "Vantrelle/Graphics/KittyGraphicsPayload.h"
#include "Vantrelle/Graphics/KittyGraphicsState.h"

// The Kitty graphics protocol as carried out on a terminal: commands and replies, the image store
// and placements, deletion, the cache budget and relative placements. The terminal's own entry
// points (the APC hook, the bulk clears, the upkeep after scrolling) call into these.
namespace vantrelle {

class Terminal;

using KittyPlacementPositions =
    std::unordered_map<KittyPlacementKey, std::pair<int64_t, int64_t>, KittyPlacementKeyHash>;
// A test on an image cell, given the index of the line at its placement's top as the cell lies now.
using KittyCellTest = std::function<bool(const KittyPlacementImage&, int64_t top)>;

// Commands and replies.
void handleKittyGraphicsCommand(Terminal& terminal, std::span<const uint8_t> content);
void processKittyGraphics(Terminal& terminal, const KittyGraphicsControl& control, KittyCommandPayload payload);
void handleKittyTransmit(Terminal& terminal, const KittyGraphicsControl& control, KittyCommandPayload payload,
                         bool display);
void sendKittyOk(Terminal& terminal, const KittyGraphicsControl& control, std::optional<uint32_t> imageId,
                 std::optional<uint32_t> imageNumber, std::optional<uint32_t> placementId);
void sendKittyError(Terminal& terminal, const KittyGraphicsControl& control, std::string_view message);

// The image store and placing.
void storeKittyImage(Terminal& terminal, KittyGraphicsPayload payload, uint32_t imageId,
                     std::optional<uint32_t> imageNumber);
std::optional<KittyGraphicsImage> updateKittyImageAccess(Terminal& terminal, uint32_t imageId);
void handleKittyPut(Terminal& terminal, const KittyGraphicsControl& control);
bool displayKittyImage(Terminal& terminal, const KittyGraphicsPayload& payload, const KittyGraphicsControl& control,
                       std::optional<uint32_t> imageId, std::optional<uint32_t> imageNumber);
// Records the placement that the host has just made of the image being displayed: `cols` by `rows`
// cells from column `col` of absolute line `row` of the current screen, with what `context` says of
// it. Only a placement with both an image id and a placement id is recorded.
void recordKittyPlacement(Terminal& terminal, const KittyPlacementContext& context, int64_t col, int64_t row,
                          int64_t cols, int64_t rows);
// Takes the placement's record and its cells off both screens, reading only the lines its cells
// were attached to.
void removeKittyPlacement(Terminal& terminal, uint32_t imageId, uint32_t placementId);
// Appends an image cell to a line of one of the terminal's screens (counted from the oldest line
// held), noting where a Kitty placement's cells go; a line outside the ring takes nothing. A cell
// of the placement being displayed learns which of its rows it shows.
void attachImage(Terminal& terminal, Buffer& buffer, std::shared_ptr<TerminalImage> image, int lineIndex);
// The same for a cell that keeps the row of its placement it shows, as one moved elsewhere.
void attachImageCell(Terminal& terminal, Buffer& buffer, std::shared_ptr<TerminalImage> image, int lineIndex);
// Where a record's top row is now, as an index of its screen's ring: negative once it has left.
int64_t kittyRecordRow(const Terminal& terminal, const KittyPlacementRecord& record);
// Sets a record's top row to an index of its screen's ring as the ring stands now.
void setKittyRecordRow(const Terminal& terminal, KittyPlacementRecord& record, int64_t row);
// A resize reflows the normal screen: taken before it, where each of its records lies in the text
// of its line; given back after it, the records go where that text went, and those with cells to
// their cells.
struct KittyRecordPlaces {
  std::vector<KittyPlacementKey> keys;
  std::vector<std::optional<Buffer::TextPlace>> places;
  std::vector<int64_t> pastEnd;
  std::vector<int64_t> rows;
  // The lines below the cursor's row, from `belowFrom` on: a shorter screen takes blank ones off
  // the bottom, and a record on one of them stays as far below the last line kept.
  std::vector<std::weak_ptr<BufferLine>> below;
  int64_t belowFrom = 0;
};
KittyRecordPlaces kittyRecordPlaces(Terminal& terminal);
void placeKittyRecords(Terminal& terminal, const KittyRecordPlaces& places);

// Deletion.
void handleKittyDelete(Terminal& terminal, const KittyGraphicsControl& control);
void deletePlacementsVisibleOnScreen(Terminal& terminal);
void deletePlacementsByImageId(Terminal& terminal, uint32_t imageId, std::optional<uint32_t> placementId);
void deletePlacementsAtCell(Terminal& terminal, int64_t col, int64_t row, std::optional<int64_t> zIndex);
void deletePlacementsInColumn(Terminal& terminal, int64_t col);
void deletePlacementsInRow(Terminal& terminal, int64_t row);
void deletePlacementsWithZIndex(Terminal& terminal, int64_t zIndex);
void deletePlacementsByImageIdRange(Terminal& terminal, uint32_t minId, uint32_t maxId);
KittyPlacementKeySet removeKittyPlacements(Terminal& terminal, Buffer& buffer, int64_t lineStart, int64_t lineEnd,
                                           const KittyCellTest& predicate);
KittyPlacementKeySet removePlacementRecords(Terminal& terminal,
                                            const std::function<bool(const KittyPlacementRecord&)>& predicate);
KittyPlacementKeySet removeKittyPlacementsByKey(Terminal& terminal, const KittyPlacementKeySet& keys);
void cleanupUnusedKittyImages(Terminal& terminal);
std::unordered_set<uint32_t> collectUsedKittyImageIds(Terminal& terminal);
void collectUsedKittyImageIds(Terminal& terminal, Buffer& buffer, std::unordered_set<uint32_t>& into);
void clearAllKittyImages(Terminal& terminal);
void clearKittyImages(Terminal& terminal, Buffer& buffer, bool isAlternateBuffer);

// The cache budget: the stored images and the placement records together. Runs after every
// store and every placement.
void enforceKittyImageCacheLimit(Terminal& terminal);
// Notes that an image was placed, so that the cache budget counts it as in use until it next
// looks at what the screens use.
void markKittyImageShown(KittyGraphicsState& state, uint32_t imageId);
// Drops one stored image: its bytes from the total, its number, its place in the access order and
// its placement records (its cells stay).
void removeStoredKittyImage(KittyGraphicsState& state, uint32_t imageId);

// Relative placements.
struct KittyPlacementOrigin {
  std::optional<int64_t> col;
  std::optional<int64_t> row;
  bool isRelative = false;
  std::optional<std::string_view> errorMessage;
};
KittyPlacementOrigin resolveKittyPlacementOrigin(Terminal& terminal, const KittyGraphicsControl& control);
std::optional<std::pair<int64_t, int64_t>> resolveKittyPlacementPosition(Terminal& terminal,
                                                                         const KittyPlacementKey& key,
                                                                         const KittyPlacementPositions& positions,
                                                                         KittyPlacementPositions& resolved,
                                                                         KittyPlacementKeySet& visiting);
KittyPlacementPositions collectKittyPlacementPositions(Terminal& terminal, Buffer& buffer);
// Moves every cell of a placement to the row it shows of the placement whose top is now
// `newTopRow`, at `newLeftCol`; a cell that would land outside the lines held is dropped.
void moveKittyPlacementImages(Terminal& terminal, Buffer& buffer, const KittyPlacementKey& key, int64_t newTopRow,
                              int64_t newLeftCol);
void updateKittyRelativePlacementsForCurrentBuffer(Terminal& terminal);
// Moves every placement record with cells to where its cells now are, in both screens.
void syncKittyPlacementRecords(Terminal& terminal);
// The ring is about to drop its oldest line: the records of the placements with cells on it take
// the place those cells give, which a placement keeps once the ring holds none of its cells.
void keepKittyRecordsOfOldestLine(Terminal& terminal, Buffer& buffer);

}  // namespace vantrelle
