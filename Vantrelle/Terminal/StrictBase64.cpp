#include "Vantrelle/Terminal/StrictBase64.h"

#include <array>

namespace vantrelle {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kInvalid = 0xFF;

constexpr std::array<uint8_t, 256> makeTable() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (uint8_t i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = i;
  return table;
}

constexpr auto kTable = makeTable();

}  // namespace

std::optional<std::vector<uint8_t>> base64DecodeStrict(std::span<const uint8_t> text, size_t maxDecodedSize) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  const size_t decodedSize = text.size() / 4 * 3 - padding;
  if (decodedSize > maxDecodedSize) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(decodedSize);
  uint32_t accumulator = 0;
  int bits = 0;
  for (size_t i = 0; i < text.size() - padding; ++i) {
    const uint8_t value = kTable[text[i]];
    if (value == kInvalid) return std::nullopt;
    accumulator = (accumulator << 6) | value;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(accumulator >> bits));
      accumulator &= (1u << bits) - 1;
    }
  }
  return out;
}

std::string base64Encode(std::span<const uint8_t> data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const uint32_t n = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(n >> shift) & 63];
  }
  const size_t rest = data.size() - i;
  if (rest > 0) {
    uint32_t n = uint32_t(data[i]) << 16;
    if (rest == 2) n |= uint32_t(data[i + 1]) << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace vantrelle
