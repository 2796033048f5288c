// Replaces the plain forms of operator new and delete for the engine tests, counting the bytes
// each block takes as the allocator reports them. The aligned forms keep their own and go
// uncounted.
#include "engine/support/HeapPeak.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int64_t> held{0};
std::atomic<int64_t> highest{0};

void* take(size_t bytes) {
  void* block = std::malloc(bytes ? bytes : 1);
  if (!block) throw std::bad_alloc();
  const int64_t now = held.fetch_add(int64_t(malloc_usable_size(block))) + int64_t(malloc_usable_size(block));
  int64_t high = highest.load();
  while (now > high && !highest.compare_exchange_weak(high, now)) {
  }
  return block;
}

void give(void* block) noexcept {
  if (!block) return;
  held.fetch_sub(int64_t(malloc_usable_size(block)));
  std::free(block);
}

}  // namespace

void* operator new(size_t bytes) { return take(bytes); }
void* operator new[](size_t bytes) { return take(bytes); }
void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
  try {
    return take(bytes);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t bytes, const std::nothrow_t&) noexcept {
  try {
    return take(bytes);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* block) noexcept { give(block); }
void operator delete[](void* block) noexcept { give(block); }
void operator delete(void* block, size_t) noexcept { give(block); }
void operator delete[](void* block, size_t) noexcept { give(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { give(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { give(block); }

namespace vantrelle::testing {

// Counting starts afresh from what is held now.
HeapPeak::HeapPeak() : start(held.load()) { highest.store(start); }

int64_t HeapPeak::bytes() const { return highest.load() - start; }

int64_t heapBytesHeld() { return held.load(); }

}  // namespace vantrelle::testing
