#pragma once
// How diagnostics write parameter and intermediate lists: decimal values in square brackets,
// separated by a comma and a blank, as in "[1, 2]".
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "Vantrelle/Terminal/TerminalTypes.h"

namespace vantrelle {

template <typename T>
std::string parameterListText(std::span<const T> values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); i++) {
    if (i) text += ", ";
    text += std::to_string(int64_t(values[i]));
  }
  return text + "]";
}

inline std::string parameterListText(std::span<const int> values) { return parameterListText<int>(values); }
inline std::string collectListText(std::span<const uint8_t> values) { return parameterListText<uint8_t>(values); }

// Joins texts and numbers left to right. (Prefer it to a literal + std::string, which GCC 12
// misreads as an overlapping copy under -O3.)
template <typename... Parts>
std::string concat(const Parts&... parts) {
  std::string text;
  auto add = [&](const auto& part) {
    if constexpr (std::is_arithmetic_v<std::decay_t<decltype(part)>>)
      text += std::to_string(part);
    else
      text += part;
  };
  (add(parts), ...);
  return text;
}

inline Bytes asBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

}  // namespace vantrelle
