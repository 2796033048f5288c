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

namespace {

// Five rows of eight cells, each its row's letter and the digits 1 to 7, with the cursor on the
// "3" of the middle row.
struct Lettered {
  TestHost host;
  Terminal t;
  Lettered() : t(&host, sized(8, 5)) {
    for (int r = 0; r < 5; r++) t.feed((r ? "\r\n" : "") + std::string(1, char('a' + r)) + "1234567");
    t.feed("\x1b[3;4H");
  }
};

constexpr const char* start = "a1234567\nb1234567\nc1234567\nd1234567\ne1234567";

}  // namespace

// Cursor motion, scrolling and editing strings as tput writes them, with the screen and cursor a
// curses program then assumes it left.
TEST(TerminfoCapabilities, MotionScrollingAndEditingStrings) {
  struct Row {
    const char* capability;
    const char* bytes;
    const char* screen;
    int col, row;  // -1: the entry leaves the cursor unspecified
  };
  const Row rows[] = {
      {"cup 0 0", "\x1b[1;1H", start, 0, 0},
      {"cup 4 7", "\x1b[5;8H", start, 7, 4},
      {"home", "\x1b[H", start, 0, 0},
      {"cuu1", "\x1b[A", start, 3, 1},
      {"cuu 9", "\x1b[9A", start, 3, 0},
      {"cud1", "\n", start, 3, 3},
      {"cud 2", "\x1b[2B", start, 3, 4},
      {"cuf1", "\x1b[C", start, 4, 2},
      {"cuf 9", "\x1b[9C", start, 7, 2},
      {"cub1", "\b", start, 2, 2},
      {"cub 2", "\x1b[2D", start, 1, 2},
      {"hpa 7", "\x1b[8G", start, 7, 2},
      {"vpa 4", "\x1b[5d", start, 3, 4},
      {"cr", "\r", start, 0, 2},
      {"ht", "\t", start, 7, 2},
      {"cbt", "\x1b[Z", start, 0, 2},
      {"nel",
       "\x1b"
       "E",
       start, 0, 3},
      {"sc, home, rc", "\x1b\x37\x1b[H\x1b\x38", start, 3, 2},
      {"tbc, hts at 5, ht", "\x1b[3g\x1b[3;6H\x1bH\x1b[3;1H\t", start, 5, 2},
      {"ind at the bottom", "\x1b[5;1H\n", "b1234567\nc1234567\nd1234567\ne1234567", 0, 4},
      {"ri at the top", "\x1b[H\x1bM", "\na1234567\nb1234567\nc1234567\nd1234567", 0, 0},
      {"csr homes", "\x1b[2;4r", start, 0, 0},
      {"csr, ind", "\x1b[2;4r\x1b[4;1H\n", "a1234567\nc1234567\nd1234567\n\ne1234567", 0, 3},
      {"csr, ri", "\x1b[2;4r\x1b[2;1H\x1bM", "a1234567\n\nb1234567\nc1234567\ne1234567", 0, 1},
      {"indn 2", "\x1b[2S", "c1234567\nd1234567\ne1234567", 3, 2},
      {"rin 2", "\x1b[2T", "\n\na1234567\nb1234567\nc1234567", 3, 2},
      {"il1", "\x1b[L", "a1234567\nb1234567\n\nc1234567\nd1234567", -1, -1},
      {"il 2", "\x1b[2L", "a1234567\nb1234567\n\n\nc1234567", -1, -1},
      {"dl1", "\x1b[M", "a1234567\nb1234567\nd1234567\ne1234567", -1, -1},
      {"dl 9", "\x1b[9M", "a1234567\nb1234567", -1, -1},
      {"dch1", "\x1b[P", "a1234567\nb1234567\nc124567\nd1234567\ne1234567", 3, 2},
      {"dch 2", "\x1b[2P", "a1234567\nb1234567\nc12567\nd1234567\ne1234567", 3, 2},
      {"ich 2", "\x1b[2@", "a1234567\nb1234567\nc12  345\nd1234567\ne1234567", 3, 2},
      {"ech 3", "\x1b[3X", "a1234567\nb1234567\nc12   67\nd1234567\ne1234567", 3, 2},
      {"el", "\x1b[K", "a1234567\nb1234567\nc12\nd1234567\ne1234567", 3, 2},
      {"el1", "\x1b[1K", "a1234567\nb1234567\n    4567\nd1234567\ne1234567", 3, 2},
      {"ed", "\x1b[J", "a1234567\nb1234567\nc12", 3, 2},
      {"clear", "\x1b[H\x1b[2J", "", 0, 0},
      {"rep x 3", "x\x1b[2b", "a1234567\nb1234567\nc12xxx67\nd1234567\ne1234567", 6, 2},
      {"smir", "\x1b[4hxy", "a1234567\nb1234567\nc12xy345\nd1234567\ne1234567", 5, 2},
      {"smir, rmir", "\x1b[4h\x1b[4lxy", "a1234567\nb1234567\nc12xy567\nd1234567\ne1234567", 5, 2},
      {"rmam", "\x1b[?7lxxxxxxx", "a1234567\nb1234567\nc12xxxxx\nd1234567\ne1234567", 7, 2},
      {"rmam, smam", "\x1b[?7l\x1b[?7hxxxxxx", "a1234567\nb1234567\nc12xxxxx\nx1234567\ne1234567", 1, 3},
      {"xenl: CR LF after the last column", "xxxxx\r\n", "a1234567\nb1234567\nc12xxxxx\nd1234567\ne1234567", 0, 3},
      {"smglr 2 5, dch1", "\x1b[?69h\x1b[3;6s\x1b[P", "a1234567\nb1234567\nc1245 67\nd1234567\ne1234567", 3, 2},
      {"smglp 3, ich1", "\x1b[?69h\x1b[4s\x1b[@", "a1234567\nb1234567\nc12 3456\nd1234567\ne1234567", 3, 2},
      {"smgrp 6, ich1", "\x1b[?69h\x1b[;7s\x1b[@", "a1234567\nb1234567\nc12 3457\nd1234567\ne1234567", 3, 2},
      {"smglr 2 5, mgc, dch1", "\x1b[?69h\x1b[3;6s\x1b[?69l\x1b[P", "a1234567\nb1234567\nc124567\nd1234567\ne1234567",
       3, 2},
      {"rep in the alternate set", "\x1b(0q\x1b[2b\x1b(B",
       "a1234567\nb1234567\nc12\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80"
       "67\nd1234567\ne1234567",
       6, 2},
      {"smacs, rmacs", "\x1b(0x\x1b(Bx", "a1234567\nb1234567\nc12\xe2\x94\x82x567\nd1234567\ne1234567", 5, 2},
      {"smacs, sgr0", "\x1b(0q\x1b(B\x1b[mq", "a1234567\nb1234567\nc12\xe2\x94\x80q567\nd1234567\ne1234567", 5, 2},
      {"sgr with the alternate set", "\x1b(0\x1b[0;1mq\x1b(B\x1b[0mq",
       "a1234567\nb1234567\nc12\xe2\x94\x80q567\nd1234567\ne1234567", 5, 2},
      {"smm, rmm, meml, memu, mc0, mc4, mc5", "\x1b[?1034h\x1b[?1034l\x1bl\x1bm\x1b[i\x1b[4i\x1b[5i", start, 3, 2},
  };
  for (const Row& row : rows) {
    Lettered s;
    s.t.feed(row.bytes);
    EXPECT_EQ(screenText(s.t), row.screen) << row.capability;
    if (row.col >= 0) {
      EXPECT_EQ(s.t.cursorColumn(), row.col) << row.capability;
      EXPECT_EQ(cursor(s.t).second, row.row) << row.capability;
    }
  }
}

