#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "Vantrelle/Buffer/Attribute.h"

namespace vantrelle::sgr {

// SGR (ECMA-48 8.3.117) applied to a rendition, with the colon sub-parameters of ITU T.416.
// `separators[k]` is the separator after parameter k.

// Applies the parameters from `start` on. Parameters that mean nothing are added to `unknown`
// when it is given.
void apply(Attribute& rendition, std::span<const int> pars, std::span<const uint8_t> separators, size_t start,
           std::vector<int>* unknown);

// Applies the leading parameters of the forms programs send with every cell (styles, palette
// and direct colours, without sub-parameters) and returns the index of the first parameter left
// for `apply`. Together the two give the same rendition as `apply` from the start.
size_t applyCommon(Attribute& rendition, std::span<const int> pars, std::span<const uint8_t> separators);

// A component of a direct colour, or an index of the palette: out-of-range values clamp.
inline uint32_t colorByte(int value) {
  // Nearly every value is in range: one test for that, the clamping only past it.
  if (static_cast<unsigned>(value) <= 255) [[likely]]
    return static_cast<uint32_t>(value);
  return value < 0 ? 0 : 255;
}

// One style parameter of those `applyCommon` takes (1, 3, 4, 7, 22, 23, 24 and 27), not an
// underline with sub-parameters: applied with the same result, returning true, or nothing done
// and false. A table rather than a switch, as programs toggle styles in no order to predict.
inline bool applyLoneStyle(Attribute& rendition, int p, uint8_t separatorAfter) {
  struct Change {
    bool known = false;
    uint8_t set = 0, clear = 0;
    bool underlines = false;
    UnderlineStyle underline = UnderlineStyle::none;
  };
  static constexpr auto changes = [] {
    std::array<Change, 28> t{};
    t[1] = {true, CharacterStyle::bold.rawValue, 0};
    t[3] = {true, CharacterStyle::italic.rawValue, 0};
    t[4] = {true, CharacterStyle::underline.rawValue, 0, true, UnderlineStyle::single};
    t[7] = {true, CharacterStyle::inverse.rawValue, 0};
    t[22] = {true, 0, CharacterStyle({CharacterStyle::bold, CharacterStyle::dim}).rawValue};
    t[23] = {true, 0, CharacterStyle::italic.rawValue};
    t[24] = {true, 0, CharacterStyle::underline.rawValue, true, UnderlineStyle::none};
    t[27] = {true, 0, CharacterStyle::inverse.rawValue};
    return t;
  }();
  if (static_cast<unsigned>(p) >= changes.size() || (p == 4 && separatorAfter == ':')) return false;
  const Change& change = changes[static_cast<size_t>(p)];
  if (!change.known) return false;
  rendition.style.rawValue = static_cast<uint8_t>((rendition.style.rawValue & ~change.clear) | change.set);
  if (change.underlines) rendition.underlineStyle = change.underline;
  return true;
}

// A lone palette or direct foreground or background colour (38;5;n, 48;5;n, 38;2;r;g;b or
// 48;2;r;g;b), what colourful output sends before nearly every cell: applied with the same
// result as `applyCommon`, returning true, or nothing done and false. Palette and direct
// colours, foregrounds and backgrounds come mixed at random, so the forms are told apart by
// selection rather than by branches.
inline bool applyLoneColor(Attribute& rendition, std::span<const int> pars, std::span<const uint8_t> separators) {
  const size_t count = pars.size();
  if (count != 3 && count != 5) return false;
  const int layer = pars[0];
  const bool indexed = count == 3;
  if ((layer != 38 && layer != 48) || separators[0] == ':' || pars[1] != (indexed ? 5 : 2)) return false;
  const uint32_t first = colorByte(pars[2]);
  const uint32_t palette = Attribute::Color::ansi256(static_cast<uint8_t>(first)).packed();
  const uint32_t direct =
      Attribute::Color::trueColor(static_cast<uint8_t>(first), static_cast<uint8_t>(colorByte(pars[count - 2])),
                                  static_cast<uint8_t>(colorByte(pars[count - 1])))
          .packed();
  // Masks and an index keep the compiler from turning either choice back into a branch.
  const uint32_t palettes = 0u - static_cast<uint32_t>(indexed);
  Attribute::Color* const layers[2] = {&rendition.fg, &rendition.bg};
  *layers[layer != 38] = Attribute::Color::unpacked((palette & palettes) | (direct & ~palettes));
  return true;
}

}  // namespace vantrelle::sgr
