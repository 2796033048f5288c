#pragma once

// The memory this process holds, for the tests and benchmarks that bound it: the pages it has
// resident, and the bytes the heap has handed out and not taken back. Header-only, with no library
// of its own, so the engine's tests and benchmarks take it as well as the view's.

#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

namespace process_memory {

// The process's resident pages, in bytes; 0 when /proc cannot be read.
inline size_t residentBytes() {
  long pages = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return size_t(resident) * size_t(sysconf(_SC_PAGESIZE));
}

// The bytes of the blocks the heap has handed out and not taken back, those it mapped on their own
// included; what the allocator keeps free does not count.
inline size_t heapBytesInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

}  // namespace process_memory
