#include <climits>
#include <string_view>

#include "support/KittyTerminalFixture.h"

using namespace kittytest;
using vantrelle::KittyPlacementKey;

namespace {

class KittyPlacement : public KittyTerminalTest {
 protected:
  void moveTo(int col, int row) { feed("\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H"); }
};

}  // namespace

TEST_F(KittyPlacement, PutFindsImagesByNumberThenById) {
  transmit("i=3", 2, 2);
  EXPECT_EQ(command("a=p,i=9"), reply("Gi=9;ENOENT: image not found"));
  // An unmapped number falls back to the id, and the reply carries the id only.
  EXPECT_EQ(command("a=p,i=3,I=40,p=2"), reply("Gi=3,p=2;OK"));
  transmit("I=40", 2, 2);
  EXPECT_EQ(command("a=p,I=40"), reply("Gi=1,I=40;OK"));
  EXPECT_EQ(command("a=p,I=41"), reply("GI=41;ENOENT: image not found"));
}

TEST_F(KittyPlacement, CursorMovesPastTheImageWithoutScrollingWhenCellSizeIsKnown) {
  host.cellSize = vantrelle::CellSize{10, 20};
  transmit("i=1", 30, 30);
  moveTo(5, 3);
  command("a=p,i=1,c=4,r=2,q=1");
  EXPECT_EQ(cursor(), std::make_pair(9, 5));
  // At the bottom the cursor is clamped to the screen instead of scrolling.
  moveTo(78, 23);
  command("a=p,i=1,c=4,r=2,q=1");
  EXPECT_EQ(cursor(), std::make_pair(79, 23));
  EXPECT_EQ(buffer().yBase, 0);
  // C=1 leaves the cursor where it was.
  moveTo(2, 2);
  command("a=p,i=1,c=4,r=2,C=1,q=1");
  EXPECT_EQ(cursor(), std::make_pair(2, 2));
}

TEST_F(KittyPlacement, CellCountFollowsTheImageAndItsAspectRatio) {
  host.cellSize = vantrelle::CellSize{10, 20};
  transmit("i=1", 100, 50);
  command("a=p,i=1,c=10,q=1");
  EXPECT_EQ(cursor(), std::make_pair(10, 3));  // 10 columns, ceil(50 / 20) rows
  moveTo(0, 0);
  command("a=p,i=1,r=5,q=1");  // 100 rows of pixels -> 200 wide -> 20 columns
  EXPECT_EQ(cursor(), std::make_pair(20, 5));
  moveTo(0, 0);
  command("a=p,i=1,X=50,q=1");  // offset lowered to 9: (100 + 9) / 10 -> 11
  EXPECT_EQ(cursor(), std::make_pair(11, 3));
}

TEST_F(KittyPlacement, WithoutCellSizeTheImageScrollsAtTheBottomBoundedByTheScreen) {
  transmit("i=1", 4, 4);
  moveTo(0, 22);
  command("a=p,i=1,c=2,r=3,q=1");
  EXPECT_EQ(buffer().yBase, 2);  // one line feed to the bottom row, two that scroll
  EXPECT_EQ(cursor(), std::make_pair(2, 23));
  // A huge row count costs at most a screen of line feeds.
  moveTo(0, 0);
  command("a=p,i=1,c=2,r=4294967296,q=1");
  EXPECT_EQ(buffer().yBase, 3);  // 24 line feeds: 23 down, one more scroll
  EXPECT_EQ(cursor().second, 23);
}

TEST_F(KittyPlacement, CropIsClampedToTheImage) {
  transmit("i=1", 10, 10);
  EXPECT_EQ(command("a=p,i=1,x=10"), reply("Gi=1;EINVAL: bad crop"));
  EXPECT_EQ(command("a=p,i=1,x=2,y=3,w=500"), reply("Gi=1;OK"));
  EXPECT_EQ(host.imagesCreated, 1);
  // A crop request on PNG data that cannot be decoded to pixels.
  transmit("i=2", 1, 1);
  state().imagesById.at(2).payload = vantrelle::KittyGraphicsPayload::png(bytes("not a png"));
  EXPECT_EQ(command("a=p,i=2,w=1"), reply("Gi=2;ENOTSUP: cannot crop png"));
  EXPECT_EQ(command("a=T,i=3,f=100,x=1,y=1;" + base64(makePng(4, 4))), reply("Gi=3;OK"));
}

