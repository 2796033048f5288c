#include "support/KittyTerminalFixture.h"

using namespace kittytest;
using vantrelle::KittyPlacementKey;

namespace {

class KittyDeletion : public KittyTerminalTest {
 protected:
  void moveTo(int col, int row) { feed("\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H"); }

  // Places image `id` as placement `p` at a cell, one cell large, with a z-index.
  void place(uint32_t id, uint32_t p, int col, int row, int z = 0) {
    if (!state().imagesById.contains(id)) transmit("i=" + std::to_string(id), 10, 20);
    moveTo(col, row);
    command("a=p,q=1,i=" + std::to_string(id) + ",p=" + std::to_string(p) + ",z=" + std::to_string(z));
  }

  bool hasRecord(uint32_t id, uint32_t p) { return state().placementsByKey.contains(KittyPlacementKey{id, p}); }
};

}  // namespace

TEST_F(KittyDeletion, MalformedDeletesReplyAndDeleteNothing) {
  place(1, 1, 0, 0);
  struct Case {
    const char* command;
    const char* message;
  } cases[] = {
      {"a=d,d=i,i=0", "G;EINVAL: missing image id"},      {"a=d,d=I", "G;EINVAL: missing image id"},
      {"a=d,d=n", "G;EINVAL: missing image number"},      {"a=d,d=p,x=0,y=3", "G;EINVAL: missing cell position"},
      {"a=d,d=q,x=1", "G;EINVAL: missing cell position"}, {"a=d,d=x", "G;EINVAL: missing column"},
      {"a=d,d=y,y=0", "G;EINVAL: missing row"},           {"a=d,d=r,x=1", "G;EINVAL: missing id range"},
      {"a=d,d=j", "G;EINVAL: unsupported delete"},
  };
  for (const auto& c : cases) EXPECT_EQ(command(c.command), reply(c.message)) << c.command;
  EXPECT_TRUE(hasRecord(1, 1));
  EXPECT_EQ(cellsOn(0).size(), 1u);
  transmit("i=9");
  EXPECT_EQ(command("a=d,d=I"), reply("G;EINVAL: missing image id"));
  EXPECT_TRUE(state().imagesById.contains(9));  // a missing key frees nothing
  EXPECT_EQ(command("a=d,d=7"), reply("G;EINVAL: unsupported delete"));
  EXPECT_FALSE(state().imagesById.contains(9));  // no case counts as upper case: unused images go
}

TEST_F(KittyDeletion, VisibleDeleteKeepsDataUnlessUpperCase) {
  place(1, 1, 0, 0);
  transmit("i=2");
  EXPECT_EQ(command("a=d"), "");
  EXPECT_FALSE(hasRecord(1, 1));
  EXPECT_EQ(linesWithCells(), 0);
  EXPECT_EQ(state().imagesById.size(), 2u);
  place(1, 1, 0, 0);
  EXPECT_EQ(command("a=d,d=A"), "");
  EXPECT_TRUE(state().imagesById.empty());
  EXPECT_EQ(state().totalImageBytes, 0);
}

TEST_F(KittyDeletion, SelectorsPickTheirPlacements) {
  place(1, 1, 0, 0, 5);
  place(1, 2, 10, 3, -1);
  place(2, 1, 20, 6);
  place(3, 1, 30, 9);
  place(9, 1, 40, 12);

  command("a=d,d=i,i=1,p=2");
  EXPECT_TRUE(hasRecord(1, 1));
  EXPECT_FALSE(hasRecord(1, 2));
  command("a=d,d=z,z=5");
  EXPECT_FALSE(hasRecord(1, 1));
  EXPECT_TRUE(cellsOn(0).empty());

  command("a=d,d=x,x=21");
  EXPECT_FALSE(hasRecord(2, 1));
  command("a=d,d=y,y=10");
  EXPECT_FALSE(hasRecord(3, 1));
  EXPECT_TRUE(hasRecord(9, 1));

  place(4, 1, 50, 15);
  place(5, 1, 60, 16);
  command("a=d,d=r,x=9,y=5");  // bounds in either order
  EXPECT_FALSE(hasRecord(9, 1));
  EXPECT_FALSE(hasRecord(5, 1));
  EXPECT_TRUE(hasRecord(4, 1));

  command("a=d,d=p,x=51,y=16");
  EXPECT_FALSE(hasRecord(4, 1));
  EXPECT_EQ(linesWithCells(), 0);
}

