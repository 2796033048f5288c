#include "platform/LargePages.h"

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <mutex>

namespace platform {

void* allocateLargePages(size_t bytes) {
  if (bytes == 0 || bytes % largePageBytes != 0 || bytes > SIZE_MAX - largePageBytes) return nullptr;
  // The kernel aligns mappings to pages only: map one large page more and cut the ends away so
  // the region starts on a boundary a huge page can fill.
  const size_t mapped = bytes + largePageBytes;
  void* mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  auto* start = static_cast<char*>(mapping);
  auto* region = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(start) + largePageBytes - 1) &
                                         ~uintptr_t(largePageBytes - 1));
  if (region > start) munmap(start, size_t(region - start));
  const size_t tail = mapped - size_t(region - start) - bytes;
  if (tail > 0) munmap(region + bytes, tail);
  // Only a request: with huge pages off the region simply keeps small ones.
  madvise(region, bytes, MADV_HUGEPAGE);
  return region;
}

void releaseLargePages(void* region, size_t bytes) {
  if (region) munmap(region, bytes);
}

namespace {

struct RegionCache {
  std::mutex mutex;
  std::array<void*, maxReusableRegions> regions{};
  size_t count = 0;
};

// Never destroyed: lines freed while the process exits may still hand regions back.
RegionCache& regionCache() {
  static auto* cache = new RegionCache;
  return *cache;
}

}  // namespace

void* allocateReusableLargePages(size_t bytes) {
  if (bytes == largePageBytes) {
    RegionCache& cache = regionCache();
    std::lock_guard lock(cache.mutex);
    if (cache.count > 0) return cache.regions[--cache.count];
  }
  return allocateLargePages(bytes);
}

void releaseReusableLargePages(void* region, size_t bytes) {
  if (!region) return;
  if (bytes == largePageBytes) {
    RegionCache& cache = regionCache();
    std::lock_guard lock(cache.mutex);
    if (cache.count < cache.regions.size()) {
      // The pages stay mapped for the next taker, but the kernel may take them back rather than
      // swap: a reclaimed page simply reads as zero again.
      madvise(region, bytes, MADV_FREE);
      cache.regions[cache.count++] = region;
      return;
    }
  }
  releaseLargePages(region, bytes);
}

void supplyPages(void* memory, size_t bytes) {
#if defined(MADV_POPULATE_WRITE)
  constexpr uintptr_t page = 4096;
  // Only whole pages inside the range: the heap's neighbours of a block are not ours to touch.
  const uintptr_t first = (reinterpret_cast<uintptr_t>(memory) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(page - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#else
  (void)memory;
  (void)bytes;
#endif
}

size_t reusableRegionsHeld() {
  RegionCache& cache = regionCache();
  std::lock_guard lock(cache.mutex);
  return cache.count;
}

}  // namespace platform
