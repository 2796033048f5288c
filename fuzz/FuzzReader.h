#pragma once
// What the fuzz targets share: reading the fuzzer's input front to back as a source of choices.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "Vantrelle/Text/Utf8.h"

namespace fuzzing {

using vantrelle::appendUtf8;

// Past the end of the input every byte read is zero and every run taken is empty, so a target's
// choices stay defined however short its input.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data(data), size(size) {}
  bool done() const { return at >= size; }
  uint8_t byte() { return at < size ? data[at++] : 0; }
  std::string take(size_t n) {
    n = std::min(n, size - at);
    std::string out(reinterpret_cast<const char*>(data + at), n);
    at += n;
    return out;
  }

 private:
  const uint8_t* data;
  size_t size;
  size_t at = 0;
};

}  // namespace fuzzing
