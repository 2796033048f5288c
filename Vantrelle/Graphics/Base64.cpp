#include "Vantrelle/Graphics/Base64.h"

#include <array>

namespace vantrelle {
namespace {

constexpr uint8_t kSkip = 0xFF;
constexpr uint8_t kPad = 0xFE;

constexpr std::array<uint8_t, 256> makeTable() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = kSkip;
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (uint8_t i = 0; i < 64; ++i) table[uint8_t(alphabet[i])] = i;
  table[uint8_t('=')] = kPad;
  return table;
}

constexpr auto kTable = makeTable();

}  // namespace

std::optional<std::vector<uint8_t>> base64Decode(std::span<const uint8_t> text, size_t maxDecodedSize) {
  std::vector<uint8_t> out;
  if (text.size() / 4 * 3 <= maxDecodedSize) out.reserve(text.size() / 4 * 3 + 3);
  uint32_t accumulator = 0;
  int bits = 0;
  size_t symbols = 0;
  size_t padding = 0;
  for (uint8_t byte : text) {
    uint8_t value = kTable[byte];
    if (value == kSkip) continue;
    if (value == kPad) {
      ++padding;
      continue;
    }
    if (padding > 0) return std::nullopt;  // data after the padding
    ++symbols;
    accumulator = (accumulator << 6) | value;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (out.size() >= maxDecodedSize) return std::nullopt;
      out.push_back(uint8_t(accumulator >> bits));
      accumulator &= (1u << bits) - 1;
    }
  }
  // One leftover symbol carries fewer than 8 bits: that is not base64.
  if (symbols % 4 == 1) return std::nullopt;
  if (padding > 0 && (symbols % 4 == 0 || (symbols + padding) % 4 != 0)) return std::nullopt;
  return out;
}

}  // namespace vantrelle
