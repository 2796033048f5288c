#include <algorithm>
#include <cstdint>
#include <unordered_set>

#include "Vantrelle/Buffer/Buffer.h"
#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Graphics/KittyImageCells.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

constexpr int64_t kMaxBudget = int64_t{1} << 32;

// What the image cells of the screens refer to: the images they show and the placements they
// belong to, and how much looking for them cost.
struct CellReferences {
  std::unordered_set<uint32_t> imageIds;
  KittyPlacementKeySet placements;
  uint64_t cost = 0;
};

// A look at a line costs little, one at an image cell and at a stored image or record more.
constexpr uint64_t kLineCost = 1;
constexpr uint64_t kEntryCost = 32;
// What each store and placement pays towards the next look, in the same units.
constexpr uint64_t kCreditPerStore = 256;

void collectCellReferences(Terminal& terminal, Buffer& buffer, CellReferences& into) {
  if (buffer.linesWithImagesCount <= 0) return;
  into.cost += uint64_t(buffer.linesWithImagesCount) * kLineCost;
  forEachKittyImageCell(terminal, buffer, [&](int, const KittyPlacementImage& cell) {
    into.cost += kEntryCost;
    if (cell.kittyImageId) into.imageIds.insert(*cell.kittyImageId);
    if (auto key = cell.kittyKey(); key && cell.kittyIsKitty) into.placements.insert(*key);
  });
}

// Drops the records nothing can reach any more: those of images no longer stored, and those of
// placements with cells whose cells have all gone (scrolled out of the history or erased).
// Virtual placements have no cells; they stay while their image does.
void dropUnreachablePlacements(KittyGraphicsState& state, const KittyPlacementKeySet& placementsWithCells) {
  std::erase_if(state.placementsByKey, [&](const auto& entry) {
    const auto& [key, record] = entry;
    if (!state.imagesById.contains(record.imageId)) return true;
    return !record.isVirtual && !placementsWithCells.contains(key);
  });
}

bool hasPlacementRecord(const KittyGraphicsState& state, uint32_t imageId) {
  auto found = state.placementsByKey.lower_bound({imageId, 0});
  return found != state.placementsByKey.end() && found->first.imageId == imageId;
}

// Looks through both screens: drops the records that lead nowhere and notes, oldest first, the
// stored images that neither a cell nor a record uses.
void scanReferences(Terminal& terminal) {
  auto& state = terminal.kittyGraphicsState;
  CellReferences cells;
  collectCellReferences(terminal, *terminal.normalBuffer, cells);
  collectCellReferences(terminal, *terminal.altBuffer, cells);
  dropUnreachablePlacements(state, cells.placements);
  auto& scan = state.referenceScan;
  scan.unused.clear();
  for (const auto& [tick, id] : state.idsByAccess) {
    if (!cells.imageIds.contains(id) && !hasPlacementRecord(state, id)) scan.unused.emplace_back(tick, id);
  }
  for (auto& [id, image] : state.imagesById) image.shownSinceScan = false;
  scan.firstTickAfter = state.nextImageAccessTick;
  scan.cost = cells.cost + (state.idsByAccess.size() + state.placementsByKey.size()) * kEntryCost;
  scan.credit = 0;
  scan.count++;
}

// Evicts the images that `candidate` accepts, least recently used first, until the store fits;
// true once it does. Walking the access order costs nothing per image that stays.
template <typename Candidate>
bool evictOldestFirst(KittyGraphicsState& state, int64_t budget, Candidate candidate) {
  auto entry = state.idsByAccess.begin();
  while (entry != state.idsByAccess.end() && budget < state.storeBytes()) {
    const auto [tick, id] = *entry;
    ++entry;
    auto found = state.imagesById.find(id);
    if (found == state.imagesById.end() || found->second.lastAccessTick != tick) {
      state.idsByAccess.erase(tick);  // an entry the store no longer matches
      continue;
    }
    if (candidate(id)) removeStoredKittyImage(state, id);
  }
  return budget >= state.storeBytes();
}

// The records of one image lie together in the store.
void removeKittyPlacementRecords(KittyGraphicsState& state, uint32_t imageId) {
  auto& records = state.placementsByKey;
  records.erase(records.lower_bound({imageId, 0}), records.upper_bound({imageId, UINT32_MAX}));
}

}  // namespace

void removeStoredKittyImage(KittyGraphicsState& state, uint32_t imageId) {
  auto found = state.imagesById.find(imageId);
  if (found == state.imagesById.end()) return;
  const KittyGraphicsImage& image = found->second;
  state.totalImageBytes = std::max<int64_t>(state.totalImageBytes - image.byteSize, 0);
  if (auto access = state.idsByAccess.find(image.lastAccessTick);
      access != state.idsByAccess.end() && access->second == imageId) {
    state.idsByAccess.erase(access);
  }
  // A number that has since been given to another image stays with that one.
  if (image.number) {
    if (auto mapped = state.imageNumbers.find(*image.number);
        mapped != state.imageNumbers.end() && mapped->second == imageId) {
      state.imageNumbers.erase(mapped);
    }
  }
  state.imagesById.erase(found);
  // Its cells keep showing what they hold, but no placement of it can be drawn or followed.
  removeKittyPlacementRecords(state, imageId);
}

// Looking through the screens for what their cells use costs a walk of every line with images,
// so it is not repeated for every store while the store stays full: until the stores since have
// paid for it, the last look's findings stand in. An image it found unused is unused still unless
// it was stored or placed again since (its tick changed); an image stored since is unused unless
// it was placed. Images that fell out of use since wait for the next look to go first, and so do
// the records that lost their cells.
void enforceKittyImageCacheLimit(Terminal& terminal) {
  auto& state = terminal.kittyGraphicsState;
  auto& scan = state.referenceScan;
  scan.credit += kCreditPerStore;
  int64_t budget = std::clamp<int64_t>(terminal.options.kittyImageCacheLimitBytes, 0, kMaxBudget);
  if (budget >= state.storeBytes()) return;
  if (scan.credit >= scan.cost) {
    // Records that lead nowhere go before any image.
    scanReferences(terminal);
    if (budget >= state.storeBytes()) return;
  }
  // Images nothing shows go first, oldest first; images still in use only when that is not enough.
  auto unusedNow = [&](uint64_t tick, uint32_t id) {
    auto found = state.imagesById.find(id);
    return found != state.imagesById.end() && found->second.lastAccessTick == tick && !found->second.shownSinceScan &&
           !hasPlacementRecord(state, id);
  };
  while (!scan.unused.empty() && budget < state.storeBytes()) {
    const auto [tick, id] = scan.unused.front();
    scan.unused.pop_front();
    if (unusedNow(tick, id)) removeStoredKittyImage(state, id);
  }
  for (auto entry = state.idsByAccess.lower_bound(scan.firstTickAfter);
       entry != state.idsByAccess.end() && budget < state.storeBytes();) {
    const auto [tick, id] = *entry++;
    if (unusedNow(tick, id)) removeStoredKittyImage(state, id);
  }
  if (evictOldestFirst(state, budget, [](uint32_t) { return true; })) return;
  // Only records of images no longer stored can be left: nothing leads from them.
  std::erase_if(state.placementsByKey,
                [&](const auto& entry) { return !state.imagesById.contains(entry.first.imageId); });
}

}  // namespace vantrelle
