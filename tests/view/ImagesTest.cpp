// Inline images: sizing, slicing into rows, attachment to lines, and hostile sizes.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <functional>

#include "Vantrelle/View/TerminalView+Images.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

std::vector<uint8_t> pngOf(int width, int height) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_paint(cr);
  cairo_destroy(cr);
  std::vector<uint8_t> out;
  cairo_surface_write_to_png_stream(
      s,
      [](void* closure, const unsigned char* data, unsigned int length) {
        auto* v = static_cast<std::vector<uint8_t>*>(closure);
        v->insert(v->end(), data, data + length);
        return CAIRO_STATUS_SUCCESS;
      },
      &out);
  cairo_surface_destroy(s);
  return out;
}

class Images : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->cellDimension = ViewSize{10, 20};
    view->scaleFactorOverride = 1.0;
    // 800 points of cells beside the scroller's strip.
    view->size_allocate(Gtk::Allocation(0, 0, 800 + testing::scrollerStrip(*view), 400), -1);
  }
  // Slices attached to the screen's lines, top to bottom.
  std::vector<TerminalView::AppleImage*> slices() { return testing::imageSlices(*view); }
  std::unique_ptr<TerminalView> view;
};

TEST(ImageFitting, AspectFitCentresInTheRectangle) {
  EXPECT_EQ(TerminalView::kittyAspectFitRect({200, 100}, {0, 0, 100, 100}), (ViewRect{0, 25, 100, 50}));
  EXPECT_EQ(TerminalView::kittyAspectFitRect({0, 100}, {1, 2, 3, 4}), (ViewRect{1, 2, 3, 4}));
}

TEST_F(Images, AnImageTenCellsWideIsCutIntoRowsTheLastInPart) {
  auto png = pngOf(200, 130);
  view->feed("ab");
  view->createImage(view->getTerminal(), png, {ImageSizeRequest::Kind::cells, 10}, {}, true);
  auto all = slices();
  ASSERT_EQ(all.size(), 4u);  // 100 x 65 points: three whole rows of 20 and a quarter of one
  EXPECT_EQ(all[0]->pixelWidth(), 100);
  EXPECT_EQ(all[0]->pixelHeight(), 20);
  EXPECT_EQ(all[0]->col(), 2);
  Buffer& buffer = *view->getTerminal().buffer;
  EXPECT_EQ(int(buffer.y), 4);
  EXPECT_EQ(int(buffer.x), 2);
  EXPECT_EQ(buffer.linesWithImagesCount, 4);
  // The last slice holds the image's last 5 points and nothing below them.
  Cairo::RefPtr<Cairo::ImageSurface> last = all[3]->image;
  last->flush();
  auto alpha = [&](int y) { return last->get_data()[size_t(y) * size_t(last->get_stride()) + 3]; };
  EXPECT_EQ(alpha(2), 0xff);
  EXPECT_EQ(alpha(12), 0);
}

TEST_F(Images, AnImageLowerThanACellTakesOneRow) {
  auto png = pngOf(40, 10);
  view->createImage(view->getTerminal(), png, {}, {}, true);
  EXPECT_EQ(slices().size(), 1u);
  EXPECT_EQ(int(view->getTerminal().buffer->y), 1);
}

