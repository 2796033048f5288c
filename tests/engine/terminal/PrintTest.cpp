#include <gtest/gtest.h>

#include "Vantrelle/Buffer/UnicodeUtil.h"
#include "Vantrelle/Terminal/GraphemeJoin.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

TEST(TerminalPrint, AsciiWrapsAtTheRightMarginWithAPendingColumn) {
  TestHost host;
  Terminal t(&host, sized(10, 3));
  t.feed("0123456789");
  EXPECT_EQ(cursor(t), std::make_pair(10, 0));  // wrap pending, not yet wrapped
  EXPECT_FALSE(rowWrapped(t, 1));
  t.feed("ab");
  EXPECT_EQ(screenText(t), "0123456789\nab");
  EXPECT_TRUE(rowWrapped(t, 1));
  EXPECT_EQ(cursor(t), std::make_pair(2, 1));

  // Without autowrap the last column is overwritten.
  t.feed("\x1b[?7l\r\n0123456789XYZ");
  EXPECT_EQ(rowText(t, 2), "012345678Z");
}

TEST(TerminalPrint, WideCharactersAtTheMarginWrapWhole) {
  TestHost host;
  Terminal t(&host, sized(5, 3));
  t.feed("abcd\xe4\xb8\xad");  // U+4E2D, two columns, does not fit in the last column
  EXPECT_EQ(screenText(t), "abcd\n\xe4\xb8\xad");
  EXPECT_EQ(t.getCharData(0, 1)->width, 2);
  EXPECT_EQ(t.getCharData(1, 1)->width, 0);
  EXPECT_EQ(cursor(t), std::make_pair(2, 1));
}

TEST(TerminalPrint, Utf8SplitAcrossFeedsAndMalformedInput) {
  TestHost host;
  Terminal t(&host, sized(20, 4));
  t.feed("\xc3");
  EXPECT_EQ(t.readingBuffer.putbackCount, 1);
  t.feed("\xa9x");
  EXPECT_EQ(rowText(t, 0), "\xc3\xa9x");

  // A stray lead byte shows as its Latin-1 character and never swallows what follows it.
  t.feed(
      "\r\n\xc3"
      "A\xe2\x82"
      "B");
  EXPECT_EQ(rowText(t, 1),
            "\xc3\x83"
            "A\xc3\xa2"
            "B");
  // A held byte is discarded when an escape sequence begins.
  t.feed("\r\n\xe2");
  t.feed("\x1b[1Cz");
  EXPECT_EQ(rowText(t, 2), " z");
  // Surrogates and overlong forms are not characters: each byte that cannot continue a
  // sequence is read again on its own.
  t.feed("\r\n\xed\xa0\x80q\xc0\xafr");
  EXPECT_EQ(rowText(t, 3), "\xc3\xad\xc2\xa0q\xc3\x80\xc2\xafr");
}

// Broken sequences in the middle of text, with more text after them, print as they do when
// their bytes arrive one at a time: each byte that cannot go on is read again on its own. They
// are tried after ASCII, after a wide character and after a two-byte one, as text is decoded
// on different paths after each.
TEST(TerminalPrint, BrokenSequencesInsideTextPrintAsSingleBytesDo) {
  for (const char* before : {"ab\xe4\xb8\xad", "ab", "\xd0\x9f"}) {
    for (const char* broken :
         {"\xf0\x9f\x98", "\xe0\x80\x80", "\xc1\xbf", "\xf5\x80\x80\x80", "\xf8\x88\x80\x80", "\xf0\x8f\xbf\xbf",
          "\xe4\xb8", "\x80\xbf", "\xf4\x90\x80\x80", "\xed\xa0\x80", "\xed\xbf\xbf", "\xc0\x80", "\xe0\x9f\xbf",
          "\xf7\xbf\xbf\xbf", "\xe4\xb8\x41", "\xd0\x41", "\xf0\x9f\x98\x41"}) {
      const std::string text = std::string(before) + broken + "cd\xe4\xb8\xad" + "ef";
      TestHost host;
      Terminal whole(&host, sized(40, 2)), single(&host, sized(40, 2));
      whole.feed(text);
      for (char c : text) single.feed(std::string_view(&c, 1));
      EXPECT_EQ(rowText(whole, 0), rowText(single, 0)) << text;
      EXPECT_EQ(cursor(whole), cursor(single)) << text;
    }
  }
}

