#include <gtest/gtest.h>

#include "engine/text/SearchFixture.h"

namespace vantrelle {
namespace {

using testing::SearchFixture;

const SearchOptions plain{};
const SearchOptions regex{false, true, false};
const SearchOptions word{false, false, true};

TEST(Search, PlainMatchesKeepTheTermAndFoldCase) {
  SearchFixture f;
  f.t.feed("\r\n\r\n\r\na foo");
  auto result = f.search.engine.find("foo", 0, 0, plain);
  ASSERT_TRUE(result);
  EXPECT_EQ(*result, (SearchResult{"foo", 2, 3, 3}));

  auto upper = f.search.engine.find("FOO", 0, 0, std::nullopt);
  ASSERT_TRUE(upper);
  EXPECT_EQ(upper->term, "FOO");
  EXPECT_FALSE(f.search.engine.find("FOO", 0, 0, SearchOptions(true, false, false)));
}

// Hidden text (SGR 8) is searched as the blanks it shows: a match would tell where it is and what
// it says. The shown text around it is found as it shows, blanks included.
TEST(Search, HiddenTextIsSearchedAsItsBlanks) {
  SearchFixture f(30);
  f.t.feed("pw: \x1b[8mhunter2\x1b[m (hidden)\r\n\x1b[8m\xe4\xb8\xad\x1b[mwide");
  EXPECT_FALSE(f.search.engine.find("hunter2", 0, 0, plain));
  EXPECT_FALSE(f.search.engine.find("h.nter", 0, 0, regex));
  EXPECT_FALSE(f.search.engine.find("\xe4\xb8\xad", 0, 0, plain));
  auto shown = f.search.engine.find("(hidden)", 0, 0, plain);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->col, 12);
  auto blanks = f.search.engine.find("pw:         (", 0, 0, plain);
  ASSERT_TRUE(blanks);
  EXPECT_EQ(blanks->size, 13);
  auto wide = f.search.engine.find("wide", 0, 0, plain);
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->row, 1);
  EXPECT_EQ(wide->col, 2);
}

TEST(Search, CaseFoldingThatChangesLengthCoversTheRightCells) {
  SearchFixture f;
  f.t.feed(
      "x Stra\xc3\x9f"
      "e y");  // "Straße"
  auto result = f.search.engine.find("STRASSE", 0, 0, plain);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->col, 2);
  EXPECT_EQ(result->size, 6);  // six cells, though the term has seven letters
  // Half of a folded character is not a match.
  EXPECT_FALSE(f.search.engine.find("stras", 0, 0, plain));
}

TEST(Search, CanonicallyEquivalentSpellingsMatch) {
  SearchFixture f;
  f.t.feed("caf\xc3\xa9!");                                         // precomposed é
  auto result = f.search.engine.find("cafe\xcc\x81", 0, 0, plain);  // e + combining acute
  ASSERT_TRUE(result);
  EXPECT_EQ(result->size, 4);
}

TEST(Search, RegularExpressions) {
  SearchFixture f;
  f.t.feed("a fxo\r\nabc\r\nline end");
  auto found = f.search.engine.find("f.o", 0, 0, regex);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->term, "fxo");
  EXPECT_EQ(found->col, 2);
  // Only empty matches: nothing.
  EXPECT_FALSE(f.search.engine.find("x*", 1, 0, regex));
  // An invalid pattern reports nothing and does not throw.
  EXPECT_FALSE(f.search.engine.find("(", 0, 0, regex));
  // Anchors bind to the searched line.
  auto anchored = f.search.engine.find("^line", 0, 0, regex);
  ASSERT_TRUE(anchored);
  EXPECT_EQ(anchored->row, 2);
  auto tail = f.search.engine.find("end$", 0, 0, regex);
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->col, 5);
}

TEST(Search, WholeWordsStandBetweenNonWordCharacters) {
  SearchFixture f;
  f.t.feed("a foo.\r\n(foo)\r\nfoobar a_foo\r\nx foo");
  std::vector<int64_t> rows;
  for (const auto& r : f.search.findAll("foo", word, 10)) rows.push_back(r.row);
  EXPECT_EQ(rows, (std::vector<int64_t>{0, 1, 3}));
}

