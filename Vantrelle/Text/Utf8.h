#pragma once

// UTF-8 as the whole program reads and writes it, one rule for every caller: a well-formed
// sequence is the shortest form of a scalar value (no overlong forms, no surrogates, nothing past
// U+10FFFF). Text that a protocol requires to be valid is refused whole. Text decoded for display
// turns what is malformed into U+FFFD (decodeUtf8Replacing), except in the printer, which decodes
// the stream step by step and shows the lead byte of a malformed sequence as its Latin-1 character.

#include <unicode/uversion.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

U_NAMESPACE_BEGIN
class UnicodeString;
U_NAMESPACE_END

namespace vantrelle {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

constexpr bool isUnicodeScalar(char32_t c) { return c < 0xD800 || (c > 0xDFFF && c <= 0x10FFFF); }

enum class Utf8Status : uint8_t { ok, invalid, incomplete };

struct Utf8Step {
  Utf8Status status;
  char32_t scalar;  // the lead byte when invalid
  size_t consumed;  // when invalid: the maximal subpart (the lead and its valid continuation)
};

// Decodes the one sequence at `p` (`available` > 0) by maximal subparts: a sequence broken off
// early consumes only the bytes that were a valid beginning, so the byte that broke it is read
// again on its own. `incomplete` means the bytes so far begin a sequence that runs past the end.
inline Utf8Step decodeUtf8Step(const uint8_t* p, size_t available) {
  const uint8_t lead = p[0];
  int length;
  uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead < 0x80) return {Utf8Status::ok, lead, 1};
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {Utf8Status::invalid, lead, 1};
  }
  char32_t scalar = lead & (0xFF >> (length + 1));
  for (int k = 1; k < length; ++k) {
    if (static_cast<size_t>(k) >= available) return {Utf8Status::incomplete, 0, static_cast<size_t>(k)};
    const uint8_t b = p[k];
    if (b < low || b > high) return {Utf8Status::invalid, lead, static_cast<size_t>(k)};
    low = 0x80;
    high = 0xBF;
    scalar = (scalar << 6) | (b & 0x3F);
  }
  return {Utf8Status::ok, scalar, static_cast<size_t>(length)};
}

bool isValidUtf8(std::span<const uint8_t> bytes);
inline bool isValidUtf8(std::string_view text) {
  return isValidUtf8({reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

// The bytes as text when they are valid UTF-8, else nothing.
std::optional<std::string> validUtf8(std::span<const uint8_t> bytes);

// The scalars of the text for display: each byte that starts no well-formed sequence becomes
// U+FFFD on its own, so a malformed sequence can never turn into some other character.
std::vector<char32_t> decodeUtf8Replacing(std::string_view text);

// The first character of the text; 0 for none or a malformed one.
char32_t firstUtf8Scalar(std::string_view text);

// Appends the UTF-8 form of `c`; a value that is no scalar (a surrogate, past U+10FFFF) is
// written as U+FFFD, so what is written is always valid.
template <typename Bytes>
void appendUtf8(Bytes& out, char32_t c) {
  using Byte = typename Bytes::value_type;
  if (!isUnicodeScalar(c)) c = kReplacementCharacter;
  if (c < 0x80) {
    out.push_back(Byte(c));
  } else if (c < 0x800) {
    out.push_back(Byte(0xC0 | (c >> 6)));
    out.push_back(Byte(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(Byte(0xE0 | (c >> 12)));
    out.push_back(Byte(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(Byte(0x80 | (c & 0x3F)));
  } else {
    out.push_back(Byte(0xF0 | (c >> 18)));
    out.push_back(Byte(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(Byte(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(Byte(0x80 | (c & 0x3F)));
  }
}

// ICU's UTF-16 text as UTF-8 (unpaired surrogates become U+FFFD).
std::string toUtf8(const icu::UnicodeString& text);

}  // namespace vantrelle