// DEL reaches the printer inside text runs; it prints nothing, however the run is cut.
TEST(TerminalPrint, DeleteTakesNoCell) {
  // DEL written in octal, which takes at most three digits.
  for (const char* text : {"a\177b", "\177ab", "\xc3\xa9\177b", "\xe4\xb8\xad\177\xf0\x9f\x98\x80\x62"}) {
    TestHost host;
    Terminal whole(&host, sized(20, 2)), single(&host, sized(20, 2));
    whole.feed(text);
    for (const char* c = text; *c; ++c) single.feed(std::string_view(c, 1));
    const std::string expected = std::string(text).erase(std::string(text).find('\x7f'), 1);
    EXPECT_EQ(rowText(whole, 0), expected) << text;
    EXPECT_EQ(rowText(single, 0), expected) << text;
    EXPECT_EQ(cursor(whole), cursor(single)) << text;
  }
}

// Clusters formed inside one run of text: each is one cell with the width of its base, and an
// emoji selector widens its base where there is room and leaves it one column in the last one.
TEST(TerminalPrint, ClustersInsideOneRunTakeOneCellEach) {
  TestHost host;
  Terminal t(&host, sized(8, 3));
  const std::string family = "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7";
  const std::string thumb = "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd";
  const std::string heart = "\xe2\x9d\xa4\xef\xb8\x8f";
  t.feed(family + "a" + thumb + heart + "\r\n1234567" + heart + "b");
  const struct {
    int col, row, width;
    std::string text;
  } cells[] = {{0, 0, 2, family}, {2, 0, 1, "a"}, {3, 0, 2, thumb}, {5, 0, 2, heart}, {7, 1, 1, heart}, {0, 2, 1, "b"}};
  for (const auto& cell : cells) {
    const CharData stored = t.getCharData(cell.col, cell.row).value();
    EXPECT_EQ(stored.width, cell.width) << cell.col << "," << cell.row;
    EXPECT_EQ(t.character(stored.code), cell.text) << cell.col << "," << cell.row;
  }
  EXPECT_EQ(t.getCharData(6, 0)->width, 0);
  EXPECT_EQ(cursor(t), std::make_pair(1, 2));
}

TEST(TerminalPrint, CombiningMarksJoinThePreviousCell) {
  TestHost host;
  Terminal t(&host, sized(20, 3));
  t.feed(
      "e\xcc\x81"
      "e\xcc\x81");  // e + U+0301, twice
  const CharData first = *t.getCharData(0, 0);
  EXPECT_GE(first.code, Terminal::kFirstClusterCode);
  EXPECT_EQ(first.width, 1);
  EXPECT_EQ(t.getCharData(1, 0)->code, first.code);  // the same cluster reuses its code
  EXPECT_EQ(t.character(first.code), "e\xcc\x81");
  EXPECT_EQ(cursor(t), std::make_pair(2, 0));

  // Split across feeds it joins all the same.
  t.feed("\r\na");
  t.feed("\xcc\x88");
  EXPECT_EQ(rowText(t, 1), "a\xcc\x88");

  // After a resize the mark still joins the character the cursor stands after.
  t.resize(25, 3);
  t.feed(
      "\xcc\x81"
      "b");
  EXPECT_EQ(rowText(t, 1),
            "a\xcc\x88\xcc\x81"
            "b");
}

