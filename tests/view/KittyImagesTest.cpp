// Kitty images in the view: placements through the protocol, the cursor after an image, and
// images shown through placeholder characters.
#include <gtest/gtest.h>

#include "Vantrelle/View/TerminalView+Images.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

// Four red pixels, 2 x 2, as base64 RGBA.
const char* kRedPixels = "/wAA//8AAP//AAD//wAA/w==";

class KittyImages : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
    view->cellDimension = ViewSize{10, 20};
    view->scaleFactorOverride = 1.0;
    view->size_allocate(Gtk::Allocation(0, 0, 800, 400), -1);
  }
  std::vector<TerminalView::AppleImage*> slices() { return testing::imageSlices(*view); }
  uint32_t pixelAt(int x, int y) {
    cairo_surface_t* surface = static_cast<CairoDrawingPath&>(view->drawingPath()).render();
    cairo_surface_flush(surface);
    auto* data = cairo_image_surface_get_data(surface);
    return *reinterpret_cast<uint32_t*>(data + size_t(y) * cairo_image_surface_get_stride(surface) + size_t(x) * 4);
  }
  testing::RecordingHost host;
  std::unique_ptr<TerminalView> view;
};

TEST_F(KittyImages, APutIsSlicedIntoRowsWithItsPlacementRecorded) {
  view->feed("ab");
  view->feed(std::string("\x1b_Ga=T,f=32,s=2,v=2,i=7,p=3,c=3,r=2,q=2;") + kRedPixels + "\x1b\\");
  auto all = slices();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_TRUE(all[0]->kittyIsKitty);
  EXPECT_EQ(all[0]->kittyImageId, std::optional<uint32_t>(7));
  EXPECT_EQ(all[0]->kittyCols, 3);
  EXPECT_EQ(all[0]->kittyRows, 2);
  EXPECT_EQ(all[0]->pixelWidth(), 30);
  auto& placements = view->getTerminal().kittyGraphicsState.placementsByKey;
  auto found = placements.find(KittyPlacementKey{7, 3});
  ASSERT_NE(found, placements.end());
  EXPECT_EQ(found->second.col, 2);
  EXPECT_EQ(found->second.rows, 2);
  // The cursor moves past the image: right of it, below its last row.
  Buffer& buffer = *view->getTerminal().buffer;
  EXPECT_EQ(int(buffer.x), 5);
  EXPECT_EQ(int(buffer.y), 2);
  view->updateDisplay(false);
  EXPECT_EQ(pixelAt(25, 5) & 0xffffff, 0xff0000u);
  EXPECT_EQ(pixelAt(45, 35) & 0xffffff, 0xff0000u);
  EXPECT_NE(pixelAt(55, 5) & 0xffffff, 0xff0000u);
}

TEST_F(KittyImages, AnImageBelowOneCellTakesOneCellAndIsDrawn) {
  view->feed(std::string("\x1b_Ga=T,f=32,s=2,v=2,i=8,p=1,q=2;") + kRedPixels + "\x1b\\");
  ASSERT_EQ(slices().size(), 1u);
  auto& placements = view->getTerminal().kittyGraphicsState.placementsByKey;
  ASSERT_TRUE(placements.count(KittyPlacementKey{8, 1}));
  EXPECT_EQ(placements.at(KittyPlacementKey{8, 1}).rows, 1);
  EXPECT_EQ(placements.at(KittyPlacementKey{8, 1}).cols, 1);
  view->updateDisplay(false);
  EXPECT_EQ(pixelAt(1, 1) & 0xffffff, 0xff0000u);
  EXPECT_NE(pixelAt(1, 3) & 0xffffff, 0xff0000u);
}

TEST_F(KittyImages, ImagesBelowTheTextSortBeforeThoseAbove) {
  auto make = [](int64_t z, uint32_t id) {
    auto image = std::make_shared<TerminalView::AppleImage>(Cairo::RefPtr<Cairo::ImageSurface>(), 10, 10, 0);
    image->kittyIsKitty = true;
    image->kittyZIndex = z;
    image->kittyImageId = id;
    return image;
  };
  TerminalImageList list{make(5, 1), make(-1, 9), make(-3, 2), make(0, 4), make(0, 3)};
  list.push_back(std::make_shared<TerminalView::AppleImage>(Cairo::RefPtr<Cairo::ImageSurface>(), 10, 10, 0));
  auto split = splitImages(list);
  ASSERT_EQ(split.below.size(), 2u);
  EXPECT_EQ(split.below[0]->kittyZIndex, -3);
  ASSERT_EQ(split.above.size(), 3u);
  EXPECT_EQ(split.above[0]->kittyImageId, std::optional<uint32_t>(3));
  EXPECT_EQ(split.above[2]->kittyZIndex, 5);
  EXPECT_EQ(split.other.size(), 1u);
}

