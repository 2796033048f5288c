#pragma once
// Anonymous memory in regions the kernel may back with transparent huge pages, for the terminal's
// growing scrollback: one page fault then supplies a whole region instead of one per 4 KiB page.
#include <cstddef>

#include "Vantrelle/Buffer/CellSlabs.h"

namespace platform {

constexpr size_t largePageBytes = size_t(2) << 20;

// A zeroed region of `bytes` (a non-zero multiple of largePageBytes), aligned to largePageBytes,
// or nullptr. Where huge pages are off, or none are free, the kernel backs it with small pages.
void* allocateLargePages(size_t bytes);
void releaseLargePages(void* region, size_t bytes);

// Lets terminals made from now on carve their scrollback cells from such regions. Builds with
// AddressSanitizer keep every slab on the heap, where the sanitizer sees it.
inline void useLargePagesForTerminalCells() {
#if defined(__SANITIZE_ADDRESS__)
  return;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return;
#endif
#endif
  static const vantrelle::SlabMemory memory{largePageBytes, allocateLargePages, releaseLargePages};
  vantrelle::CellSlabs::useLargeSlabMemory(&memory);
}

}  // namespace platform
