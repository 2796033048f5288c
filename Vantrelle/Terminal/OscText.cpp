#include "Vantrelle/Terminal/OscText.h"

#include <charconv>

namespace vantrelle::osc {

std::optional<std::string> utf8(std::span<const uint8_t> data) {
  size_t i = 0;
  while (i < data.size()) {
    const uint8_t lead = data[i];
    const int length = lead < 0x80                    ? 1
                       : lead >= 0xC2 && lead <= 0xDF ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0 || i + static_cast<size_t>(length) > data.size()) return std::nullopt;
    for (int k = 1; k < length; ++k) {
      uint8_t low = 0x80, high = 0xBF;
      if (k == 1 && lead == 0xE0) low = 0xA0;
      if (k == 1 && lead == 0xED) high = 0x9F;
      if (k == 1 && lead == 0xF0) low = 0x90;
      if (k == 1 && lead == 0xF4) high = 0x8F;
      const uint8_t b = data[i + static_cast<size_t>(k)];
      if (b < low || b > high) return std::nullopt;
    }
    i += static_cast<size_t>(length);
  }
  return std::string(data.begin(), data.end());
}

std::optional<std::string> ascii(std::span<const uint8_t> data) {
  for (uint8_t b : data) {
    if (b >= 0x80) return std::nullopt;
  }
  return std::string(data.begin(), data.end());
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  while (true) {
    const size_t at = text.find(separator, from);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(from));
      return parts;
    }
    parts.push_back(text.substr(from, at - from));
    from = at + 1;
  }
}

std::optional<int64_t> parseInteger(std::string_view text) {
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty() || text[0] == '+') return std::nullopt;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace vantrelle::osc
