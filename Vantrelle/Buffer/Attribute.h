#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

namespace vantrelle {

// The SGR rendition flags of a cell, a set over one byte.
struct CharacterStyle {
  uint8_t rawValue = 0;

  static const CharacterStyle none, bold, underline, blink, inverse, invisible, dim, italic, crossedOut;

  constexpr CharacterStyle() = default;
  constexpr explicit CharacterStyle(uint8_t raw) : rawValue(raw) {}
  constexpr CharacterStyle(std::initializer_list<CharacterStyle> flags) {
    for (auto flag : flags) rawValue |= flag.rawValue;
  }
  // Keeps bits 18 to 25 of a packed attribute word.
  static constexpr CharacterStyle fromAttribute(int32_t attribute) {
    return CharacterStyle(uint8_t((uint32_t(attribute) >> 18) & 0xff));
  }

  constexpr bool contains(CharacterStyle other) const { return (rawValue & other.rawValue) == other.rawValue; }
  constexpr bool isEmpty() const { return rawValue == 0; }
  constexpr bool isSubset(CharacterStyle of) const { return (rawValue & ~of.rawValue) == 0; }
  constexpr bool isSuperset(CharacterStyle of) const { return of.isSubset(*this); }
  constexpr bool isDisjoint(CharacterStyle with) const { return (rawValue & with.rawValue) == 0; }
  constexpr CharacterStyle subtracting(CharacterStyle other) const {
    return CharacterStyle(uint8_t(rawValue & ~other.rawValue));
  }
  constexpr void insert(CharacterStyle other) { rawValue |= other.rawValue; }
  constexpr void remove(CharacterStyle other) { rawValue &= uint8_t(~other.rawValue); }
  constexpr void update(CharacterStyle other) { insert(other); }

  friend constexpr CharacterStyle operator|(CharacterStyle a, CharacterStyle b) {
    return CharacterStyle(uint8_t(a.rawValue | b.rawValue));
  }
  friend constexpr CharacterStyle operator&(CharacterStyle a, CharacterStyle b) {
    return CharacterStyle(uint8_t(a.rawValue & b.rawValue));
  }
  friend constexpr CharacterStyle operator^(CharacterStyle a, CharacterStyle b) {
    return CharacterStyle(uint8_t(a.rawValue ^ b.rawValue));
  }
  constexpr bool operator==(const CharacterStyle&) const = default;
};

inline constexpr CharacterStyle CharacterStyle::none{uint8_t(0)};
inline constexpr CharacterStyle CharacterStyle::bold{uint8_t(1)};
inline constexpr CharacterStyle CharacterStyle::underline{uint8_t(2)};
inline constexpr CharacterStyle CharacterStyle::blink{uint8_t(4)};
inline constexpr CharacterStyle CharacterStyle::inverse{uint8_t(8)};
inline constexpr CharacterStyle CharacterStyle::invisible{uint8_t(16)};
inline constexpr CharacterStyle CharacterStyle::dim{uint8_t(32)};
inline constexpr CharacterStyle CharacterStyle::italic{uint8_t(64)};
inline constexpr CharacterStyle CharacterStyle::crossedOut{uint8_t(128)};

// `double` is a keyword, so that case carries a trailing underscore.
enum class UnderlineStyle : uint8_t { none = 0, single = 1, double_ = 2, curly = 3, dotted = 4, dashed = 5 };

// The case for a raw value, or nothing for 6 and above.
constexpr std::optional<UnderlineStyle> underlineStyle(uint8_t rawValue) {
  if (rawValue > 5) return std::nullopt;
  return UnderlineStyle(rawValue);
}

// The rendition of a cell. Cells keep it packed (see CharData); this is the form callers build
// and compare.
struct Attribute {
  class Color {
   public:
    enum class Kind : uint8_t { defaultColor = 0, defaultInvertedColor = 1, ansi256 = 2, trueColor = 3 };

    static const Color defaultColor, defaultInvertedColor;
    static constexpr Color ansi256(uint8_t code) { return Color(Kind::ansi256, code, 0, 0); }
    static constexpr Color trueColor(uint8_t red, uint8_t green, uint8_t blue) {
      return Color(Kind::trueColor, red, green, blue);
    }

    constexpr Kind kind() const { return kind_; }
    constexpr uint8_t code() const { return a_; }  // ansi256
    constexpr uint8_t red() const { return a_; }   // trueColor
    constexpr uint8_t green() const { return b_; }
    constexpr uint8_t blue() const { return c_; }

    constexpr bool operator==(const Color&) const = default;

    // The 26-bit form stored in cells: the kind above the 24 payload bits.
    constexpr uint32_t packed() const { return uint32_t(kind_) << 24 | uint32_t(a_) << 16 | uint32_t(b_) << 8 | c_; }
    static constexpr Color unpacked(uint32_t bits) {
      return Color(Kind((bits >> 24) & 3), uint8_t(bits >> 16), uint8_t(bits >> 8), uint8_t(bits));
    }

   private:
    constexpr Color(Kind kind, uint8_t a, uint8_t b, uint8_t c) : c_(c), b_(b), a_(a), kind_(kind) {}
    // Held in the order of the packed form's bytes on little-endian targets, so that packing
    // and unpacking, done for every cell of colourful output, are one load and one store.
    uint8_t c_, b_, a_;
    Kind kind_;
  };

  Color fg;
  Color bg;
  CharacterStyle style;
  UnderlineStyle underlineStyle = UnderlineStyle::none;
  std::optional<Color> underlineColor;

  constexpr Attribute(Color fg, Color bg, CharacterStyle style, UnderlineStyle underlineStyle = UnderlineStyle::none,
                      std::optional<Color> underlineColor = std::nullopt)
      : fg(fg), bg(bg), style(style), underlineStyle(underlineStyle), underlineColor(underlineColor) {}

  // Default foreground on the inverted default background.
  static const Attribute empty;

  // The SGR parameter text of this rendition, as reported to DECRQSS.
  std::string toSgr() const;

  constexpr bool operator==(const Attribute&) const = default;
};

inline constexpr Attribute::Color Attribute::Color::defaultColor{Kind::defaultColor, 0, 0, 0};
inline constexpr Attribute::Color Attribute::Color::defaultInvertedColor{Kind::defaultInvertedColor, 0, 0, 0};
inline constexpr Attribute Attribute::empty{Attribute::Color::defaultColor, Attribute::Color::defaultInvertedColor,
                                            CharacterStyle::none};

}  // namespace vantrelle

template <>
struct std::hash<vantrelle::CharacterStyle> {
  size_t operator()(vantrelle::CharacterStyle style) const noexcept { return style.rawValue; }
};

template <>
struct std::hash<vantrelle::Attribute::Color> {
  size_t operator()(vantrelle::Attribute::Color color) const noexcept { return std::hash<uint32_t>()(color.packed()); }
};

template <>
struct std::hash<vantrelle::Attribute> {
  size_t operator()(const vantrelle::Attribute& a) const noexcept {
    uint64_t under = a.underlineColor ? (uint64_t(1) << 32 | a.underlineColor->packed()) : 0;
    uint64_t word = uint64_t(a.fg.packed()) << 32 | a.bg.packed();
    size_t h = std::hash<uint64_t>()(word);
    h ^= std::hash<uint64_t>()(under ^ uint64_t(a.style.rawValue) << 40 ^ uint64_t(a.underlineStyle) << 48) +
         0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
    return h;
  }
};