TEST(TerminalPrint, AnEndlessRunOfMarksIsCapped) {
  TestHost host;
  Terminal t(&host, sized(20, 3));
  std::string marks = "x";
  for (int i = 0; i < 5000; ++i) marks += "\xcc\x81";
  t.feed(marks);
  const CharData cell = *t.getCharData(0, 0);
  EXPECT_LE(t.scalars(cell.code).size(), 32u);
  EXPECT_EQ(cursor(t), std::make_pair(1, 0));
}

TEST(TerminalPrint, JoiningNeverReachesALineThatWasRecycled) {
  TestHost host;
  Terminal t(&host, sized(10, 2, 0));
  t.feed("a\r\n");     // 'a' printed on row 0, cursor on row 1
  t.feed("\n");        // the ring is full: row 0 is recycled to the bottom
  t.feed("\xcc\x81");  // nothing left to join; the mark must not land on the recycled line
  EXPECT_EQ(screenText(t), "");
  t.feed("b\xcc\x81");
  EXPECT_EQ(rowText(t, 1), "b\xcc\x81");
}

TEST(TerminalPrint, EmojiVariationSelectorsAndFlags) {
  TestHost host;
  Terminal t(&host, sized(20, 4));
  t.feed("\xf0\x9f\x98\x80");  // U+1F600: a cluster code, two columns
  EXPECT_GE(t.getCharData(0, 0)->code, Terminal::kFirstClusterCode);
  EXPECT_EQ(t.getCharData(0, 0)->width, 2);

  t.feed("\r\n\xe2\x9d\xa4\xef\xb8\x8f|");  // U+2764 U+FE0F: widened to two columns
  EXPECT_EQ(t.getCharData(0, 1)->width, 2);
  EXPECT_EQ(t.getCharData(1, 1)->width, 0);
  EXPECT_EQ(rowText(t, 1), "\xe2\x9d\xa4\xef\xb8\x8f|");

  t.feed("\r\n\xe2\x9d\xa4\xef\xb8\x8e|");  // U+FE0E keeps one column
  EXPECT_EQ(t.getCharData(0, 2)->width, 1);
  EXPECT_EQ(t.getCharData(1, 2)->code, '|');

  t.feed("\r\n\xf0\x9f\x87\xba\xf0\x9f\x87\xb8|");  // a flag pair is one two-column cell
  EXPECT_EQ(t.getCharData(0, 3)->width, 2);
  EXPECT_EQ(t.getCharData(2, 3)->code, '|');

  TerminalOptions narrow = sized(20, 2);
  narrow.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
  Terminal n(&host, narrow);
  n.feed("\xf0\x9f\x87\xba");
  EXPECT_EQ(cursor(n), std::make_pair(1, 0));
  n.feed("\xf0\x9f\x87\xb8|");
  EXPECT_EQ(n.getCharData(0, 0)->width, 2);
  EXPECT_EQ(n.getCharData(2, 0)->code, '|');
}

TEST(TerminalPrint, ZeroWidthJoinerSequencesStayOneCell) {
  TestHost host;
  Terminal t(&host, sized(20, 2));
  // man, ZWJ, laptop
  t.feed("\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x92\xbb|");
  EXPECT_EQ(t.scalars(t.getCharData(0, 0)->code).size(), 3u);
  EXPECT_EQ(t.getCharData(2, 0)->code, '|');
}

TEST(TerminalPrint, InsertModeShiftsTheRestOfTheLine) {
  TestHost host;
  Terminal t(&host, sized(10, 2));
  t.feed("abcdef\r\x1b[4hXY\x1b[4l");
  EXPECT_EQ(rowText(t, 0), "XYabcdef");
}

