#include "Vantrelle/Buffer/CharData.h"

#include <vector>

namespace vantrelle {

CharData CharData::Null{};

namespace {

// Underline colours are rare, so cells hold a 9-bit index into this process-wide table instead of
// the colour itself. Index 0 means no colour of its own. A full table drops new colours: such an
// underline falls back to the text colour rather than evicting a colour that cells still use.
constexpr uint32_t underlineColorLimit = 511;

std::vector<Attribute::Color>& underlineColors() {
  static std::vector<Attribute::Color> table;
  return table;
}

constexpr uint32_t colorMask = 0x03ffffff;

}  // namespace

uint32_t CharData::underlineColorIndex(Attribute::Color color) {
  auto& table = underlineColors();
  static uint32_t lastHit = 0;
  if (lastHit != 0 && table[lastHit - 1] == color) return lastHit;
  for (uint32_t i = 0; i < table.size(); i++) {
    if (table[i] == color) return lastHit = i + 1;
  }
  if (table.size() >= underlineColorLimit) return 0;
  table.push_back(color);
  return lastHit = uint32_t(table.size());
}

Attribute CharData::attribute() const {
  uint32_t under = (fgBits >> 29) << 6 | bgBits >> 26;
  std::optional<Attribute::Color> underlineColor;
  if (under != 0) underlineColor = underlineColors()[under - 1];
  return Attribute(Attribute::Color::unpacked(fgBits & colorMask), Attribute::Color::unpacked(bgBits & colorMask),
                   CharacterStyle(styleBits), UnderlineStyle((fgBits >> 26) & 7), underlineColor);
}

char32_t CharData::getCharacter() const {
  if (code == 0) return 0;
  return isValidScalar(code) ? char32_t(code) : U' ';
}

std::string CharData::debugDescription() const {
  std::string out = "CharData: " + std::to_string(code) + " ";
  if (isValidScalar(code)) {
    appendUtf8(out, char32_t(code));
  } else {
    out += "?";
  }
  return out;
}

}  // namespace vantrelle
