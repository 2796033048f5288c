// What curses programs send for TERM=xterm-256color, checked by what they rely on afterwards.
#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {

struct Screen {
  TestHost host;
  Terminal t;
  Screen(int cols, int rows) : t(&host, sized(cols, rows)) {
    for (int r = 0; r < rows; r++) t.feed((r ? "\r\n" : "") + std::string(size_t(cols), char('a' + r)));
  }
  Attribute::Color bg(int col, int row) { return t.getCharData(col, row)->attribute().bg; }
};

const Attribute::Color blue = Attribute::Color::ansi256(4);

}  // namespace

// With background-colour erase promised, every cell a program blanks or scrolls in takes the
// background current at the time, so a curses window with a coloured background stays coloured.
TEST(TerminfoCapabilities, BlankedAndScrolledInCellsTakeTheCurrentBackground) {
  struct Row {
    const char* capability;
    const char* bytes;  // sent after the background was set to blue, cursor at row 2, column 3
    int col, row;       // a cell that must now be a blue blank
  };
  const Row rows[] = {
      {"el", "\x1b[K", 5, 2},
      {"el1", "\x1b[1K", 0, 2},
      {"ed", "\x1b[J", 0, 4},
      {"clear", "\x1b[H\x1b[2J", 7, 0},
      {"ech", "\x1b[2X", 4, 2},
      {"ich", "\x1b[2@", 4, 2},
      {"dch", "\x1b[2P", 7, 2},
      {"il", "\x1b[2L", 0, 3},
      {"dl", "\x1b[2M", 0, 4},
      {"ind at the bottom", "\x1b[5;1H\n", 0, 4},
      {"ri at the top", "\x1b[H\x1bM", 0, 0},
      {"indn", "\x1b[2S", 0, 3},
      {"rin", "\x1b[2T", 0, 1},
      {"indn in a region", "\x1b[2;4r\x1b[S", 0, 3},
      {"rin in a region", "\x1b[2;4r\x1b[T", 0, 1},
      {"indn in margins", "\x1b[?69h\x1b[3;6s\x1b[S", 2, 4},
      {"rin in margins", "\x1b[?69h\x1b[3;6s\x1b[T", 5, 0},
  };
  for (const Row& row : rows) {
    Screen s(8, 5);
    s.t.feed("\x1b[3;4H\x1b[44m");
    s.t.feed(row.bytes);
    const auto cell = s.t.getCharData(row.col, row.row);
    ASSERT_TRUE(cell) << row.capability;
    EXPECT_EQ(cell->code, 0) << row.capability;
    EXPECT_EQ(cell->attribute().bg, blue) << row.capability;
    EXPECT_EQ(cell->attribute().fg, Attribute::Color::defaultColor) << row.capability;
  }
}

// flash turns reverse video on and off again; the program then goes on drawing in the rendition
// it had set, without sending it again.
TEST(TerminfoCapabilities, FlashKeepsTheProgramsRendition) {
  struct Row {
    const char* name;
    const char* bytes;
    Attribute expected;  // of the "X" printed last
  };
  const Attribute boldRed(Attribute::Color::ansi256(1), Attribute::Color::defaultColor, CharacterStyle::bold);
  const Attribute onBlue(Attribute::Color::defaultColor, blue, CharacterStyle::none);
  const Row rows[] = {
      {"flash in bold red", "\x1b[1;31m\x1b[?5h\x1b[?5lX", boldRed},
      {"flash twice on blue", "\x1b[44m\x1b[?5h\x1b[?5h\x1b[?5l\x1b[?5lX", onBlue},
      {"flash in the default rendition", "\x1b[?5h\x1b[?5lX", Terminal::defaultAttribute()},
      {"a rendition chosen while reversed ends with it", "\x1b[31m\x1b[?5h\x1b[44m\x1b[?5lX",
       Terminal::defaultAttribute()},
      {"a reset while not reversed", "\x1b[1;31m\x1b[?5lX", boldRed},
      {"a reset after a full reset",
       "\x1b[44m\x1b[?5h\x1b"
       "c\x1b[1;31m\x1b[?5lX",
       boldRed},
      {"a reset after a soft reset", "\x1b[44m\x1b[?5h\x1b[!p\x1b[1;31m\x1b[?5lX", boldRed},
  };
  for (const Row& row : rows) {
    Screen s(8, 2);
    s.t.feed("\x1b[H");
    s.t.feed(row.bytes);
    EXPECT_EQ(s.t.getCharData(0, 0)->attribute(), row.expected) << row.name;
    s.t.feed("\x1b[?5$p");
    EXPECT_EQ(s.host.sent, "\x1b[?5;2$y") << row.name;
  }
}

// A program that set the caret's shape (Ss, Se) and asks for it back hears the shape in force.
TEST(TerminfoCapabilities, CaretShapeRequestAnswersTheShapeInForce) {
  const std::pair<const char*, const char*> rows[] = {
      {"\x1b[0 q", "1 q"}, {"\x1b[1 q", "1 q"}, {"\x1b[2 q", "2 q"}, {"\x1b[3 q", "3 q"},
      {"\x1b[4 q", "4 q"}, {"\x1b[5 q", "5 q"}, {"\x1b[6 q", "6 q"}, {"\x1b[6 q\x1b[7 q", "6 q"},
  };
  for (const auto& [shape, answer] : rows) {
    Screen s(8, 2);
    s.t.feed(shape);
    s.t.feed("\x1bP$q q\x1b\\");
    EXPECT_EQ(s.host.sent, std::string("\x1bP1$r") + answer + "\x1b\\") << shape;
  }
}
