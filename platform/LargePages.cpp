#include "platform/LargePages.h"

#include <sys/mman.h>

#include <cstdint>

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

}  // namespace platform