// Every character the entry's acsc pairs up, drawn in the alternate character set.
TEST(TerminfoCapabilities, AcscCharactersDrawTheirLineGraphics) {
  TestHost host;
  Terminal t(&host, sized(40, 2));
  t.feed("\x1b(0`afgijklmnopqrstuvwxyz{|}~\x1b(B");
  EXPECT_EQ(rowText(t, 0),
            "\xe2\x97\x86\xe2\x96\x92\xc2\xb0\xc2\xb1\xe2\x90\x8b\xe2\x94\x98\xe2\x94\x90\xe2\x94\x8c\xe2\x94\x94"
            "\xe2\x94\xbc\xe2\x8e\xba\xe2\x8e\xbb\xe2\x94\x80\xe2\x8e\xbc\xe2\x8e\xbd\xe2\x94\x9c\xe2\x94\xa4\xe2"
            "\x94\xb4\xe2\x94\xac\xe2\x94\x82\xe2\x89\xa4\xe2\x89\xa5\xcf\x80\xe2\x89\xa0\xc2\xa3\xc2\xb7");
}

// Rendition strings, and the direct-colour and underline forms programs send when COLORTERM says
// truecolor, checked on the character printed after them.
TEST(TerminfoCapabilities, RenditionStrings) {
  using C = Attribute::Color;
  using S = CharacterStyle;
  const C none = C::defaultColor;
  struct Row {
    const char* capability;
    const char* bytes;
    Attribute expected;
  };
  const Row rows[] = {
      {"bold", "\x1b[1m", {none, none, S::bold}},
      {"dim", "\x1b[2m", {none, none, S::dim}},
      {"sitm", "\x1b[3m", {none, none, S::italic}},
      {"sitm, ritm", "\x1b[3m\x1b[23m", {none, none, S::none}},
      {"smul", "\x1b[4m", {none, none, S::underline, UnderlineStyle::single}},
      {"smul, rmul", "\x1b[4m\x1b[24m", {none, none, S::none}},
      {"blink", "\x1b[5m", {none, none, S::blink}},
      {"rev", "\x1b[7m", {none, none, S::inverse}},
      {"smso, rmso", "\x1b[7m\x1b[27m", {none, none, S::none}},
      {"invis", "\x1b[8m", {none, none, S::invisible}},
      {"smxx", "\x1b[9m", {none, none, S::crossedOut}},
      {"smxx, rmxx", "\x1b[9m\x1b[29m", {none, none, S::none}},
      {"bold, dim, sgr0", "\x1b[1;2m\x1b(B\x1b[m", {none, none, S::none}},
      {"sgr 1 1 1 1 1 1 1 0 0",
       "\x1b(B\x1b[0;1;2;4;7;5;8m",
       {none, none, S{S::bold, S::dim, S::underline, S::inverse, S::blink, S::invisible}, UnderlineStyle::single}},
      {"sgr 0 0 0 0 0 0 0 0 0 after bold", "\x1b[1m\x1b(B\x1b[0m", {none, none, S::none}},
      {"setaf 1", "\x1b[31m", {C::ansi256(1), none, S::none}},
      {"setaf 9", "\x1b[91m", {C::ansi256(9), none, S::none}},
      {"setaf 200", "\x1b[38;5;200m", {C::ansi256(200), none, S::none}},
      {"setab 4", "\x1b[44m", {none, C::ansi256(4), S::none}},
      {"setab 12", "\x1b[104m", {none, C::ansi256(12), S::none}},
      {"setab 100", "\x1b[48;5;100m", {none, C::ansi256(100), S::none}},
      {"setaf 1, setab 4, op", "\x1b[31m\x1b[44m\x1b[39;49m", {none, none, S::none}},
      {"setrgbf", "\x1b[38;2;1;2;3m", {C::trueColor(1, 2, 3), none, S::none}},
      {"setrgbb", "\x1b[48;2;4;5;6m", {none, C::trueColor(4, 5, 6), S::none}},
      {"setrgbf, colons", "\x1b[38:2:1:2:3m", {C::trueColor(1, 2, 3), none, S::none}},
      {"setrgbf, colons with a colour space", "\x1b[38:2::1:2:3m", {C::trueColor(1, 2, 3), none, S::none}},
      {"setaf 200, colons", "\x1b[38:5:200m", {C::ansi256(200), none, S::none}},
      {"Smulx 3", "\x1b[4:3m", {none, none, S::underline, UnderlineStyle::curly}},
      {"Smulx 3, Smulx 0", "\x1b[4:3m\x1b[4:0m", {none, none, S::none}},
      {"Setulc", "\x1b[4m\x1b[58:2::9:8:7m", {none, none, S::underline, UnderlineStyle::single, C::trueColor(9, 8, 7)}},
      {"Setulc, ol", "\x1b[4m\x1b[58:2::9:8:7m\x1b[59m", {none, none, S::underline, UnderlineStyle::single}},
  };
  for (const Row& row : rows) {
    TestHost host;
    Terminal t(&host, sized(8, 2));
    t.feed(row.bytes);
    t.feed("X");
    EXPECT_EQ(t.getCharData(0, 0)->attribute(), row.expected) << row.capability;
  }
}

