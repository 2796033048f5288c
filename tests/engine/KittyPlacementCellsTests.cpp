#include <string>

#include "support/KittyTerminalFixture.h"

using namespace kittytest;
using vantrelle::KittyPlacementKey;

namespace {

class KittyPlacementCells : public KittyTerminalTest {
 protected:
  void withHistory(int scrollback, int linesWritten) {
    vantrelle::TerminalOptions options;
    options.cols = 80;
    options.rows = 24;
    options.scrollback = scrollback;
    terminal = std::make_unique<vantrelle::Terminal>(&host, options);
    std::string text;
    for (int i = 0; i < linesWritten; ++i) text += "line " + std::to_string(i) + "\r\n";
    feed(text);
  }

  // Every Kitty cell of a screen, as (line, image id, placement id).
  std::vector<std::tuple<int, uint32_t, uint32_t>> allCells(vantrelle::Buffer& in) {
    std::vector<std::tuple<int, uint32_t, uint32_t>> out;
    for (int line = 0; line < in.lines().count(); ++line) {
      const auto& images = in.lines()[line]->images();
      if (!images) continue;
      for (const auto& entry : *images) {
        auto* kitty = dynamic_cast<const vantrelle::KittyPlacementImage*>(entry.get());
        if (kitty) out.emplace_back(line, kitty->kittyImageId.value_or(0), kitty->kittyPlacementId.value_or(0));
      }
    }
    return out;
  }

  using Cells = std::vector<std::tuple<int, uint32_t, uint32_t>>;
};

}  // namespace

// A program redrawing one picture under one placement id, thousands of times into a long
// history: each placement reads the lines of the one it replaces, not the history.
TEST_F(KittyPlacementCells, ReplacingReadsOnlyTheOldPlacementsLines) {
  withHistory(20000, 30000);
  transmit("i=1", 10, 20);
  const int placements = 2000;
  std::string stream;
  for (int n = 0; n < placements; ++n) stream += "\x1b_Ga=p,i=1,p=7,q=2\x1b\\\r\n";
  feed(stream);
  EXPECT_LE(state().cellLines.linesRead, uint64_t(placements));
  const Cells left = allCells(buffer());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(std::get<2>(left[0]), 7u);
}

// The old cells go wherever they went after they were attached: moved after a parent, on the
// other screen, or onto a copy of their line that joined the history.
TEST_F(KittyPlacementCells, ReplacingFindsCellsThatMovedOrWereCopied) {
  withHistory(1000, 10);
  transmit("i=1", 10, 20);
  command("a=p,i=1,p=1,q=2");                  // parent at line 10
  command("a=p,i=1,p=2,P=1,Q=1,V=3,H=2,q=2");  // child three lines below
  feed("\x1b[2;12r\x1b[12;1H\n\x1b[r");        // the parent scrolls up; the child follows
  feed("\x1b[?1049h");
  command("a=p,i=1,p=3,q=2");  // on the alternate screen
  feed("\x1b[?1049l");
  auto& normal = *terminal->normalBuffer;
  ASSERT_EQ(allCells(normal), (Cells{{9, 1, 1}, {12, 1, 2}}));
  auto copy = std::make_shared<vantrelle::BufferLine>(*normal.lines()[9]);
  normal.lines().push(copy);  // a line given back by a resize, with its images

  feed("\x1b[2;1H");
  command("a=p,i=1,p=1,q=2");
  command("a=p,i=1,p=2,q=2");
  command("a=p,i=1,p=3,q=2");
  for (uint32_t p : {1u, 2u, 3u}) {
    int count = 0;
    for (auto& [line, image, placement] : allCells(normal)) count += placement == p;
    EXPECT_EQ(count, 1) << "placement " << p;
  }
  EXPECT_TRUE(allCells(*terminal->altBuffer).empty());
}

// Placements under ever new ids scrolling out of a short history: what is kept of where their
// cells went stays in proportion to the cells the screens hold.
TEST_F(KittyPlacementCells, NotesOfCellsGoneFromTheHistoryAreDropped) {
  withHistory(100, 0);
  transmit("i=1");
  std::string stream;
  for (int n = 1; n <= 30000; ++n) stream += "\x1b_Ga=p,i=1,q=2,p=" + std::to_string(n) + "\x1b\\\r\n";
  feed(stream);
  EXPECT_LE(state().cellLines.entries, 2 * 4096u);
  EXPECT_LE(state().cellLines.linesByKey.size(), 2 * 4096u);
  EXPECT_LE(state().cellLines.normal.lines.size(), 2 * 4096u);
}

// What looks for image cells again and again (the upkeep of a relative placement at every scroll,
// screen switches, deletions by position or that free images) reads the lines holding them, not
// the history; after a resize moved every line, one look reads them all again.
TEST_F(KittyPlacementCells, LooksForImageCellsReadOnlyTheLinesHoldingThem) {
  withHistory(20000, 20000);
  transmit("i=1", 10, 20);
  command("a=p,i=1,p=1,q=2");
  command("a=p,i=1,p=2,P=1,Q=1,V=-2,q=2");
  transmit("i=2", 10, 20);
  feed("\x1b[3;70H");
  command("a=p,i=2,p=3,q=2");
  auto& walks = state().cellLines.normal.fullWalks;
  const uint64_t before = walks;
  std::string stream;
  for (int n = 0; n < 2000; ++n) stream += "text\r\n";
  for (int n = 0; n < 200; ++n)
    stream += "\x1b[?1049h\x1b[2J\x1b[?1049l\x1b_Ga=d,d=p,x=40,y=12,q=2\x1b\\\x1b_Ga=d,d=I,i=9,q=2\x1b\\";
  feed(stream);
  EXPECT_LE(walks - before, 1u);
  const auto& records = state().placementsByKey;
  ASSERT_TRUE(records.contains(KittyPlacementKey{1, 2}));
  EXPECT_EQ(records.at(KittyPlacementKey{1, 2}).row, records.at(KittyPlacementKey{1, 1}).row - 2);

  // Narrower: the lines are laid out again, and the next scroll finds the cells where they went.
  const uint64_t beforeResize = walks;
  terminal->resize(8, 24);
  feed("\r\n");
  EXPECT_EQ(walks - beforeResize, 1u);
  for (const auto& [line, image, placement] : allCells(buffer())) {
    EXPECT_EQ(records.at(KittyPlacementKey{image, placement}).row, line) << placement;
  }
  EXPECT_EQ(records.at(KittyPlacementKey{1, 2}).row, records.at(KittyPlacementKey{1, 1}).row - 2);
  EXPECT_EQ(allCells(buffer()).size(), 3u);
}