TEST_F(Images, UndecodableDataAndHostileSizesLeaveTheBufferAlone) {
  std::vector<uint8_t> junk = {1, 2, 3, 4};
  view->createImage(view->getTerminal(), junk, {}, {}, true);
  auto png = pngOf(10, 10);
  view->createImage(view->getTerminal(), png, {ImageSizeRequest::Kind::pixels, 1'000'000'000},
                    {ImageSizeRequest::Kind::pixels, 40}, false);
  view->createImage(view->getTerminal(), png, {ImageSizeRequest::Kind::cells, 2},
                    {ImageSizeRequest::Kind::cells, 2'000'000'000}, false);
  EXPECT_TRUE(slices().empty());
  std::vector<uint8_t> tooFew(10);
  view->createImageFromBitmap(view->getTerminal(), tooFew, 100, 100);
  EXPECT_TRUE(slices().empty());
}

TEST_F(Images, ABitmapWiderThanTheViewIsScaledToItsWidth) {
  std::vector<uint8_t> rgba(1600 * 80 * 4, 0xff);
  view->createImageFromBitmap(view->getTerminal(), rgba, 1600, 80);
  auto all = slices();
  ASSERT_EQ(all.size(), 2u);  // 800 x 40 points
  EXPECT_EQ(all[0]->pixelWidth(), 800);
}

TEST_F(Images, ImagesAtTheBottomScrollTheScreenAndMarkItAllDirty) {
  view->feed("\x1b[20;1H");
  view->updateDisplay(false);
  auto png = pngOf(50, 60);
  view->createImage(view->getTerminal(), png, {}, {}, true);
  EXPECT_EQ(view->getTerminal().refreshStart, 0);
  EXPECT_EQ(view->getTerminal().refreshEnd, 20);
  EXPECT_EQ(slices().size(), 3u);
}

TEST_F(Images, SlicesArePaintedWhereTheyAreAttachedTheLastRowInPart) {
  auto png = pngOf(30, 50);
  view->createImage(view->getTerminal(), png, {}, {}, true);
  view->updateDisplay(false);
  cairo_surface_t* surface = static_cast<CairoDrawingPath&>(view->drawingPath()).render();
  cairo_surface_flush(surface);
  auto pixel = [&](int x, int y) {
    auto* data = cairo_image_surface_get_data(surface);
    return *reinterpret_cast<uint32_t*>(data + size_t(y) * cairo_image_surface_get_stride(surface) + size_t(x) * 4);
  };
  EXPECT_EQ(pixel(5, 5) & 0xffffff, 0xff0000u);
  EXPECT_EQ(pixel(5, 35) & 0xffffff, 0xff0000u);
  EXPECT_EQ(pixel(5, 48) & 0xffffff, 0xff0000u);
  EXPECT_NE(pixel(5, 52) & 0xffffff, 0xff0000u);
  EXPECT_NE(pixel(45, 5) & 0xffffff, 0xff0000u);
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

TEST_F(Images, RequestsForHugeScaledImagesAreRefusedBeforeAnyAllocation) {
  auto png = pngOf(10, 10);
  view->createImage(view->getTerminal(), png, {ImageSizeRequest::Kind::pixels, 2'000'000'000},
                    {ImageSizeRequest::Kind::pixels, 2'000'000'000}, true);
  view->createImage(view->getTerminal(), png, {ImageSizeRequest::Kind::percent, 100'000},
                    {ImageSizeRequest::Kind::cells, 400}, true);
  EXPECT_TRUE(slices().empty());
  std::vector<uint8_t> pixels(size_t(9000) * 9000 * 4 / 1000);
  view->createImageFromBitmap(view->getTerminal(), pixels, 9000, 9000);
  EXPECT_TRUE(slices().empty());
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

TEST_F(Images, OtherImageFormatsAreReadToo) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, false, 8, 30, 45);
  gdk_pixbuf_fill(pixbuf, 0x00ff00ff);
  gchar* buffer = nullptr;
  gsize size = 0;
  ASSERT_TRUE(gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", nullptr, nullptr));
  g_object_unref(pixbuf);
  std::vector<uint8_t> jpeg(buffer, buffer + size);
  g_free(buffer);
  view->createImage(view->getTerminal(), jpeg, {}, {}, true);
  auto all = slices();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0]->pixelWidth(), 30);
  auto image = TerminalView::imageFromData(jpeg);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->get_width(), 30);
  EXPECT_EQ(image->get_height(), 45);
}

TEST_F(Images, AnImageFileDeclaringAHugeSizeIsRefused) {
  // A GIF header claiming 60000 x 60000 pixels.
  std::vector<uint8_t> gif = {'G',  'I',  'F',  '8',  '9',  'a',  0x60, 0xea, 0x60, 0xea, 0x00, 0x00, 0x00, 0x2c, 0x00,
                              0x00, 0x00, 0x00, 0x60, 0xea, 0x60, 0xea, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3b};
  EXPECT_FALSE(TerminalView::imageFromData(gif));
  EXPECT_FALSE(TerminalView::imageFromData(std::vector<uint8_t>{1, 2, 3}));
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// Slices are cut one cell high: after the font changes they must still fill their rows, neither
// leaving bands of background between them nor covering one another.
TEST_F(Images, SlicesFollowTheCellHeightWhenTheFontChanges) {
  std::vector<uint8_t> rgba(size_t(40) * 40 * 4);
  for (size_t i = 0; i < rgba.size(); i += 4) {
    bool top = i < rgba.size() / 2;
    rgba[i] = top ? 0xff : 0, rgba[i + 2] = top ? 0 : 0xff, rgba[i + 3] = 0xff;
  }
  view->createImageFromBitmap(view->getTerminal(), rgba, 40, 40);
  ASSERT_EQ(slices().size(), 2u);
  for (double factor : {4.0, 0.5}) {
    auto font = TerminalView::defaultFont();
    font.set_size(int(font.get_size() * factor));
    view->setFont(font);
    view->updateDisplay(false);
    const double ch = view->cellDimension->height;
    cairo_surface_t* surface = static_cast<CairoDrawingPath&>(view->drawingPath()).render();
    cairo_surface_flush(surface);
    auto pixel = [&](double y) {
      auto* data = cairo_image_surface_get_data(surface);
      return *reinterpret_cast<uint32_t*>(data + size_t(y) * cairo_image_surface_get_stride(surface) + 4) & 0xffffff;
    };
    EXPECT_EQ(pixel(ch * 0.5), 0xff0000u) << factor;
    EXPECT_EQ(pixel(ch * 1.5), 0x0000ffu) << factor;
    EXPECT_NE(pixel(ch * 2.5), 0x0000ffu) << factor;
  }
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// White pixels where `drawn` says so, clear ones elsewhere.
std::vector<uint8_t> bitmap(int width, int height, const std::function<bool(int, int)>& drawn) {
  std::vector<uint8_t> rgba(size_t(width) * height * 4);
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      if (drawn(x, y)) std::fill_n(rgba.begin() + (size_t(y) * width + x) * 4, 4, 0xff);
    }
  }
  return rgba;
}

// Redrawing an image in place must not pile up slices that can no longer be seen.
TEST_F(Images, AnImageRedrawnInPlaceLetsGoOfTheSlicesItHides) {
  auto all = [](int, int) { return true; };
  auto topHalf = [](int, int y) { return y < 20; };
  auto leftHalf = [](int x, int) { return x < 20; };
  struct Case {
    const char* name;
    std::function<bool(int, int)> first, second;
    int secondWidth;
    size_t slicesLeft;
  } cases[] = {
      {"opaque over opaque", all, all, 40, 2},
      {"opaque over what it covers", topHalf, all, 40, 2},
      {"drawn only over what the first left clear", topHalf, [](int, int y) { return y >= 20; }, 40, 3},
      {"with holes over opaque", all, leftHalf, 40, 4},
      {"narrower over wider", all, all, 20, 4},
  };
  for (const auto& c : cases) {
    SetUp();
    auto first = bitmap(40, 40, c.first), second = bitmap(c.secondWidth, 40, c.second);
    view->createImageFromBitmap(view->getTerminal(), first, 40, 40);
    view->feed("\x1b[H");
    view->createImageFromBitmap(view->getTerminal(), second, c.secondWidth, 40);
    EXPECT_EQ(slices().size(), c.slicesLeft) << c.name;
    EXPECT_EQ(view->getTerminal().buffer->linesWithImagesCount, 2) << c.name;
  }
}

}  // namespace
}  // namespace vantrelle
