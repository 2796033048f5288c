#include <gtest/gtest.h>

#include <utility>

#include "Vantrelle/Buffer/UnicodeUtil.h"

namespace vantrelle {
namespace {

TEST(UnicodeUtil, ColumnWidths) {
  struct Case {
    char32_t rune;
    int width;
  };
  const Case cases[] = {
      // Controls and plain text.
      {U'A', 1},
      {0x0000, 0},
      {0x001b, -1},
      {0x007f, -1},
      {0x0085, -1},
      {0x00a0, 1},
      // Marks, format characters and separators.
      {0x0301, 0},
      {0x20dd, 0},
      {0x0903, 0},
      {0x200b, 0},
      {0x200d, 0},
      {0x00ad, 1},
      {0x2028, 0},
      {0x2029, 0},
      // Modifier symbols: skin tones vanish into their base, full-width ones are wide.
      {0x1f3fb, 0},
      {0x1f3ff, 0},
      {0xff3e, 2},
      {0xffe3, 2},
      {0xff40, 2},
      {0x00b4, 1},
      // Hangul jamo.
      {0x1160, 0},
      {0xd7b0, 0},
      {0x1100, 2},
      // Regional indicators, CJK, emoji and the edges of the wide table.
      {0x1f1e6, 2},
      {0x1f1ff, 2},
      {0x4e00, 2},
      {0xac00, 2},
      {0xd7a4, 1},
      {0x1f600, 2},
      {0x3fffd, 2},
      {0x3fffe, 1},
      {0x20000, 2},
      // Unassigned code points take one column unless the wide table claims them.
      {0x0378, 1},
      {0xe0080, 1},
      {0x2fffe, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UnicodeUtil::columnWidth(c.rune), c.width) << std::hex << uint32_t(c.rune);
  }
}

TEST(UnicodeUtil, BisearchEdges) {
  std::span<const UnicodeUtil::LH> table = UnicodeUtil::wide;
  EXPECT_EQ(UnicodeUtil::bisearch(0x10ff, table, 122), 0);
  EXPECT_EQ(UnicodeUtil::bisearch(0x1100, table, 122), 1);
  EXPECT_EQ(UnicodeUtil::bisearch(0x115f, table, 122), 1);
  EXPECT_EQ(UnicodeUtil::bisearch(0x1160, table, 122), 0);
  EXPECT_EQ(UnicodeUtil::bisearch(0x3fffd, table, 122), 1);
  EXPECT_EQ(UnicodeUtil::bisearch(0x40000, table, 122), 0);
  // A smaller max searches only the front of the table.
  EXPECT_EQ(UnicodeUtil::bisearch(0x3fffd, table, 10), 0);
  // The table is sorted, disjoint and not adjacent.
  for (size_t i = 1; i < table.size(); i++) EXPECT_GT(table[i].lo, table[i - 1].hi + 1) << i;
}

TEST(UnicodeUtil, TextPresentation) {
  EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("\u2764"), "\u2764\uFE0E");
  EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("\U0001F600"), "\U0001F600");
  EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("\u00a9"), "\u00a9");
  EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("\u2764\u2764"), "\u2764\u2764");
  EXPECT_EQ(UnicodeUtil::textPresentationAdjusted(""), "");
  EXPECT_EQ(UnicodeUtil::textPresentationAdjusted("\xff"), "\xff");
}

// The print path decides that a scalar joins the cell before it by its width alone, so every
// skin tone, joiner and presentation selector must take no columns.
TEST(UnicodeUtil, JoiningScalarsTakeNoColumns) {
  const std::pair<char32_t, char32_t> ranges[] = {
      {0x200d, 0x200d}, {0xfe00, 0xfe0f}, {0xe0100, 0xe01ef}, {0x1f3fb, 0x1f3ff}};
  for (const auto& [first, last] : ranges) {
    for (char32_t c = first; c <= last; ++c) EXPECT_EQ(UnicodeUtil::columnWidth(c), 0) << std::hex << uint32_t(c);
  }
}

TEST(UnicodeUtil, LeadByteTable) {
  EXPECT_EQ(UnicodeUtil::first[0x41], 0xf0);
  EXPECT_EQ(UnicodeUtil::first[0x80], 0xf1);
  EXPECT_EQ(UnicodeUtil::first[0xc1], 0xf1);
  EXPECT_EQ(UnicodeUtil::first[0xc2], 0x02);
  EXPECT_EQ(UnicodeUtil::first[0xe0], 0x13);
  EXPECT_EQ(UnicodeUtil::first[0xed], 0x23);
  EXPECT_EQ(UnicodeUtil::first[0xef], 0x03);
  EXPECT_EQ(UnicodeUtil::first[0xf0], 0x34);
  EXPECT_EQ(UnicodeUtil::first[0xf3], 0x04);
  EXPECT_EQ(UnicodeUtil::first[0xf4], 0x44);
  EXPECT_EQ(UnicodeUtil::first[0xf5], 0xf1);
}

}  // namespace
}  // namespace vantrelle
