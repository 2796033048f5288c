#include <algorithm>

#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

constexpr int64_t kMaxBudget = int64_t{1} << 32;

// Evicts the images that `candidate` accepts, least recently used first, until the total fits;
// true once it does. Walking the access order costs nothing per image that stays.
template <typename Candidate>
bool evictOldestFirst(KittyGraphicsState& state, int64_t budget, Candidate candidate) {
  auto entry = state.idsByAccess.begin();
  while (entry != state.idsByAccess.end() && budget < state.totalImageBytes) {
    const auto [tick, id] = *entry;
    ++entry;
    auto found = state.imagesById.find(id);
    if (found == state.imagesById.end() || found->second.lastAccessTick != tick) {
      state.idsByAccess.erase(tick);  // an entry the store no longer matches
      continue;
    }
    if (candidate(id)) removeStoredKittyImage(state, id);
  }
  return budget >= state.totalImageBytes;
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
}

void enforceKittyImageCacheLimit(Terminal& terminal) {
  auto& state = terminal.kittyGraphicsState;
  int64_t budget = std::clamp<int64_t>(terminal.options.kittyImageCacheLimitBytes, 0, kMaxBudget);
  if (budget >= state.totalImageBytes) return;
  // Images nothing shows go first; images still in use only when that is not enough.
  auto used = collectUsedKittyImageIds(terminal);
  if (evictOldestFirst(state, budget, [&](uint32_t id) { return !used.contains(id); })) return;
  evictOldestFirst(state, budget, [](uint32_t) { return true; });
}

}  // namespace vantrelle
