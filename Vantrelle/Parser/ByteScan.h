#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

}  // namespace vantrelle
