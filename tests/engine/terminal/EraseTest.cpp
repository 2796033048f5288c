#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {

struct Screen {
  TestHost host;
  Terminal t;
  explicit Screen(int cols = 10, int rows = 5, int scrollback = 100) : t(&host, sized(cols, rows, scrollback)) {}
  void feed(std::string_view bytes) { t.feed(bytes); }
  std::string row(int r) { return rowText(t, r); }
};

// Fills rows 0..rows-1 with "r0", "r1", ... so line moves are visible.
void numberRows(Screen& s) {
  for (int r = 0; r < s.t.rows; r++) s.feed((r ? "\r\n" : "") + std::string("r") + std::to_string(r));
}

}  // namespace

TEST(EraseInDisplay, BelowAboveAllAndWrapFlags) {
  Screen s(5, 3);
  s.feed("abcdefghijklmno");  // three wrapped rows
  s.feed("\x1b[2;3H\x1b[J");
  EXPECT_EQ(screenText(s.t), "abcde\nfg");
  EXPECT_TRUE(rowWrapped(s.t, 1));  // erase from column 2 keeps the wrap
  s.feed("\x1b[2;1H\x1b[0J");
  EXPECT_FALSE(rowWrapped(s.t, 1));

  Screen a(5, 3);
  a.feed("abcdefghijklmno\x1b[2;3H\x1b[1J");
  EXPECT_EQ(screenText(a.t), "\n   ij\nklmno");

  Screen b(5, 3);
  b.feed("\x1b[44mabc\x1b[?2J\x1b[mX");
  EXPECT_EQ(screenText(b.t), "   X");
  EXPECT_NE(b.t.getLine(0)->operator[](0).attribute(), b.t.getLine(0)->operator[](3).attribute());
}

TEST(EraseInDisplay, SavedLinesDropScrollbackOnly) {
  Screen s(5, 3);
  s.feed("\x1b[3J");
  EXPECT_EQ(s.t.buffer->yBase, 0);
  s.feed("1\r\n2\r\n3\r\n4\r\n5");
  ASSERT_EQ(s.t.buffer->yBase, 2);
  s.feed("\x1b[3J");
  EXPECT_EQ(s.t.buffer->yBase, 0);
  EXPECT_EQ(s.t.buffer->yDisp, 0);
  EXPECT_EQ(s.t.buffer->lines().count(), 3);
  EXPECT_EQ(screenText(s.t), "3\n4\n5");
}

TEST(EraseInLine, RangesAndCharacterErase) {
  Screen s;
  s.feed("0123456789\x1b[1;4H\x1b[K");
  EXPECT_EQ(s.row(0), "012");
  s.feed("\r0123456789\x1b[1;4H\x1b[1K");
  EXPECT_EQ(s.row(0), "    456789");
  s.feed("\x1b[2K");
  EXPECT_EQ(s.row(0), "");
  s.feed("\r0123456789\x1b[1;3H\x1b[0X");
  EXPECT_EQ(s.row(0), "01 3456789");
  s.feed("\x1b[1;9H\x1b[99X");
  EXPECT_EQ(s.row(0), "01 34567");
  // EL 1 in the wrap-pending column blanks the whole line.
  s.feed("\x1b[2;1H0123456789\x1b[1K");
  EXPECT_EQ(s.row(1), "");
}

TEST(InsertDeleteChars, ShiftWithinMarginsAndClampHugeCounts) {
  Screen s;
  s.feed("0123456789\x1b[1;3H\x1b[2@");
  EXPECT_EQ(s.row(0), "01  234567");
  s.feed("\x1b[3P");
  EXPECT_EQ(s.row(0), "0134567");
  s.feed("\x1b[1;3H\x1b[65535@");
  EXPECT_EQ(s.row(0), "01");
  s.feed("\r0123456789\x1b[1;3H\x1b[65535P");
  EXPECT_EQ(s.row(0), "01");
  // With margins 3..6 only the cells inside move.
  s.feed("\r0123456789\x1b[?69h\x1b[3;6s\x1b[1;4H\x1b[@");
  EXPECT_EQ(s.row(0), "012 346789");
  s.feed("\x1b[P");
  EXPECT_EQ(s.row(0), "01234 6789");
  // In the wrap-pending column both act on the last column.
  Screen w;
  w.feed("0123456789\x1b[P\x1b[@");
  EXPECT_EQ(w.row(0), "012345678");
}

