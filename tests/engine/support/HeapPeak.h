#pragma once
// The engine tests count the bytes that operator new hands out and takes back, so a test can
// bound the most memory an operation holds at once, not only what it leaves behind.
#include <cstdint>

namespace vantrelle::testing {

// The most bytes held through operator new at once, above what was held when it began.
class HeapPeak {
 public:
  HeapPeak();
  int64_t bytes() const;

 private:
  int64_t start;
};

// Bytes held through operator new now.
int64_t heapBytesHeld();

}  // namespace vantrelle::testing