TEST_F(KittyDeletion, CellSelectorsHonourZIndexAndTheCursor) {
  place(1, 1, 4, 2, 3);
  command("a=d,d=q,x=5,y=3,z=2");
  EXPECT_TRUE(hasRecord(1, 1));
  command("a=d,d=q,x=5,y=3,z=3");
  EXPECT_FALSE(hasRecord(1, 1));

  place(1, 2, 0, 0);
  moveTo(0, 0);
  command("a=d,d=c");
  EXPECT_FALSE(hasRecord(1, 2));
}

TEST_F(KittyDeletion, NumberSelectorDeletesItsImagesPlacements) {
  transmit("I=7", 10, 20);
  moveTo(3, 3);
  command("a=p,I=7,p=4,q=1");
  EXPECT_EQ(command("a=d,d=n,I=8"), "");  // unknown number: nothing, no reply
  EXPECT_TRUE(hasRecord(1, 4));
  EXPECT_EQ(command("a=d,d=N,I=7"), "");
  EXPECT_FALSE(hasRecord(1, 4));
  EXPECT_TRUE(state().imagesById.empty());
  EXPECT_TRUE(state().imageNumbers.empty());
}

TEST_F(KittyDeletion, RecordsRemovedAnywhereTakeTheirCellsEverywhere) {
  // Once a full history has let lines go, the cells still name the line their placement started
  // on when it was made; its record, kept with the cells, is what a selector by position finds,
  // and the cells go with it.
  vantrelle::TerminalOptions options;
  options.rows = 24;
  options.scrollback = 10;
  terminal = std::make_unique<vantrelle::Terminal>(&host, options);
  feed(std::string(100, '\n'));
  place(1, 1, 9, 5);
  moveTo(0, 23);
  feed("\n\n\n");
  ASSERT_FALSE(cellsOn(buffer().yBase + 2).empty());
  command("a=d,d=p,x=10,y=3");
  EXPECT_FALSE(hasRecord(1, 1));
  EXPECT_EQ(linesWithCells(), 0);
}

// An editor clearing the alternate screen leaves the pictures of the shell's screen it returns to,
// in cells and through placeholders; its own placements and the images nothing shows go.
TEST_F(KittyDeletion, ClearingAllImagesOnTheAlternateScreenKeepsTheNormalScreens) {
  place(1, 1, 0, 0);
  transmit("i=3");
  command("a=p,q=1,i=3,U=1,p=1,c=2,r=1");
  feed("\x1b[?1049h");
  place(2, 1, 0, 0);
  transmit("i=4");
  feed("\x1b[2J");
  EXPECT_EQ(terminal->normalBuffer->linesWithImagesCount, 1);
  EXPECT_EQ(terminal->altBuffer->linesWithImagesCount, 0);
  EXPECT_TRUE(hasRecord(1, 1));
  EXPECT_TRUE(hasRecord(3, 1));
  EXPECT_FALSE(hasRecord(2, 1));
  EXPECT_TRUE(state().imagesById.contains(3));
  EXPECT_FALSE(state().imagesById.contains(2));
  EXPECT_FALSE(state().imagesById.contains(4));
  feed("\x1b[?1049l");
  EXPECT_EQ(cellsOn(0).size(), 1u);
}

TEST_F(KittyDeletion, CountOfImageLinesFallsToZeroWhenTheLastCellGoes) {
  place(1, 1, 0, 0);
  place(1, 2, 0, 5);
  EXPECT_EQ(buffer().linesWithImagesCount, 2);
  command("a=d,d=i,i=1,p=1");
  EXPECT_EQ(buffer().linesWithImagesCount, 1);
  command("a=d,d=i,i=1");
  EXPECT_EQ(buffer().linesWithImagesCount, 0);
  EXPECT_FALSE(buffer().hasAnyImages());
}

