#include <algorithm>
#include <vector>

#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

constexpr int64_t kMaxBudget = int64_t{1} << 32;

// Evicts the given images oldest first until the total fits; true once it does.
bool evictOldestFirst(Terminal& terminal, std::vector<uint32_t> ids, int64_t budget) {
  auto& state = terminal.kittyGraphicsState;
  std::stable_sort(ids.begin(), ids.end(), [&](uint32_t a, uint32_t b) {
    return state.imagesById.at(a).lastAccessTick < state.imagesById.at(b).lastAccessTick;
  });
  for (uint32_t id : ids) {
    if (auto found = state.imagesById.find(id); found != state.imagesById.end()) {
      state.totalImageBytes = std::max<int64_t>(state.totalImageBytes - found->second.byteSize, 0);
      state.imagesById.erase(found);
      removeKittyImageNumbers(terminal, id);
    }
    if (budget >= state.totalImageBytes) return true;
  }
  return false;
}

}  // namespace

void enforceKittyImageCacheLimit(Terminal& terminal) {
  auto& state = terminal.kittyGraphicsState;
  int64_t budget = std::clamp<int64_t>(terminal.options.kittyImageCacheLimitBytes, 0, kMaxBudget);
  if (budget >= state.totalImageBytes) return;
  // Images nothing shows go first; images still in use only when that is not enough.
  auto used = collectUsedKittyImageIds(terminal);
  std::vector<uint32_t> unused, all;
  for (const auto& [id, image] : state.imagesById) {
    all.push_back(id);
    if (!used.contains(id)) unused.push_back(id);
  }
  if (evictOldestFirst(terminal, std::move(unused), budget)) return;
  std::erase_if(all, [&](uint32_t id) { return !state.imagesById.contains(id); });
  evictOldestFirst(terminal, std::move(all), budget);
}

}  // namespace vantrelle
