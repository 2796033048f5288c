#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vantrelle::osc {

// The bytes as text when every one is below 0x80.
std::optional<std::string> ascii(std::span<const uint8_t> data);
// Splits at every separator, keeping empty parts.
std::vector<std::string_view> split(std::string_view text, char separator);
// A decimal integer with an optional sign filling the whole text; nothing on overflow.
std::optional<int64_t> parseInteger(std::string_view text);

inline std::span<const uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace vantrelle::osc
