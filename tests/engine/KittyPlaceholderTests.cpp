#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Vantrelle/Graphics/KittyPlaceholder.h"

using namespace vantrelle;

namespace {

using Color = Attribute::Color;

Attribute colored(Color fg, std::optional<Color> underline = std::nullopt) {
  return Attribute(fg, Color::defaultColor, CharacterStyle::none, UnderlineStyle::none, underline);
}

// The scalar at a position of the diacritic list.
char32_t diacritic(int position) {
  for (const auto& [scalar, index] : KittyPlaceholder::diacriticIndex()) {
    if (index == position) return char32_t(scalar);
  }
  return 0;
}

std::u32string placeholder(std::initializer_list<int> positions) {
  std::u32string text(1, kKittyPlaceholderCharacter);
  for (int p : positions) text += diacritic(p);
  return text;
}

}  // namespace

TEST(KittyPlaceholder, DiacriticTableIsTheOrderedListOf297) {
  const auto& index = KittyPlaceholder::diacriticIndex();
  ASSERT_EQ(index.size(), 297u);
  EXPECT_EQ(index.at(0x0305), 0);
  EXPECT_EQ(index.at(0x030D), 1);
  EXPECT_EQ(index.at(0x1D244), 296);
  std::vector<std::pair<int, uint32_t>> byPosition;
  for (const auto& [scalar, position] : index) byPosition.emplace_back(position, scalar);
  std::sort(byPosition.begin(), byPosition.end());
  for (size_t i = 1; i < byPosition.size(); ++i) EXPECT_LT(byPosition[i - 1].second, byPosition[i].second);
  EXPECT_FALSE(index.contains(0x0300));  // part of canonical decompositions
  EXPECT_FALSE(index.contains(0x0340));  // itself decomposable
}

TEST(KittyPlaceholder, OtherCharactersAreNotPlaceholders) {
  EXPECT_FALSE(KittyPlaceholderDecoder::decode(U"A", colored(Color::ansi256(5)), 0, 0, std::nullopt, std::nullopt));
  EXPECT_FALSE(KittyPlaceholderDecoder::decode(U"", colored(Color::ansi256(5)), 0, 0, std::nullopt, std::nullopt));
  EXPECT_FALSE(KittyPlaceholderDecoder::decode(std::u32string(U"A") + kKittyPlaceholderCharacter,
                                               colored(Color::ansi256(5)), 0, 0, std::nullopt, std::nullopt));
}

TEST(KittyPlaceholder, IdsComeFromColoursAndDiacritics) {
  auto bare = KittyPlaceholderDecoder::decode(placeholder({}), colored(Color::trueColor(0, 0, 42)), 4, 9, std::nullopt,
                                              std::nullopt);
  ASSERT_TRUE(bare);
  EXPECT_EQ(*bare, (KittyPlaceholderCell{4, 9, 42, 0, 0, 0, 0}));

  auto two = KittyPlaceholderDecoder::decode(placeholder({3, 7}), colored(Color::ansi256(5), Color::trueColor(1, 2, 3)),
                                             0, 0, std::nullopt, std::nullopt);
  EXPECT_EQ(two->imageId, 5u);
  EXPECT_EQ(two->placementId, 0x010203u);
  EXPECT_EQ(two->placeholderRow, 3);
  EXPECT_EQ(two->placeholderCol, 7);

  auto three = KittyPlaceholderDecoder::decode(placeholder({1, 2, 4}), colored(Color::trueColor(0, 1, 0)), 0, 0,
                                               std::nullopt, std::nullopt);
  EXPECT_EQ(three->imageId, 4u * 16777216u + 256u);
  auto saturated = KittyPlaceholderDecoder::decode(placeholder({1, 2, 280, 9}), colored(Color::ansi256(1)), 0, 0,
                                                   std::nullopt, std::nullopt);
  EXPECT_EQ(saturated->msb, 280);
  EXPECT_EQ(saturated->imageId, 255u * 16777216u + 1u);

  // Scalars outside the list are skipped.
  std::u32string foreign = placeholder({}) + U"\u0301\u0041";
  auto skipped = KittyPlaceholderDecoder::decode(foreign, colored(Color::ansi256(2)), 0, 0, std::nullopt, std::nullopt);
  EXPECT_EQ(skipped->placeholderRow, 0);
  EXPECT_EQ(skipped->placeholderCol, 0);
}

TEST(KittyPlaceholder, RunsContinueOnlyWhileColoursAndPositionsHold) {
  auto fg = colored(Color::trueColor(0, 0, 7));
  std::optional<KittyPlaceholderCell> previous =
      KittyPlaceholderDecoder::decode(placeholder({2, 5, 1}), fg, 3, 10, std::nullopt, std::nullopt);
  std::optional<Attribute> previousAttribute = fg;
  for (int col = 11; col < 14; ++col) {
    auto cell = KittyPlaceholderDecoder::decode(placeholder({}), fg, 3, col, previous, previousAttribute);
    EXPECT_EQ(cell->placeholderRow, 2);
    EXPECT_EQ(cell->placeholderCol, 5 + col - 10);
    EXPECT_EQ(cell->msb, 1);
    EXPECT_EQ(cell->imageId, 16777216u + 7u);
    previous = cell;
  }
  // A different colour, a gap, another row or no previous attribute break the run.
  auto other = colored(Color::trueColor(0, 0, 8));
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({}), other, 3, 14, previous, previousAttribute)->placeholderCol,
            0);
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({}), fg, 3, 15, previous, previousAttribute)->placeholderCol,
            0);
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({}), fg, 4, 14, previous, previousAttribute)->placeholderCol,
            0);
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({}), fg, 3, 14, previous, std::nullopt)->placeholderCol, 0);
  // Default and inverted default are different colours.
  auto plain = colored(Color::defaultColor);
  auto inverted = colored(Color::defaultInvertedColor);
  auto first = KittyPlaceholderDecoder::decode(placeholder({0, 4}), plain, 0, 0, std::nullopt, std::nullopt);
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({}), inverted, 0, 1, first, plain)->placeholderCol, 0);

  // One diacritic continues only on the same row; two continue only at the next column.
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({2}), fg, 3, 14, previous, fg)->placeholderCol, 9);
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({2}), fg, 3, 14, previous, fg)->msb, 1);
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({6}), fg, 3, 14, previous, fg)->placeholderCol, 0);
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({2, 9}), fg, 3, 14, previous, fg)->msb, 1);
  EXPECT_EQ(KittyPlaceholderDecoder::decode(placeholder({2, 11}), fg, 3, 14, previous, fg)->msb, 0);
}