// Modes and reports that the entry's strings set or ask for.
TEST(TerminfoCapabilities, ModeStringsAndReports) {
  TestHost host;
  Terminal t(&host, sized(8, 5));
  t.feed("\x1b[?1h\x1b=");  // smkx
  EXPECT_TRUE(t.applicationCursor);
  EXPECT_TRUE(t.applicationKeypad);
  t.feed("\x1b[?1l\x1b>");  // rmkx
  EXPECT_FALSE(t.applicationCursor);
  EXPECT_FALSE(t.applicationKeypad);

  t.feed("\x1b[?25l");  // civis
  EXPECT_TRUE(t.cursorHidden);
  t.feed("\x1b[?12;25h");  // cvvis
  EXPECT_FALSE(t.cursorHidden);
  EXPECT_TRUE(t.cursorBlink);
  t.feed("\x1b[?25l\x1b[?12l\x1b[?25h");  // civis, cnorm
  EXPECT_FALSE(t.cursorHidden);
  EXPECT_FALSE(t.cursorBlink);

  t.feed("\x1b[?2004h");  // BE
  EXPECT_TRUE(t.bracketedPasteMode);
  t.feed("\x1b[?2004l");  // BD
  EXPECT_FALSE(t.bracketedPasteMode);

  t.feed("\x1b[?1006;1000h");  // XM 1: SGR reports, kmous \E[<
  EXPECT_EQ(t.mouseMode(), MouseMode::vt200);
  t.sendEvent(t.encodeButton(0, false, false, false, false), 2, 3);
  t.sendEvent(t.encodeButton(0, true, false, false, false), 2, 3);
  EXPECT_EQ(host.sent, "\x1b[<0;3;4M\x1b[<0;3;4m");
  t.feed("\x1b[?1006;1000l");  // XM 0
  EXPECT_EQ(t.mouseMode(), MouseMode::off);

  host.sent.clear();
  t.feed("\x1b[3;4H\x1b[6n");  // u7, answered in the form of u6
  EXPECT_EQ(host.sent, "\x1b[3;4R");
  host.sent.clear();
  t.feed("\x1b[4;1Hxxxxxxxx\x1b[6n");  // at the last column, waiting to wrap
  EXPECT_EQ(host.sent, "\x1b[4;8R");

  // Focus reports, which full-screen editors turn on beside the entry's strings.
  host.sent.clear();
  t.feed("\x1b[?1004h");
  t.setTerminalFocus(false);
  t.setTerminalFocus(true);
  t.feed("\x1b[?1004l");
  t.setTerminalFocus(false);
  EXPECT_EQ(host.sent, "\x1b[I\x1b[O\x1b[I");
  host.sent.clear();
  t.feed("\x1b[c");  // u9, answered in the form of u8
  ASSERT_GE(host.sent.size(), 4u);
  EXPECT_EQ(host.sent.substr(0, 3), "\x1b[?");
  EXPECT_EQ(host.sent.back(), 'c');
  EXPECT_EQ(host.sent.find_first_not_of(";0123456789", 3), host.sent.size() - 1);
}

