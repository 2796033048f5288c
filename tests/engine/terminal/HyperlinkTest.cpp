#include <gtest/gtest.h>

#include <any>
#include <string>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::feedInSteps;
using testing::rowText;
using testing::sized;
using testing::TestHost;

const std::string open = "\x1b]8;id=1;http://x.test/a;b\x1b\\";
const std::string close = "\x1b]8;;\x1b\\";

// The columns of a screen row whose cells carry a payload.
std::vector<int> linked(Terminal& t, int row) {
  std::vector<int> cols;
  for (int c = 0; c < t.cols; ++c) {
    if ((*t.getLine(row))[c].hasPayload()) cols.push_back(c);
  }
  return cols;
}

std::string payloadText(Terminal& t, int col, int row) {
  const std::any* value = (*t.getLine(row))[col].getPayload();
  return value ? std::any_cast<std::string>(*value) : "";
}

TEST(Hyperlink, MarksExactlyTheCellsWrittenWhileOpen) {
  TestHost host;
  Terminal t(&host, sized(10, 5));
  t.feed("12345" + open + "abcd" + close + "z");
  EXPECT_EQ(linked(t, 0), (std::vector<int>{5, 6, 7, 8}));
  EXPECT_EQ(payloadText(t, 5, 0), "id=1;http://x.test/a;b");
  EXPECT_EQ(Terminal::parseHyperlinkPayload(payloadText(t, 5, 0)), "http://x.test/a;b");
  EXPECT_EQ(Terminal::parseHyperlinkPayload("no-separator"), std::nullopt);

  t.feed("\r\n" + open + "Q" + close);  // a one-cell link
  EXPECT_EQ(linked(t, 1), std::vector<int>{0});
  t.feed("\r\n" + open + close + close);  // nothing written, and a close with nothing open
  EXPECT_TRUE(linked(t, 2).empty());
  // An empty URI after parameters closes too.
  t.feed("\r\n" + open + "xy\x1b]8;id=1;\x1b\\" + "zz");
  EXPECT_EQ(linked(t, 3), (std::vector<int>{0, 1}));
}

TEST(Hyperlink, SpansWrappedRowsAndStopsAtTheLastWrittenCell) {
  TestHost host;
  Terminal t(&host, sized(10, 5));
  t.feed("1234567" + open + "abcdefghijklmnop" + close);
  EXPECT_EQ(linked(t, 0), (std::vector<int>{7, 8, 9}));
  EXPECT_EQ(linked(t, 1).size(), 10u);
  EXPECT_EQ(linked(t, 2), (std::vector<int>{0, 1, 2}));

  // Filling a row exactly leaves the wrap pending: the last column belongs to the link.
  t.feed("\r\n" + open + "0123456789" + close);
  EXPECT_EQ(linked(t, 3).size(), 10u);
  EXPECT_TRUE(linked(t, 4).empty());

  // Opened with the wrap pending, the link starts on the next row.
  TestHost other;
  Terminal u(&other, sized(4, 3));
  u.feed("abcd" + open + "ef" + close);
  EXPECT_TRUE(linked(u, 0).empty());
  EXPECT_EQ(linked(u, 1), (std::vector<int>{0, 1}));
}

TEST(Hyperlink, StaysInTheBufferItWasOpenedIn) {
  TestHost host;
  Terminal t(&host, sized(10, 4));
  t.feed(open + "abc\x1b[?1049h" + "xyz" + close);
  EXPECT_TRUE(linked(t, 0).empty());  // the alternate screen gets nothing
  t.feed("\x1b[?1049l");
  EXPECT_EQ(linked(t, 0), (std::vector<int>{0, 1, 2}));
}

TEST(Hyperlink, FollowsItsRowsWhenTheScrollbackIsTrimmed) {
  TestHost host;
  Terminal t(&host, sized(10, 3, 2));  // a ring of five rows
  t.feed("\r\n\r\n\r\n\r\n" + std::string("ab") + open + "cd");
  t.feed("\r\n\r\n\r\nef" + close);
  const int bottom = 2;
  EXPECT_EQ(linked(t, bottom), (std::vector<int>{0, 1}));
  EXPECT_EQ(linked(t, bottom - 1).size(), 10u);
  // The start row moved up with the trimmed rows: in the scrollback, from column 2 on.
  BufferLine& startRow = *t.buffer->lines()[t.buffer->yBase + bottom - 3];
  EXPECT_FALSE(startRow[1].hasPayload());
  EXPECT_TRUE(startRow[2].hasPayload());
}

TEST(Hyperlink, CodesOfVanishedLinksAreHandedOutAgain) {
  const int lastUsedBefore = TinyAtom::lastUsed;
  TestHost host;
  Terminal t(&host, sized(10, 3));
  t.feed(open + "a" + close + open + "b" + close + "\x1b[2J");
  // Every other code is taken.
  std::vector<uint16_t> filler;
  while (auto atom = TinyAtom::lookup(0)) filler.push_back(atom->code);
  t.feed("\x1b[H" + open + "c" + close);
  EXPECT_EQ(linked(t, 0), std::vector<int>{0});
  EXPECT_EQ(payloadText(t, 0, 0), "id=1;http://x.test/a;b");
  for (uint16_t code : filler) TinyAtom::release(code);
  TinyAtom::lastUsed = lastUsedBefore;
}

// Puts the process-wide code counters back once a test that takes every code is done (declared
// before its terminal, which gives its codes back when it goes), for the tests run after it.
struct RestoreCodeCounters {
  int lastUsed = TinyAtom::lastUsed;
  int lastReused = TinyAtom::lastReused;
  ~RestoreCodeCounters() {
    TinyAtom::lastUsed = lastUsed;
    TinyAtom::lastReused = lastReused;
  }
};

