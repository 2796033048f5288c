// What the program writes while the user has scrolled back a little and still sees the cursor.
#include <gtest/gtest.h>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

TEST(ScrolledBackEcho, TextTypedWhileScrolledBackAppearsOnTheCursorsRow) {
  testing::ensureGtk();
  TerminalView view;
  testing::RecordingHost host;
  view.terminalDelegate = &host;
  view.cellDimension = ViewSize{10, 17};
  view.scaleFactorOverride = 1.0;
  view.size_allocate(Gtk::Allocation(0, 0, 800 + testing::scrollerStrip(view), 340), -1);
  auto& path = static_cast<CairoDrawingPath&>(view.drawingPath());
  for (int i = 0; i < 60; i++) view.feed("line " + std::to_string(i) + "\r\n");
  // A cleared screen with the prompt on its top row, and the view three rows back from it.
  view.feed("\x1b[H\x1b[J$ ");
  Buffer& buffer = *view.getTerminal().buffer;
  view.scrollTo(buffer.yBase - 3, false);
  view.updateDisplay(false);
  path.render();
  view.feed("echo hello");
  view.updateDisplay(false);
  cairo_surface_t* surface = path.render();
  cairo_surface_flush(surface);
  // The prompt's row is shown fourth from the top: "echo hello" is inked there, past the "$ ".
  const int stride = cairo_image_surface_get_stride(surface);
  const uint8_t* data = cairo_image_surface_get_data(surface);
  int inked = 0;
  for (int y = 3 * 17; y < 4 * 17; y++) {
    for (int x = 20; x < 120; x++) inked += (data[size_t(y) * stride + size_t(x) * 4] & 0xff) > 0x40;
  }
  EXPECT_GT(inked, 40);
}

}  // namespace
}  // namespace vantrelle
