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
// belong to.
struct CellReferences {
  std::unordered_set<uint32_t> imageIds;
  KittyPlacementKeySet placements;
};

void collectCellReferences(Buffer& buffer, CellReferences& into) {
  forEachKittyImageCell(buffer, [&](int, const KittyPlacementImage& cell) {
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

void enforceKittyImageCacheLimit(Terminal& terminal) {
  auto& state = terminal.kittyGraphicsState;
  int64_t budget = std::clamp<int64_t>(terminal.options.kittyImageCacheLimitBytes, 0, kMaxBudget);
  if (budget >= state.storeBytes()) return;
  CellReferences cells;
  collectCellReferences(*terminal.normalBuffer, cells);
  collectCellReferences(*terminal.altBuffer, cells);
  // Records that lead nowhere go before any image.
  dropUnreachablePlacements(state, cells.placements);
  if (budget >= state.storeBytes()) return;
  // Images nothing shows go first; images still in use only when that is not enough.
  auto& used = cells.imageIds;
  for (const auto& [key, record] : state.placementsByKey) used.insert(record.imageId);
  if (evictOldestFirst(state, budget, [&](uint32_t id) { return !used.contains(id); })) return;
  evictOldestFirst(state, budget, [](uint32_t) { return true; });
}

}  // namespace vantrelle