std::string linkTo(const std::string& uri, const std::string& text) {
  return "\x1b]8;;" + uri + "\x1b\\" + text + close;
}

std::optional<std::string> linkAt(Terminal& t, int col, int row) {
  return t.link(LinkLookupLocation::buffer(Position(col, row)), LinkLookupMode::explicitOnly);
}

// Far more links than there are codes, each on a line of its own in a scrollback that keeps them
// all: the first links take every code, the rest find none and are dropped, and telling so must
// not cost a sweep of the whole scrollback per link.
TEST(Hyperlink, LinksPastTheLastFreeCodeCostNoSweepEach) {
  constexpr int kLines = 100000;
  RestoreCodeCounters counters;
  TestHost host;
  Terminal t(&host, sized(80, 24, 200000));
  std::string stream;
  for (int n = 0; n < kLines; ++n) {
    stream += linkTo("http://x.test/" + std::to_string(n), "line " + std::to_string(n)) + "\r\n";
  }
  feedInSteps(t, stream, 64 << 10);
  EXPECT_LT(t.payloadSweeps(), 40u);
  EXPECT_EQ(linkAt(t, 0, 0), "http://x.test/0");
  EXPECT_EQ(linkAt(t, 0, 60000), "http://x.test/60000");
  EXPECT_EQ(linkAt(t, 0, kLines - 1), std::nullopt);
  EXPECT_EQ(rowText(t, t.rows - 2), "line " + std::to_string(kLines - 1));

  // Clearing the scrollback and the screen frees every code at once: the next link gets one.
  t.feed("\x1b[3J\x1b[2J\x1b[H" + linkTo("http://x.test/after", "after"));
  EXPECT_EQ(linkAt(t, 0, t.buffer->yBase), "http://x.test/after");
}

// Codes of links that scrolled out of a bounded scrollback go to new links once every code has
// been taken, and never while a cell still holds them: each cell keeps the link it was given.
TEST(Hyperlink, CodesFreedByTheScrollbackGoToNewLinksOnceTheTableIsFull) {
  constexpr int kPerRow = 100;
  RestoreCodeCounters counters;
  TestHost host;
  Terminal t(&host, sized(120, 24, 1000));  // 1024 rows of 100 links: more than the codes
  auto row = [](int n) {
    std::string s = std::to_string(n);
    s.resize(8, ' ');
    for (int k = 0; k < kPerRow; ++k) s += linkTo("http://x.test/" + std::to_string(n) + "/" + std::to_string(k), "x");
    return s + "\r\n";
  };
  // The numbers of the rows that hold links, each cell checked against the link it was given.
  auto linkedRows = [&] {
    std::vector<int> numbers;
    auto& lines = t.buffer->lines();
    for (int i = 0; i < lines.count(); ++i) {
      const int number = std::atoi(lines[i]->translateToString(true, 0, 8).c_str());
      int linked = 0;
      for (int k = 0; k < kPerRow; ++k) {
        auto uri = linkAt(t, 8 + k, i);
        if (!uri) continue;
        ++linked;
        EXPECT_EQ(*uri, "http://x.test/" + std::to_string(number) + "/" + std::to_string(k));
      }
      if (linked) numbers.push_back(number);
    }
    return numbers;
  };
  std::string stream;
  for (int n = 0; n < 1600; ++n) stream += row(n);
  feedInSteps(t, stream, 64 << 10);
  const std::vector<int> afterFlood = linkedRows();
  ASSERT_FALSE(afterFlood.empty());
  EXPECT_GT(afterFlood.back(), 1024);

  // Plain output scrolls every link out; the next link gets a code.
  std::string plain;
  for (int n = 0; n < 1100; ++n) plain += std::string(100, 'p') + "\r\n";
  feedInSteps(t, plain, 64 << 10);
  t.feed(row(1600));
  EXPECT_EQ(linkedRows(), std::vector<int>{1600});
}

// Links whose text takes up to the longest string a program may send, line after line: what the
// process keeps of this terminal's links stays within the terminal's bound, past which links are
// dropped and their text printed plainly; once their lines are gone, new links are kept again.
TEST(Hyperlink, LinkTextsHeldStayWithinTheBound) {
  const std::string uri = "http://x.test/" + std::string((1 << 20) - 32, 'u');
  auto bytesHeld = [&] {
    uint64_t total = 0;
    for (const auto& [code, value] : TinyAtom::map()) {
      if (auto* text = std::any_cast<std::string>(&value); text && text->ends_with(uri)) total += text->size();
    }
    return total;
  };
  TestHost host;
  Terminal t(&host, sized(80, 24, 1000));
  std::string stream;
  for (int n = 0; n < 64; ++n) stream += linkTo(uri, "link " + std::to_string(n)) + "\r\n";
  feedInSteps(t, stream, 1 << 20);
  EXPECT_LE(bytesHeld(), Terminal::kMaxPayloadBytesHeld);
  EXPECT_LE(t.payloadBytesHeld(), Terminal::kMaxPayloadBytesHeld);
  EXPECT_EQ(linkAt(t, 0, 0), uri);
  EXPECT_EQ(linkAt(t, 0, 63), std::nullopt);
  EXPECT_EQ(rowText(t, 63 - t.buffer->yBase), "link 63");

  t.feed("\x1b[3J\x1b[2J\x1b[H" + linkTo(uri, "after"));
  EXPECT_EQ(linkAt(t, 0, t.buffer->yBase), uri);
  EXPECT_LE(bytesHeld(), uint64_t(2) << 20);
}

}  // namespace
}  // namespace vantrelle