TEST_F(KittyDeletion, LeavingTheAlternateScreenDropsItsPlacements) {
  feed("\x1b[?1049h");
  place(1, 1, 0, 0);
  place(2, 1, 5, 5);
  feed("\x1b[?1049l");
  EXPECT_TRUE(state().placementsByKey.empty());
  EXPECT_TRUE(state().imagesById.empty());
}

class KittyCache : public KittyTerminalTest {
 protected:
  // What the budget counts for a w x h image: its pixels and the store's own overhead.
  static int64_t cost(int w, int h) { return int64_t(w) * h * 4 + vantrelle::kKittyImageOverheadBytes; }
  // What it counts for one placement record.
  static constexpr int64_t record = vantrelle::kKittyPlacementOverheadBytes;
};

TEST_F(KittyCache, EvictsUnusedImagesOldestFirst) {
  make(80, 24, 3 * cost(10, 10));  // room for three 10x10 images
  transmit("i=1", 10, 10);
  transmit("i=2", 10, 10);
  transmit("i=3", 10, 10);
  // Image 1 is placed again (fresh tick) and then that placement goes away.
  command("a=p,i=1,q=1");
  command("a=d");
  transmit("i=4", 10, 10);
  EXPECT_FALSE(state().imagesById.contains(2));
  EXPECT_TRUE(state().imagesById.contains(1));
  EXPECT_EQ(state().totalImageBytes, 3 * cost(10, 10));
  // A placed image outlives unused newer ones.
  command("a=p,i=1,p=1,q=1");
  transmit("i=5", 10, 10);
  transmit("i=6", 10, 10);
  EXPECT_TRUE(state().imagesById.contains(1));
  EXPECT_FALSE(state().imagesById.contains(3));
  EXPECT_FALSE(state().imagesById.contains(4));
}

TEST_F(KittyCache, ReferencedImagesGoOnlyWhenUnusedOnesAreNotEnough) {
  make(80, 24, 2 * cost(10, 10) + 2 * record + 100);
  transmit("i=1", 10, 10);
  command("a=p,i=1,p=1,q=1");
  transmit("i=2", 10, 10);
  command("a=p,i=2,p=1,q=1");
  transmit("i=3", 20, 20);  // unused, newest and too large: it goes itself
  EXPECT_FALSE(state().imagesById.contains(3));
  EXPECT_EQ(state().totalImageBytes, 2 * cost(10, 10));
  terminal->options.kittyImageCacheLimitBytes = cost(10, 10) + record + 100;
  transmit("i=4");  // unused and evicted first, then the oldest placed image
  EXPECT_FALSE(state().imagesById.contains(4));
  EXPECT_FALSE(state().imagesById.contains(1));
  EXPECT_TRUE(state().imagesById.contains(2));
  EXPECT_EQ(state().totalImageBytes, cost(10, 10));
  // An evicted image's records go with it; its cells stay, and a new put finds no image.
  EXPECT_FALSE(state().placementsByKey.contains(KittyPlacementKey{1, 1}));
  EXPECT_TRUE(state().placementsByKey.contains(KittyPlacementKey{2, 1}));
  EXPECT_EQ(cellsOn(0), (std::vector<std::pair<uint32_t, uint32_t>>{{1, 1}, {2, 1}}));
  EXPECT_EQ(command("a=p,i=1"), reply("Gi=1;ENOENT: image not found"));
}

