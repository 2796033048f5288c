// What painting cells keeps from one pass to the next (shaped characters by face, each glyph's
// coverage, masks padded for painting in groups) gives the pixels a view drawing afresh gives.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <tuple>

#include "Vantrelle/Render/PixelCanvas.h"
#include "ViewTestSupport.h"
#include "platform/GLibPtr.h"

namespace vantrelle {
namespace {

// Every face over the same characters, in renditions that change at every cell.
std::string facesScreen(const std::vector<std::string>& order) {
  std::string out = "\x1b[H\x1b[2J";
  for (const auto& face : order) {
    for (char c = '!'; c < 127; c++) {
      out += "\x1b[0;" + face + ";38;5;" + std::to_string(16 + c % 200) + "m";
      out += c;
    }
    out += "\r\n";
  }
  return out + "\x1b[0m";
}

std::vector<uint8_t> pixelsOf(TerminalView& view) {
  auto& path = static_cast<CairoDrawingPath&>(view.drawingPath());
  view.updateDisplay(false);
  path.invalidateAll();
  cairo_surface_t* surface = path.render();
  const uint8_t* data = cairo_image_surface_get_data(surface);
  return {data,
          data + size_t(cairo_image_surface_get_stride(surface)) * size_t(cairo_image_surface_get_height(surface))};
}

std::unique_ptr<TerminalView> viewAt(double scale) {
  testing::ensureGtk();
  auto view = std::make_unique<TerminalView>();
  view->scaleFactorOverride = scale;
  view->size_allocate(Gtk::Allocation(0, 0, 803, 405), -1);
  return view;
}

// A view that drew other faces, another scale and no smoothing first paints what a new view paints.
TEST(CellPaintingCache, KeptShapesAndMasksPaintAsAFreshView) {
  const std::string screen = facesScreen({"0", "1", "3", "1;3", "4"});
  auto fresh = viewAt(2);
  fresh->feed(screen);
  std::vector<uint8_t> expected = pixelsOf(*fresh);

  auto used = viewAt(1);
  used->feed(facesScreen({"1;3", "3", "1", "0"}));
  pixelsOf(*used);
  used->setFontSmoothing(false);
  used->feed(screen);
  pixelsOf(*used);
  used->setFontSmoothing(true);
  used->scaleFactorOverride = 2;
  used->size_allocate(Gtk::Allocation(0, 0, 803, 405), -1);
  used->feed(screen);
  std::vector<uint8_t> painted = pixelsOf(*used);
  ASSERT_EQ(painted.size(), expected.size());
  EXPECT_EQ(std::memcmp(painted.data(), expected.data(), expected.size()), 0);
}

// Shaped pieces kept across frames, and long runs shaped for one frame only, hold their font while
// they live and give it back after: a font they leaked would never be freed, one they gave back
// twice would be freed under the font map that still hands it out.
TEST(CellPaintingCache, ShapedPiecesGiveBackTheirFontsWhenDropped) {
  auto view = viewAt(1);
  view->feed("\x1b[H\x1b[2Ja\x1b[31mb\x1b[32mc\x1b[0m a long run of plain text in one rendition");
  pixelsOf(*view);
  view->dropShapeCache();
  platform::GObjectPtr<PangoFont> font(pango_context_load_font(view->get_pango_context()->gobj(), view->font().gobj()));
  ASSERT_TRUE(font);
  const guint before = G_OBJECT(font.get())->ref_count;
  pixelsOf(*view);
  ASSERT_GT(G_OBJECT(font.get())->ref_count, before);
  view->dropShapeCache();
  EXPECT_EQ(G_OBJECT(font.get())->ref_count, before);
}

// Rows of a scrolling region that only moved, and rows drawn again as they were, are not shaped
// again, and paint what a view drawing them afresh paints.
TEST(CellPaintingCache, RowsThatOnlyMovedAreNotShapedAgain) {
  auto logLine = [](int n) {
    return "\x1b[32m" + std::to_string(100 + n) + " INFO\x1b[m request served from the cache, " +
           std::to_string(n * 37) + " bytes\r\n";
  };
  std::string screen = "\x1b[H\x1b[2J";
  for (int n = 0; n < 12; n++) screen += logLine(n);
  // The region's last row scrolls it by one and takes a new line; the cursor goes back below it.
  const std::string scroll = "\x1b[1;12r\x1b[12H\n" + logLine(12) + "\x1b[r\x1b[14H";
  auto view = viewAt(1);
  view->feed(screen + "\x1b[14H");
  pixelsOf(*view);
  const uint64_t shaped = view->textsShaped();
  view->feed(scroll);
  std::vector<uint8_t> painted = pixelsOf(*view);
  // The new line's number and its text, and nothing of the rows that moved.
  EXPECT_EQ(view->textsShaped() - shaped, 2u);

  auto fresh = viewAt(1);
  fresh->feed(screen + "\x1b[14H" + scroll);
  EXPECT_EQ(pixelsOf(*fresh), painted);
}

// The coverages of printable ASCII made ahead on a worker thread are the ones a first screen of
// every face paints with, and they paint what Cairo paints.
TEST(CellPaintingCache, CoveragesMadeAheadPaintAsCairoDoes) {
  auto view = viewAt(1);
  pixelsOf(*view);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->glyphMasksHeld() > 0; }));
  size_t madeAhead = view->glyphMasksHeld();
  view->feed(facesScreen({"0", "1", "3", "1;3"}));
  std::vector<uint8_t> direct = pixelsOf(*view);
  EXPECT_EQ(view->glyphMasksHeld(), madeAhead);
  view->paintsCellsDirectly = false;
  EXPECT_EQ(pixelsOf(*view), direct);
}

