#include "tools/reference-core/Base64.h"

#include <array>
#include <cstdint>

namespace refcore {

namespace {

constexpr char standardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char urlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string encode(std::string_view bytes, const char* alphabet, bool pad) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t group = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) text += alphabet[(group >> shift) & 0x3f];
  }
  const size_t rest = bytes.size() - i;
  if (rest == 0) return text;
  uint32_t group = uint8_t(bytes[i]) << 16;
  if (rest == 2) group |= uint8_t(bytes[i + 1]) << 8;
  text += alphabet[(group >> 18) & 0x3f];
  text += alphabet[(group >> 12) & 0x3f];
  if (rest == 2) text += alphabet[(group >> 6) & 0x3f];
  if (pad) text.append(rest == 1 ? "==" : "=");
  return text;
}

std::optional<std::string> decode(std::string_view text, const char* alphabet) {
  std::array<int8_t, 256> values;
  values.fill(-1);
  for (int i = 0; i < 64; ++i) values[uint8_t(alphabet[i])] = static_cast<int8_t>(i);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() * 3 / 4);
  uint32_t group = 0;
  int bits = 0;
  for (char c : text) {
    const int8_t value = values[uint8_t(c)];
    if (value < 0) return std::nullopt;
    group = (group << 6) | uint32_t(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((group >> bits) & 0xff);
    }
  }
  // Leftover bits must be zero, or two texts would decode to the same bytes.
  if (bits > 0 && (group & ((1u << bits) - 1)) != 0) return std::nullopt;
  return bytes;
}

}  // namespace

std::string base64Encode(std::string_view bytes) { return encode(bytes, standardAlphabet, true); }

std::string base64URLEncode(std::string_view bytes) { return encode(bytes, urlAlphabet, false); }

std::optional<std::string> base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
  return decode(text.substr(0, text.size() - padding), standardAlphabet);
}

std::optional<std::string> base64URLDecode(std::string_view text) { return decode(text, urlAlphabet); }

}  // namespace refcore
