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

void Base64Decoder::fail() {
  hasFailed = true;
  out = {};
}

void Base64Decoder::append(std::span<const uint8_t> text) {
  if (hasFailed) return;
  if (out.empty() && text.size() / 4 * 3 <= limit) out.reserve(text.size() / 4 * 3 + 3);
  for (uint8_t byte : text) {
    uint8_t value = kTable[byte];
    if (value == kSkip) continue;
    if (value == kPad) {
      ++padding;
      continue;
    }
    if (padding > 0) return fail();  // data after the padding
    symbols = (symbols + 1) % 4;
    accumulator = (accumulator << 6) | value;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (out.size() >= limit) return fail();
      out.push_back(uint8_t(accumulator >> bits));
      accumulator &= (1u << bits) - 1;
    }
  }
}

// One leftover symbol carries fewer than 8 bits, and padding must fill out a group of two or
// three symbols exactly.
bool Base64Decoder::groupIsBroken() const {
  if (symbols == 1) return true;
  return padding > 0 && (symbols == 0 || (symbols + padding) % 4 != 0);
}

// A group that padding has filled out is complete; any other state carries over to the next
// chunk, as if the chunks were one text.
void Base64Decoder::endChunk() {
  if (hasFailed || padding == 0 || groupIsBroken()) return;
  accumulator = 0;
  bits = 0;
  symbols = 0;
  padding = 0;
}

std::optional<std::vector<uint8_t>> Base64Decoder::finish() {
  if (hasFailed || groupIsBroken()) return std::nullopt;
  hasFailed = true;  // the bytes leave with the result
  return std::move(out);
}

std::optional<std::vector<uint8_t>> base64Decode(std::span<const uint8_t> text, size_t maxDecodedSize) {
  Base64Decoder decoder(maxDecodedSize);
  decoder.append(text);
  return decoder.finish();
}

}  // namespace vantrelle
