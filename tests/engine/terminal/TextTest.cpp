#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

std::string joined(const std::vector<Line>& lines) {
  std::string text;
  for (const auto& line : lines) {
    for (const auto& fragment : line.fragments) text += fragment.text.value_or("");
  }
  return text;
}

TEST(TerminalText, SelectedLinesFollowWrapsAndSkipWideTails) {
  TestHost host;
  Terminal t(&host, sized(6, 6));
  t.feed(
      "abcdefgh\r\n\xe4\xb8\xad"
      "x\r\n\r\nlast");
  // Rows: "abcdef", "gh" (wrapped), wide + x, empty, "last".
  const auto lines = t._getSelectedLines(Position(2, 0), Position(2, 4), *t.buffer);
  EXPECT_EQ(joined(lines),
            "cdefgh\n\xe4\xb8\xad"
            "x\n\nla");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].fragments[0].location, 2);
  EXPECT_EQ(lines[1].fragments[0].length, 2);  // the wide character counts once

  // An empty last row drops the rows held back before it.
  const auto toBlank = t._getSelectedLines(Position(0, 2), Position(3, 3), *t.buffer);
  EXPECT_EQ(joined(toBlank),
            "\xe4\xb8\xad"
            "x");
  // Within one row.
  EXPECT_EQ(joined(t._getSelectedLines(Position(1, 4), Position(3, 4), *t.buffer)), "as");
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

TEST(TerminalPayloads, CollectionReleasesOnlyPayloadsNoCellHolds) {
  testing::TestHost host;
  Terminal t(&host, testing::sized(10, 3));
  t.garbageCollectPayload();  // start from a clean sweep
  const TinyAtom gone = *TinyAtom::lookup(std::string("a;http://gone"));
  const TinyAtom kept = *TinyAtom::lookup(std::string("b;http://kept"));
  const TinyAtom later = *TinyAtom::lookup(std::string("c;http://later"));
  CharData cell(' ', 1, Terminal::defaultAttribute(), kept);
  t.getLine(1)->set(4, cell);

  t.garbageCollectPayload();
  EXPECT_EQ(gone.target(), nullptr);
  ASSERT_NE(kept.target(), nullptr);
  EXPECT_NE(later.target(), nullptr);  // the sweep stops at the first payload still shown
  EXPECT_EQ(TinyAtom::lastCollected, gone.code);

  t.getLine(1)->set(4, CharData(' ', 1, Terminal::defaultAttribute()));
  t.garbageCollectPayload();
  EXPECT_EQ(kept.target(), nullptr);
  EXPECT_EQ(later.target(), nullptr);
}

}  // namespace
}  // namespace vantrelle
