#include "Vantrelle/Text/Utf8.h"

#include <unicode/unistr.h>

namespace vantrelle {

bool isValidUtf8(std::span<const uint8_t> bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const Utf8Step step = decodeUtf8Step(bytes.data() + i, bytes.size() - i);
    if (step.status != Utf8Status::ok) return false;
    i += step.consumed;
  }
  return true;
}

std::optional<std::string> validUtf8(std::span<const uint8_t> bytes) {
  if (!isValidUtf8(bytes)) return std::nullopt;
  return std::string(bytes.begin(), bytes.end());
}

std::vector<char32_t> decodeUtf8Replacing(std::string_view text) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  std::vector<char32_t> scalars;
  scalars.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const Utf8Step step = decodeUtf8Step(bytes + i, text.size() - i);
    const bool ok = step.status == Utf8Status::ok;
    scalars.push_back(ok ? step.scalar : kReplacementCharacter);
    i += ok ? step.consumed : 1;
  }
  return scalars;
}

char32_t firstUtf8Scalar(std::string_view text) {
  if (text.empty()) return 0;
  const Utf8Step step = decodeUtf8Step(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  return step.status == Utf8Status::ok ? step.scalar : 0;
}

std::string toUtf8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace vantrelle