// smcup and rmcup save and give back the cursor, the screen and the title around a full-screen
// program; the reset strings return to a clean state at the same size.
TEST(TerminfoCapabilities, AlternateScreenAndResetStrings) {
  Lettered s;
  s.t.feed("\x1b]2;shell\x07");
  s.t.feed("\x1b[?1049h\x1b[22;0;0t");  // smcup
  EXPECT_TRUE(s.t.isCurrentBufferAlternate());
  EXPECT_EQ(screenText(s.t), "");
  s.t.feed("\x1b]2;editor\x07\x1b[Hfull screen");
  s.t.feed("\x1b[?1049l\x1b[23;0;0t");  // rmcup
  EXPECT_FALSE(s.t.isCurrentBufferAlternate());
  EXPECT_EQ(screenText(s.t), start);
  EXPECT_EQ(cursor(s.t), std::make_pair(3, 2));
  EXPECT_EQ(s.t.terminalTitle(), "shell");
  ASSERT_FALSE(s.host.titles.empty());
  EXPECT_EQ(s.host.titles.back(), "shell");

  for (const char* reset : {"\x1b[!p\x1b[?3;4l\x1b[4l\x1b>",
                            "\x1b"
                            "c\x1b]104\x07\x1b[!p\x1b[?3;4l\x1b[4l\x1b>"}) {
    Lettered r;
    r.t.feed("\x1b[?1h\x1b=\x1b[4h\x1b[31m");
    r.t.feed(reset);  // is2 (= rs2), and rs1 then rs2 as reset(1) sends them
    EXPECT_EQ(r.t.cols, 8) << reset;
    EXPECT_EQ(r.t.rows, 5) << reset;
    EXPECT_FALSE(r.t.applicationCursor) << reset;
    EXPECT_FALSE(r.t.applicationKeypad) << reset;
    EXPECT_FALSE(r.t.insertMode) << reset;
    EXPECT_EQ(r.t.currentAttribute(), Terminal::defaultAttribute()) << reset;
  }
}

