#include <gtest/gtest.h>

#include <limits>

#include "BufferTestSupport.h"

namespace vantrelle {
namespace {

using buffertest::prepare;
using buffertest::printAscii;
using buffertest::printCells;
using buffertest::rowTable;

const Attribute plain = CharData::Null.attribute();

std::vector<int> stops(const Buffer& buffer) {
  std::vector<int> out;
  for (size_t i = 0; i < buffer.tabStops.size(); i++) {
    if (buffer.tabStops[i]) out.push_back(int(i));
  }
  return out;
}

TEST(Buffer, FreshBufferState) {
  Buffer buffer(80, 24, 8, 100);
  EXPECT_TRUE(buffer.lines().isEmpty());
  EXPECT_EQ(buffer.lines().maxLength(), 124);
  EXPECT_EQ(int(buffer.scrollBottom), 23);
  EXPECT_EQ(buffer.marginRight, 79);
  EXPECT_TRUE(buffer.isReflowEnabled());
  EXPECT_EQ(buffer.savedAttr, plain);
  EXPECT_EQ(buffer.curAttr, plain);
  EXPECT_THROW(buffer.scroll(false), std::logic_error);

  buffer.fillViewportRows();
  EXPECT_EQ(buffer.lines().count(), 24);
  buffer.fillViewportRows();
  EXPECT_EQ(buffer.lines().count(), 24);  // only an empty ring is filled

  Buffer alternate(80, 24, 8);
  EXPECT_FALSE(alternate.isReflowEnabled());
  EXPECT_EQ(alternate.lines().maxLength(), 24);
}

TEST(Buffer, HugeScrollbackIsALimitNotAnAllocation) {
  Buffer buffer(80, 24, 8, std::numeric_limits<int>::max());
  EXPECT_EQ(buffer.lines().maxLength(), std::numeric_limits<int32_t>::max());
  prepare(buffer);
  for (int i = 0; i < 500; i++) buffer.scroll(false);
  EXPECT_EQ(buffer.lines().count(), 524);
  EXPECT_LE(buffer.lines().storageSize(), 1024);
}

TEST(Buffer, NegativePositionsAreIgnored) {
  Buffer buffer(10, 5, 8, 0);
  buffer.x = 4;
  buffer.yDisp = 2;
  buffer.x = -1;
  buffer.yDisp = -1;
  buffer.scrollTop = -3;
  EXPECT_EQ(int(buffer.x), 4);
  EXPECT_EQ(int(buffer.yDisp), 2);
  EXPECT_EQ(int(buffer.scrollTop), 0);
  buffer.x -= 10;
  EXPECT_EQ(int(buffer.x), 4);
}

TEST(Buffer, TabStops) {
  Buffer buffer(80, 24, 8, 0);
  EXPECT_EQ(stops(buffer), (std::vector<int>{0, 8, 16, 24, 32, 40, 48, 56, 64, 72}));
  EXPECT_EQ(buffer.nextTabStop(false, 75), 79);
  EXPECT_EQ(buffer.previousTabStop(3), 0);
  EXPECT_EQ(buffer.previousTabStop(17), 16);
  buffer.tabClear(8);
  EXPECT_EQ(buffer.nextTabStop(false, 0), 16);
  buffer.tabSet(200);
  EXPECT_EQ(buffer.tabStops.size(), 80u);
  buffer.marginRight = 20;
  EXPECT_EQ(buffer.nextTabStop(true, 17), 20);
  buffer.x = 30;
  EXPECT_EQ(buffer.nextTabStop(false), 32);
  EXPECT_EQ(buffer.previousTabStop(), 24);
}

TEST(Buffer, TabStopsAfterResizeContinueThePattern) {
  Buffer buffer(20, 5, 8, 0);
  buffer.fillViewportRows();
  buffer.tabSet(10);
  buffer.resize(40, 5);
  buffer.setupTabStops(20, 8);
  // The stops of the new columns continue from the last stop at or before the old edge (16).
  EXPECT_EQ(stops(buffer), (std::vector<int>{0, 8, 10, 16, 24, 32}));
  buffer.resize(12, 5);
  buffer.setupTabStops(40, 8);
  EXPECT_EQ(stops(buffer), (std::vector<int>{0, 8, 10}));
  EXPECT_EQ(buffer.nextTabStop(false, 10), 11);
}

TEST(Buffer, ClearAndSoftResetKeepWhatTheyShould) {
  Buffer buffer(10, 5, 4, 10);
  prepare(buffer);
  buffer.tabClear(4);
  buffer.savedX = 3;
  buffer.savedY = 2;
  buffer.x = 5;
  buffer.y = 3;
  buffer.scrollTop = 1;
  buffer.scrollBottom = 3;
  buffer.marginLeft = 2;
  buffer.savedWraparound = false;
  buffer.savedOriginMode = true;
  buffer.softReset();
  EXPECT_EQ(int(buffer.x), 5);
  EXPECT_EQ(int(buffer.scrollTop), 1);
  EXPECT_EQ(int(buffer.scrollBottom), 3);
  EXPECT_EQ(buffer.savedX, 0);
  EXPECT_EQ(buffer.marginLeft, 0);
  // The slot goes back to the starting modes: autowrap on, origin mode off.
  EXPECT_TRUE(buffer.savedWraparound);
  EXPECT_FALSE(buffer.savedOriginMode);

  buffer.savedX = 3;
  buffer.clear();
  EXPECT_TRUE(buffer.lines().isEmpty());
  EXPECT_EQ(int(buffer.scrollBottom), 4);
  EXPECT_EQ(int(buffer.x), 0);
  EXPECT_EQ(buffer.savedX, 3);
  EXPECT_FALSE(buffer.tabStops[4]);
  EXPECT_TRUE(buffer.tabStops[8]);
}

TEST(Buffer, ChangeHistorySizeDropsOldestLines) {
  Buffer buffer(10, 5, 8, 200);
  prepare(buffer);
  for (int i = 0; i < 104; i++) buffer.scroll(false);
  EXPECT_EQ(buffer.yBase, 104);
  buffer.yDisp = 50;
  buffer.savedY = 3;
  buffer.changeHistorySize(std::nullopt);
  EXPECT_FALSE(buffer.isReflowEnabled());
  EXPECT_EQ(buffer.lines().count(), 5);
  EXPECT_EQ(buffer.yBase, 0);
  EXPECT_EQ(int(buffer.yDisp), 0);
  EXPECT_EQ(buffer.savedY, 0);
  buffer.changeHistorySize(1000);
  EXPECT_EQ(buffer.lines().maxLength(), 1005);
  EXPECT_EQ(buffer.lines().count(), 5);
}

TEST(Buffer, GetCharOutsideALineIsNull) {
  Buffer buffer(10, 3, 8, 0);
  prepare(buffer);
  printAscii(buffer, "hi", plain);
  EXPECT_EQ(buffer.getChar(Position(1, 0)).code, 'i');
  EXPECT_EQ(buffer.getChar(Position(-1, 0)), CharData::Null);
  EXPECT_EQ(buffer.getChar(Position(10, 0)), CharData::Null);
  EXPECT_EQ(buffer.getCharAtBufferRelative(Position(0, 0)).code, 'h');
  EXPECT_EQ(buffer.getCharAtBufferRelative(Position(0, 99)), CharData::Null);
}

TEST(Buffer, WideCharacterAtTheEdge) {
  Buffer buffer(10, 3, 8, 5);
  prepare(buffer);
  buffer.wraparound = false;
  buffer.x = 9;
  printCells(buffer, U"\u4e00", plain);
  EXPECT_EQ(int(buffer.x), 9);
  EXPECT_EQ((*buffer.lines()[0])[9], CharData::Null);  // dropped, not split

  // With autowrap it lands at the start of the next row, which is marked wrapped, also when the
  // screen no longer starts at buffer row 0.
  buffer.wraparound = true;
  buffer.scroll(false);
  ASSERT_EQ(buffer.yBase, 1);
  buffer.y = 0;
  buffer.x = 9;
  printCells(buffer, U"\u4e00", plain);
  EXPECT_EQ(int(buffer.y), 1);
  EXPECT_EQ(int(buffer.x), 2);
  EXPECT_TRUE(buffer.lines()[2]->isWrapped());
  EXPECT_EQ((*buffer.lines()[2])[0].width, 2);
  EXPECT_EQ((*buffer.lines()[2])[1], CharData(0, 0, buffer.curAttr));
  EXPECT_EQ(buffer.lastBufferStorage, (Buffer::LastBufferStorage{2, 0, 10, 3}));
}

TEST(Buffer, InsertModePushesAWideCharacterOffTheEdge) {
  Buffer buffer(6, 2, 8, 0);
  prepare(buffer);
  printCells(buffer, U"abcd\u4e00", plain);
  buffer.x = 0;
  buffer.insertMode = true;
  printCells(buffer, U"x", plain);
  const BufferLine& line = *buffer.lines()[0];
  EXPECT_EQ(line.translateToString(), std::string("xabcd") + '\0');
  EXPECT_EQ(line[5], CharData(0, 1, buffer.curAttr));  // the half that was left is blanked
}

// The fast path must leave exactly what printing cell by cell leaves.
TEST(Buffer, AsciiRunMatchesCellByCellPrinting) {
  struct Case {
    const char* name;
    bool wraparound;
    bool marginMode;
    bool insertMode;
    int scrollTop, scrollBottom;
    int startX, startY;
  };
  const Case cases[] = {
      {"autowrap", true, false, false, 0, 5, 3, 0},
      {"no autowrap", false, false, false, 0, 5, 3, 0},
      {"margins", true, true, false, 0, 5, 4, 1},
      {"margins, no autowrap", false, true, false, 0, 5, 4, 1},
      {"insert mode", true, false, true, 0, 5, 2, 0},
      {"bottom of region", true, false, false, 1, 3, 0, 3},
      {"below the region", true, false, false, 1, 3, 0, 4},
      {"last row below the region", true, false, false, 1, 3, 0, 5},
      {"full screen scrolling", true, false, false, 0, 5, 0, 5},
  };
  const std::string text = "The quick brown fox jumps over the lazy dog; 0123456789!";
  const Attribute bold(Attribute::Color::ansi256(3), Attribute::Color::defaultColor, CharacterStyle::bold);
  for (const auto& c : cases) {
    Buffer fast(12, 6, 8, 4), slow(12, 6, 8, 4);
    for (Buffer* b : {&fast, &slow}) {
      prepare(*b);
      for (int row = 0; row < 6; row++) {
        b->x = 0;
        b->y = row;
        printAscii(*b, std::string(12, char('a' + row)), plain);
      }
      b->wraparound = c.wraparound;
      b->marginMode = c.marginMode;
      b->marginLeft = 2;
      b->marginRight = 8;
      b->insertMode = c.insertMode;
      b->scrollTop = c.scrollTop;
      b->scrollBottom = c.scrollBottom;
      b->x = c.startX;
      b->y = c.startY;
    }
    printAscii(fast, text, bold);
    for (char ch : text) slow.insertCharacter(CharData(uint8_t(ch), 1, bold));

    EXPECT_EQ(rowTable(fast), rowTable(slow)) << c.name;
    EXPECT_EQ(int(fast.x), int(slow.x)) << c.name;
    EXPECT_EQ(int(fast.y), int(slow.y)) << c.name;
    EXPECT_EQ(fast.yBase, slow.yBase) << c.name;
    EXPECT_EQ(fast.lastBufferStorage, slow.lastBufferStorage) << c.name;
    for (int row = 0; row < fast.lines().count(); row++) {
      for (int col = 0; col < 12; col++) {
        ASSERT_EQ((*fast.lines()[row])[col], (*slow.lines()[row])[col]) << c.name << " " << row << "," << col;
      }
    }
  }
}

TEST(Buffer, AsciiRunWrapsAndScrollsAtTheRegionBottom) {
  Buffer buffer(10, 3, 8, 10);
  prepare(buffer);
  buffer.y = 2;
  buffer.x = 8;
  const std::string text = "12345";
  int written = buffer.insertAsciiRun(std::span(reinterpret_cast<const uint8_t*>(text.data()), 5), plain);
  EXPECT_EQ(written, 5);
  EXPECT_EQ(buffer.yBase, 1);
  EXPECT_EQ(rowTable(buffer), (std::vector<std::string>{"|", "|", "|        12", "+345"}));
  EXPECT_EQ(int(buffer.x), 3);

  buffer.insertMode = true;
  EXPECT_EQ(buffer.insertAsciiRun(std::span(reinterpret_cast<const uint8_t*>(text.data()), 5), plain), 0);
  EXPECT_EQ(rowTable(buffer).back(), "+345");
}

// Margins that cross (left past right) leave no room in a row; the fast path must give the
// bytes back instead of wrapping forever.
TEST(Buffer, AsciiRunGivesUpOnCrossedMargins) {
  Buffer buffer(12, 3, 8, 0);
  prepare(buffer);
  buffer.marginMode = true;
  buffer.marginLeft = 8;
  buffer.marginRight = 4;
  buffer.x = 9;
  const std::string text = "abc";
  EXPECT_EQ(buffer.insertAsciiRun(std::span(reinterpret_cast<const uint8_t*>(text.data()), 3), plain), 0);
  EXPECT_EQ(int(buffer.x), 9);
  EXPECT_EQ(int(buffer.y), 0);
}

// A wrap with the cursor below the scroll region must not scroll the region: that would move
// other rows and leave the cursor row overwritten.
TEST(Buffer, WrapBelowTheScrollRegionMovesDownWithoutScrolling) {
  Buffer buffer(4, 5, 8, 10);
  prepare(buffer);
  for (int row = 0; row < 5; row++) {
    buffer.x = 0;
    buffer.y = row;
    printAscii(buffer, std::string(3, char('a' + row)), plain);
  }
  buffer.scrollTop = 0;
  buffer.scrollBottom = 1;
  buffer.x = 0;
  buffer.y = 3;
  printAscii(buffer, "WXYZ12", plain);
  EXPECT_EQ(rowTable(buffer), (std::vector<std::string>{"|aaa", "|bbb", "|ccc", "|WXYZ", "+12e"}));
  EXPECT_EQ(int(buffer.y), 4);
  // On the last row the cursor stays and the row is written from the left again.
  printAscii(buffer, "345", plain);
  EXPECT_EQ(rowTable(buffer), (std::vector<std::string>{"|aaa", "|bbb", "|ccc", "|WXYZ", "+5234"}));
  EXPECT_EQ(buffer.yBase, 0);
}

TEST(Buffer, ImageLinesAreCounted) {
  Buffer buffer(4, 3, 8, 0);
  prepare(buffer);
  buffer.lines()[1]->attach(nullptr);
  buffer.recalculateLinesWithImagesCount();
  EXPECT_TRUE(buffer.hasAnyImages());
  buffer.clearImagesFromLine(1);
  EXPECT_FALSE(buffer.hasAnyImages());
  EXPECT_FALSE(buffer.lines()[1]->images());
  buffer.clearImagesFromLine(1);
  EXPECT_EQ(buffer.linesWithImagesCount, 0);

  // Recycling an image line through the full ring takes it off the count.
  buffer.lines()[0]->attach(nullptr);
  buffer.recalculateLinesWithImagesCount();
  buffer.scroll(false);
  EXPECT_FALSE(buffer.hasAnyImages());
}

}  // namespace
}  // namespace vantrelle