TEST(InsertDeleteLines, RegionBoundsAndMargins) {
  Screen s(10, 12);
  numberRows(s);
  s.feed("\x1b[3;11r\x1b[6;1H\x1b[3L");
  EXPECT_EQ(s.row(4), "r4");
  EXPECT_EQ(s.row(5), "");
  EXPECT_EQ(s.row(7), "");
  EXPECT_EQ(s.row(8), "r5");
  EXPECT_EQ(s.row(10), "r7");
  EXPECT_EQ(s.row(11), "r11");
  s.feed("\x1b[6;1H\x1b[3M");
  EXPECT_EQ(s.row(5), "r5");
  EXPECT_EQ(s.row(7), "r7");
  EXPECT_EQ(s.row(10), "");
  EXPECT_EQ(s.row(11), "r11");
  // Outside the region nothing happens; a huge count only blanks the rest of the region.
  s.feed("\x1b[2;1H\x1b[5L");
  EXPECT_EQ(s.row(1), "r1");
  s.feed("\x1b[4;1H\x1b[65535M");
  EXPECT_EQ(s.row(2), "r2");
  EXPECT_EQ(s.row(3), "");
  EXPECT_EQ(s.row(11), "r11");

  Screen m(10, 4);
  for (int r = 0; r < 4; r++) m.feed((r ? "\r\n" : "") + std::string(10, char('a' + r)));
  m.feed("\x1b[?69h\x1b[3;5s\x1b[2;4H\x1b[L");
  EXPECT_EQ(m.row(1), "bb   bbbbb");
  EXPECT_EQ(m.row(2), "ccbbbccccc");
  EXPECT_EQ(m.row(3), "ddcccddddd");
  m.feed("\x1b[M");
  EXPECT_EQ(m.row(1), "bbbbbbbbbb");
  EXPECT_EQ(m.row(3), "dd   ddddd");
}

TEST(ScrollUpDown, RegionOnlyNoScrollbackAndErasedCells) {
  Screen s(10, 5);
  numberRows(s);
  s.feed("\x1b[44m\x1b[S");
  EXPECT_EQ(screenText(s.t), "r1\nr2\nr3\nr4");
  EXPECT_EQ(s.t.buffer->yBase, 0);  // nothing went to the scrollback
  EXPECT_EQ(s.t.getLine(4)->operator[](0).attribute().bg, Attribute::Color::ansi256(4));  // the erase colour
  s.feed("\x1b[2T");
  EXPECT_EQ(screenText(s.t), "\n\nr1\nr2\nr3");
  s.feed("\x1b[1000T");
  EXPECT_EQ(screenText(s.t), "");
  Screen r(10, 5);
  numberRows(r);
  r.feed("\x1b[2;4r\x1b[65535S");
  EXPECT_EQ(screenText(r.t), "r0\n\n\n\nr4");
}

TEST(RepeatPreceding, RepeatsCellWithItsAttributeAndWholeWideCharacter) {
  Screen s;
  s.feed("\x1b[31mA\x1b[32m\x1b[3b");
  EXPECT_EQ(s.row(0), "AAAA");
  EXPECT_EQ(s.t.getLine(0)->operator[](3).attribute(), s.t.getLine(0)->operator[](0).attribute());
  s.feed("\r\n\x1b[2b");
  EXPECT_EQ(s.t.getCursorLocation().first, 2);
  EXPECT_EQ(s.t.getLine(1)->operator[](0).code, 0);
  s.feed("\r\n\xe4\xb8\xad\x1b[2b");  // a wide character, repeated whole
  EXPECT_EQ(s.row(2), "\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad");
  EXPECT_EQ(s.t.getCursorLocation().first, 6);
}

TEST(ColumnsAndAlignment, DecicDecdcDecalnAndRenderModes) {
  Screen s(6, 3);
  s.feed("abcdef\r\nghijkl\r\nmnopqr\x1b[1;3H\x1b[2'}");
  EXPECT_EQ(screenText(s.t), "ab  cd\ngh  ij\nmn  op");
  // Inserted columns take the erase colours, as deleted ones do, not the inverted default.
  EXPECT_EQ(s.t.getLine(1)->operator[](2).attribute(),
            Attribute(Attribute::Color::defaultColor, Attribute::Color::defaultColor, CharacterStyle::none));
  s.feed("\x1b[2'~");
  EXPECT_EQ(screenText(s.t), "abcd\nghij\nmnop");
  // DECDC with the cursor outside the region does nothing; DECIC still edits the region.
  s.feed("\x1b[1;2r\x1b[3;1H\x1b['~");
  EXPECT_EQ(s.row(0), "abcd");
  s.feed("\x1b['}");
  EXPECT_EQ(s.row(0), " abcd");
  EXPECT_EQ(s.row(2), "mnop");

  Screen a(4, 6);
  a.feed("\x1b[3;5r\x1b[?6h\x1b#8");
  EXPECT_EQ(screenText(a.t), "EEEE\nEEEE\nEEEE\nEEEE\nEEEE\nEEEE");
  EXPECT_EQ(a.t.getCursorLocation(), std::make_pair(0, 2));
  a.feed("\x1b#6");
  EXPECT_EQ(a.t.getLine(2)->renderMode, BufferLine::RenderLineMode::doubleWidth);
  EXPECT_EQ(rowText(a.t, 2), "EEEE");
}
