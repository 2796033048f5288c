// Word selection over wide characters.
#include <gtest/gtest.h>

#include "Vantrelle/Text/SelectionService.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {

// A double click anywhere on a word of wide letters, either half of a character, selects the
// whole word, as it does a word of narrow ones.
TEST(WideWordSelection, AWordOfWideLettersIsOneWord) {
  testing::TestHost host;
  Terminal t(&host, testing::sized(20, 2));
  SelectionService selection(t);
  t.feed("\xe6\xbc\xa2\xe5\xad\x97\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88 ab\xe6\xbc\xa2z end");  // "漢字テスト ab漢z end"
  for (int col : {0, 3, 9}) {
    selection.selectWordOrExpression(Position(col, 0), *t.buffer);
    EXPECT_EQ(selection.start(), Position(0, 0)) << col;
    EXPECT_EQ(selection.end(), Position(10, 0)) << col;
    EXPECT_EQ(selection.getSelectedText(), "\xe6\xbc\xa2\xe5\xad\x97\xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88") << col;
  }
  selection.selectWordOrExpression(Position(14, 0), *t.buffer);
  EXPECT_EQ(selection.getSelectedText(), "ab\xe6\xbc\xa2z");
}

}  // namespace vantrelle
