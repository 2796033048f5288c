// A full scrollback drops its oldest line for every new one, which moves every other line up an
// index: whatever keeps a row must find it where it is now. Each case runs a full ring and one
// with room to spare on the same bytes, and both must end alike.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/support/KittyTestHost.h"
#include "engine/terminal/TestHost.h"
#include "fuzz/ScrollbackParity.h"

namespace vantrelle {
namespace {

using testing::rowText;
using testing::screenText;
using testing::sized;
using testing::TestHost;

constexpr int kFull = 10;
constexpr int kRoomy = 100000;

struct Pair {
  explicit Pair(int cols, int rows, int full = kFull) {
    for (int scrollback : {full, kRoomy})
      terminals.push_back(std::make_unique<Terminal>(&host, sized(cols, rows, scrollback)));
  }
  void feed(const std::string& bytes) {
    for (auto& t : terminals) t->feed(bytes);
  }
  void resize(int cols, int rows) {
    for (auto& t : terminals) t->resize(cols, rows);
  }
  kittytest::TestHost host;
  std::vector<std::unique_ptr<Terminal>> terminals;
};

std::string lines(int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += "line " + std::to_string(i) + "\r\n";
  return out;
}

std::string image(const std::string& keys) { return "\x1b_Ga=T,f=32,s=1,v=1,q=2," + keys + ";gICAgA==\x1b\\"; }

// Image cells a buffer holds, as "id/placement@row" with rows from the screen's top.
std::vector<std::string> imageCells(Terminal& t) {
  std::vector<std::string> cells;
  Buffer& b = *t.buffer;
  for (int i = 0; i < b.lines().count(); ++i) {
    if (!b.lines()[i]->images()) continue;
    for (const auto& entry : *b.lines()[i]->images()) {
      auto* kitty = dynamic_cast<const KittyPlacementImage*>(entry.get());
      if (kitty) {
        cells.push_back(std::to_string(kitty->kittyImageId.value_or(0)) + "/" +
                        std::to_string(kitty->kittyPlacementId.value_or(0)) + "@" + std::to_string(i - b.yBase));
      }
    }
  }
  return cells;
}

// Deletes by position aimed at a cell of the screen: `row` and `col` are 1-based.
std::string deleteAt(char kind, int col, int row) {
  const std::string at = ",x=" + std::to_string(col) + ",y=" + std::to_string(row);
  switch (kind) {
    case 'c':
      return "\x1b[" + std::to_string(row) + ";" + std::to_string(col) + "H\x1b_Ga=d,d=c\x1b\\";
    case 'y':
      return "\x1b_Ga=d,d=y" + at + "\x1b\\";
    case 'q':
      return "\x1b_Ga=d,d=q,z=0" + at + "\x1b\\";
    default:
      return std::string("\x1b_Ga=d,d=") + kind + at + "\x1b\\";
  }
}

TEST(FullScrollback, KittyDeletesByPositionReachOnlyWhatIsThere) {
  for (char kind : {'p', 'P', 'q', 'y', 'c'}) {
    for (int scrollback : {100, kRoomy}) {
      kittytest::TestHost host;
      Terminal t(&host, sized(80, 24, scrollback));
      // One image scrolled far up a history that is full, where no delete on the screen reaches
      // it, though a delete aims at the row it was placed on; one still on the screen, on row 4.
      t.feed(lines(200) + "\x1b[24;30H" + image("i=1,p=1") + "\x1b[24H\r\n" + lines(50));
      t.feed("\x1b[20;30H" + image("i=2,p=2") + "\x1b[24H\r\n" + lines(15));
      const std::string what = std::string(1, kind) + " " + std::to_string(scrollback);
      ASSERT_EQ(imageCells(t), (std::vector<std::string>{"1/1@-44", "2/2@3"})) << what;
      t.feed(deleteAt(kind, 30, 24) + deleteAt(kind, 30, 20));
      EXPECT_EQ(imageCells(t), (std::vector<std::string>{"1/1@-44", "2/2@3"})) << what;
      EXPECT_EQ(t.kittyGraphicsState.placementsByKey.size(), 2u) << what;
      t.feed(deleteAt(kind, 30, 4));
      EXPECT_EQ(imageCells(t), std::vector<std::string>{"1/1@-44"}) << what;
      EXPECT_FALSE(t.kittyGraphicsState.placementsByKey.contains({2, 2})) << what;
      t.feed("\x1b_Ga=d,d=a\x1b\\");
      EXPECT_EQ(imageCells(t), std::vector<std::string>{"1/1@-44"}) << what;
    }
  }
}

TEST(FullScrollback, RelativePlacementsKeepTheirOffsetAsTheyScroll) {
  // To an image and to a virtual placement: children stay beside their parents as text scrolls.
  Pair pair(40, 10);
  pair.feed(lines(30) + "\x1b[8;5H" + image("i=1,p=1,C=1") + "\x1b[8;20H" + image("U=1,i=2,p=2,c=2,r=1"));
  pair.feed("\x1b_Ga=p,q=2,i=1,p=3,P=1,Q=1,H=2,V=1\x1b\\\x1b_Ga=p,q=2,i=1,p=4,P=2,Q=2,H=1,V=-1\x1b\\");
  pair.feed("\x1b[10H" + lines(4));
  for (auto& t : pair.terminals) {
    EXPECT_EQ(imageCells(*t), (std::vector<std::string>{"1/4@2", "1/1@3", "1/3@4"})) << t->options.scrollback;
  }
}

TEST(FullScrollback, ARelativePlacementDrawnAcrossARegionsBottomLandsBesideItsParent) {
  // The rows of a placement are drawn a line feed apart, which scrolls a region whose bottom the
  // placement reaches: the rows drawn first go up with it, into the history, where a full ring
  // soon drops them. The placement lies where its parent puts it once drawn.
  std::vector<std::unique_ptr<parity::Side>> sides;
  for (int scrollback : {2, kRoomy}) sides.push_back(std::make_unique<parity::Side>(sized(20, 6, scrollback)));
  auto feed = [&](const std::string& bytes) {
    for (auto& side : sides) side->terminal->feed(bytes);
  };
  feed(lines(10) + "\x1b[3;10H" + image("i=3,p=3,c=1,r=3") + "\x1b[1;2r\x1b[6;15H");
  feed("\x1b_Ga=p,q=2,i=3,p=5,P=3,Q=3,H=2,V=-1,r=3\x1b\\");
  for (auto& side : sides) {
    Terminal* t = side->terminal.get();
    std::vector<std::string> cells = imageCells(*t);
    std::sort(cells.begin(), cells.end());
    EXPECT_EQ(cells, (std::vector<std::string>{"3/3@2", "3/3@3", "3/3@4", "3/5@1", "3/5@2", "3/5@3"}))
        << t->options.scrollback;
  }
  feed(lines(8));
  for (auto& side : sides) {
    Terminal* t = side->terminal.get();
    std::vector<std::string> cells = imageCells(*t);
    EXPECT_EQ(std::count_if(cells.begin(), cells.end(), [](const std::string& c) { return c.starts_with("3/5@"); }), 3)
        << t->options.scrollback;
  }
}

TEST(FullScrollback, LinksMarkTheirWholeTextAcrossAResize) {
  // Opened at the start of a line that a narrowing splits: every cell written carries the link.
  Pair pair(20, 5);
  pair.feed(lines(40) + "\x1b]8;;http://x.test\x1b\\" + std::string(18, 'A') + "\r\nBBBB\r\n");
  pair.resize(10, 5);
  pair.feed("CCCC\x1b]8;;\x1b\\");
  for (auto& t : pair.terminals) {
    ASSERT_EQ(screenText(*t), "line 39\nAAAAAAAAAA\nAAAAAAAA\nBBBB\nCCCC") << t->options.scrollback;
    for (int row = 1; row < 5; ++row) {
      const std::string text = rowText(*t, row);
      for (int col = 0; col < int(text.size()); ++col) {
        EXPECT_TRUE((*t->getLine(row))[col].hasPayload()) << t->options.scrollback << " " << col << "," << row;
      }
    }
  }
}

TEST(FullScrollback, ARowLaidOutAgainReadsTheSameWholeOrPacked) {
  // Blanks the cursor crossed with a link open end a wrapped line; a narrowing lays the line out
  // again, on the screen, where its rows keep their cells, and in the history, where they keep
  // their text in runs: past the text both read blank, with no link.
  for (int scrolled : {0, 30}) {
    TestHost host;
    Terminal t(&host, sized(20, 5, 100));
    t.feed("\x1b]8;;http://x.test\x1b\\" + std::string(22, 'A') + "\x1b[8C\x1b]8;;\x1b\\\r\n" + lines(scrolled));
    t.resize(19, 5);
    const BufferLine& row = *t.buffer->lines()[1];
    for (int col = 0; col < 19; ++col) {
      EXPECT_EQ(row[col].hasPayload(), col < 3) << scrolled << " " << col;
      EXPECT_EQ(row[col].code != 0, col < 3) << scrolled << " " << col;
    }
  }
}

TEST(FullScrollback, LinksStartWhereTheirFirstLineIsNow) {
  // Lines leave the top of the ring as it scrolls full, or as the scrollback is made smaller: a
  // link whose first line went marks all the ring holds, one whose first line stayed marks from
  // that line's start column on.
  for (int spanned : {3, 30}) {
    Pair pair(20, 5, 40);
    pair.feed(lines(60) + "xyz\x1b]8;;http://x.test\x1b\\abc\r\n" + lines(spanned));
    for (auto& t : pair.terminals) t->changeScrollback(10);
    pair.feed("end\x1b]8;;\x1b\\");
    for (auto& t : pair.terminals) {
      const int first = std::max(3 - spanned, -t->buffer->yBase);
      auto marks = [&](int row) {
        const BufferLine& line = *t->buffer->lines()[t->buffer->yBase + row];
        std::string out;
        for (int col = 0; col < 6; ++col) out += line[col].hasPayload() ? '*' : '.';
        return out;
      };
      EXPECT_EQ(marks(first), spanned == 3 ? "...***" : "******") << spanned << " " << t->options.scrollback;
      EXPECT_EQ(marks(4), "***...") << spanned << " " << t->options.scrollback;
    }
  }
}

TEST(FullScrollback, MarksJoinTheCharacterPrintedLast) {
  // Written after the line feed that scrolled the character up, and after a cursor move.
  Pair pair(20, 5);
  pair.feed(lines(40) + "\x1b[5;3He\r\n\x1b[2;9H\u0301");
  for (auto& t : pair.terminals) {
    EXPECT_EQ(rowText(*t, 3), "  e\u0301") << t->options.scrollback;
    EXPECT_EQ(t->buffer->x, 8) << t->options.scrollback;
  }
}

TEST(FullScrollback, ASelectorAfterACursorMoveLeavesTheCursorWhereItIs) {
  // It widens the character printed last, in the history of the roomy ring; the full one has
  // dropped it. Neither moves a cursor that no longer stands after it.
  for (const std::string& between : {std::string("\x1b[3;5H"), lines(8) + "\x1b[3;5H"}) {
    Pair pair(20, 5, 2);
    pair.feed("\u2764" + between + "\ufe0f");
    for (auto& t : pair.terminals) EXPECT_EQ(t->buffer->x, 4) << t->options.scrollback << " " << between.size();
  }
}

TEST(FullScrollback, APlacementWhoseCellsWentKeepsWhereTheyWere) {
  // Its first row deleted, its last one scrolled off a full ring: one placed relative to it
  // lands where it lands beside a roomy ring, which still holds that row.
  Pair pair(20, 5, 2);
  pair.feed(lines(10) + "\x1b[3;6H" + image("i=1,p=1,r=2,C=1") + "\x1b[3H\x1b[M\x1b[5H" + lines(8));
  pair.feed("\x1b_Ga=p,q=2,i=1,p=2,P=1,Q=1,V=10\x1b\\");
  std::vector<int64_t> rows;
  for (auto& t : pair.terminals) {
    const auto& records = t->kittyGraphicsState.placementsByKey;
    ASSERT_TRUE(records.contains({1, 2})) << t->options.scrollback;
    rows.push_back(kittyRecordRow(*t, records.at({1, 2})) - t->buffer->yBase);
  }
  EXPECT_EQ(rows[0], rows[1]);
  EXPECT_EQ(rows[1], 3);
}

TEST(FullScrollback, APlacementTakenOffTheBottomStaysBelowTheScreen) {
  // A shorter screen takes the blank rows below the cursor away, an image's among them: its
  // record stays as far below the screen, not above all the ring holds, so one placed relative
  // to it lands where it would have, with either ring.
  Pair pair(20, 6, 2);
  pair.feed(lines(10) + "\x1b[H\x1b[J\x1b[5;3H" + image("i=1,p=1") + "\x1b[H");
  pair.resize(20, 3);
  pair.feed("\x1b_Ga=p,q=0,i=1,p=2,P=1,Q=1,V=-2\x1b\\");
  for (auto& t : pair.terminals) {
    const auto& records = t->kittyGraphicsState.placementsByKey;
    ASSERT_TRUE(records.contains({1, 1})) << t->options.scrollback;
    EXPECT_EQ(kittyRecordRow(*t, records.at({1, 1})) - t->buffer->yBase, 4) << t->options.scrollback;
    ASSERT_TRUE(records.contains({1, 2})) << t->options.scrollback;
    EXPECT_EQ(kittyRecordRow(*t, records.at({1, 2})) - t->buffer->yBase, 2) << t->options.scrollback;
  }
}

TEST(FullScrollback, DeletesOnTheAlternateScreenLeaveTheNormalScreensHistory) {
  // A position of the alternate screen names no row of the normal screen's history, whatever
  // index that row has in its ring.
  for (int scrollback : {10, kRoomy}) {
    kittytest::TestHost host;
    Terminal t(&host, sized(40, 10, scrollback));
    t.feed(lines(3) + "\x1b[4;5H" + image("i=1,p=1,C=1") + "\x1b[10H" + lines(20) + "\x1b[?1049h");
    t.feed("\x1b_Ga=d,d=p,x=5,y=4\x1b\\\x1b_Ga=d,d=y,y=4\x1b\\\x1b_Ga=d,d=a\x1b\\");
    t.feed("\x1b[?1049l");
    EXPECT_TRUE(t.kittyGraphicsState.placementsByKey.contains({1, 1})) << scrollback;
    if (scrollback == kRoomy) {
      EXPECT_EQ(imageCells(t), std::vector<std::string>{"1/1@-17"});
    }
  }
}

TEST(FullScrollback, ResizeRightAfterACarriageReturnOnly) {
  // A cursor that came back to column 0 of the row a carriage return left it on, by a cursor
  // move after text was written there, keeps its character through a reflow.
  for (int scrollback : {0, kRoomy}) {
    TestHost host;
    Terminal t(&host, sized(10, 3, scrollback));
    t.feed("0123456789ABC\rXY\x1b[2;1H");
    t.resize(20, 3);
    EXPECT_EQ(rowText(t, 0), "0123456789XYC") << scrollback;
    EXPECT_EQ(t.buffer->x, 10) << scrollback;
  }
}

TEST(FullScrollback, AReturnBeforeAnEarlierResizeLeavesTheCursorOnItsCharacter) {
  // The return was noted on the row before a reflow, whatever the ring; the cursor came back to
  // that row's index by another way, with nothing written since: a later narrowing keeps it on
  // the character it stands on rather than as many rows above the line's end as then.
  const std::string text = "0123456789ABCDEFGHIJKLMNOPQRST";
  for (int scrollback : {2, kRoomy}) {
    TestHost host;
    Terminal t(&host, sized(20, 4, scrollback));
    t.feed(lines(8) + "\x1b[H\x1b[J" + text + "\x1b[1;5H\r\x1b[1;5H");
    t.resize(19, 4);
    t.feed("\x1b[1G");
    t.resize(10, 4);
    EXPECT_EQ(rowText(t, t.buffer->y), "0123456789") << scrollback;
    EXPECT_EQ(t.buffer->x, 0) << scrollback;
  }
}

TEST(FullScrollback, APromptOnARecycledLineIsForgotten) {
  // A line editor's prompt noted on a line the full ring has since recycled as a new one: a resize
  // leaves that new line's text where it is.
  Pair pair(20, 3, 2);
  pair.feed("out\x1b[?2004h$ " + lines(5) + "abcdef");
  pair.resize(15, 3);
  for (auto& t : pair.terminals) EXPECT_EQ(rowText(*t, 2), "abcdef") << t->options.scrollback;
}

TEST(FullScrollback, ResizesKeepTheScreenWhateverTheScrollback) {
  // The cursor above the bottom with text below it, narrowed or made shorter: the screen shows
  // what a roomy scrollback shows, the rows below it stay, and only the history is shorter.
  std::string text;
  for (char c = 'a'; c <= 'e'; ++c) text += std::string(1, c) + std::string(17, char(c - 32)) + "\r\n";
  text.resize(text.size() - 2);
  struct Case {
    const char* cursor;
    int cols, rows;
  };
  for (const Case& c : {Case{"\x1b[2;1H", 10, 5}, Case{"\x1b[1;4H", 10, 5}, Case{"\x1b[2;1H", 20, 3},
                        Case{"\x1b[1;4H", 7, 4}, Case{"", 10, 5}}) {
    const std::string what =
        std::string(c.cursor + (*c.cursor ? 1 : 0)) + " " + std::to_string(c.cols) + "x" + std::to_string(c.rows);
    TestHost host;
    Terminal roomy(&host, sized(20, 5, kRoomy));
    roomy.feed(text + c.cursor);
    roomy.resize(c.cols, c.rows);
    for (int scrollback : {0, 2}) {
      Terminal t(&host, sized(20, 5, scrollback));
      t.feed(text + c.cursor);
      t.resize(c.cols, c.rows);
      EXPECT_EQ(screenText(t), screenText(roomy)) << what << " " << scrollback;
      EXPECT_EQ(t.buffer->x, roomy.buffer->x) << what << " " << scrollback;
      EXPECT_EQ(t.buffer->y, roomy.buffer->y) << what << " " << scrollback;
      EXPECT_EQ(t.buffer->lines().count() - t.buffer->yBase, roomy.buffer->lines().count() - roomy.buffer->yBase)
          << what << " " << scrollback;
      EXPECT_LE(t.buffer->yBase, scrollback) << what;
    }
  }
}

// Random scripts from fixed seeds, on a few screen sizes and scrollbacks (see ScrollbackParity.h).
TEST(FullScrollback, KeepsWhatARoomyOneKeeps) {
  for (uint32_t seed = 1; seed <= 200; ++seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> script(2400);
    for (auto& byte : script) byte = uint8_t(random());
    fuzzing::Reader in(script.data(), script.size());
    // Every third with a scrollback smaller than the screen.
    const int scrollback = seed % 3 == 0 ? int(seed / 3 % 4) : int(seed % 20) + 40;
    parity::ScrollbackParity parity(int(seed % 23) + 10, int(seed % 6) + 3, scrollback);
    auto difference = parity.run(in);
    ASSERT_FALSE(difference) << "seed " << seed << ": " << *difference;
  }
}

}  // namespace
}  // namespace vantrelle
