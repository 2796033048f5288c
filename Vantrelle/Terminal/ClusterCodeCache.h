#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vantrelle {

// What the print path decided for a scalar printed after a cell: whether it joins the cell's
// grapheme cluster and the code of the joined cluster. The terminal's cluster table only grows,
// so the decision for a code whose cluster is known never changes; remembering it spares text
// that repeats its emoji and marks the string building and hashing of the table. The codes of
// single scalars beyond the Basic Multilingual Plane are kept under the cell code 0, which
// nothing joins.
class ClusterCodeCache {
 public:
  struct Step {
    int32_t code = 0;  // the joined cluster, unless a presentation selector vanished
    bool joins = false;
    bool selectorBase = false;  // whether the cell's cluster ends in a scalar with two presentations
  };

  const Step* find(int32_t cellCode, char32_t scalar) const {
    if (!entries) return nullptr;
    const uint64_t k = key(cellCode, scalar);
    const Entry& entry = (*entries)[slot(k)];
    return entry.key == k ? &entry.step : nullptr;
  }

  void insert(int32_t cellCode, char32_t scalar, Step step) {
    if (!entries) entries = std::make_unique<std::array<Entry, kSize>>();
    const uint64_t k = key(cellCode, scalar);
    (*entries)[slot(k)] = {k, step};
  }

 private:
  // Direct-mapped: a collision forgets the older decision, which is only recomputed.
  static constexpr int kSizeBits = 10;
  static constexpr size_t kSize = size_t(1) << kSizeBits;
  static constexpr uint64_t kEmpty = ~uint64_t(0);  // no key: a code takes 32 bits, a scalar 21

  struct Entry {
    uint64_t key = kEmpty;
    Step step;
  };

  static uint64_t key(int32_t cellCode, char32_t scalar) { return uint64_t(uint32_t(cellCode)) << 21 | scalar; }
  static size_t slot(uint64_t key) { return size_t((key * 0x9E3779B97F4A7C15u) >> (64 - kSizeBits)); }

  std::unique_ptr<std::array<Entry, kSize>> entries;  // made on the first non-trivial print
};

}  // namespace vantrelle