namespace {

struct ClipboardHost : TestHost {
  std::string copied;
  void clipboardCopy(Terminal&, std::span<const uint8_t> content) override {
    copied.assign(content.begin(), content.end());
  }
};

}  // namespace

// initc changes a palette entry and oc gives the palette back; Ms hands its text to the clipboard;
// Cs and Cr set and drop the caret's colour.
TEST(TerminfoCapabilities, PaletteAndClipboardStrings) {
  ClipboardHost host;
  Terminal t(&host, sized(8, 2));
  const Color original = t.ansiColors[1];
  t.feed("\x1b]4;1;rgb:FF/7F/00\x1b\\");  // initc 1 1000 500 0
  EXPECT_EQ(t.ansiColors[1].formatAsXcolor(), "rgb:ffff/7f7f/0000");
  t.feed("\x1b]104\x07");  // oc
  EXPECT_EQ(t.ansiColors[1].formatAsXcolor(), original.formatAsXcolor());
  t.feed("\x1b]52;c;aGVsbG8=\x07");  // Ms c aGVsbG8=
  EXPECT_EQ(host.copied, "hello");
  t.feed("\x1b]12;#ff8000\x07");  // Cs #ff8000
  ASSERT_TRUE(t.cursorColor);
  EXPECT_EQ(t.cursorColor->formatAsXcolor(), "rgb:ffff/8080/0000");
  t.feed("\x1b]112\x07");  // Cr
  EXPECT_FALSE(t.cursorColor);
}
