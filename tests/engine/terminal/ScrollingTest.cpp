#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

std::string lines(int from, int to) {
  std::string text;
  for (int i = from; i <= to; ++i) text += std::to_string(i) + "\r\n";
  return text;
}

TEST(TerminalScrolling, ScrollbackGrowsThenRecycles) {
  TestHost host;
  Terminal t(&host, sized(10, 5, 3));
  t.feed(lines(1, 6));
  EXPECT_EQ(t.buffer->yBase, 2);
  EXPECT_EQ(t.buffer->yDisp, 2);
  t.feed(lines(7, 20));
  EXPECT_EQ(t.buffer->lines().count(), 8);
  EXPECT_EQ(t.buffer->yBase, 3);
  EXPECT_EQ(screenText(t), "17\n18\n19\n20");
  EXPECT_GT(t.buffer->linesTop, 0);

  // While the user reads history, the view stays on the same text.
  t.userScrolling = true;
  t.buffer->yDisp = 1;
  t.feed("x\r\n");
  EXPECT_EQ(t.buffer->yDisp, 0);
}

// A long flood drops more lines than an int counts: the count wraps, and rows counted from it still
// find their lines.
TEST(TerminalScrolling, TheCountOfDroppedLinesWrapsWithoutLosingItsPlace) {
  TestHost host;
  Terminal t(&host, sized(10, 5, 3));
  t.feed(lines(1, 8));
  t.buffer->linesTop = std::numeric_limits<int>::max() - 1;
  t.feed(lines(9, 12));
  EXPECT_EQ(Buffer::linesTrimmedBetween(std::numeric_limits<int>::max() - 1, t.buffer->totalLinesTrimmed()), 4);
  const int third = int(uint32_t(t.buffer->totalLinesTrimmed()) + 2u);
  EXPECT_EQ(t.getScrollInvariantLine(third), t.buffer->lines()[2].get());
}

TEST(TerminalScrolling, RegionsIndexAndReverseIndex) {
  TestHost host;
  Terminal t(&host, sized(10, 12));
  for (int i = 0; i < 12; ++i) t.feed("\x1b[" + std::to_string(i + 1) + ";1H" + std::to_string(i));
  t.feed(
      "\x1b[6;11r\x1b[11;1H\x1b"
      "D");
  EXPECT_EQ(rowText(t, 4), "4");
  EXPECT_EQ(rowText(t, 5), "6");
  EXPECT_EQ(rowText(t, 10), "");
  EXPECT_EQ(rowText(t, 11), "11");
  EXPECT_EQ(t.buffer->yBase, 0);  // no history from a partial region

  t.feed("\x1b[6;1H\x1bM");
  EXPECT_EQ(rowText(t, 5), "");
  EXPECT_EQ(rowText(t, 6), "6");
  EXPECT_EQ(rowText(t, 10), "10");

  t.feed("\x1b[3;1H\x1bM");
  EXPECT_EQ(cursor(t).second, 1);  // outside the region RI only moves
  t.feed("\x1b[1;1H\x1bM");
  EXPECT_EQ(cursor(t).second, 0);

  // A line feed on the last row below the region does nothing.
  t.feed("\x1b[12;1H\n");
  EXPECT_EQ(rowText(t, 11), "11");
}

TEST(TerminalScrolling, MarginsConfineScrollsAndColumnIndex) {
  TestHost host;
  Terminal t(&host, sized(10, 3));
  t.feed("abcdefghij\r\nklmnopqrst\r\nuvwxyz0123");
  t.feed("\x1b[?69h\x1b[3;6s\x1b[3;8H\n");  // cursor right of the margins on the bottom row
  EXPECT_EQ(rowText(t, 0), "abcdefghij");
  t.feed("\x1b[3;4H\n");
  EXPECT_EQ(rowText(t, 0), "abmnopghij");
  EXPECT_EQ(rowText(t, 2), "uv    0123");

  t.feed(
      "\x1b[1;6H\x1b"
      "9");  // DECFI at the right margin shifts the margin columns left
  EXPECT_EQ(rowText(t, 0), "abnop ghij");
  t.feed(
      "\x1b[1;3H\x1b"
      "6");  // DECBI at the left margin shifts them right
  EXPECT_EQ(rowText(t, 0), "ab nopghij");
}