TEST_F(KittyImages, AnImageMovedDownByItsOffsetKeepsItsStripWhenTheRowBelowIsRedrawnAlone) {
  // 20 x 40 points over rows 0 and 1, moved down 5: its last 5 rows lie in row 2.
  view->feed(std::string("\x1b_Ga=T,f=32,s=2,v=2,i=6,p=1,c=2,r=2,Y=5,q=2;") + kRedPixels + "\x1b\\");
  view->updateDisplay(false);
  EXPECT_NE(pixelAt(5, 2) & 0xffffff, 0xff0000u);
  EXPECT_EQ(pixelAt(5, 22) & 0xffffff, 0xff0000u);
  EXPECT_EQ(pixelAt(5, 42) & 0xffffff, 0xff0000u);
  EXPECT_NE(pixelAt(5, 47) & 0xffffff, 0xff0000u);
  // Text after the image dirties row 2 only.
  view->feed("x");
  view->updateDisplay(false);
  EXPECT_EQ(pixelAt(5, 42) & 0xffffff, 0xff0000u);
  EXPECT_NE(pixelAt(5, 47) & 0xffffff, 0xff0000u);
  // Deleting the image clears the strip as well.
  view->feed("\x1b_Ga=d,d=i,i=6,q=2\x1b\\");
  view->updateDisplay(false);
  EXPECT_NE(pixelAt(5, 42) & 0xffffff, 0xff0000u);
  EXPECT_NE(pixelAt(5, 22) & 0xffffff, 0xff0000u);
}

// An animation shows each frame in place without a placement id: hidden frames must not pile up.
TEST_F(KittyImages, AnImageShownAgainInPlaceWithoutAPlacementIdLetsGoOfTheHiddenOne) {
  struct Case {
    const char* name;
    const char* second;
    size_t slicesLeft;
  } cases[] = {
      {"the same image again", "i=1", 2},
      {"another image", "i=2", 4},
      {"the same image in another layer", "i=1,z=-1", 4},
      {"the same image moved down by an offset", "i=1,Y=3", 4},
  };
  for (const auto& c : cases) {
    SetUp();
    view->feed(std::string("\x1b_Ga=T,f=32,s=2,v=2,i=1,c=2,r=2,C=1,q=2;") + kRedPixels + "\x1b\\");
    view->feed(std::string("\x1b_Ga=T,f=32,s=2,v=2,c=2,r=2,C=1,q=2,") + c.second + ";" + kRedPixels + "\x1b\\");
    EXPECT_EQ(slices().size(), c.slicesLeft) << c.name;
  }
}

TEST_F(KittyImages, AnImageShownAgainWhereAFullScrollbackMovedTheFirstLetsGoOfIt) {
  // A full scrollback moves every line up an index as it scrolls: the first image is still where
  // the second is shown, though the index of its row then was another.
  view->getTerminal().changeScrollback(5);
  for (int i = 0; i < 40; i++) view->feed("line\r\n");
  const std::string image = std::string("\x1b_Ga=T,f=32,s=2,v=2,i=1,c=2,r=2,C=1,q=2;") + kRedPixels + "\x1b\\";
  view->feed("\x1b[4;1H" + image + "\x1b[20H\n\n\n\x1b[1;1H" + image);
  EXPECT_EQ(slices().size(), 2u);
}

TEST_F(KittyImages, PlaceholderCellsPaintTheirSliceOfAVirtualPlacement) {
  view->feed(std::string("\x1b_Ga=T,U=1,f=32,s=2,v=2,i=5,p=0,c=2,r=1,q=2;") + kRedPixels + "\x1b\\");
  ASSERT_FALSE(view->getTerminal().kittyGraphicsState.placementsByKey.empty());
  // Image id 5 in the foreground colour; row 0 and columns 0 and 1 as diacritics.
  view->feed("\x1b[38;5;5m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\xf4\x8e\xbb\xae\xcc\x85\xcc\x8d\x1b[0m");
  Buffer& buffer = *view->getTerminal().buffer;
  auto info = view->buildAttributedString(buffer.yBase, *buffer.lines()[buffer.yBase], buffer.cols());
  ASSERT_EQ(info.kittyPlaceholders.size(), 2u);
  EXPECT_EQ(info.kittyPlaceholders[1].placeholderCol, 1);
  view->updateDisplay(false);
  EXPECT_EQ(pixelAt(5, 10) & 0xffffff, 0xff0000u);
  EXPECT_EQ(pixelAt(15, 10) & 0xffffff, 0xff0000u);
  EXPECT_NE(pixelAt(25, 10) & 0xffffff, 0xff0000u);
}

// Placeholder images are kept scaled between passes: a picture sent again under the id is shown.
TEST_F(KittyImages, PlaceholderCellsShowTheImageSentAgainUnderTheirId) {
  view->feed(std::string("\x1b_Ga=T,U=1,f=32,s=2,v=2,i=5,c=2,r=1,q=2;") + kRedPixels + "\x1b\\");
  view->feed("\x1b[38;5;5m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\x1b[0m");
  view->updateDisplay(false);
  EXPECT_EQ(pixelAt(5, 10) & 0xffffff, 0xff0000u);
  view->feed("\x1b_Ga=t,f=32,s=2,v=2,i=5,q=2;AAD//wAA//8AAP//AAD//w==\x1b\\");
  view->updateDisplay(false);
  EXPECT_EQ(pixelAt(5, 10) & 0xffffff, 0x0000ffu);
}

TEST_F(KittyImages, APlaceholderForAnUnknownImageDrawsOnlyItsBackground) {
  view->feed("\x1b[38;5;9m\xf4\x8e\xbb\xae\xcc\x85\xcc\x85\x1b[0m");
  view->updateDisplay(false);
  EXPECT_NE(pixelAt(5, 10) & 0xffffff, 0xff0000u);
}

}  // namespace
}  // namespace vantrelle
