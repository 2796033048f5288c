// The GPU path against a real GL 3.3 context (llvmpipe under the virtual display): the shaders
// compile, frames match the Cairo path, and the row cache rebuilds only what changed.
#include <cairo.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <cstdlib>

#include "Vantrelle/GPU/MetalError.h"
#include "Vantrelle/GPU/MetalTerminalRenderer.h"
#include "Vantrelle/View/GpuDrawingPath.h"
#include "Vantrelle/View/TerminalView.h"
#include "tests/gpu/CairoFrame.h"
#include "tests/view/ViewTestSupport.h"

namespace vantrelle {
namespace {

constexpr const char* shaderDir = ZORVEL_SOURCE_DIR "/shaders";

class GpuRender : public ::testing::Test {
 protected:
  void SetUp() override {
    vantrelle::testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->scaleFactorOverride = 1.0;
    view->size_allocate(Gtk::Allocation(0, 0, 640, 200), -1);
  }
  GpuDrawingPath& gpu() {
    if (!path) path = GpuDrawingPath::make(*view, shaderDir);
    return *path;
  }
  MetalTerminalRenderer& renderer() { return gpu().renderer_(); }
  std::unique_ptr<TerminalView> view;
  std::unique_ptr<GpuDrawingPath> path;
};

uint32_t pixel(const std::vector<uint8_t>& px, int width, int x, int y) {
  const uint8_t* p = &px[(size_t(y) * width + x) * 4];
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

TEST_F(GpuRender, MissingShadersAreReportedByName) {
  try {
    GpuDrawingPath::make(*view, std::string("/nonexistent"));
    FAIL() << "expected an error";
  } catch (const MetalError& e) {
    EXPECT_EQ(e.kind(), MetalError::Kind::shaderSourceMissing);
    EXPECT_EQ(e.description(), "Failed to load Metal shader source: /nonexistent");
  }
}

// The share of the bytes of rows `y0` to `y1` that differ by more than a quarter of their range.
double differingShare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int width, int y0, int y1) {
  long differing = 0;
  for (size_t i = size_t(y0) * width * 4; i < size_t(y1) * width * 4; i++)
    differing += std::abs(int(a[i]) - int(b[i])) > 64;
  return double(differing) / double(size_t(y1 - y0) * width * 4);
}

TEST_F(GpuRender, FrameMatchesTheCairoPath) {
  view->feed(
      std::string("\x1b[41m  red  \x1b[0m plain \x1b[1;32mgreen\x1b[0m \x1b[4munder\x1b[0m\r\n"
                  "\xe2\x94\x80\xe2\x94\xbc\xe2\x94\x80 \xe2\x96\x88\xe2\x96\x8c \x1b[44;33m\xee\x82\xb0\x1b[0m\r\n"
                  "\x1b[7mreverse\x1b[0m $ "));
  auto frame = gpu().render();
  ASSERT_TRUE(frame);
  int w = frame->width, h = frame->height;
  std::vector<uint8_t> ref = cairoFrame(*view, w, h);
  ASSERT_FALSE(ref.empty());
  if (const char* dir = std::getenv("ZORVEL_SCREENSHOT_DIR")) {
    savePng(frame->pixels, w, h, std::string(dir) + "/gpu.png");
    savePng(ref, w, h, std::string(dir) + "/cairo.png");
  }
  // Backgrounds are exact; glyph edges differ a little between the two rasterisations.
  double cw = view->cellDimension->width, ch = view->cellDimension->height;
  int redX = int(cw * 0.5), redY = int(ch * 0.5);
  EXPECT_EQ(pixel(frame->pixels, w, redX, redY), pixel(ref, w, redX, redY));
  int farX = w - 3, farY = h - 3;
  EXPECT_EQ(pixel(frame->pixels, w, farX, farY), pixel(ref, w, farX, farY));
  double total = 0;
  for (size_t i = 0; i < ref.size(); i++) total += std::abs(int(ref[i]) - int(frame->pixels[i]));
  EXPECT_LT(total / double(ref.size()), 4.0);
  EXPECT_LT(differingShare(ref, frame->pixels, w, 0, h), 0.02);
}

// A screen full of text holds thousands of glyph quads in one draw: the last rows' are drawn as the
// first rows' are, and as the Cairo path draws them.
TEST_F(GpuRender, AFullScreenOfTextIsDrawnToItsLastCell) {
  view->size_allocate(Gtk::Allocation(0, 0, 1000, 400), -1);
  const int cols = view->getTerminal().cols, rows = view->getTerminal().rows;
  ASSERT_GT(cols * rows, 2048);
  std::string screen;
  for (int row = 0; row < rows; row++) {
    for (int col = 0; col < cols; col++) screen += char('!' + (row * 7 + col) % 94);
    if (row + 1 < rows) screen += "\r\n";
  }
  view->feed(screen);
  view->getTerminal().cursorHidden = true;
  auto frame = gpu().render();
  ASSERT_TRUE(frame);
  std::vector<uint8_t> ref = cairoFrame(*view, frame->width, frame->height);
  ASSERT_FALSE(ref.empty());
  const int rowPx = int(view->cellDimension->height);
  for (int row : {0, rows / 2, rows - 1}) {
    EXPECT_LT(differingShare(ref, frame->pixels, frame->width, row * rowPx, (row + 1) * rowPx), 0.02) << "row " << row;
  }
}

// Text on rows of double width and double height is drawn at that size, as sharp as the Cairo
// path draws it, not as the plain glyphs stretched.
TEST_F(GpuRender, DoubleSizeRowsAreAsSharpAsOnTheCairoPath) {
  view->feed(std::string("\x1b#6Wide text MW\r\n\x1b#3Tall text MW\r\n\x1b#4Tall text MW\r\n"));
  view->getTerminal().cursorHidden = true;
  for (double scale : {1.0, 2.0}) {
    view->scaleFactorOverride = scale;
    view->setMetalScaleFactorOverride(scale);
    auto frame = gpu().render();
    ASSERT_TRUE(frame);
    std::vector<uint8_t> ref = cairoFrame(*view, frame->width, frame->height);
    ASSERT_FALSE(ref.empty());
    int rowsPx = int(std::ceil(3 * view->cellDimension->height * scale));
    EXPECT_LT(differingShare(ref, frame->pixels, frame->width, 0, rowsPx), 0.002) << "scale " << scale;
  }
}

// Box, block and powerline shapes on rows of double size look as on the Cairo path: the shapes'
// own pixels doubled, or the outline drawn at that size, not the plain shape stretched into soft
// edges.
TEST_F(GpuRender, ShapesOnDoubleSizeRowsAreAsCrispAsOnTheCairoPath) {
  const std::string shapes =
      "\xe2\x94\x8c\xe2\x94\x80\xe2\x94\x90\xe2\x96\x8c\x1b[44;33m\xee\x82\xb0\xee\x82\xb2\x1b[0m\r\n";
  view->feed("\x1b#6" + shapes + "\x1b#3" + shapes + "\x1b#4" + shapes);
  view->getTerminal().cursorHidden = true;
  auto frame = gpu().render();
  ASSERT_TRUE(frame);
  std::vector<uint8_t> ref = cairoFrame(*view, frame->width, frame->height);
  ASSERT_FALSE(ref.empty());
  int rowsPx = int(std::ceil(3 * view->cellDimension->height)),
      colsPx = int(std::ceil(14 * view->cellDimension->width));
  double total = 0;
  for (int y = 0; y < rowsPx; y++) {
    for (int x = 0; x < colsPx * 4; x++) {
      size_t i = size_t(y) * frame->width * 4 + x;
      total += std::abs(int(ref[i]) - int(frame->pixels[i]));
    }
  }
  EXPECT_LT(total / (rowsPx * colsPx * 4.0), 0.5);
}

// A wide character sits centred in its two cells, which puts its origin between pixels when the
// cell is an odd number of pixels wide; its bitmap still lands on whole pixels, as sharp as the
// Cairo path's, not smeared over two.
TEST_F(GpuRender, WideCharactersAreAsSharpAsOnTheCairoPath) {
  view->feed(std::string("\xe2\x9a\xa1\xe2\x98\x94 \x1b[1m\xe2\x9a\xa1\xe2\x98\x94\x1b[0m"));
  view->getTerminal().cursorHidden = true;
  for (int size : {9, 11, 14}) {
    view->setFont(Pango::FontDescription("Monospace " + std::to_string(size)));
    auto frame = gpu().render();
    ASSERT_TRUE(frame);
    std::vector<uint8_t> ref = cairoFrame(*view, frame->width, frame->height);
    ASSERT_FALSE(ref.empty());
    const size_t rowBytes = size_t(std::ceil(view->cellDimension->height)) * frame->width * 4;
    double total = 0;
    for (size_t i = 0; i < rowBytes; i++) total += std::abs(int(ref[i]) - int(frame->pixels[i]));
    EXPECT_LT(total / double(rowBytes), 0.02) << "Monospace " << size;
  }
}

TEST_F(GpuRender, UnchangedRowsAreReusedAndDirtyRowsRebuilt) {
  view->feed(std::string("one\r\ntwo\r\nthree"));
  auto& r = renderer();
  ASSERT_TRUE(gpu().render());
  int rows = view->getTerminal().rows;
  EXPECT_EQ(r.rowsBuiltInLastBuild, rows);
  ASSERT_TRUE(gpu().render());
  EXPECT_EQ(r.rowsBuiltInLastBuild, 0);
  view->feed(std::string("!"));
  ASSERT_TRUE(gpu().render());
  EXPECT_EQ(r.rowsBuiltInLastBuild, 1);
  view->gpuState.metalDirtyRange = std::pair{1000, 2000};
  ASSERT_TRUE(gpu().render());
  EXPECT_EQ(r.rowsBuiltInLastBuild, 0);
  view->gpuState.metalDirtyRange = std::pair{-5, 1};
  ASSERT_TRUE(gpu().render());
  EXPECT_EQ(r.rowsBuiltInLastBuild, 2);

  // Aggregated frames keep the rows' data but drop their buffers; switching back rebuilds
  // buffers from that data without building rows.
  view->gpuState.metalBufferingMode = MetalBufferingMode::perFrameAggregated;
  ASSERT_TRUE(gpu().render());
  EXPECT_EQ(r.rowsBuiltInLastBuild, 0);
  for (auto& [row, entry] : r.rowCache) EXPECT_FALSE(entry.buffers);
  view->gpuState.metalBufferingMode = MetalBufferingMode::perRowPersistent;
  ASSERT_TRUE(gpu().render());
  EXPECT_EQ(r.rowsBuiltInLastBuild, 0);
  for (auto& [row, entry] : r.rowCache) EXPECT_TRUE(entry.buffers);
}

// Rows that only moved, in a scrolling region or with the whole screen, are built again where they
// now lie but not shaped again: only the new line's runs are.
TEST_F(GpuRender, RowsThatOnlyMovedAreNotShapedAgain) {
  auto logLine = [](int n) {
    return "\x1b[32m" + std::to_string(100 + n) + " INFO\x1b[m request served from the cache, " +
           std::to_string(n * 37) + " bytes";
  };
  std::string screen = "\x1b[H\x1b[2J";
  for (int n = 0; n < 6; n++) screen += logLine(n) + "\r\n";
  view->feed(screen + "\x1b[8H");
  auto& r = renderer();
  ASSERT_TRUE(gpu().render());
  const struct {
    const char* name;
    std::string bytes;
  } moves[] = {{"region", "\x1b[1;6r\x1b[6H\n" + logLine(6) + "\x1b[r\x1b[8H"},
               {"screen", "\x1b[" + std::to_string(view->getTerminal().rows) + "H\n" + logLine(7)}};
  for (const auto& move : moves) {
    SCOPED_TRACE(move.name);
    const uint64_t shaped = r.shaperCache.layoutCount;
    view->feed(move.bytes);
    ASSERT_TRUE(gpu().render());
    EXPECT_EQ(r.shaperCache.layoutCount - shaped, 2u);
  }
}

TEST_F(GpuRender, CursorFollowsBlinkStyleAndFocus) {
  view->feed(std::string("ab"));
  auto& r = renderer();
  double scale = 1;
  auto cursor = [&] {
    DrawData d;
    r.buildCursorDrawData(gpu().viewSnapshot(), d, scale, view->cellDimension->width, view->cellDimension->height, 0, 0,
                          0, 0, view->getTerminal().rows - 1);
    return d;
  };
  view->setCaretViewTracksFocus(false);
  view->getTerminal().options.cursorStyle = CursorStyle::blinkBar;
  r.cursorBlinkOn = false;
  EXPECT_TRUE(cursor().cursorColorVertices.empty());
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBar;
  auto bar = cursor();
  ASSERT_EQ(bar.cursorColorVertices.size(), 6u);
  EXPECT_FLOAT_EQ(bar.cursorColorVertices[1].position.x - bar.cursorColorVertices[0].position.x, 2);
  view->setCaretViewTracksFocus(true);
  view->setHasFocus(false);
  EXPECT_EQ(cursor().cursorColorVertices.size(), 48u);  // hollow box: whole pixels, then the part-covered ring
  view->getTerminal().cursorHidden = true;
  EXPECT_TRUE(cursor().cursorColorVertices.empty());
}

TEST_F(GpuRender, ABlockCursorKeepsHiddenTextHidden) {
  auto& r = renderer();
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  view->setCaretViewTracksFocus(false);
  auto glyphs = [&](const std::string& text) {
    view->feed("\x1b[2J\x1b[H" + text + "\x1b[H");
    DrawData d;
    r.buildCursorDrawData(gpu().viewSnapshot(), d, 1, view->cellDimension->width, view->cellDimension->height, 0, 0, 0,
                          0, view->getTerminal().rows - 1);
    return d.cursorGlyphVerticesGray.size() + d.cursorGlyphVerticesColor.size();
  };
  EXPECT_GT(glyphs("W"), 0u);
  EXPECT_EQ(glyphs("\x1b[8mW\x1b[m"), 0u);
  EXPECT_EQ(glyphs("\x1b[8m\xee\x82\xb0\x1b[m"), 0u);
}

// The hollow box of an unfocused view is the caret widget's: a band of 1.5 points inside the
// cell, at every scale, with no brighter corners where its sides meet.
TEST_F(GpuRender, UnfocusedCursorLooksAsOnTheCairoPath) {
  view->feed(std::string("ab"));
  view->getTerminal().options.cursorStyle = CursorStyle::steadyBlock;
  view->setCaretViewTracksFocus(true);
  view->setHasFocus(false);
  for (double scale : {1.0, 2.0}) {
    view->scaleFactorOverride = scale;
    view->setMetalScaleFactorOverride(scale);
    auto frame = gpu().render();
    ASSERT_TRUE(frame);
    const int w = frame->width;
    std::vector<uint8_t> ref = cairoFrame(*view, w, frame->height);
    ASSERT_FALSE(ref.empty());
    const double cw = view->cellDimension->width, ch = view->cellDimension->height;
    cairo_surface_t* surface =
        cairo_image_surface_create_for_data(ref.data(), CAIRO_FORMAT_ARGB32, w, frame->height, w * 4);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    cairo_translate(cr, 2 * cw, 0);
    view->caretView->drawCursor(cr, cw, ch, false);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    double total = 0;
    int count = 0;
    for (int y = 0; y < int(std::ceil(ch * scale)); y++) {
      for (int x = int(2 * cw * scale); x < int(std::ceil(3 * cw * scale)); x++, count++) {
        for (int c = 0; c < 3; c++)
          total += std::abs(int(ref[(size_t(y) * w + x) * 4 + c]) - int(frame->pixels[(size_t(y) * w + x) * 4 + c]));
      }
    }
    EXPECT_LT(total / (count * 3.0), 2.0) << "scale " << scale;
  }
}

}  // namespace
}  // namespace vantrelle

