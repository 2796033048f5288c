// A compact line stores its cells only as far as its text, in a run; every way of reading or
// writing it must see what the same line stored whole sees, and the runs must give their memory
// back as the lines that use them go.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Vantrelle/Buffer/BufferLine.h"
#include "Vantrelle/Buffer/CellSlabs.h"

namespace vantrelle {
namespace {

constexpr int cols = 120;
const CharData tint(0, 1, Attribute(Attribute::Color::defaultColor, Attribute::Color::ansi256(2), {}));
const CharData ink(int32_t('x'), 1, Attribute(Attribute::Color::ansi256(1), Attribute::Color::ansi256(4), {}));
const CharData wide(0x65e5, 2, Attribute::empty);
const CharData continuation(0, 0, Attribute::empty);

// Text, a wide character and a gap, on the blank `blank`.
BufferLine textLine(const CharData& blank) {
  BufferLine line(cols, blank);
  line.set(0, ink);
  line.set(3, ink);
  line.set(6, wide);
  line.set(7, continuation);
  line.set(9, ink);
  return line;
}

// Text in one rendition with a gap of empty cells, which packs: codes below 256 only.
BufferLine plainLine(const CharData& blank) {
  BufferLine line(cols, blank);
  const CharData empty(0, 1, ink.attribute());
  const int32_t codes[] = {'p', 'l', 'a', 'i', 0, 0, 'n', 0xe9, '~', ' ', '!', 0xff, 'z', '0', '9', 'x', 'y'};
  for (int c = 0; c < int(std::size(codes)); c++)
    line.set(c, codes[c] ? CharData(codes[c], 1, ink.attribute()) : empty);
  return line;
}

void expectSame(const BufferLine& line, const BufferLine& whole, const std::string& how) {
  for (int c = 0; c < cols; c++) ASSERT_EQ(line[c], whole[c]) << how << ", column " << c;
  EXPECT_EQ(line.getTrimmedLength(), whole.getTrimmedLength()) << how;
  EXPECT_EQ(line.hasAnyContent(), whole.hasAnyContent()) << how;
  EXPECT_EQ(line.translateToString(), whole.translateToString()) << how;
  EXPECT_EQ(line.translateToString(true, 2, 40, true), whole.translateToString(true, 2, 40, true)) << how;
}

TEST(CompactLine, EveryOperationMatchesTheLineStoredWhole) {
  CellSlabs runs{CellSlabs::Runs{}};
  BufferLine inked(cols, ink);
  const std::pair<const char*, std::function<void(BufferLine&)>> operations[] = {
      {"nothing", [](BufferLine&) {}},
      {"set past the text", [&](BufferLine& l) { l.set(100, ink); }},
      {"set inside the text", [&](BufferLine& l) { l.set(2, ink); }},
      {"store below", [&](BufferLine& l) { l.cellsBelow(61)[60] = ink; }},
      {"store a run from inside the text",
       [&](BufferLine& l) {
         CharData* cells = l.cellsFrom(4);
         for (int c = 4; c < 50; c++) cells[c] = ink;
         l.storedBelow(50);
       }},
      {"fill", [&](BufferLine& l) { l.fill(ink); }},
      {"fill range", [&](BufferLine& l) { l.fill(ink, 100, 10); }},
      {"erase to the end", [&](BufferLine& l) { l.fill(l[cols - 1], 2, cols - 2); }},
      {"erase to the end and write past the text",
       [&](BufferLine& l) {
         l.fill(l[cols - 1], 2, cols - 2);
         l.set(50, ink);
         l.cellsBelow(31)[30] = ink;
       }},
      {"erase to the end in another colour",
       [&](BufferLine& l) { l.fill(tint == l[cols - 1] ? ink : tint, 5, cols - 5); }},
      {"replace", [&](BufferLine& l) { l.replaceCells(5, 80, ink); }},
      {"copy range in", [&](BufferLine& l) { l.copyFrom(inked, 0, 110, 10); }},
      {"copy range within", [&](BufferLine& l) { l.copyFrom(l, 0, 50, 20); }},
      {"copy a whole line in", [&](BufferLine& l) { l.copyFrom(inked); }},
      {"insert", [&](BufferLine& l) { l.insertCells(1, 5, cols - 1, ink); }},
      {"delete", [&](BufferLine& l) { l.deleteCells(1, 5, cols - 1, ink); }},
      {"shrink and grow",
       [&](BufferLine& l) {
         l.resize(8, ink);
         l.resize(cols, ink);
       }},
      {"narrowed below the text and widened in the null blank",
       [&](BufferLine& l) {
         l.resize(2, CharData::Null);
         l.resize(cols + 8, CharData::Null);
         l.resize(cols, CharData::Null);
       }},
      {"narrowed past the text and widened in the null blank",
       [&](BufferLine& l) {
         l.resize(40, CharData::Null);
         l.resize(cols, CharData::Null);
       }},
      {"copy range from past its text", [&](BufferLine& l) { l.copyFrom(l, 40, 0, 30); }},
      {"room reserved, then copied into past the text",
       [&](BufferLine& l) {
         l.reserve(60);
         l.copyFrom(inked, 0, 50, 10);
       }},
      {"coloured clear", [&](BufferLine& l) { l.clear(ink.attribute()); }},
      {"direct cells", [&](BufferLine& l) { l.cells()[cols - 1] = ink; }},
  };
  struct Kind {
    const char* name;
    BufferLine (*make)(const CharData&);
    bool pack, packs;
  };
  const Kind kinds[] = {
      {"mixed", textLine, true, false},
      {"plain", plainLine, true, true},
      {"plain, unpacked", plainLine, false, false},
  };
  for (const CharData& blank : {CharData::Null, tint}) {
    for (const Kind& kind : kinds) {
      for (const auto& [named, operate] : operations) {
        const std::string how = std::string(kind.name) + ", " + named;
        BufferLine line = kind.make(blank);
        BufferLine whole = kind.make(blank);
        std::as_const(whole).cells();  // stores the blank
        const int written = whole.getTrimmedLength();
        EXPECT_TRUE(line.compactInto(runs, kind.pack)) << how;
        ASSERT_TRUE(line.isCompact());
        ASSERT_EQ(line.isPacked(), kind.packs) << how;
        EXPECT_EQ(line.capacity(), kind.packs ? 0 : written);
        expectSame(line, whole, how + ", compacted");
        EXPECT_TRUE(line.isCompact()) << how << ": reading stored the blank";
        EXPECT_EQ(line.isPacked(), kind.packs) << how << ": reading unpacked the line";
        BufferLine copyOfCompact(line);
        expectSame(copyOfCompact, whole, how + ", copied compact");
        operate(line);
        operate(whole);
        expectSame(line, whole, how);
        // A resize that cuts no text keeps a packed line packed.
        if (std::string(named) != "nothing" && !std::string(named).starts_with("narrowed past")) {
          EXPECT_FALSE(line.isPacked()) << how << ": written while packed";
        }
        BufferLine copy(line);
        expectSame(copy, whole, how + ", copied");
        EXPECT_EQ(line.getData(), whole.getData()) << how;
      }
    }
  }
}

// Cells pack only when all but the low byte of their code is the same: each of these, put in
// the middle of a plain line, keeps the line in full cells, and it reads back as it was.
TEST(CompactLine, CellsThatDifferInMoreThanACodeByteStayWhole) {
  CellSlabs runs{CellSlabs::Runs{}};
  const Attribute inkAttribute = ink.attribute();
  Attribute bold = inkAttribute;
  bold.style = CharacterStyle::bold;
  Attribute otherBackground = inkAttribute;
  otherBackground.bg = Attribute::Color::ansi256(5);
  Attribute underlined = inkAttribute;
  underlined.underlineColor = Attribute::Color::ansi256(7);
  const std::pair<const char*, CharData> odd[] = {
      {"code 256", CharData(0x100, 1, inkAttribute)},
      {"code with a high byte", CharData(0x10041, 1, inkAttribute)},
      {"map key", CharData(CharData::firstMapKey + 0x41, 1, inkAttribute)},
      {"negative code", CharData(-191, 1, inkAttribute)},
      {"wide", CharData('w', 2, inkAttribute)},
      {"continuation", CharData(0, 0, inkAttribute)},
      {"bold", CharData('b', 1, bold)},
      {"background", CharData('b', 1, otherBackground)},
      {"underline colour", CharData('u', 1, underlined)},
      {"payload", CharData('p', 1, inkAttribute, TinyAtom{3})},
  };
  for (const auto& [how, cell] : odd) {
    for (const int at : {0, 5, 16}) {
      BufferLine line = plainLine(CharData::Null);
      line.set(at, cell);
      BufferLine whole = plainLine(CharData::Null);
      whole.set(at, cell);
      std::as_const(whole).cells();
      EXPECT_TRUE(line.compactInto(runs)) << how;
      EXPECT_FALSE(line.isPacked()) << how << " at " << at;
      expectSame(line, whole, std::string(how) + " at " + std::to_string(at));
    }
  }
}

TEST(CompactLine, BlankLinesNeedNoRun) {
  CellSlabs runs{CellSlabs::Runs{}};
  BufferLine blank(cols, tint);
  EXPECT_TRUE(blank.compactInto(runs));  // the block goes, and nothing is kept
  EXPECT_TRUE(blank.isCompact());
  EXPECT_EQ(blank[cols - 1], tint);
  EXPECT_EQ(blank.translateToString(true), "");
  EXPECT_EQ(runs.slabCount(), 0);
  blank.set(cols - 1, ink);
  EXPECT_EQ(blank[cols - 2], tint);
  EXPECT_EQ(blank[cols - 1], ink);
}

// A line written to its last column packs as a shorter one does. One whose cells do not pack
// keeps a block it has from a pool, which a run of as many cells would not beat, and moves a heap
// block of its own into a run, the line then holding its run and no block.
TEST(CompactLine, LinesWrittenToTheirEndPackOrKeepTheirBlock) {
  CellSlabs runs{CellSlabs::Runs{}};
  CellSlabs pool(cols);
  for (BufferLine (*make)(const CharData&) : {textLine, plainLine}) {
    const bool packs = make == plainLine;
    for (const bool pooled : {false, true}) {
      const std::string how = std::string(packs ? "plain" : "mixed") + (pooled ? ", pooled" : ", heap");
      const BufferLine written = make(CharData(0, 1, ink.attribute()));
      BufferLine line = pooled ? BufferLine(BufferLine::cellsFrom(pool), written) : BufferLine(written);
      line.set(cols - 1, packs ? CharData('z', 1, ink.attribute()) : ink);
      BufferLine whole(line);
      std::as_const(whole).cells();
      const bool moved = line.compactInto(runs) != nullptr;
      EXPECT_EQ(moved, packs || !pooled) << how;
      EXPECT_EQ(line.isPacked(), packs) << how;
      EXPECT_EQ(line.inRun(), moved) << how;
      expectSame(line, whole, how);
    }
  }
}

// A reflow joins rows into a line made far wider than its text: the line takes cells for the text
// it is given, not for the width, and goes back into a run once joined.
TEST(CompactLine, ALineMadeWiderTakesCellsForItsTextAlone) {
  constexpr int wider = 2000, room = 150;
  CellSlabs runs{CellSlabs::Runs{}};
  const BufferLine inked(cols, ink);
  for (BufferLine (*make)(const CharData&) : {textLine, plainLine}) {
    BufferLine line = make(CharData::Null);
    BufferLine whole = make(CharData::Null);
    std::as_const(whole).cells();
    ASSERT_TRUE(line.compactInto(runs));
    for (BufferLine* l : {&line, &whole}) l->resize(wider, CharData::Null);
    line.reserve(room);
    EXPECT_TRUE(line.isCompact());
    EXPECT_EQ(line.capacity(), room);
    for (BufferLine* l : {&line, &whole}) l->copyFrom(inked, 0, room - 30, 30);
    EXPECT_EQ(line.capacity(), room) << "the copy gave the line the width's cells";
    for (int c = 0; c < wider; c++) ASSERT_EQ(line[c], whole[c]) << "column " << c;
    // Joined, it keeps its text in a run again, and the block it took goes back.
    EXPECT_TRUE(line.compactInto(runs));
    EXPECT_LE(line.capacity(), room);
    for (int c = 0; c < wider; c++) ASSERT_EQ(line[c], whole[c]) << "column " << c;
    EXPECT_FALSE(line.compactInto(runs)) << "a line in a run moved to another";
    // Room for fewer cells than it holds takes nothing from it.
    line.reserve(10);
    for (int c = 0; c < wider; c++) ASSERT_EQ(line[c], whole[c]) << "column " << c;
  }
}

// A packed line is unpacked sixteen codes at a time: every length around those rounds, and every
// byte value, comes back as it went in, whether the line is widened whole or narrowed below its
// text.
TEST(CompactLine, PackedCodesComeBackWhateverTheirCount) {
  constexpr int width = 300;
  CellSlabs runs{CellSlabs::Runs{}};
  for (const int length : {3, 15, 16, 17, 31, 32, 33, 100, 256}) {
    auto written = [&] {
      auto line = std::make_unique<BufferLine>(width, CharData::Null);
      for (int c = 0; c < length; c++) line->set(c, CharData((c * 37 + 1) % 256, 1, ink.attribute()));
      return line;
    };
    const auto whole = written();
    std::as_const(*whole).cells();
    for (const int cut : {width, length - 1, length / 2}) {
      auto line = written();
      ASSERT_TRUE(line->compactInto(runs));
      ASSERT_TRUE(line->isPacked()) << length;
      line->resize(cut, CharData::Null);
      line->cells();  // unpacks what is left
      for (int c = 0; c < cut; c++)
        ASSERT_EQ((*line)[c], (*whole)[c]) << length << " cut to " << cut << ", column " << c;
    }
  }
}

TEST(CellSlabs, RunsGiveTheirSlabsBackInTheOrderTheyFilled) {
  auto runs = std::make_unique<CellSlabs>(CellSlabs::Runs{});
  std::vector<BufferLine::CellBlock> taken;
  auto take = [&](int cells) {
    CellSlab* slab = nullptr;
    CharData* run = runs->takeRun(cells, slab);
    std::fill_n(run, cells, ink);  // ASan: the run lies inside its slab
    taken.emplace_back(run, CellBlockDeleter{slab});
  };
  constexpr int runCells = 64;  // a heap slab's cells are a whole number of these
  while (runs->slabCount() < 4) take(runCells);
  const size_t perSlab = taken.size() / 3;
  // Dropping the oldest lines empties the oldest slabs: one is kept as the spare, the rest go.
  taken.erase(taken.begin(), taken.begin() + std::ptrdiff_t(2 * perSlab));
  EXPECT_EQ(runs->slabCount(), 3);
  // A slab whose runs are all gone is carved again rather than joined by another.
  taken.clear();
  const int held = runs->slabCount();
  for (int i = 0; i < 10'000; i++) {
    take(CellSlabs::maxRunCells);
    taken.clear();
  }
  EXPECT_EQ(runs->slabCount(), held);
  // Runs outlive their pool; their slab goes with the last of them.
  take(5);
  runs.reset();
  EXPECT_EQ(taken.back()[4], ink);
  taken.clear();
}

}  // namespace
}  // namespace vantrelle