TEST(TerminalPrint, DirtyRangeAndReplies) {
  TestHost host;
  Terminal t(&host, sized(10, 5));
  t.clearUpdateRange();
  EXPECT_FALSE(t.getUpdateRange());
  t.feed("\x1b[3;1Hx");
  auto range = t.getUpdateRange();
  ASSERT_TRUE(range);
  EXPECT_EQ(range->endY, 2);
  t.updateFullScreen();
  EXPECT_EQ(t.getUpdateRange()->startY, 0);
  EXPECT_EQ(t.getUpdateRange()->endY, 5);

  t.sendResponse({});
  EXPECT_EQ(host.sent, "");
  t.sendResponse("ok");
  EXPECT_EQ(host.sent, "ok");
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// Joining relies on every scalar with a canonical combining class having no columns of its own.
TEST(TerminalPrint, EveryCombiningClassScalarIsZeroWidth) {
  for (char32_t c = 0x300; c < 0x20000; ++c) {
    if (grapheme::hasCombiningClass(c)) {
      EXPECT_LE(UnicodeUtil::columnWidth(c), 0) << std::hex << uint32_t(c);
    }
  }
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// The same cells, codes, wrap flags, cursor and clusters in both terminals.
void expectSameScreens(Terminal& whole, Terminal& single, const std::string& stream) {
  ASSERT_EQ(cursor(whole), cursor(single)) << stream;
  auto& wholeLines = whole.buffer->lines();
  auto& singleLines = single.buffer->lines();
  ASSERT_EQ(wholeLines.count(), singleLines.count()) << stream;
  for (int row = 0; row < wholeLines.count(); ++row) {
    const BufferLine& a = *wholeLines[row];
    const BufferLine& b = *singleLines[row];
    ASSERT_EQ(a.isWrapped(), b.isWrapped()) << "row " << row << " of " << stream;
    for (int col = 0; col < whole.cols; ++col) {
      ASSERT_EQ(a[col], b[col]) << "row " << row << " column " << col << " of " << stream;
    }
  }
  EXPECT_EQ(whole.indexToCharMap, single.indexToCharMap);
}

// Text fed whole goes to the buffer in runs; fed a byte at a time, every character takes the
// cell-by-cell path. Both must leave the same cells, codes, wrap flags and cursor, and the same
// cell for a mark to join afterwards, whatever modes, margins and sets are in force.
TEST(TerminalPrint, RunsLeaveWhatCellByCellPrintingLeaves) {
  static const char* const pieces[] = {
      "word ",
      "\xd0\x9f\xd1\x80\xd0\xb8",
      "\xe2\x94\x80\xe2\x94\x82",
      "\xc3\xa9",
      "e\xcc\x81",
      "\xe4\xb8\xad\xe6\x96\x87",
      "\xed\x95\x9c\xea\xb5\xad",
      "\xe4\xb8\xad\xe6\x96\x87\xe4\xb8\xad\xe6\x96\x87\xe4\xb8\xad\xe6\x96\x87\xe4\xb8\xad\xe6\x96\x87\xe4\xb8\xad"
      "\xe6\x96\x87\xe4\xb8\xad",  // wide text longer than a row
      "a\xe4\xb8\xad"
      "b",
      "\xf0\x9f\x98\x80",
      "\xe2\x9d\xa4\xef\xb8\x8f",
      "\xe2\x9d\xa4\xef\xb8\x8e",
      "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",              // skin tone
      "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9",  // joiner sequence
      "\xe2\x80\x8d\xe2\x9d\xa4",                      // joiner, then a one-column pictograph
      "\xf0\x9f\x87\xba",
      "\xf0\x9f\x87\xb8",
      "\xf0\x9d\x90\x80",
      "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7",  // family
      "\xf0\x9f\x87\xba\xf0\x9f\x87\xb8\xf0\x9f\x87\xa9",                          // a flag and half
      "\xe2\x80\x8d",
      "\xef\xb8\x8f",
      "\xf0\x9f\x98\x80\xef\xb8\x8e",  // text selector on a wide emoji
      "a\xef\xb8\x8f",                 // a selector that changes nothing
      "#\xef\xb8\x8f\xe2\x83\xa3",     // keycap
      "\xe2\x9d\xa4\xef\xb8\x8f\xe2\x80\x8d\xf0\x9f\x94\xa5",
      "\xc2\x85",                  // no width at all
      "\xf0\xa0\x80\x80",          // wide, past the emoji plane
      "\xe1\x84\x80\xe1\x85\xa1",  // conjoining jamo
      "\xf4\x90\x80\x80",          // past the last scalar
      "\xed\xa0\x80",              // a surrogate
      "\x7f",
      "\xff",
      "\xe2\x82",
      "\xcc\x88",
      "\r\n",
      "\x08",
      "\t",
      "\x1b[4h",
      "\x1b[4l",
      "\x1b[?7l",
      "\x1b[?7h",
      "\x1b[7G",
      "\x1b[19G",
      "\x1b[1;31m",
      "\x1b[m",
      "\x1b(0",
      "\x1b(B",
      "\x1b[?69h\x1b[3;12s",
      "\x1b[?69h\x1b[5;5s",  // a margin one column wide
      "\x1b[20G",
      "\x1b[?69l",
      "\x1b[2;4r",
      "\x1b[r",
  };
  uint64_t state = 11;
  auto below = [&state](size_t n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<size_t>(state >> 33) % n;
  };
  std::string longCluster;  // more cells than a run takes at once, each a cluster
  for (int i = 0; i < 300; ++i) longCluster += "e\xcc\x81";
  for (int round = 0; round < 400; ++round) {
    std::string stream;
    for (size_t i = 3 + below(60); i > 0; --i) stream += pieces[below(std::size(pieces))];
    if (round % 50 == 0) stream += longCluster + pieces[below(std::size(pieces))];
    TerminalOptions options = sized(20, 5, 20);
    if (round % 2) options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
    TestHost host;
    Terminal whole(&host, options), single(&host, options);
    whole.feed(stream + "\xcc\x81");
    for (char c : stream + "\xcc\x81") single.feed(std::string_view(&c, 1));

    expectSameScreens(whole, single, stream);
    if (HasFatalFailure()) return;
  }
}

// Text that repeats joins its clusters from the steps remembered the first time, in the middle
// of a row's run: marks, skin tones, joiners and the characters after them, flags and selectors
// between wide, narrow and ASCII characters, with repeats in every stream.
TEST(TerminalPrint, RepeatedClustersLeaveWhatCellByCellPrintingLeaves) {
  static const char* const pieces[] = {
      "ab ",
      "e\xcc\x81",
      "\xe4\xb8\xad\xcc\x81",                                                      // a mark on a wide cell
      "\xd0\x9f\xcc\x88\xcc\x81",                                                  // two marks on Cyrillic
      "\xf0\x9f\x91\x8d\xf0\x9f\x8f\xbd",                                          // skin tone
      "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7",  // family
      "\xf0\x9f\x91\xa8\xe2\x80\x8d",                                              // a joiner before anything
      "\xe2\x80\x8d",
      "\xf0\x9f\x87\xba\xf0\x9f\x87\xb8",
      "\xf0\x9f\x87\xba",
      "\xe2\x9d\xa4\xef\xb8\x8f",
      "\xe2\x94\x80\xef\xb8\x8e",  // a text selector on a character with one form
      "\xe2\x80\x8b",              // no width, joins nothing
      "\xc2\x85",                  // no width at all
      "\x7f",
  };
  uint64_t state = 7;
  auto below = [&state](size_t n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<size_t>(state >> 33) % n;
  };
  for (int round = 0; round < 200; ++round) {
    std::string stream;
    for (size_t i = 2 + below(12); i > 0; --i) stream += pieces[below(std::size(pieces))];
    TestHost host;
    Terminal whole(&host, sized(40, 6, 20)), single(&host, sized(40, 6, 20));
    for (int pass = 0; pass < 3; ++pass) {
      whole.feed(stream);
      for (char c : stream) single.feed(std::string_view(&c, 1));
    }
    expectSameScreens(whole, single, stream);
    if (HasFatalFailure()) return;
  }
}

// Every character that ends near the right edge: a wide one with a column left or none, an
// emoji selector widening a cell in the last column or the one before, clusters and flags whose
// last scalar arrives at the edge. Text that fits goes straight into the row and the rest takes
// the wrapping path, and both must leave what printing a byte at a time leaves.
TEST(TerminalPrint, TextReachingTheRightEdgeLeavesWhatCellByCellPrintingLeaves) {
  static const char* const pieces[] = {
      "\xe4\xb8\xad",                                                              // wide
      "\xe2\x9d\xa4\xef\xb8\x8f",                                                  // widened by a selector
      "\xe2\x9d\xa4\xef\xb8\x8f\xe2\x80\x8d\xf0\x9f\x94\xa5",                      // widened, then joined
      "\xf0\x9f\x91\xa8\xe2\x80\x8d\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x91\xa7",  // family
      "\xf0\x9f\x87\xba\xf0\x9f\x87\xb8",                                          // flag
      "e\xcc\x81",                                                                 // mark
      "\xd0\x9f\xd1\x80",                                                          // two-byte text
      "ab",
  };
  for (int narrowFlags = 0; narrowFlags < 2; ++narrowFlags) {
    for (int column = 1; column <= 10; ++column) {
      for (const char* piece : pieces) {
        for (const char* after : pieces) {
          const std::string stream = "\x1b[" + std::to_string(column) + "G" + piece + after + "\xcc\x81";
          TerminalOptions options = sized(10, 3, 5);
          if (narrowFlags) options.regionalIndicatorWidth = RegionalIndicatorWidth::narrow;
          TestHost host;
          Terminal whole(&host, options), single(&host, options);
          whole.feed(stream);
          for (char c : stream) single.feed(std::string_view(&c, 1));
          expectSameScreens(whole, single, stream);
          if (HasFatalFailure()) return;
        }
      }
    }
  }
}

// A join step remembered for a code must not outlive what the code means: a key that is not
// handed out yet reads as a space now and as its cluster once it is handed out.
TEST(TerminalPrint, AJoinOntoAKeyNotYetHandedOutIsNotRemembered) {
  TestHost host;
  Terminal t(&host, sized(20, 4));
  const int32_t key = Terminal::kFirstClusterCode + 1;
  // The cell printed last is given the key behind the printer's back, as a host might.
  auto printKeyCell = [&](int row) {
    t.feed("a");
    t.getLine(row)->cells()[0] = CharData(key, 1, Terminal::defaultAttribute());
  };
  printKeyCell(0);
  t.feed("\xcc\x81");       // joins a space: " " + U+0301 takes the first key
  t.feed("\r\nb\xcc\x88");  // "b" + U+0308 takes `key`
  EXPECT_EQ(t.character(key), "b\xcc\x88");
  t.feed("\r\n");
  printKeyCell(2);
  t.feed("\xcc\x81");
  EXPECT_EQ(rowText(t, 2), "b\xcc\x88\xcc\x81");
}

TEST(TerminalPrint, TheClusterTableStopsGrowing) {
  testing::TestHost host;
  Terminal t(&host, testing::sized(80, 5, 0));
  std::string text;
  auto mark = [](std::string& out, char32_t c) { appendUtf8(out, c); };
  // Distinct clusters: a letter with two of 112 combining marks.
  for (char32_t letter = 'a'; letter <= 'f'; ++letter) {
    for (char32_t m1 = 0x300; m1 < 0x370; ++m1) {
      for (char32_t m2 = 0x300; m2 < 0x370; ++m2) {
        text += static_cast<char>(letter);
        mark(text, m1);
        mark(text, m2);
      }
    }
  }
  t.feed(text);
  EXPECT_EQ(t.charToIndexMap.size(), Terminal::kMaxClusterCodes);
  EXPECT_EQ(t.indexToCharMap.size(), Terminal::kMaxClusterCodes);
}

}  // namespace
}  // namespace vantrelle
