#pragma once

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

// The length of the leading run of bytes below 0x80.
inline size_t asciiRunLength(const uint8_t* data, size_t size) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= size; i += 16) {
    const int high = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)));
    if (high != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(high)));
  }
#endif
  while (i < size && data[i] < 0x80) ++i;
  return i;
}

}  // namespace vantrelle