// Records lead nowhere once their cells have left the screens or their image the store: they go
// before any image does.
TEST_F(KittyCache, RecordsThatLeadNowhereGoFirst) {
  make(80, 24, 2 * cost(10, 10) + 2 * record);
  transmit("i=1", 10, 10);
  command("a=p,i=1,p=1,q=1");
  feed(std::string(30, '\n') + "\x1b[3J");  // its only cell scrolls into the history, then goes
  transmit("i=2", 10, 10);
  command("a=p,i=2,p=1,q=1");
  command("a=p,i=2,p=7,U=1,q=1");  // one record more than the budget holds
  EXPECT_FALSE(state().placementsByKey.contains(KittyPlacementKey{1, 1}));
  EXPECT_TRUE(state().placementsByKey.contains(KittyPlacementKey{2, 1}));
  EXPECT_TRUE(state().placementsByKey.contains(KittyPlacementKey{2, 7}));
  EXPECT_TRUE(state().imagesById.contains(1));
  EXPECT_TRUE(state().imagesById.contains(2));
  EXPECT_EQ(state().storeBytes(), 2 * cost(10, 10) + 2 * record);

  // A record made for an image the store could not keep goes as soon as the budget is reached.
  make(80, 24, cost(10, 10) + 2 * record);
  transmit("i=1", 10, 10);
  command("a=p,i=1,p=1,q=1");
  command("a=T,f=32,s=40,v=40,i=3,p=1,q=1;" + pixels(40, 40));
  EXPECT_FALSE(state().imagesById.contains(3));
  EXPECT_TRUE(state().placementsByKey.contains(KittyPlacementKey{3, 1}));
  command("a=p,i=1,p=2,U=1,q=1");
  EXPECT_FALSE(state().placementsByKey.contains(KittyPlacementKey{3, 1}));
  EXPECT_TRUE(state().placementsByKey.contains(KittyPlacementKey{1, 1}));
  EXPECT_TRUE(state().placementsByKey.contains(KittyPlacementKey{1, 2}));
  EXPECT_TRUE(state().imagesById.contains(1));
}

// A stream that makes placements without end, of every kind: virtual ones under fresh ids,
// placements with cells that scroll through the history, and placements of images the budget
// cannot keep. The store, records included, never holds more than the budget.
TEST_F(KittyCache, EndlessPlacementsStayWithinTheBudget) {
  const int64_t budget = 8 << 10;
  make(80, 24, budget);
  int64_t most = 0;
  size_t mostRecords = 0;
  for (int n = 1; n <= 3000; ++n) {
    const std::string id = std::to_string(n % 5 + 1);
    switch (n % 3) {
      case 0:
        command("a=T,f=32,s=2,v=2,q=2,U=1,i=" + id + ";" + pixels(2, 2));
        break;
      case 1:
        command("a=T,f=32,s=2,v=2,q=2,i=" + id + ",p=" + std::to_string(n) + ";" + pixels(2, 2));
        feed("\n");
        break;
      default:
        command("a=T,f=32,s=48,v=48,q=2,p=1,i=" + std::to_string(1000 + n) + ";" + pixels(48, 48));
        break;
    }
    most = std::max(most, state().storeBytes());
    mostRecords = std::max(mostRecords, state().placementsByKey.size());
  }
  EXPECT_LE(most, budget);
  EXPECT_GT(mostRecords, 20u);
  EXPECT_LE(int64_t(mostRecords), budget / record);
}

TEST_F(KittyCache, BudgetIsClampedAndCountsDecodedPngBytes) {
  make(80, 24, -5);
  transmit("i=1");
  EXPECT_TRUE(state().imagesById.empty());

  make(80, 24, 2 * cost(64, 64));
  auto png = makePng(64, 64);  // a few hundred bytes encoded, 16 KiB decoded
  ASSERT_LT(png.size(), 1000u);
  for (int id = 1; id <= 3; ++id) command("a=t,f=100,q=1,i=" + std::to_string(id) + ";" + base64(png));
  EXPECT_EQ(state().imagesById.size(), 2u);
  EXPECT_EQ(state().totalImageBytes, 2 * cost(64, 64));
  EXPECT_FALSE(state().imagesById.contains(1));
}

TEST_F(KittyCache, ReplacingAnImageCountsOnlyTheNewSize) {
  transmit("i=1", 10, 10);
  transmit("i=1", 5, 5);
  EXPECT_EQ(state().totalImageBytes, cost(5, 5));
  terminal->clearAllKittyImages();
  transmit("i=2");
  EXPECT_EQ(state().imagesById.at(2).lastAccessTick, 1u);
}

