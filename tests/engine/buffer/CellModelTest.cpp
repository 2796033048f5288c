#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "Vantrelle/Buffer/CharData.h"

namespace vantrelle {
namespace {

using C = Attribute::Color;

TEST(CellModel, CellsAreCompactAndRoundTripEveryRendition) {
  static_assert(sizeof(CharData) <= 16);
  const Attribute renditions[] = {
      Attribute::empty,
      CharData::Null.attribute(),
      Attribute(C::ansi256(200), C::trueColor(1, 2, 3), CharacterStyle{CharacterStyle::bold, CharacterStyle::italic},
                UnderlineStyle::curly, C::trueColor(250, 251, 252)),
      Attribute(C::trueColor(255, 0, 255), C::defaultInvertedColor, CharacterStyle(0xff), UnderlineStyle::dashed,
                C::ansi256(7)),
  };
  for (const Attribute& attribute : renditions) {
    CharData cell(0x10ffff, 2, attribute);
    EXPECT_EQ(cell.attribute(), attribute);
    EXPECT_EQ(cell.code, 0x10ffff);
    EXPECT_EQ(cell.width, 2);
  }
}

TEST(CellModel, NullCellAndCharacterReading) {
  EXPECT_EQ(CharData::Null.getCharacter(), U'\0');
  EXPECT_EQ(CharData::Null.width, 1);
  EXPECT_TRUE(CharData::Null.hasDefaultAttribute());
  EXPECT_NE(CharData::Null.attribute(), Attribute::empty);  // they differ in the background
  for (int32_t code : {0xd800, 0x110000, 0x400001}) {
    CharData cell(code, 1, Attribute::empty);
    EXPECT_EQ(cell.getCharacter(), U' ') << code;
  }
  EXPECT_TRUE(CharData(0x3fffff, 1, Attribute::empty).isSimpleRune());
  EXPECT_FALSE(CharData(0x400000, 1, Attribute::empty).isSimpleRune());
  EXPECT_EQ(CharData('A', 1, Attribute::empty).debugDescription(), "CharData: 65 A");
  EXPECT_EQ(CharData(0x110000, 1, Attribute::empty).debugDescription(), "CharData: 1114112 ?");
}

TEST(CellModel, AttributesDifferingOnlyInUnderlineColourAreDistinct) {
  Attribute plain(C::defaultColor, C::defaultColor, CharacterStyle::underline, UnderlineStyle::single);
  Attribute red = plain;
  red.underlineColor = C::ansi256(1);
  EXPECT_NE(plain, red);
  EXPECT_NE(std::hash<Attribute>()(plain), std::hash<Attribute>()(red));
  std::unordered_set<Attribute> set{plain, red, red};
  EXPECT_EQ(set.size(), 2u);
  // The packed cell keeps them apart too.
  EXPECT_FALSE(CharData(1, 1, plain).sameAttribute(CharData(1, 1, red)));
}

TEST(CellModel, CharacterStyleSetOperations) {
  CharacterStyle style{CharacterStyle::bold, CharacterStyle::inverse};
  EXPECT_EQ(style.rawValue, 9);
  EXPECT_TRUE(style.contains(CharacterStyle::bold));
  EXPECT_TRUE(CharacterStyle::bold.isSubset(style));
  EXPECT_TRUE(style.isSuperset(CharacterStyle::inverse));
  EXPECT_TRUE(style.isDisjoint(CharacterStyle::dim));
  EXPECT_EQ(style.subtracting(CharacterStyle::bold), CharacterStyle::inverse);
  EXPECT_EQ((style ^ CharacterStyle::inverse), CharacterStyle::bold);
  style.remove(CharacterStyle::bold);
  style.remove(CharacterStyle::inverse);
  EXPECT_TRUE(style.isEmpty());
  EXPECT_EQ(CharacterStyle::fromAttribute(int32_t(0x5u << 18 | 0x3ffff)).rawValue, 5);
  EXPECT_EQ(underlineStyle(5), UnderlineStyle::dashed);
  EXPECT_FALSE(underlineStyle(6).has_value());
}

TEST(CellModel, ToSgr) {
  struct Case {
    Attribute attribute;
    std::string sgr;
  };
  const Case cases[] = {
      {Attribute::empty, "0m"},
      {Attribute(C::ansi256(1), C::ansi256(12), CharacterStyle::bold), "0;1;31;104m"},
      {Attribute(C::ansi256(200), C::defaultColor, {}), "0;38;5;200m"},
      {Attribute(C::trueColor(255, 0, 0), C::defaultColor, {}), "0;38;2;255;0;0m"},
      {Attribute(C::defaultColor, C::defaultColor, CharacterStyle(0xff)), "0;1;4;5;7;8m"},
      {Attribute(C::ansi256(16), C::defaultColor, {}), "0;38;5;16m"},
      {Attribute(C::ansi256(15), C::ansi256(7), {}), "0;97;47m"},
      {Attribute(C::defaultColor, C::trueColor(1, 2, 3), {}, UnderlineStyle::curly, C::ansi256(3)), "0;48;2;1;2;3m"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.attribute.toSgr(), c.sgr);
}

TEST(CellModel, AtomsAreHandedOutOnceAndRunOut) {
  const int lastUsedBefore = TinyAtom::lastUsed;
  auto first = TinyAtom::lookup(std::string("https://example.com"));
  auto second = TinyAtom::lookup(std::string("https://example.com"));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(second->code, first->code + 1);

  CharData cell(1, 1, Attribute::empty);
  EXPECT_FALSE(cell.hasPayload());
  cell.setPayload(*first);
  ASSERT_NE(cell.getPayload(), nullptr);
  EXPECT_EQ(std::any_cast<std::string>(*cell.getPayload()), "https://example.com");
  TinyAtom::release(first->code);
  EXPECT_EQ(first->target(), nullptr);
  EXPECT_EQ(cell.getPayload(), nullptr);

  // Every code is handed out once, then released codes come back until the table is full.
  std::vector<uint16_t> taken;
  while (auto atom = TinyAtom::lookup(1)) taken.push_back(atom->code);
  ASSERT_FALSE(taken.empty());
  EXPECT_NE(std::find(taken.begin(), taken.end(), uint16_t(65534)), taken.end());
  EXPECT_NE(std::find(taken.begin(), taken.end(), first->code), taken.end());
  size_t entries = TinyAtom::map().size();
  EXPECT_EQ(entries, 65534u);
  EXPECT_FALSE(TinyAtom::lookup(2).has_value());
  EXPECT_EQ(TinyAtom::map().size(), entries);
  TinyAtom::release(second->code);
  auto again = TinyAtom::lookup(3);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->code, second->code);
  taken.push_back(again->code);
  // Give the codes back so other tests in this process can still register values.
  for (uint16_t code : taken) TinyAtom::release(code);
  TinyAtom::lastUsed = lastUsedBefore;
}

}  // namespace
}  // namespace vantrelle
