#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vantrelle {

// Standard base64 as OSC 52 and OSC 1337 carry it: the RFC 4648 alphabet with its closing "="
// fill, nothing else. Any other byte (white space included), a length that is not a multiple of
// four, misplaced fill, or a result larger than `maxDecodedSize` gives nothing.
std::optional<std::vector<uint8_t>> base64DecodeStrict(std::span<const uint8_t> text, size_t maxDecodedSize = 8u << 20);
// Padded, no line breaks.
std::string base64Encode(std::span<const uint8_t> data);

}  // namespace vantrelle