TEST_F(KittyPlacement, PlacementWithTheSameKeyReplacesTheOldOne) {
  transmit("i=1", 10, 40);  // two rows of cells with the host's default cell size
  command("a=p,i=1,p=5,q=1");
  EXPECT_EQ(cellsOn(0).size(), 1u);
  moveTo(0, 10);
  command("a=p,i=1,p=5,q=1");
  EXPECT_TRUE(cellsOn(0).empty());
  EXPECT_EQ(cellsOn(10).size(), 1u);
  EXPECT_EQ(state().placementsByKey.at(KittyPlacementKey{1, 5}).row, 10);
}

TEST_F(KittyPlacement, VirtualPlacementsGetAutomaticIdsThatSkipExplicitOnes) {
  transmit("i=1");
  EXPECT_EQ(command("a=p,i=1,U=1,p=2"), reply("Gi=1,p=2;OK"));
  EXPECT_EQ(command("a=p,i=1,U=1"), reply("Gi=1;OK"));
  EXPECT_TRUE(state().placementsByKey.contains(KittyPlacementKey{1, 1}));
  // Id 2 was named by the client: the automatic one goes on to 3 and leaves it alone.
  EXPECT_EQ(command("a=p,i=1,U=1,c=3,r=2"), reply("Gi=1;OK"));
  ASSERT_TRUE(state().placementsByKey.contains(KittyPlacementKey{1, 3}));
  EXPECT_TRUE(state().placementsByKey.contains(KittyPlacementKey{1, 2}));
  const auto& record = state().placementsByKey.at(KittyPlacementKey{1, 3});
  EXPECT_TRUE(record.isVirtual);
  EXPECT_EQ(record.cols, 3);
  EXPECT_EQ(linesWithCells(), 0);
  EXPECT_EQ(cursor(), std::make_pair(0, 0));
  EXPECT_EQ(command("a=p,i=1,U=1,P=1,Q=2"), reply("Gi=1;EINVAL: virtual placement cannot refer to parent"));
}

// Placeholder rows keep their text when their image is sent again, deleted or first placed, so
// the command itself has to have them drawn again.
TEST_F(KittyPlacement, CommandsChangingWhatPlaceholdersShowRedrawTheScreen) {
  const char* commands[] = {"a=t,f=32,s=1,v=1,i=1;gICAgA==", "a=d,d=i,i=1", "a=d,d=I,i=1", "a=p,i=1,U=1,p=2"};
  for (const char* body : commands) {
    make(80, 24);
    transmit("i=1");
    if (std::string_view(body).find("U=1") == std::string_view::npos) command("a=p,i=1,U=1,p=1,c=2,r=1");
    feed("\x1b[20;5H\xf4\x8e\xbb\xae\xf4\x8e\xbb\xae");
    terminal->refreshStart = INT_MAX;
    terminal->refreshEnd = -1;
    command(body);
    EXPECT_EQ(terminal->refreshStart, 0) << body;
    EXPECT_EQ(terminal->refreshEnd, 23) << body;
  }
}

TEST_F(KittyPlacement, RelativePlacementStartsAtItsParentPlusOffsets) {
  transmit("i=1", 10, 20);
  moveTo(4, 10);
  command("a=p,i=1,p=1,q=1");
  moveTo(0, 0);
  EXPECT_EQ(command("a=p,i=1,p=2,P=1,Q=1,H=2,V=3"), reply("Gi=1,p=2;OK"));
  const auto& child = state().placementsByKey.at(KittyPlacementKey{1, 2});
  EXPECT_EQ(child.row, 13);
  EXPECT_EQ(child.col, 6);
  EXPECT_EQ(cursor(), std::make_pair(0, 0));  // the cursor goes back
  // Only one of P and Q: an ordinary placement at the cursor.
  EXPECT_EQ(command("a=p,i=1,p=3,P=1"), reply("Gi=1,p=3;OK"));
  EXPECT_EQ(command("a=p,i=1,p=4,P=1,Q=9"), reply("Gi=1;ENOPARENT: parent placement not found"));
}

TEST_F(KittyPlacement, RelativeAnchorMustBeOnTheScreen) {
  transmit("i=1", 10, 20);
  // Parent near the bottom; the child would start below the last screen row, even though the
  // buffer holds lines there once scrollback exists.
  feed(std::string(40, '\n'));
  moveTo(0, 20);
  command("a=p,i=1,p=1,q=1");
  EXPECT_EQ(command("a=p,i=1,p=2,P=1,Q=1,V=5"), reply("Gi=1;EINVAL: placement out of range"));
  EXPECT_EQ(command("a=p,i=1,p=2,P=1,Q=1,V=-30"), reply("Gi=1;EINVAL: placement out of range"));
  EXPECT_FALSE(terminal->kittyPlacementContext);
  EXPECT_EQ(command("a=p,i=1,p=2,P=1,Q=1,V=3,H=-5"), reply("Gi=1,p=2;OK"));
  EXPECT_EQ(state().placementsByKey.at(KittyPlacementKey{1, 2}).col, 0);  // column clamped to the screen
}