TEST(TerminalScrolling, ResizeAndScrollbackSize) {
  TestHost host;
  Terminal t(&host, sized(10, 5));
  t.resize(1, 0);
  EXPECT_EQ(t.getDims(), std::make_pair(2, 1));
  t.resize(30, 10);
  EXPECT_EQ(t.getDims(), std::make_pair(30, 10));
  EXPECT_EQ(t.options.cols, 30);
  EXPECT_EQ(t.normalBuffer->cols(), 30);
  EXPECT_EQ(t.altBuffer->rows(), 10);
  t.feed("\r\x1b[3I");
  EXPECT_EQ(cursor(t).first, 24);  // tab stops laid over the new columns
  t.changeScrollback(std::nullopt);
  EXPECT_EQ(t.options.scrollback, 0);
}

TEST(TerminalState, ConstructionSetupAndEnvironment) {
  TestHost host;
  Terminal d(&host);
  EXPECT_EQ(d.getDims(), std::make_pair(80, 25));
  EXPECT_EQ(d.options.termName, "xterm-256color");
  EXPECT_EQ(d.options.cursorStyle, CursorStyle::blinkBlock);
  EXPECT_TRUE(d.wraparound);
  EXPECT_EQ(d.curAttr, Terminal::defaultAttribute());

  Terminal small(&host, sized(0, -3));
  EXPECT_EQ(small.getDims(), std::make_pair(2, 1));
  Terminal big(&host, sized(100, 40));
  EXPECT_EQ(big.normalBuffer->cols(), 100);
  EXPECT_EQ(big.altBuffer->rows(), 40);

  EXPECT_EQ(cursorStyleFrom("steadyBar"), CursorStyle::steadyBar);
  EXPECT_FALSE(cursorStyleFrom("SteadyBar"));
  EXPECT_FALSE(cursorStyleFrom("steady Bar"));

  const auto env = Terminal::getEnvironmentVariables(std::nullopt, false);
  ASSERT_GE(env.size(), 2u);
  EXPECT_EQ(env[0], "TERM=xterm-256color");

  // Focus reports follow the 8-bit setting.
  d.sendFocus = true;
  d.feed("\x1b G");
  d.setTerminalFocus(false);
  EXPECT_EQ(host.sent, "\x9bO");
  d.feed("\x1b F");
  d.setTerminalFocus(true);
  EXPECT_EQ(host.sent, "\x9bO\x1b[I");
}

TEST(TerminalState, AlternateBufferKeepsItsOwnScreen) {
  TestHost host;
  Terminal t(&host, sized(10, 3));
  t.feed("main\x1b[?1049h");
  EXPECT_TRUE(t.isCurrentBufferAlternate());
  EXPECT_EQ(screenText(t), "");
  t.feed("alt");
  t.feed("\x1b[?1049l");
  EXPECT_FALSE(t.isCurrentBufferAlternate());
  EXPECT_EQ(screenText(t), "main");
  EXPECT_EQ(cursor(t), std::make_pair(4, 0));
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// A region that starts at the top and ends above a status line, on a full ring: the rows scroll
// into history and the status line stays, the same as while the ring was still filling.
TEST(TerminalScrolling, TopRegionAboveAStatusLineOnAFullRing) {
  testing::TestHost host;
  Terminal t(&host, testing::sized(10, 4, 2));
  t.feed("\x1b[4;1Hstatus\x1b[1;3r\x1b[3;1H");
  for (int i = 0; i < 8; ++i) t.feed(std::to_string(i) + "\r\n");
  EXPECT_EQ(testing::screenText(t), "6\n7\n\nstatus");
  EXPECT_EQ(t.buffer->lines().count(), 6);
  EXPECT_EQ(t.buffer->lines()[0]->translateToString(true, 0, 1), "4");
  EXPECT_EQ(t.buffer->lines()[1]->translateToString(true, 0, 1), "5");
}

}  // namespace
}  // namespace vantrelle
