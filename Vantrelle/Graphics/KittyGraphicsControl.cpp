#include "Vantrelle/Graphics/KittyGraphicsControl.h"

#include <algorithm>
#include <string_view>

namespace vantrelle {
namespace {

constexpr int64_t kNumberBound = int64_t{1} << 32;

// A decimal integer with an optional sign, within 64 bits; anything else is no value.
std::optional<int64_t> parseInt(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  // Accumulate negatively so that INT64_MIN itself parses.
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    int digit = c - '0';
    if (value < (INT64_MIN + digit) / 10) return std::nullopt;
    value = value * 10 - digit;
  }
  if (!negative) {
    if (value == INT64_MIN) return std::nullopt;
    value = -value;
  }
  return std::clamp(value, -kNumberBound, kNumberBound);
}

// An id: unsigned, 32 bits, optional "+". Zero means "no id", as in the protocol.
std::optional<uint32_t> parseId(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && text[i] == '+') ++i;
  if (i == text.size()) return std::nullopt;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + uint64_t(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return uint32_t(value);
}

std::optional<char> parseChar(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return text.front();
}

int64_t intOr(std::string_view text, int64_t fallback) { return parseInt(text).value_or(fallback); }

bool isAscii(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b < 0x80; });
}

// Applies one key; a later item with the same key replaces the earlier one, bad values included.
void applyKey(KittyGraphicsControl& c, std::optional<int64_t>& more, char key, std::string_view v) {
  switch (key) {
    case 'a':
      c.action = parseChar(v).value_or('t');
      break;
    case 'q':
      c.suppressResponses = intOr(v, 0);
      break;
    case 'f':
      c.format = intOr(v, 32);
      break;
    case 't':
      c.transmission = parseChar(v).value_or('d');
      break;
    case 's':
      c.width = intOr(v, 0);
      break;
    case 'v':
      c.height = intOr(v, 0);
      break;
    case 'x':
      c.cropX = intOr(v, 0);
      break;
    case 'y':
      c.cropY = intOr(v, 0);
      break;
    case 'w':
      c.cropWidth = intOr(v, 0);
      break;
    case 'h':
      c.cropHeight = intOr(v, 0);
      break;
    case 'S':
      c.dataSize = intOr(v, 0);
      break;
    case 'O':
      c.dataOffset = intOr(v, 0);
      break;
    case 'i':
      c.imageId = parseId(v);
      break;
    case 'I':
      c.imageNumber = parseId(v);
      break;
    case 'p':
      c.placementId = parseId(v);
      break;
    case 'P':
      c.parentImageId = parseId(v);
      break;
    case 'Q':
      c.parentPlacementId = parseId(v);
      break;
    case 'H':
      c.offsetH = intOr(v, 0);
      break;
    case 'V':
      c.offsetV = intOr(v, 0);
      break;
    case 'X':
      c.pixelOffsetX = intOr(v, 0);
      break;
    case 'Y':
      c.pixelOffsetY = intOr(v, 0);
      break;
    case 'U':
      c.unicodePlaceholder = intOr(v, 0);
      break;
    case 'z':
      c.zIndex = intOr(v, 0);
      break;
    case 'm':
      more = intOr(v, 0);
      break;
    case 'o':
      c.compression = parseChar(v);
      break;
    case 'c':
      c.columns = intOr(v, 0);
      break;
    case 'r':
      c.rows = intOr(v, 0);
      break;
    case 'C':
      c.cursorPolicy = intOr(v, 0);
      break;
    case 'd':
      c.deleteMode = parseChar(v);
      break;
    default:
      break;
  }
}

}  // namespace

KittyGraphicsCommand parseKittyGraphicsControl(std::span<const uint8_t> bytes) {
  auto semicolon = std::find(bytes.begin(), bytes.end(), uint8_t(';'));
  std::span<const uint8_t> controlData(bytes.begin(), semicolon);
  std::span<const uint8_t> payload;
  if (semicolon != bytes.end()) payload = std::span<const uint8_t>(semicolon + 1, bytes.end());

  KittyGraphicsCommand command{KittyGraphicsControl{}, payload};
  std::optional<int64_t> more;
  size_t start = 0;
  while (start <= controlData.size()) {
    size_t end = start;
    while (end < controlData.size() && controlData[end] != ',') ++end;
    auto item = controlData.subspan(start, end - start);
    start = end + 1;
    auto equals = std::find(item.begin(), item.end(), uint8_t('='));
    if (item.empty() || equals == item.end() || !isAscii(item)) continue;
    std::string_view key(reinterpret_cast<const char*>(item.data()), size_t(equals - item.begin()));
    std::string_view value(reinterpret_cast<const char*>(&*equals) + 1, size_t(item.end() - equals - 1));
    if (key.size() == 1) applyKey(command.control, more, key.front(), value);
  }
  // Only direct transmissions are sent in chunks; "m" means nothing for the other media.
  command.control.more = command.control.transmission == 'd' ? more.value_or(0) : 0;
  return command;
}

}  // namespace vantrelle