TEST_F(KittyPlacement, ParentOnTheOtherScreenIsRefused) {
  transmit("i=1");
  command("a=p,i=1,p=1,q=1");
  feed("\x1b[?1049h");
  EXPECT_EQ(command("a=p,i=1,p=2,P=1,Q=1"), reply("Gi=1;ENOPARENT: parent placement not in current buffer"));
}

TEST_F(KittyPlacement, ChildrenFollowTheirParentsAfterScrolling) {
  transmit("i=1", 10, 20);
  moveTo(0, 5);
  command("a=p,i=1,p=1,q=1");
  command("a=p,i=1,p=2,P=1,Q=1,H=3,V=2,q=1");
  command("a=p,i=1,p=3,P=1,Q=2,H=1,V=1,q=1");
  // The grandparent's cell is moved by hand, as a reflow might; the next scroll brings the chain.
  terminal->buffer->lines()[5]->setImages(std::nullopt);
  terminal->buffer->linesWithImagesCount--;
  auto parentCell = std::make_shared<TestImage>(10, 20, 2);
  parentCell->kittyIsKitty = true;
  parentCell->kittyImageId = 1;
  parentCell->kittyPlacementId = 1;
  parentCell->kittyCol = 2;
  parentCell->kittyRow = 4;
  vantrelle::attachImage(*terminal, buffer(), parentCell, 4);
  moveTo(0, 23);
  feed("\n");
  const auto& records = state().placementsByKey;
  EXPECT_EQ(records.at(KittyPlacementKey{1, 1}).row, 4);
  EXPECT_EQ(records.at(KittyPlacementKey{1, 2}).row, 6);
  EXPECT_EQ(records.at(KittyPlacementKey{1, 2}).col, 5);
  EXPECT_EQ(records.at(KittyPlacementKey{1, 3}).row, 7);
  EXPECT_EQ(records.at(KittyPlacementKey{1, 3}).col, 6);
  EXPECT_EQ(cellsOn(6), (std::vector<std::pair<uint32_t, uint32_t>>{{1, 2}}));
  EXPECT_EQ(cellsOn(7), (std::vector<std::pair<uint32_t, uint32_t>>{{1, 3}}));

  // Without its parent a child stays where its cells are.
  command("a=d,d=i,i=1,p=1");
  moveTo(0, 23);
  feed("\n");
  EXPECT_EQ(records.at(KittyPlacementKey{1, 2}).row, 6);
}

TEST_F(KittyPlacement, CyclesAndLongChainsResolveWithoutRecursion) {
  transmit("i=1");
  // Two placements naming each other: neither resolves, nothing fails.
  vantrelle::KittyPlacementRecord a, b;
  a.imageId = b.imageId = 1;
  a.placementId = 10;
  b.placementId = 11;
  a.parentImageId = b.parentImageId = 1;
  a.parentPlacementId = 11;
  b.parentPlacementId = 10;
  state().placementsByKey[a.key()] = a;
  state().placementsByKey[b.key()] = b;
  EXPECT_EQ(command("a=p,i=1,p=12,P=1,Q=10"), reply("Gi=1;ENOPARENT: parent placement not found"));

  // A chain a hundred thousand long resolves parent first.
  vantrelle::KittyPlacementRecord root;
  root.imageId = 2;
  root.placementId = 1;
  root.row = 3;
  root.col = 0;
  state().placementsByKey[root.key()] = root;
  for (uint32_t i = 2; i <= 100000; ++i) {
    vantrelle::KittyPlacementRecord link;
    link.imageId = 2;
    link.placementId = i;
    link.parentImageId = 2;
    link.parentPlacementId = i - 1;
    link.isVirtual = true;
    state().placementsByKey[link.key()] = link;
  }
  vantrelle::KittyPlacementPositions positions, memo;
  vantrelle::KittyPlacementKeySet visiting;
  auto position = vantrelle::resolveKittyPlacementPosition(*terminal, {2, 100000}, positions, memo, visiting);
  ASSERT_TRUE(position);
  EXPECT_EQ(position->first, 3);
  EXPECT_TRUE(visiting.empty());
  EXPECT_FALSE(vantrelle::resolveKittyPlacementPosition(*terminal, {1, 10}, positions, memo, visiting));
}
