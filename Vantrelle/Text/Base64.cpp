#include "Vantrelle/Text/Base64.h"

#include <array>

namespace vantrelle {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kForeign = 0xFF;
constexpr uint8_t kPad = 0xFE;

constexpr std::array<uint8_t, 256> makeTable() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = kForeign;
  for (uint8_t i = 0; i < 64; ++i) table[uint8_t(kAlphabet[i])] = i;
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
  // The form is settled once per text, not tested per byte.
  if (form == Form::strict) {
    appendSymbols<Form::strict>(text);
  } else {
    appendSymbols<Form::lenient>(text);
  }
}

template <Base64Decoder::Form kForm>
void Base64Decoder::appendSymbols(std::span<const uint8_t> text) {
  for (uint8_t byte : text) {
    uint8_t value = kTable[byte];
    if (value == kForeign) {
      if constexpr (kForm == Form::strict) return fail();
      continue;
    }
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
// three symbols exactly. The strict form takes no unpadded group.
bool Base64Decoder::groupIsBroken() const {
  if (symbols == 1) return true;
  if (padding == 0) return form == Form::strict && symbols != 0;
  return symbols == 0 || (symbols + padding) % 4 != 0;
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

std::optional<std::vector<uint8_t>> base64DecodeStrict(std::span<const uint8_t> text, size_t maxDecodedSize) {
  Base64Decoder decoder(maxDecodedSize, Base64Decoder::Form::strict);
  decoder.append(text);
  return decoder.finish();
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
