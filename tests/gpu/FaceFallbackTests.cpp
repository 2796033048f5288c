// Characters a face lacks, drawn by a fallback font in that face, on the OpenGL path as on the
// Cairo path. A face of the font's own and one the font backend synthesises from another file
// (emboldened, slanted) may carry the same family and style; their glyphs must not be taken for
// each other's.
#include <gtest/gtest.h>

#include <string>

#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "tests/gpu/CairoFrame.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

class FaceFallbackOnGpu : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->scaleFactorOverride = 1.0;
    view->setFont(Pango::FontDescription("Monospace 16"));
    view->size_allocate(Gtk::Allocation(0, 0, 640, 200), -1);
    view->getTerminal().cursorHidden = true;
    path = GpuDrawingPath::make(*view, std::string(ZORVEL_SOURCE_DIR "/shaders"));
  }
  std::unique_ptr<TerminalView> view;
  std::unique_ptr<GpuDrawingPath> path;
};

// The monospace family's bold file lacks the mathematical monospace letters its regular file has,
// so a bold one is the regular file emboldened, which the font backend names as the bold face; the
// sans family's symbols fill in for what neither has.
TEST_F(FaceFallbackOnGpu, EveryFaceDrawsItsFallbackGlyphsAsOnTheCairoPath) {
  const char* text = "abc \xf0\x9d\x99\xb0\xf0\x9d\x99\xb1\xf0\x9d\x99\xb2 \xe2\x9c\x94 \xe2\x9c\x88 \xd8\xb3\xd9\x84";
  const struct {
    const char* name;
    const char* rendition;
  } faces[] = {{"regular", "0"}, {"bold", "1"}, {"italic", "3"}, {"bold italic", "1;3"}};
  std::string screen = "\x1b[H\x1b[2J";
  for (const auto& face : faces) screen += std::string("\x1b[") + face.rendition + "m" + text + "\x1b[m\r\n";
  view->feed(screen);
  PathFrames frames = bothFramesAt(*view, 1.0, "face-fallback");
  ASSERT_FALSE(frames.gpu.empty());
  ASSERT_EQ(frames.cairo.size(), frames.gpu.size());
  const int rowPx = int(view->cellDimension->height);
  for (int row = 0; row < int(std::size(faces)); row++) {
    SCOPED_TRACE(faces[row].name);
    // The letters, the symbols and the Arabic, past the plain letters; edges differ a little between
    // the two rasterisations, a missing or wrong glyph by far more.
    PixelBox box{int(4 * view->cellDimension->width), row * rowPx, frames.width, (row + 1) * rowPx};
    EXPECT_LT(meanDifference(frames.gpu, frames.cairo, frames.width, box), 1.0);
  }
}

}  // namespace
}  // namespace vantrelle