TEST(Search, WrappedRowsAndWideCharactersMapToCells) {
  SearchFixture f(10, 6);
  f.t.feed("12345678wrap it");  // "wr" ends row 0, "ap it" starts row 1
  auto result = f.search.engine.find("wrap", 0, 0, plain);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->row, 0);
  EXPECT_EQ(result->col, 8);
  EXPECT_EQ(result->size, 4);  // 2 on the last row - 8 + one row of 10

  // Found from the continuation row too.
  auto fromBelow = f.search.engine.find("it", 1, 0, plain);
  ASSERT_TRUE(fromBelow);
  EXPECT_EQ(fromBelow->row, 1);
  EXPECT_EQ(fromBelow->col, 3);

  SearchFixture g;
  g.t.feed("\xe4\xb8\xad\xe6\x96\x87 hit");  // two wide characters, a space, "hit"
  auto afterWide = g.search.engine.find("hit", 0, 0, plain);
  ASSERT_TRUE(afterWide);
  EXPECT_EQ(afterWide->col, 5);
  EXPECT_EQ(afterWide->size, 3);

  SearchFixture h;
  h.t.feed(
      "e\xcc\x81"
      "x e\xcc\x81"
      "y");  // clusters: é x space é y
  auto cluster = h.search.engine.find("\xc3\xa9y", 0, 0, plain);
  ASSERT_TRUE(cluster);
  EXPECT_EQ(cluster->col, 3);
  EXPECT_EQ(cluster->size, 2);
}

TEST(Search, StepsWrapAroundInBothDirections) {
  SearchFixture f;
  f.t.feed("foo\r\nbar foo\r\nfoo");
  auto first = f.search.findNext("foo", plain);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->row, 0);
  EXPECT_EQ(f.search.findNext("foo", plain)->row, 1);
  EXPECT_EQ(f.search.findNext("foo", plain)->row, 2);
  auto wrapped = f.search.findNext("foo", plain);
  EXPECT_EQ(wrapped->row, 0);
  ASSERT_TRUE(f.search.lastSelection);
  EXPECT_EQ(f.search.lastSelection->end, Position(3, 0));

  f.search.reset();
  auto last = f.search.findPrevious("foo", plain);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->row, 2);
  EXPECT_EQ(f.search.findPrevious("foo", plain)->row, 1);
  EXPECT_EQ(f.search.findPrevious("foo", plain)->row, 0);
  EXPECT_EQ(f.search.findPrevious("foo", plain)->row, 2);

  EXPECT_FALSE(f.search.findNext("", plain));
  EXPECT_FALSE(f.search.lastSelection);
  EXPECT_FALSE(f.search.state.cachedSearchTerm);
}

TEST(Search, BackwardStepsReachMatchesOnWrappedRows) {
  SearchFixture f(10, 6);
  f.t.feed("12345678wrap it\r\nx wrap");
  auto last = f.search.findPrevious("wrap", plain);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->row, 2);
  auto wrapped = f.search.findPrevious("wrap", plain);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->row, 0);
  EXPECT_EQ(wrapped->col, 8);
  EXPECT_EQ(f.search.lastSelection->end, Position(2, 1));

  f.search.reset();
  auto regexBack = f.search.findPrevious("w.a", regex);
  ASSERT_TRUE(regexBack);
  EXPECT_EQ(regexBack->term, "wra");
  EXPECT_EQ(regexBack->row, 2);
}

TEST(Search, FindAllHonoursTheLimitAndTheCacheIsStaleUntilInvalidated) {
  SearchFixture f;
  f.t.feed("ab ab ab ab ab");
  EXPECT_TRUE(f.search.findAll("ab", plain, 0).empty());
  EXPECT_EQ(f.search.findAll("ab", plain, 2).size(), 2u);
  EXPECT_EQ(f.search.findAll("ab", plain, 10).size(), 5u);
  EXPECT_TRUE(f.search.findAll("", plain, 10).empty());

  f.t.feed("\rzz");  // same row count: the cached text stays
  EXPECT_EQ(f.search.findAll("ab", plain, 10).size(), 5u);
  f.search.invalidate();
  EXPECT_EQ(f.search.findAll("ab", plain, 10).size(), 4u);
}

// ASCII, letters of other scripts, characters past the basic plane and clusters side by side on
// one line, each folded and located on its own cells.
TEST(Search, MixedLinesFoldEachCharacterInPlace) {
  SearchFixture f(40, 4);
  f.t.feed(
      "\xf0\x9f\x98\x80 \xc3\x84"
      "Bc \xef\xbc\xa1Z e\xcc\x81Q");  // 😀 ÄBc ＡZ éQ
  struct Case {
    const char* term;
    SearchOptions options;
    int64_t col, size;
  } cases[] = {
      {"\xc3\xa4"
       "bc",
       plain, 3, 3},  // äbc
      {"\xc3\xa4"
       "BC",
       SearchOptions(true, false, false), -1, 0},  // ÄBC: the case differs
      {"\xef\xbd\x81z", plain, 7, 3},              // ａz: the fullwidth letter folds too
      {"\xc3\xa9q", plain, 11, 2},                 // éq against a cluster
      {"\xf0\x9f\x98\x80 \xc3\xa4", plain, 0, 4},  // 😀 ä
  };
  for (const Case& c : cases) {
    auto result = f.search.engine.find(c.term, 0, 0, c.options);
    if (c.col < 0) {
      EXPECT_FALSE(result) << c.term;
      continue;
    }
    ASSERT_TRUE(result) << c.term;
    EXPECT_EQ(result->col, c.col) << c.term;
    EXPECT_EQ(result->size, c.size) << c.term;
  }
}

