#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Vantrelle/Buffer/CircularBufferLineList.h"
#include "tests/CapturedStdout.h"

namespace vantrelle {
namespace {

BufferLinePtr named(char name) {
  auto line = std::make_shared<BufferLine>(1);
  line->set(0, CharData(name, 1, Attribute::empty));
  return line;
}

std::string contents(CircularBufferLineList& ring) {
  std::string out;
  for (int i = 0; i < ring.count(); i++) out += char((*ring[i])[0].code);
  return out;
}

CircularBufferLineList ringOf(const std::string& names, int maxLength) {
  CircularBufferLineList ring(maxLength);
  ring.makeEmpty = [](int) { return named('_'); };
  for (char c : names) ring.push(named(c));
  return ring;
}

// Every line object appears once among the logical lines.
bool eachLineOnce(CircularBufferLineList& ring) {
  std::set<BufferLine*> seen;
  for (int i = 0; i < ring.count(); i++) {
    if (!seen.insert(ring[i].get()).second) return false;
  }
  return true;
}

TEST(CircularBufferLineList, PushRecycleAndTrim) {
  auto ring = ringOf("ABC", 3);
  std::vector<bool> pushed;
  ring.onLinePushed = [&](bool images) { pushed.push_back(images); };
  ring.push(named('D'));
  EXPECT_EQ(contents(ring), "BCD");
  EXPECT_EQ(ring.count(), 3);
  EXPECT_EQ(pushed, std::vector<bool>{false});

  BufferLine* oldest = ring[0].get();
  oldest->attach(nullptr);
  std::vector<bool> recycled;
  ring.onLineRecycled = [&](bool images) { recycled.push_back(images); };
  ring.recycle(Attribute::empty);
  EXPECT_EQ(ring[2].get(), oldest);  // the same block, reused as the newest line
  EXPECT_FALSE(oldest->images());
  EXPECT_EQ((*ring[2])[0], CharData(0, 1, Attribute::empty));
  EXPECT_EQ(recycled, std::vector<bool>{true});
  EXPECT_EQ(contents(ring).substr(0, 2), "CD");

  auto partial = ringOf("A", 3);
  partial.recycle(Attribute::empty);  // nothing to recycle in a ring with room
  EXPECT_EQ(contents(partial), "A");
  partial.push(named('B'));
  EXPECT_EQ(contents(partial), "AB");
  partial.trimStart(1);
  EXPECT_EQ(contents(partial), "B");
  partial.trimStart(5);
  EXPECT_EQ(partial.count(), 0);  // trimming more than there is empties the ring, no further
  EXPECT_TRUE(partial.isEmpty());
}

TEST(CircularBufferLineList, LinesAreMadeOnFirstRead) {
  CircularBufferLineList ring(4);
  std::vector<int> made;
  ring.makeEmpty = [&](int slot) {
    made.push_back(slot);
    return named('n');
  };
  ring.setCount(2);
  BufferLine* first = ring[0].get();
  EXPECT_EQ(ring[0].get(), first);
  EXPECT_EQ(made, std::vector<int>{0});
}

TEST(CircularBufferLineList, ShiftElements) {
  auto ring = ringOf("ABC", 3);
  testing::CapturedStdout asserted;
  EXPECT_FALSE(ring.shiftElements(0, 1, 0));
  EXPECT_FALSE(ring.shiftElements(3, 1, -1));
  EXPECT_FALSE(ring.shiftElements(0, -1, 1));
  std::string printed = asserted.text();
  EXPECT_EQ(printed,
            "Assertion at start=0 count=1 offset=0: start+offset <= 0\n"
            "Assertion at start=3 count=1 offset=-1: start >= self.count\n"
            "Assertion at start=0 count=-1 offset=1: count < 0\n");
  EXPECT_EQ(contents(ring), "ABC");

  EXPECT_TRUE(ring.shiftElements(2, 1, -1));
  EXPECT_EQ(contents(ring), "ACC");

  auto growing = ringOf("ABC", 4);
  EXPECT_TRUE(growing.shiftElements(1, 2, 2));
  // B and C land on 3 and 4; the ring holds four lines, so the oldest one is dropped.
  EXPECT_EQ(growing.count(), 4);
  EXPECT_EQ(contents(growing), "BCBC");

  // Destinations that wrap onto the oldest slots still receive the lines they were meant to.
  auto wrapping = ringOf("ABCD", 4);
  EXPECT_TRUE(wrapping.shiftElements(1, 3, 3));
  EXPECT_EQ(wrapping.count(), 4);
  EXPECT_EQ(contents(wrapping), "DBCD");
}

TEST(CircularBufferLineList, SpliceReportsEveryIndexWritten) {
  auto ring = ringOf("ABC", 3);
  std::vector<int> changed;
  ring.splice(1, 1, {named('X')}, [&](int i) { changed.push_back(i); });
  EXPECT_EQ(contents(ring), "AXC");
  EXPECT_EQ(changed, (std::vector<int>{1, 2, 1}));
  EXPECT_TRUE(eachLineOnce(ring));
}

TEST(CircularBufferLineList, SpliceIntoAFullRingKeepsEachLineOnce) {
  struct Case {
    std::string lines;
    int maxLength;
    int start;
    int deleteCount;
    std::string items;
    std::string expected;
  };
  const Case cases[] = {
      // Inserting into a full ring drops the oldest lines of the result.
      {"ABC", 3, 0, 0, "X", "ABC"},
      {"ABC", 3, 1, 0, "X", "XBC"},
      {"ABC", 3, 3, 0, "XY", "CXY"},
      {"ABC", 3, 1, 0, "XY", "YBC"},
      {"ABCDE", 5, 2, 1, "XYZ", "XYZDE"},
      // With room, nothing is lost.
      {"AB", 4, 1, 0, "XY", "AXYB"},
      {"", 3, 0, 0, "XY", "XY"},
      {"ABC", 4, 0, 2, "", "C"},
  };
  for (const auto& c : cases) {
    auto ring = ringOf(c.lines, c.maxLength);
    std::vector<BufferLinePtr> items;
    for (char name : c.items) items.push_back(named(name));
    std::vector<int> changed;
    ring.splice(c.start, c.deleteCount, items, [&](int i) { changed.push_back(i); });
    EXPECT_EQ(contents(ring), c.expected) << c.lines << " splice(" << c.start << ") " << c.items;
    EXPECT_TRUE(eachLineOnce(ring)) << c.lines;
    for (int i : changed) EXPECT_LT(i, ring.maxLength());
  }
}

TEST(CircularBufferLineList, RingsAfterTheStartMovedStayInOrder) {
  auto ring = ringOf("ABCDE", 3);  // start has moved to slot 2
  EXPECT_EQ(ring.startIndex(), 2);
  EXPECT_EQ(contents(ring), "CDE");
  ring.setMaxLength(5);
  EXPECT_EQ(ring.startIndex(), 0);
  EXPECT_EQ(contents(ring), "CDE");
  ring.push(named('F'));
  ring.push(named('G'));
  EXPECT_EQ(contents(ring), "CDEFG");
  ring.push(named('H'));
  EXPECT_EQ(contents(ring), "DEFGH");
  ring.setMaxLength(2);
  EXPECT_EQ(ring.count(), 2);
  EXPECT_EQ(contents(ring), "DE");  // shrinking keeps the front; callers trim the oldest first
}

TEST(CircularBufferLineList, StorageGrowsWithTheLinesNotTheLimit) {
  CircularBufferLineList ring(2'000'000'000);
  EXPECT_LE(ring.storageSize(), 64);
  for (int i = 0; i < 1000; i++) ring.push(named(char('a' + i % 26)));
  EXPECT_EQ(ring.count(), 1000);
  EXPECT_LT(ring.storageSize(), 4096);
  EXPECT_EQ((*ring[999])[0].code, 'a' + 999 % 26);
  ring.trimStart(10);
  for (int i = 0; i < 100; i++) ring.push(named('z'));
  EXPECT_EQ(ring.count(), 1090);
  EXPECT_EQ((*ring[0])[0].code, 'a' + 10 % 26);
  EXPECT_TRUE(eachLineOnce(ring));
}

TEST(CircularBufferLineList, LinesLeavingTheRingAreReleased) {
  struct Case {
    const char* name;
    std::function<void(CircularBufferLineList&)> change;
    std::string kept;
  };
  const Case cases[] = {
      {"trimStart", [](auto& ring) { ring.trimStart(3); }, "DEF"},
      {"lower count", [](auto& ring) { ring.setCount(2); }, "AB"},
      {"splice out", [](auto& ring) { ring.splice(1, 2, {}); }, "ADEF"},
      {"splice in and out", [](auto& ring) { ring.splice(0, 3, {named('X')}); }, "XDEF"},
      {"lower maxLength", [](auto& ring) { ring.setMaxLength(4); }, "ABCD"},
  };
  for (const auto& c : cases) {
    auto ring = ringOf("ABCDEF", 6);
    std::map<char, std::weak_ptr<BufferLine>> watched;
    for (int i = 0; i < ring.count(); i++) watched[char((*ring[i])[0].code)] = ring[i];
    c.change(ring);
    EXPECT_EQ(contents(ring), c.kept) << c.name;
    std::string alive;
    for (const auto& [name, line] : watched) {
      if (!line.expired()) alive += name;
    }
    std::string expected = c.kept;
    std::erase(expected, 'X');
    EXPECT_EQ(alive, expected) << c.name;
  }
}

TEST(CircularBufferLineList, GrowingKeepsOrderAcrossBlocksOfHomes) {
  // Growth past several blocks of homes, the last one short (the limit is no power of two), after
  // region scrolls have reordered the homes and trims have moved the start; then the full ring
  // turns over.
  auto label = [](int n) {
    auto line = std::make_shared<BufferLine>(1);
    line->set(0, CharData(n + 1, 1, Attribute::empty));
    return line;
  };
  constexpr int limit = 13'000;
  CircularBufferLineList ring(limit);
  std::deque<int> expected;
  int next = 0;
  auto matches = [&] {
    if (ring.count() != int(expected.size())) return false;
    for (int i = 0; i < ring.count(); i++) {
      if ((*ring[i])[0].code != expected[size_t(i)] + 1) return false;
    }
    return true;
  };
  for (int round = 0; round < 7; round++) {
    for (int i = 0; i < 2500; i++) {
      ring.push(label(next));
      expected.push_back(next++);
      if (int(expected.size()) > limit) expected.pop_front();
    }
    const int last = ring.count() - 1, first = last / 3;
    ring.rotate(first, last, round % 2 == 0);
    if (round % 2 == 0) {
      std::rotate(expected.begin() + first, expected.begin() + first + 1, expected.begin() + last + 1);
    } else {
      std::rotate(expected.begin() + first, expected.begin() + last, expected.begin() + last + 1);
    }
    if (round == 1) {
      ring.trimStart(700);
      expected.erase(expected.begin(), expected.begin() + 700);
    }
    ASSERT_TRUE(matches()) << "round " << round << ", storage " << ring.storageSize();
  }
  EXPECT_EQ(ring.storageSize(), limit);
  EXPECT_TRUE(eachLineOnce(ring));
}

TEST(CircularBufferLineList, StorageShrinksWithTheLines) {
  CircularBufferLineList ring(100'000);
  for (int i = 0; i < 50'000; i++) ring.push(named('a'));
  ring.trimStart(49'950);
  EXPECT_LE(ring.storageSize(), 256);
  EXPECT_EQ(ring.count(), 50);
  for (int i = 0; i < 1000; i++) ring.push(named('b'));
  EXPECT_EQ(ring.count(), 1050);
  EXPECT_EQ((*ring[49])[0].code, 'a');
  EXPECT_EQ((*ring[50])[0].code, 'b');
  ring.setCount(10);
  EXPECT_LE(ring.storageSize(), 256);
  EXPECT_TRUE(eachLineOnce(ring));
}

}  // namespace
}  // namespace vantrelle
