#pragma once

#include <any>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "Vantrelle/Buffer/Attribute.h"
#include "Vantrelle/Buffer/TinyAtom.h"
#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {

// One cell. Lines are contiguous blocks of these, so a cell is a small trivially copyable value:
// the rendition is packed into two words (colour kind and payload, the underline style and an
// index into the underline-colour table in their spare bits) plus the style byte.
struct CharData {
  int32_t code = 0;  // 0 = empty; below 0x400000 a scalar; above it a key of the terminal's map
  int8_t width = 1;  // 2 for a wide character, 0 for the continuation cell after it

 private:
  uint8_t styleBits = 0;  // declared here so the cell packs into 16 bytes

 public:
  TinyAtom payload;

  static CharData Null;
  static constexpr int32_t firstMapKey = 0x400000;

  constexpr CharData() = default;
  CharData(int32_t code, int8_t width, const Attribute& attribute, TinyAtom payload = {})
      : code(code), width(width), payload(payload) {
    setAttribute(attribute);
  }

  Attribute attribute() const;
  void setAttribute(const Attribute& attribute) {
    // Most renditions carry no underline colour: pack those without touching the table.
    uint32_t under = attribute.underlineColor ? underlineColorIndex(*attribute.underlineColor) : 0;
    styleBits = attribute.style.rawValue;
    fgBits = attribute.fg.packed() | uint32_t(attribute.underlineStyle) << 26 | (under >> 6) << 29;
    bgBits = attribute.bg.packed() | (under & 0x3f) << 26;
  }
  // Compares renditions without unpacking them.
  bool sameAttribute(const CharData& other) const {
    return styleBits == other.styleBits && fgBits == other.fgBits && bgBits == other.bgBits;
  }
  // The same rendition as the cell of CharData.Null would have: default colours, nothing else.
  bool hasDefaultAttribute() const { return styleBits == 0 && fgBits == 0 && bgBits == 0; }
  // Text the program asked to hide (SGR 8): it shows as blanks, and is read back as blanks.
  bool isConcealed() const { return (styleBits & CharacterStyle::invisible.rawValue) != 0; }

  bool hasPayload() const { return payload.code != 0; }
  const std::any* getPayload() const { return payload.target(); }
  void setPayload(TinyAtom atom) { payload = atom; }

  // The code as a Unicode scalar; invalid scalars and map keys read as a space, 0 as U+0000.
  char32_t getCharacter() const;
  bool isSimpleRune() const { return code < firstMapKey; }
  void setValue(int32_t newCode, int32_t size) {
    code = newCode;
    width = int8_t(size);
  }
  std::string debugDescription() const;

  // Exact equality of every field, rendition included.
  bool operator==(const CharData&) const = default;

 private:
  static uint32_t underlineColorIndex(Attribute::Color color);

  uint32_t fgBits = 0;  // kind and colour; bits 26-28 underline style; 29-31 underline colour high
  uint32_t bgBits = 0;  // kind and colour; bits 26-31 underline colour low
};

static_assert(sizeof(CharData) <= 16, "cells must stay compact");
static_assert(std::is_trivially_copyable_v<CharData>);

// A cell as two machine words, for bulk writers: storing these keeps each cell one or two wide
// stores where a field-by-field copy would take six.
struct CellWords {
  uint64_t low;
  uint64_t high;
};
static_assert(sizeof(CellWords) == sizeof(CharData));
inline CellWords cellWords(const CharData& cell) {
  CellWords words;
  std::memcpy(&words, &cell, sizeof words);
  return words;
}

// Whether the code and width fill the low five bytes of the first word, as on little-endian targets.
constexpr bool codeAndWidthLeadTheFirstWord() {
  CharData probe;
  probe.code = 0x01020304;
  probe.width = 5;
  return (std::bit_cast<CellWords>(probe).low & 0xffffffffffu) == 0x0501020304u;
}

// The words of `cell` with another code and width, built in registers: setting fields of a cell
// in memory and then copying the cell whole stalls the copy on store forwarding.
inline CellWords cellWordsWithValue(const CharData& cell, int32_t code, int width) {
  CellWords words;
  std::memcpy(&words.low, &cell, sizeof words.low);
  std::memcpy(&words.high, reinterpret_cast<const unsigned char*>(&cell) + sizeof words.low, sizeof words.high);
  if constexpr (codeAndWidthLeadTheFirstWord()) {
    words.low = (words.low & ~uint64_t(0xffffffffffu)) | uint32_t(code) | uint64_t(uint8_t(width)) << 32;
  } else {
    CharData copy = cell;
    copy.setValue(code, width);
    words = cellWords(copy);
  }
  return words;
}

// Whether a code is a Unicode scalar value (not a surrogate, not past U+10FFFF).
constexpr bool isValidScalar(int64_t code) {
  return code >= 0 && code <= 0x10ffff && !(code >= 0xd800 && code <= 0xdfff);
}

}  // namespace vantrelle