// Tiny images cost the store far more than their pixels: the budget bounds how many it keeps,
// with their numbers, and eviction keeps taking the oldest.
TEST_F(KittyCache, ManyTinyImagesStayWithinTheBudget) {
  const int64_t budget = 1 << 20;
  make(80, 24, budget);
  const int sent = 20000;
  for (int n = 1; n <= sent; ++n) transmit(n % 2 ? "q=1,I=" + std::to_string(n) : "i=" + std::to_string(n));
  EXPECT_LE(state().totalImageBytes, budget);
  EXPECT_LE(int64_t(state().imagesById.size()), budget / cost(1, 1));
  EXPECT_GE(int64_t(state().imagesById.size()), budget / cost(1, 1) - 1);
  EXPECT_LE(state().imageNumbers.size(), state().imagesById.size());
  EXPECT_EQ(state().idsByAccess.size(), state().imagesById.size());
  EXPECT_TRUE(state().imagesById.contains(sent));
  EXPECT_FALSE(state().imagesById.contains(2));
  EXPECT_FALSE(state().imageNumbers.contains(1));
  EXPECT_TRUE(state().imageNumbers.contains(sent - 1));
}

// Images shown one a line into a long history, far past the budget: every one stays in use, and
// each store over budget must not look through the whole history again. What the last look
// found still decides: the image just stored, which no cell shows yet, goes before any shown one.
TEST_F(KittyCache, ShownImagesPastTheBudgetAreNotLookedForAtEveryStore) {
  vantrelle::TerminalOptions options;
  options.cols = 80;
  options.rows = 24;
  options.scrollback = 100000;
  options.kittyImageCacheLimitBytes = 200 * (cost(1, 1) + record);
  terminal = std::make_unique<vantrelle::Terminal>(&host, options);
  const int shown = 40000;
  std::string stream;
  for (int n = 1; n <= shown; ++n)
    stream += "\x1b_Ga=T,f=32,s=1,v=1,q=2,i=" + std::to_string(n) + ";" + pixels(1, 1) + "\x1b\\\r\n";
  feed(stream);
  EXPECT_LT(state().referenceScan.count, 200u);
  EXPECT_LE(state().storeBytes(), options.kittyImageCacheLimitBytes);
  EXPECT_TRUE(state().imagesById.contains(1));
  EXPECT_FALSE(state().imagesById.contains(shown));
  const size_t stored = state().imagesById.size();
  transmit("i=900001");
  EXPECT_FALSE(state().imagesById.contains(900001));
  EXPECT_TRUE(state().imagesById.contains(1));
  EXPECT_EQ(state().imagesById.size(), stored);
}

// PNG data that holds more than its pixels (here a large text chunk) counts what is held.
TEST_F(KittyCache, CountsPngDataLargerThanItsPixels) {
  auto png = makePng(1, 1);
  std::vector<uint8_t> chunk = {0, 0, 0, 0, 't', 'E', 'X', 't', 'k', 0};
  const uint32_t textLength = 100000;
  chunk.resize(chunk.size() + textLength - 2, 'a');
  const uint32_t length = textLength;
  for (int i = 0; i < 4; ++i) chunk[size_t(i)] = uint8_t(length >> (24 - 8 * i));
  const uint32_t crc = uint32_t(crc32(0, chunk.data() + 4, uInt(chunk.size() - 4)));
  for (int i = 0; i < 4; ++i) chunk.push_back(uint8_t(crc >> (24 - 8 * i)));
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());  // after the signature and IHDR
  EXPECT_EQ(command("a=t,f=100,i=1;" + base64(png)), reply("Gi=1;OK"));
  EXPECT_EQ(state().totalImageBytes, int64_t(png.size()) + vantrelle::kKittyImageOverheadBytes);
}

TEST_F(KittyDeletion, ScreenWideErasesAndResetsDropAllImages) {
  for (const char* sequence : {"\x1b[2J",
                               "\x1b"
                               "c",
                               "\x1b[?40h\x1b[?3h"}) {
    place(1, 1, 0, 0);
    transmit("i=2");
    feed(sequence);
    EXPECT_TRUE(state().imagesById.empty()) << sequence + 1;
    EXPECT_TRUE(state().placementsByKey.empty()) << sequence + 1;
    EXPECT_EQ(linesWithCells(), 0) << sequence + 1;
  }
}
