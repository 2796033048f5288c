// SGR: the rendition of the characters printed next, with colon sub-parameters (ITU T.416).
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "Vantrelle/Terminal/SelectGraphicRendition.h"
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {
namespace {

using CellColor = Attribute::Color;

struct Sgr {
  std::span<const int> pars;
  std::span<const uint8_t> separators;  // separator k follows parameter k

  bool colonAfter(size_t k) const { return k < separators.size() && separators[k] == ':'; }
  uint8_t component(size_t k) const { return static_cast<uint8_t>(std::clamp(pars[k], 0, 255)); }

  // A colour beginning with its mode at `start`: the colour (if any) and the parameters used.
  std::pair<std::optional<CellColor>, size_t> parseExtendedColor(size_t start, bool usesColon) const {
    const size_t count = pars.size();
    if (start >= count) return {std::nullopt, 0};
    const int mode = pars[start];
    if (!usesColon) {
      if (mode == 5) {
        if (start + 1 >= count) return {std::nullopt, 1};
        return {CellColor::ansi256(component(start + 1)), 2};
      }
      if (mode == 2) {
        if (start + 3 >= count) return {std::nullopt, 1};
        return {CellColor::trueColor(component(start + 1), component(start + 2), component(start + 3)), 4};
      }
      return {std::nullopt, 1};
    }
    size_t j = start;
    while (j + 1 < count && colonAfter(j)) ++j;
    const size_t n = j - start + 1;
    if (mode == 5) {
      if (n < 2) return {std::nullopt, n};
      return {CellColor::ansi256(component(start + 1)), n};
    }
    if (mode == 2 && n == 4)
      return {CellColor::trueColor(component(start + 1), component(start + 2), component(start + 3)), n};
    if (mode == 2 && n >= 5)
      return {CellColor::trueColor(component(start + 2), component(start + 3), component(start + 4)), n};
    return {std::nullopt, n};
  }
};

UnderlineStyle underlineFor(int sub) {
  switch (sub) {
    case 2:
      return UnderlineStyle::double_;
    case 3:
      return UnderlineStyle::curly;
    case 4:
      return UnderlineStyle::dotted;
    case 5:
      return UnderlineStyle::dashed;
    default:
      return UnderlineStyle::single;
  }
}

}  // namespace

namespace sgr {

void apply(Attribute& rendition, std::span<const int> pars, std::span<const uint8_t> separators, size_t start,
           std::vector<int>* unknown) {
  const Sgr sgr{pars, separators};
  CellColor& fg = rendition.fg;
  CellColor& bg = rendition.bg;
  CharacterStyle& style = rendition.style;
  UnderlineStyle& underline = rendition.underlineStyle;
  std::optional<CellColor>& underlineColor = rendition.underlineColor;

  size_t i = start;
  while (i < pars.size()) {
    const int p = pars[i];
    size_t step = 1;
    if (p >= 30 && p <= 37) {
      fg = CellColor::ansi256(static_cast<uint8_t>(p - 30));
    } else if (p >= 40 && p <= 47) {
      bg = CellColor::ansi256(static_cast<uint8_t>(p - 40));
    } else if (p >= 90 && p <= 97) {
      fg = CellColor::ansi256(static_cast<uint8_t>(p - 82));
    } else if (p >= 100 && p <= 107) {
      bg = CellColor::ansi256(static_cast<uint8_t>(p - 92));
    } else if (p == 38 || p == 48 || p == 58) {
      const auto [color, used] = sgr.parseExtendedColor(i + 1, sgr.colonAfter(i));
      if (color) {
        if (p == 38) fg = *color;
        if (p == 48) bg = *color;
        if (p == 58) underlineColor = color;
      }
      step = 1 + std::max<size_t>(used, 1);
    } else if (p == 4) {
      if (sgr.colonAfter(i) && i + 1 < pars.size()) {
        const int sub = pars[i + 1];
        if (sub == 0) {
          style.remove(CharacterStyle::underline);
          underline = UnderlineStyle::none;
        } else {
          style.insert(CharacterStyle::underline);
          underline = underlineFor(sub);
        }
        step = 2;
      } else {
        style.insert(CharacterStyle::underline);
        underline = UnderlineStyle::single;
      }
    } else {
      switch (p) {
        case 0:
          fg = bg = CellColor::defaultColor;
          style = CharacterStyle::none;
          underline = UnderlineStyle::none;
          underlineColor.reset();
          break;
        case 1:
          style.insert(CharacterStyle::bold);
          break;
        case 2:
          style.insert(CharacterStyle::dim);
          break;
        case 3:
          style.insert(CharacterStyle::italic);
          break;
        case 5:
          style.insert(CharacterStyle::blink);
          break;
        case 7:
          style.insert(CharacterStyle::inverse);
          break;
        case 8:
          style.insert(CharacterStyle::invisible);
          break;
        case 9:
          style.insert(CharacterStyle::crossedOut);
          break;
        case 21:
          style.insert(CharacterStyle::underline);
          underline = UnderlineStyle::double_;
          break;
        case 22:
          style.remove(CharacterStyle::bold | CharacterStyle::dim);
          break;
        case 23:
          style.remove(CharacterStyle::italic);
          break;
        case 24:
          style.remove(CharacterStyle::underline);
          underline = UnderlineStyle::none;
          break;
        case 25:
          style.remove(CharacterStyle::blink);
          break;
        case 27:
          style.remove(CharacterStyle::inverse);
          break;
        case 28:
          style.remove(CharacterStyle::invisible);
          break;
        case 29:
          style.remove(CharacterStyle::crossedOut);
          break;
        case 39:
          fg = CellColor::defaultColor;
          break;
        case 49:
          bg = CellColor::defaultColor;
          break;
        case 59:
          underlineColor.reset();
          break;
        default:
          if (unknown) unknown->push_back(p);
          break;
      }
    }
    i += step;
  }
}

size_t applyCommon(Attribute& rendition, std::span<const int> pars, std::span<const uint8_t> separators) {
  const size_t count = pars.size();
  size_t i = 0;
  while (i < count) {
    const int p = pars[i];
    // Only underline and the colours read a colon after them; every other parameter stands alone.
    if (i < separators.size() && separators[i] == ':' && (p == 4 || p == 38 || p == 48)) return i;
    switch (p) {
      case 0:
        rendition = Attribute(CellColor::defaultColor, CellColor::defaultColor, CharacterStyle::none);
        break;
      case 1:
        rendition.style.insert(CharacterStyle::bold);
        break;
      case 3:
        rendition.style.insert(CharacterStyle::italic);
        break;
      case 4:
        rendition.style.insert(CharacterStyle::underline);
        rendition.underlineStyle = UnderlineStyle::single;
        break;
      case 7:
        rendition.style.insert(CharacterStyle::inverse);
        break;
      case 22:
        rendition.style.remove(CharacterStyle::bold | CharacterStyle::dim);
        break;
      case 23:
        rendition.style.remove(CharacterStyle::italic);
        break;
      case 24:
        rendition.style.remove(CharacterStyle::underline);
        rendition.underlineStyle = UnderlineStyle::none;
        break;
      case 27:
        rendition.style.remove(CharacterStyle::inverse);
        break;
      case 39:
        rendition.fg = CellColor::defaultColor;
        break;
      case 49:
        rendition.bg = CellColor::defaultColor;
        break;
      case 38:
      case 48: {
        // Only complete colours; anything short of one is left to the full rules. Colourful
        // output mixes palette and direct colours, foregrounds and backgrounds at random, so
        // both forms are read and one chosen by selection rather than by a branch.
        const auto mode = static_cast<unsigned>(i + 1 < count ? pars[i + 1] : -1);
        const bool indexed = mode == 5;
        const size_t used = indexed ? 3 : 5;
        // Modes 2 and 5 are bits of 0x24.
        if (mode >= 8 || ((0x24u >> mode) & 1) == 0 || i + used > count) return i;
        auto at = [&](size_t k) { return pars[std::min(k, count - 1)]; };
        const uint32_t first = colorByte(at(i + 2));
        const uint32_t palette = CellColor::ansi256(static_cast<uint8_t>(first)).packed();
        const uint32_t direct =
            CellColor::trueColor(static_cast<uint8_t>(first), static_cast<uint8_t>(colorByte(at(i + 3))),
                                 static_cast<uint8_t>(colorByte(at(i + 4))))
                .packed();
        const uint32_t keep = indexed ? ~uint32_t(0) : 0;
        CellColor& layer = p == 38 ? rendition.fg : rendition.bg;
        layer = CellColor::unpacked((palette & keep) | (direct & ~keep));
        i += used;
        continue;
      }
      default:
        if (p >= 30 && p <= 37) {
          rendition.fg = CellColor::ansi256(static_cast<uint8_t>(p - 30));
        } else if (p >= 40 && p <= 47) {
          rendition.bg = CellColor::ansi256(static_cast<uint8_t>(p - 40));
        } else if (p >= 90 && p <= 97) {
          rendition.fg = CellColor::ansi256(static_cast<uint8_t>(p - 82));
        } else if (p >= 100 && p <= 107) {
          rendition.bg = CellColor::ansi256(static_cast<uint8_t>(p - 92));
        } else {
          return i;
        }
        break;
    }
    ++i;
  }
  return i;
}

}  // namespace sgr

namespace {

std::string describePars(std::span<const int> pars) {
  std::string text = "[";
  for (size_t i = 0; i < pars.size(); ++i) {
    if (i) text += ", ";
    text += std::to_string(pars[i]);
  }
  return text + "]";
}

}  // namespace

// The parameters the quick pass left, under the full rules. Kept out of line, so the quick
// pass that nearly every SGR takes does not set up the note's strings.
void Terminal::selectGraphicRenditionFrom(size_t start, std::span<const int> pars,
                                          std::span<const uint8_t> separators) {
  // The note goes to the delegate, which might do anything with the terminal.
  forgetCellRun();
  // A program controls these parameters, so the note obeys the silent switch.
  std::vector<int> unknown;
  sgr::apply(curAttr, pars, separators, start, silentLog ? nullptr : &unknown);
  for (int p : unknown) logUnprefixed("Unknown SGR attribute: " + std::to_string(p) + " " + describePars(pars));
}

}  // namespace vantrelle
