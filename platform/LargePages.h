#pragma once
// Anonymous memory in regions the kernel may back with transparent huge pages, for the terminal's
// growing scrollback: one page fault then supplies a whole region instead of one per 4 KiB page.
#include <cstddef>

namespace platform {

constexpr size_t largePageBytes = size_t(2) << 20;

// A zeroed region of `bytes` (a non-zero multiple of largePageBytes), aligned to largePageBytes,
// or nullptr. Where huge pages are off, or none are free, the kernel backs it with small pages.
void* allocateLargePages(size_t bytes);
void releaseLargePages(void* region, size_t bytes);

// The same for regions of exactly largePageBytes, through a process-wide cache of at most
// maxReusableRegions released regions: a terminal that refills its scrollback, or a new one
// after another closed, takes those back without the kernel clearing them again. A region from
// the cache holds whatever its last user left, and the kernel may reclaim a cached region's
// pages under memory pressure. Safe from any thread.
constexpr size_t maxReusableRegions = 4;
void* allocateReusableLargePages(size_t bytes);
void releaseReusableLargePages(void* region, size_t bytes);
// Regions the cache holds now.
size_t reusableRegionsHeld();
// Has the kernel supply the pages of [memory, memory + bytes) now, in one request, rather than
// one fault at a time as they are first written. Only a request: nothing happens where the
// kernel cannot.
void supplyPages(void* memory, size_t bytes);

}  // namespace platform