// A mask whose rows are padded is painted in whole groups only where the group stays inside the
// clip: the pixels inside match an unpadded mask's, and a mask at the surface's last pixels reads
// and writes nothing past them (the surface ends where an inaccessible page begins).
TEST(CellPaintingCache, PaddedMasksStayInsideTheClip) {
  constexpr int size = 16, stride = size * 4;
  CoverageMask unpadded;
  unpadded.width = 5, unpadded.height = 3;
  for (int i = 0; i < 15; i++) unpadded.coverage.push_back(uint8_t(40 + 13 * i));
  CoverageMask padded = unpadded;
  padded.rowBytes = 8;
  padded.coverage.assign(24, 0);
  for (int y = 0; y < 3; y++) std::memcpy(&padded.coverage[size_t(y) * 8], &unpadded.coverage[size_t(y) * 5], 5);

  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  auto* pages =
      static_cast<uint8_t*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  ASSERT_EQ(mprotect(pages + page, page, PROT_NONE), 0);
  uint8_t* data = pages + page - size_t(size * stride);
  auto painted = [&](const CoverageMask& mask, int clipRight, int x, int y) {
    auto* pixels = reinterpret_cast<uint32_t*>(data);
    for (int i = 0; i < size * size; i++) pixels[i] = 0xff000000u | uint32_t(i) * 0x010203u;
    cairo_surface_t* surface = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, size, size, stride);
    cairo_t* cr = cairo_create(surface);
    cairo_rectangle(cr, 0, 0, clipRight, size);
    cairo_clip(cr);
    auto canvas = PixelCanvas::of(cr);
    EXPECT_TRUE(canvas);
    if (canvas) canvas->paint(mask, x, y, PixelCanvas::pixel(ViewColor{0.8, 0.3, 0.1, 1}));
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return std::vector<uint32_t>(pixels, pixels + size * size);
  };
  // The clip ends inside the padding, at the mask's edge, inside the mask, and at the surface's end.
  for (auto [clipRight, x, y] :
       {std::tuple{9, 3, 4}, std::tuple{8, 3, 4}, std::tuple{6, 3, 4}, std::tuple{16, 3, 4}, std::tuple{16, 11, 13}})
    EXPECT_EQ(painted(padded, clipRight, x, y), painted(unpadded, clipRight, x, y)) << clipRight << " " << x;
  munmap(pages, 2 * page);
}

}  // namespace
}  // namespace vantrelle