#include <filesystem>
#include <fstream>

#include "Vantrelle/GPU/GLDevice.h"
#include "tests/TemporaryFolder.h"

namespace vantrelle {
namespace {

// A copy of the shader sources with one stage missing or replaced, in a folder of the test's own.
std::string shaderCopy(const ::testing::TemporaryFolder& folder, const std::string& name, const char* stage,
                       const char* replacement) {
  std::string dir = (folder.path() / name).string();
  std::filesystem::create_directories(dir);
  for (const char* s : requiredShaderFunctions) {
    if (std::string(s) == stage && !replacement) continue;
    if (std::string(s) == stage) {
      std::ofstream(dir + "/" + s + ".glsl") << replacement;
    } else {
      std::filesystem::copy_file(std::string(shaderDir) + "/" + s + ".glsl", dir + "/" + s + ".glsl");
    }
  }
  return dir;
}

MetalError::Kind failureOf(TerminalView& view, const std::string& dir, std::string* description) {
  try {
    GpuDrawingPath::make(view, dir);
  } catch (const MetalError& e) {
    *description = e.description();
    return e.kind();
  }
  ADD_FAILURE() << "the renderer was made from " << dir;
  return MetalError::Kind::metalKitUnavailable;
}

TEST_F(GpuRender, BrokenShaderSourcesEndConstructionWithTheirError) {
  const ::testing::TemporaryFolder copies("gpu-shaders");
  std::string text;
  // A missing stage names the whole required set, in the order the check asks for them.
  EXPECT_EQ(failureOf(*view, shaderCopy(copies, "partial", "terminal_color_fragment", nullptr), &text),
            MetalError::Kind::shaderFunctionMissing);
  EXPECT_EQ(text,
            "Metal library missing required function: terminal_text_vertex, terminal_text_fragment, "
            "terminal_text_fragment_gray, terminal_color_vertex, terminal_color_fragment");

  EXPECT_EQ(failureOf(*view,
                      shaderCopy(copies, "broken", "terminal_text_vertex", "#version 330 core\nvoid main() { oops }\n"),
                      &text),
            MetalError::Kind::shaderCompilationFailed);
  EXPECT_EQ(text.rfind("Failed to compile Metal shader source: terminal_text_vertex", 0), 0u) << text;

  // Stages that compile but cannot be linked into one pipeline: the colour arrives as a vec4.
  const char* unlinkable =
      "#version 330 core\nin vec2 vColor;\nout vec4 fragColor;\nvoid main() { fragColor = vec4(vColor, 0, 1); }\n";
  EXPECT_EQ(failureOf(*view, shaderCopy(copies, "unlinkable", "terminal_color_fragment", unlinkable), &text),
            MetalError::Kind::pipelineCreationFailed);
  EXPECT_EQ(text, "Failed to create Metal pipeline: text/color");
}

}  // namespace
}  // namespace vantrelle
