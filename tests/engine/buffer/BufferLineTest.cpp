#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Vantrelle/Buffer/BufferLine.h"
#include "tests/CapturedStdout.h"

namespace vantrelle {
namespace {

CharData cell(char32_t c, int width = 1) { return CharData(int32_t(c), int8_t(width), Attribute::empty); }

BufferLine lineOf(const std::string& text, int cols) {
  BufferLine line(cols);
  for (size_t i = 0; i < text.size(); i++) line.set(int(i), cell(char32_t(text[i])));
  return line;
}

class TestImage : public TerminalImage {
 public:
  int pixelWidth() const override { return 1; }
  int pixelHeight() const override { return 1; }
  int col() const override { return column; }
  void setCol(int value) override { column = value; }
  int column = 0;
};

TEST(BufferLine, EmptyAndNullLines) {
  BufferLine empty(0);
  EXPECT_EQ(empty.count(), 0);
  EXPECT_EQ(empty.translateToString(), "");
  EXPECT_EQ(empty[3], CharData::Null);  // reading an empty line never leaves the block

  BufferLine nulls(3);
  EXPECT_EQ(nulls[0], CharData::Null);
  EXPECT_EQ(nulls.getTrimmedLength(), 0);
  EXPECT_FALSE(nulls.hasAnyContent());
  EXPECT_EQ(nulls.translateToString(), std::string(3, '\0'));
  EXPECT_EQ(nulls.generation(), 0u);
}

TEST(BufferLine, WidthsPastTheLimitAreCutToIt) {
  const int tooWide = BufferLine::maxColumns + 10;
  BufferLine line(tooWide, cell('-'));
  EXPECT_EQ(line.count(), BufferLine::maxColumns);
  EXPECT_EQ(line[BufferLine::maxColumns - 1], cell('-'));
  line.set(BufferLine::maxColumns - 1, cell('z'));
  BufferLine copy(line);
  EXPECT_EQ(copy[BufferLine::maxColumns - 1], cell('z'));
  BufferLine grown(3);
  grown.resize(tooWide, cell('+'));
  EXPECT_EQ(grown.count(), BufferLine::maxColumns);
  EXPECT_EQ(grown[BufferLine::maxColumns - 1], cell('+'));
}

TEST(BufferLine, ContentIgnoresWidthAndPayloadButSeesRendition) {
  BufferLine line(4);
  CharData styled = CharData::Null;
  styled.setAttribute(Attribute(Attribute::Color::defaultColor, Attribute::Color::ansi256(1), {}));
  line.set(2, styled);
  EXPECT_TRUE(line.hasContent(2));
  EXPECT_FALSE(line.hasContent(1));
  EXPECT_EQ(line.getTrimmedLength(), 0);  // a coloured blank holds no character
  CharData wideOnly = CharData::Null;
  wideOnly.width = 2;
  wideOnly.payload = TinyAtom{7};
  line.set(1, wideOnly);
  EXPECT_FALSE(line.hasContent(1));
  line.set(0, cell(' '));
  EXPECT_EQ(line.getTrimmedLength(), 1);  // spaces count
}

TEST(BufferLine, OutOfRangeStoresGoToTheLastCell) {
  BufferLine line = lineOf("abc", 3);
  testing::CapturedStdout warned;
  line.set(3, cell('z'));
  std::string printed = warned.text();
  EXPECT_EQ(printed,
            "BufferLine: You passed an index out of range, adjusting to prevent crash, but you should debug\n");
  EXPECT_EQ(line.translateToString(), "abz");
  EXPECT_EQ(line[8].code, 'z');
  testing::CapturedStdout warnedAgain;
  line.set(-1, cell('q'));
  warnedAgain.text();
  EXPECT_EQ(line.translateToString(), "abq");
}

TEST(BufferLine, WideCharactersInText) {
  BufferLine line = lineOf("abcd", 8);
  line.set(4, cell(U'\u4e00', 2));
  line.set(5, CharData(0, 0, Attribute::empty));
  EXPECT_EQ(line.getTrimmedLength(), 6);
  EXPECT_EQ(line.translateToString(true, 0, -1, true), "abcd\u4e00");
  EXPECT_EQ(line.translateToString(true), std::string("abcd\u4e00") + '\0');
  EXPECT_EQ(line.translateToString(false, 2, 4), "cd");
  EXPECT_EQ(line.translateToString(false, 5, 3), "");
  auto provider = [](const CharData& c) { return c.code == 0 ? std::string(" ") : std::string("#"); };
  EXPECT_EQ(line.translateToString(false, 0, 8, true, provider), "#####  ");
}

TEST(BufferLine, ResizeFillsAndCounts) {
  BufferLine line = lineOf("abc", 3);
  uint64_t g = line.generation();
  line.resize(3, cell('x'));
  EXPECT_EQ(line.generation(), g);
  line.resize(5, cell('x'));
  EXPECT_EQ(line.translateToString(), "abcxx");
  line.resize(2, cell('x'));
  EXPECT_EQ(line.translateToString(), "ab");
  line.resize(0, cell('x'));
  EXPECT_EQ(line.count(), 0);
}

TEST(BufferLine, InsertAndDeleteWithinMargin) {
  BufferLine line = lineOf("0123456789AB", 12);
  line.insertCells(2, 3, 9, cell('.'));
  EXPECT_EQ(line.translateToString(), "01...23456AB");
  BufferLine other = lineOf("0123456789AB", 12);
  other.deleteCells(2, 3, 9, cell('.'));
  EXPECT_EQ(other.translateToString(), "0156789...AB");
  BufferLine all = lineOf("0123456789AB", 12);
  all.insertCells(4, 20, 9, cell('.'));
  EXPECT_EQ(all.translateToString(), "0123......AB");
  BufferLine wrapped = lineOf("0123456789AB", 12);
  wrapped.insertCells(12, 1, 9, cell('.'));  // the position wraps modulo the margin
  EXPECT_EQ(wrapped.translateToString(), "01.2345678AB");
  // A margin past the line's end is held to it.
  BufferLine clipped = lineOf("0123", 4);
  clipped.deleteCells(1, 1, 50, cell('.'));
  EXPECT_EQ(clipped.translateToString(), "023.");
}

TEST(BufferLine, CopiesAndGenerations) {
  BufferLine line = lineOf("abcdef", 6);
  uint64_t g = line.generation();
  line.copyFrom(line, 0, 1, 5);
  EXPECT_EQ(line.translateToString(), "aabcde");
  line.copyFrom(line, 1, 0, 5);
  EXPECT_EQ(line.translateToString(), "abcdee");
  EXPECT_EQ(line.generation(), g + 2);
  line.copyFrom(line, 0, 0, 0);
  EXPECT_EQ(line.generation(), g + 3);

  BufferLine shorter = lineOf("xy", 2);
  g = line.generation();
  line.copyFrom(shorter);
  EXPECT_EQ(line.generation(), g + 2);
  EXPECT_EQ(line.count(), 2);
  EXPECT_EQ(line.capacity(), 6);  // the larger block is kept for reuse
  line.fill(cell('z'));
  EXPECT_EQ(line.cells()[5].code, 'z');

  g = line.generation();
  line.attach(std::make_shared<TestImage>());
  ASSERT_TRUE(line.images());
  EXPECT_EQ(line.generation(), g + 1);
  BufferLine copy(line);
  EXPECT_EQ(copy.generation(), 0u);
  EXPECT_EQ(copy.images()->size(), 1u);
  EXPECT_EQ(copy.translateToString(), "zz");
  line.clear(Attribute::empty);
  EXPECT_FALSE(line.images());
  EXPECT_EQ(line.generation(), g + 3);
  EXPECT_EQ(line[0], CharData(0, 1, Attribute::empty));
  EXPECT_TRUE(copy.images());  // the copy's list is its own
}

TEST(BufferLine, ReplaceAndFillRanges) {
  BufferLine line = lineOf("abcdef", 6);
  line.replaceCells(4, 100, cell('.'));
  EXPECT_EQ(line.translateToString(), "abcd..");
  uint64_t g = line.generation();
  line.replaceCells(3, 2, cell('!'));
  EXPECT_EQ(line.translateToString(), "abcd..");
  EXPECT_EQ(line.generation(), g + 1);
  line.fill(cell('-'), 1, 2);
  EXPECT_EQ(line.translateToString(), "a--d..");
  EXPECT_EQ(line.debugDescription(), "a--d..");
}

// Fills store several cells a round: every width, whole rounds or not, ends with every cell
// filled and nothing past the range touched.
TEST(BufferLine, FillsOfAnyLengthReachEveryCell) {
  for (int cols = 1; cols <= 11; ++cols) {
    BufferLine line = lineOf(std::string(size_t(cols), 'x'), cols);
    line.clear(Attribute::empty);
    EXPECT_EQ(line.translateToString(true), "") << cols;
    for (int at = 0; at < cols; ++at) {
      line.fill(cell('x'));
      line.fill(cell('-'), at, cols - at - 1);
      EXPECT_EQ(line.translateToString(), std::string(size_t(at), 'x') + std::string(size_t(cols - at - 1), '-') + "x")
          << cols << " from " << at;
    }
  }
}

// A wide line remembers how far it was written so a clear can stop there; every way of storing a
// cell must push that mark, or a reused line would keep old text past it.
TEST(BufferLine, ClearReachesEveryWrittenColumnOfAWideLine) {
  constexpr int cols = 200;
  const CharData blank(0, 1, Attribute::empty);
  const CharData ink(int32_t('x'), 1,
                     Attribute(Attribute::Color::ansi256(1), Attribute::Color::ansi256(4), CharacterStyle::bold));
  BufferLine inked(cols, ink);
  BufferLine shorter = lineOf("short", 100);
  const std::pair<const char*, std::function<void(BufferLine&)>> writers[] = {
      {"set", [&](BufferLine& l) { l.set(190, ink); }},
      {"fill range", [&](BufferLine& l) { l.fill(ink, 150, 10); }},
      {"fill whole", [&](BufferLine& l) { l.fill(ink); }},
      {"replace", [&](BufferLine& l) { l.replaceCells(170, 180, ink); }},
      {"copy range", [&](BufferLine& l) { l.copyFrom(inked, 0, 160, 20); }},
      {"copy line", [&](BufferLine& l) { l.copyFrom(inked); }},
      {"copy shorter over written",
       [&](BufferLine& l) {
         l.set(180, ink);
         l.copyFrom(shorter);
       }},
      {"insert",
       [&](BufferLine& l) {
         l.set(0, ink);
         l.insertCells(0, 150, cols - 1, ink);
       }},
      {"delete", [&](BufferLine& l) { l.deleteCells(0, 5, cols - 1, ink); }},
      {"direct cells", [&](BufferLine& l) { l.cells()[cols - 1] = ink; }},
      {"coloured clear", [&](BufferLine& l) { l.clear(ink.attribute()); }},
      {"grow with ink",
       [&](BufferLine& l) {
         l.resize(20, ink);
         l.resize(cols, ink);
       }},
      {"shrink and grow",
       [&](BufferLine& l) {
         l.set(150, ink);
         l.resize(100, blank);
         l.resize(cols, blank);
       }},
  };
  for (const auto& [how, write] : writers) {
    // Start from a line already cleared once, so its mark is low.
    BufferLine line = lineOf("text", cols);
    line.clear(Attribute::empty);
    write(line);
    BufferLine copy(line);
    for (BufferLine* l : {&line, &copy}) {
      // A second round trip through the same writer must clear as well.
      for (int round = 1; round <= 2; round++) {
        if (round == 2) write(*l);
        l->clear(Attribute::empty);
        const CharData* cells = std::as_const(*l).cells();
        for (int c = 0; c < l->capacity(); c++)
          ASSERT_EQ(cells[c], blank) << how << ", round " << round << ", column " << c;
      }
    }
  }
  // Widening with a tinted blank, then clearing to that tint, must tint the old columns too.
  const CharData tinted(0, 1, ink.attribute());
  BufferLine line = lineOf("text", cols);
  line.clear(Attribute::empty);
  line.resize(20, tinted);
  line.resize(cols, tinted);
  line.clear(ink.attribute());
  for (int c = 0; c < cols; c++) ASSERT_EQ(line[c], tinted) << "tinted, column " << c;
}

// A line narrowed to far less than its block moves into a block of its new width, keeping the
// cells it still shows, whatever of its blank was stored; widened again it reads the blank past
// them, not what the old block held there.
TEST(BufferLine, NarrowingFarCutsTheBlockToTheNewWidth) {
  const CharData blank = CharData::Null;
  const CharData tint(0, 1,
                      Attribute(Attribute::Color::ansi256(2), Attribute::Color::ansi256(5), CharacterStyle::bold));
  CellSlabs runs{CellSlabs::Runs{}};
  const std::pair<const char*, std::function<void(BufferLine&)>> states[] = {
      {"new", [](BufferLine&) {}},
      {"stored whole", [](BufferLine& l) { (void)l.cells(); }},
      {"tinted fill", [&](BufferLine& l) { l.fill(tint, 12, 88); }},
      {"compact", [&](BufferLine& l) { (void)l.compactInto(runs, false); }},
      {"packed", [&](BufferLine& l) { (void)l.compactInto(runs); }},
  };
  for (const auto& [how, state] : states) {
    BufferLine line = lineOf("narrowed text", 100);
    line.set(60, cell('z'));
    state(line);
    std::vector<CharData> before;
    for (int c = 0; c < 10; c++) before.push_back(line[c]);
    line.resize(10, blank);
    EXPECT_LE(line.capacity(), 10) << how;
    for (int c = 0; c < 10; c++) EXPECT_EQ(line[c], before[size_t(c)]) << how << ", column " << c;
    line.resize(100, blank);
    for (int c = 10; c < 100; c++) ASSERT_EQ(line[c], blank) << how << ", column " << c;
  }
}

// A new line stores no blank until something needs its cells: each way of reading or writing a
// line over junk memory must see the blank where nothing was stored, as a line stored whole does.
TEST(BufferLine, ANewLineReadsItsBlankWhereNothingWasStored) {
  constexpr int cols = 200;
  const CharData tint(0, 1, Attribute(Attribute::Color::defaultColor, Attribute::Color::ansi256(2), {}));
  const CharData ink(int32_t('x'), 1, Attribute(Attribute::Color::ansi256(1), Attribute::Color::ansi256(4), {}));
  auto junkBlock = [](int n) {
    auto* raw = static_cast<CharData*>(::operator new(size_t(n) * sizeof(CharData)));
    std::memset(static_cast<void*>(raw), 0x5a, size_t(n) * sizeof(CharData));
    return BufferLine::CellBlock(raw, CellBlockDeleter{});
  };
  auto overJunk = [&](const CharData& blank) { return BufferLine(junkBlock(cols), cols, blank, false); };
  BufferLine inked(cols, ink);
  const std::pair<const char*, std::function<void(BufferLine&)>> operations[] = {
      {"nothing", [](BufferLine&) {}},
      {"set", [&](BufferLine& l) { l.set(150, ink); }},
      {"store below", [&](BufferLine& l) { l.cellsBelow(61)[60] = ink; }},
      {"store a run",
       [&](BufferLine& l) {
         CharData* cells = l.cellsBelow(40);
         cells[40] = cells[41] = ink;
         l.storedBelow(42);
       }},
      {"fill range", [&](BufferLine& l) { l.fill(ink, 150, 10); }},
      {"replace", [&](BufferLine& l) { l.replaceCells(170, 180, ink); }},
      {"copy range in", [&](BufferLine& l) { l.copyFrom(inked, 0, 160, 20); }},
      {"copy range within", [&](BufferLine& l) { l.copyFrom(l, 100, 10, 50); }},
      {"copy a new line", [&](BufferLine& l) { l.copyFrom(overJunk(CharData::Null)); }},
      {"insert", [&](BufferLine& l) { l.insertCells(10, 5, cols - 1, ink); }},
      {"delete", [&](BufferLine& l) { l.deleteCells(10, 5, cols - 1, ink); }},
      {"shrink and grow",
       [&](BufferLine& l) {
         l.resize(100, ink);
         l.resize(cols, ink);
       }},
      {"coloured clear", [&](BufferLine& l) { l.clear(ink.attribute()); }},
      {"move", [&](BufferLine& l) { l.moveCells(junkBlock(cols)); }},
      {"direct cells", [&](BufferLine& l) { l.cells()[5] = ink; }},
  };
  for (const auto& [how, operate] : operations) {
    BufferLine line = overJunk(tint);
    BufferLine whole = overJunk(tint);
    std::as_const(whole).cells();  // stores the blank
    line.set(3, ink);
    whole.set(3, ink);
    operate(line);
    operate(whole);
    for (int c = 0; c < cols; c++) ASSERT_EQ(line[c], whole[c]) << how << ", column " << c;
    BufferLine copy(line);
    EXPECT_EQ(copy.getData(), whole.getData()) << how;
    EXPECT_EQ(line.getTrimmedLength(), whole.getTrimmedLength()) << how;
    EXPECT_EQ(line.translateToString(), whole.translateToString()) << how;
    EXPECT_EQ(line.getData(), whole.getData()) << how;
    for (BufferLine* l : {&line, &copy, &whole}) l->clear(tint.attribute());
    EXPECT_EQ(line.getData(), whole.getData()) << how << ", cleared";
    EXPECT_EQ(copy.getData(), whole.getData()) << how << ", copy cleared";
  }
}

}  // namespace
}  // namespace vantrelle