// A term that folds to ASCII letters ("ß" to "ss", the Kelvin sign to "k") finds them in a line of
// plain ASCII, and only when case is ignored.
TEST(Search, TermsThatFoldToAsciiMatchAsciiLines) {
  SearchFixture f;
  f.t.feed("kiss KELVIN");
  auto sharp = f.search.engine.find("\xc3\x9f", 0, 0, plain);
  ASSERT_TRUE(sharp);
  EXPECT_EQ(*sharp, (SearchResult{"\xc3\x9f", 2, 0, 2}));
  auto kelvin = f.search.engine.find("\xe2\x84\xaa", 0, 0, plain);
  ASSERT_TRUE(kelvin);
  EXPECT_EQ(kelvin->col, 0);
  EXPECT_FALSE(f.search.engine.find("\xc3\x9f", 0, 0, SearchOptions(true, false, false)));
}

// Output without a newline makes one logical line of many rows. Each of its rows once walked up
// to the line's first row and read the line again from there, so a search over it never ended;
// and a top row whose line began above the scrollback was never searched at all.
TEST(Search, ALineWrappedOverManyRowsIsReadOnce) {
  constexpr int kRows = 60000;
  SearchFixture f(20, 4, kRows + 10);
  f.t.feed(std::string(20 * (kRows - 1), 'a') + "needle" + std::string(14, 'a'));
  ASSERT_GT(f.t.buffer->lines().count(), kRows - 10);
  const int64_t needleRow = f.t.buffer->lines().count() - 4 + f.t.buffer->y;
  auto forward = f.search.findNext("needle", plain);
  ASSERT_TRUE(forward);
  EXPECT_EQ(forward->row, needleRow);
  EXPECT_EQ(forward->col, 0);
  auto backward = f.search.findPrevious("needle", plain);
  ASSERT_TRUE(backward);
  EXPECT_EQ(backward->row, needleRow);
  EXPECT_FALSE(f.search.findNext("absent", plain));
  EXPECT_FALSE(f.search.findPrevious("absent", regex));
  EXPECT_EQ(f.search.findAll("aaaa", plain, 3).size(), 3u);

  SearchFixture trimmed(10, 2, 2);
  // Five rows in a buffer of four lines: the line's first row leaves the scrollback.
  trimmed.t.feed(std::string(10, 'a') + "topccccccc" + std::string(25, 'b'));
  ASSERT_TRUE(trimmed.t.buffer->lines()[0]->isWrapped());
  for (bool forwardStep : {true, false}) {
    trimmed.search.reset();
    auto top = forwardStep ? trimmed.search.findNext("top", plain) : trimmed.search.findPrevious("top", plain);
    ASSERT_TRUE(top) << forwardStep;
    EXPECT_EQ(top->row, 0);
    EXPECT_EQ(top->col, 0);
  }
}

// The alternate screen keeps the cells of a row when it narrows, past the columns it shows; search
// reads none of them: text that wraps at the new width goes on at the next row, and the kept cells
// are neither between the halves nor counted.
TEST(Search, ARowKeptWiderReadsOnlyItsColumns) {
  SearchFixture f(10, 3);
  f.t.feed("\x1b[?1049h0123456789");
  f.t.resize(6, 3);
  f.t.feed("\x1b[Habcdefg");
  EXPECT_EQ(f.search.engine.find("fg", 0, 0, plain), (SearchResult{"fg", 5, 0, 2}));
  // Ending where the row ends, a match covers its own cells, never a negative count.
  EXPECT_EQ(f.search.engine.find("ef", 0, 0, plain), (SearchResult{"ef", 4, 0, 2}));
  EXPECT_FALSE(f.search.engine.find("9g", 0, 0, plain));
  // Nor at a line's end: a screen cleared and drawn anew at the narrower size, as a pager draws
  // it, leaves them as they were.
  SearchFixture g(10, 3);
  g.t.feed("\x1b[?1049h0123456789");
  g.t.resize(6, 3);
  g.t.feed("\x1b[H\x1b[2Jxy");
  EXPECT_FALSE(g.search.engine.find("89", 0, 0, plain));
  EXPECT_EQ(g.search.engine.find("xy", 0, 0, plain), (SearchResult{"xy", 0, 0, 2}));
  // A wide character that the narrowing cut at the row's end covers only the column shown.
  SearchFixture h(10, 3);
  h.t.feed("\x1b[?1049hab\xe4\xb8\xad");
  h.t.resize(3, 3);
  EXPECT_EQ(h.search.engine.find("\xe4\xb8\xad", 0, 0, plain), (SearchResult{"\xe4\xb8\xad", 2, 0, 1}));
}

}  // namespace
}  // namespace vantrelle
