#include <gtest/gtest.h>

#include <any>
#include <string>

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

// The table of link codes is the whole process's. A collection gives back what the collecting
// terminal registered and no longer shows, never a code another terminal's cells still hold.
TEST(TerminalPayloads, CollectionReleasesOnlyThisTerminalsUnusedLinks) {
  TestHost host;
  Terminal one(&host, sized(10, 3)), other(&host, sized(10, 3));
  one.feed("\x1b]8;;http://gone\x1b\\a\x1b]8;;\x1b\\\r\n");
  other.feed("\x1b]8;;http://other\x1b\\c\x1b]8;;\x1b\\");
  one.feed("\x1b]8;;http://kept\x1b\\b\x1b]8;;\x1b\\");
  const TinyAtom gone = (*one.getLine(0))[0].payload;
  const TinyAtom kept = (*one.getLine(1))[0].payload;
  const TinyAtom others = (*other.getLine(0))[0].payload;
  one.getLine(0)->set(0, CharData('a', 1, Terminal::defaultAttribute()));

  one.garbageCollectPayload();
  EXPECT_EQ(gone.target(), nullptr);
  ASSERT_NE(kept.target(), nullptr);
  ASSERT_NE(others.target(), nullptr);
  EXPECT_EQ(std::any_cast<std::string>(*others.target()), ";http://other");
}

}  // namespace
}  // namespace vantrelle
