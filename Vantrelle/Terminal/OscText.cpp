#include "Vantrelle/Terminal/OscText.h"

#include <charconv>

namespace vantrelle::osc {

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
