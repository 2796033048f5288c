#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrelle {

// Bulk scans of the hot print path, sixteen bytes at a time where the processor allows.

// The length of the leading run of bytes of 0x20 and above (printable text, UTF-8 included).
inline size_t printableRunLength(const uint8_t* data, size_t size) {
  size_t i = 0;
#if defined(__SSE2__)
  const __m128i controlBits = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= size; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
    // A byte is a C0 control exactly when its top three bits are clear.
    const int controls = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(bytes, controlBits), zero));
    if (controls != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(controls)));
  }
#endif
  while (i < size && data[i] >= 0x20) ++i;
  return i;
}

// The length of the leading run of bytes below 0x80. Runs between control sequences are often
// shorter than a block, so the tail is read as the last whole block or word, overlapping bytes
// already known to be ASCII, rather than a byte at a time.
inline size_t asciiRunLength(const uint8_t* data, size_t size) {
  size_t i = 0;
#if defined(__SSE2__)
  if (size >= 16) {
    for (; i + 16 <= size; i += 16) {
      const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
      if (high != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high)));
    }
    if (i == size) return size;
    const size_t last = size - 16;
    const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + last)));
    return high != 0 ? last + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high))) : size;
  }
#endif
  if (size >= 8) {
    constexpr uint64_t kHighBits = 0x8080808080808080u;
    uint64_t word;
    std::memcpy(&word, data, sizeof word);
    if constexpr (std::endian::native == std::endian::little) {
      if ((word & kHighBits) != 0) return static_cast<size_t>(std::countr_zero(word & kHighBits)) / 8;
      std::memcpy(&word, data + size - 8, sizeof word);
      word &= kHighBits;
      return word != 0 ? size - 8 + static_cast<size_t>(std::countr_zero(word)) / 8 : size;
    }
  }
  while (i < size && data[i] < 0x80) ++i;
  return i;
}

// Whether every byte is below DEL (0x7F): with the bytes below 0x20 ruled out, text of one
// column per byte. Short runs, the common case between control sequences, are read as two
// overlapping words.
inline bool allBelowDel(const uint8_t* data, size_t size) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
  constexpr uint64_t kOnes = 0x0101010101010101u;
  // Adding one to the low seven bits carries into the top bit exactly for DEL.
  auto fromDel = [](uint64_t word) { return (((word & kLow7) + kOnes) | word) & ~kLow7; };
#if defined(__SSE2__)
  if (size >= 16) {
    // Adding one without wrapping sets the top bit of DEL and of every byte above it.
    const __m128i one = _mm_set1_epi8(1);
    auto fromDelIn = [&](size_t at) {
      return _mm_movemask_epi8(_mm_adds_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)), one));
    };
    for (size_t i = 0; i + 16 < size; i += 16) {
      if (fromDelIn(i)) return false;
    }
    return fromDelIn(size - 16) == 0;
  }
#endif
  if (size >= 8) {
    uint64_t word;
    size_t i = 0;
    for (; i + 8 < size; i += 8) {
      std::memcpy(&word, data + i, sizeof word);
      if (fromDel(word)) return false;
    }
    std::memcpy(&word, data + size - 8, sizeof word);
    return fromDel(word) == 0;
  }
  uint8_t any = 0;
  for (size_t i = 0; i < size; ++i) any |= static_cast<uint8_t>(data[i] + 1) | data[i];
  return (any & 0x80) == 0;
}

// The leading run of bytes of 0x20 and above, as printableRunLength finds it, and whether all
// of them are below DEL, as allBelowDel tells. Text between control sequences is mostly shorter
// than two blocks: those are read at once, so that the run's length picks no branch the
// processor could mispredict, and DEL is looked for in the blocks already loaded.
struct PrintableRun {
  size_t length;
  bool belowDel;
};
inline PrintableRun printableRun(const uint8_t* data, size_t size) {
  size_t i = 0;
  bool belowDel = true;
#if defined(__SSE2__)
  const __m128i controlBits = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  // The controls in the two blocks at `at`, and the bytes from DEL up, a bit for each byte.
  struct Marks {
    uint32_t controls, fromDel;
  };
  auto marksAt = [&](size_t at) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 16));
    auto controlsIn = [&](__m128i bytes) {
      return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(bytes, controlBits), zero)));
    };
    // Adding one without wrapping sets the top bit of DEL and of every byte above it.
    auto fromDelIn = [&](__m128i bytes) { return static_cast<uint32_t>(_mm_movemask_epi8(_mm_adds_epu8(bytes, one))); };
    return Marks{controlsIn(first) | controlsIn(second) << 16, fromDelIn(first) | fromDelIn(second) << 16};
  };
  auto before = [](const Marks& marks) {
    const auto length = static_cast<unsigned>(std::countr_zero(marks.controls));
    return std::pair{length, marks.fromDel & ((uint32_t(1) << length) - 1)};
  };
  if (size >= 32) {
    // The first pair on its own: the run between two control sequences nearly always ends there.
    Marks marks = marksAt(0);
    if (marks.controls != 0) {
      const auto [length, fromDel] = before(marks);
      return {length, fromDel == 0};
    }
    uint32_t fromDelBefore = marks.fromDel;
    for (i = 32; i + 32 <= size; i += 32) {
      marks = marksAt(i);
      if (marks.controls != 0) {
        const auto [length, fromDel] = before(marks);
        return {i + length, (fromDelBefore | fromDel) == 0};
      }
      fromDelBefore |= marks.fromDel;
    }
    belowDel = fromDelBefore == 0;
  }
#endif
  const size_t length = i + printableRunLength(data + i, size - i);
  return {length, belowDel && allBelowDel(data + i, length - i)};
}

// Whether any byte of the word is `value`.
constexpr bool hasByte(uint64_t word, uint8_t value) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  const uint64_t x = word ^ (kOnes * value);
  return ((x - kOnes) & ~x & (kOnes * 0x80)) != 0;
}

}  // namespace vantrelle
