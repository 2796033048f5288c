// A storm of resizes over a long scrollback (a window's width dragged back and forth) leaves the
// process no larger, once it is over, than the same scrollback made it before.
#include <gtest/gtest.h>

#include <string>

#include "ProcessMemory.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

using process_memory::residentBytes;

void allocateAndDraw(TerminalView& view, int width, int height) {
  view.size_allocate(Gtk::Allocation(0, 0, width, height), -1);
  static_cast<CairoDrawingPath&>(view.drawingPath()).render();
}

// Lines of 150 characters, numbered, as a log of long lines gives them.
std::string longLines(int count) {
  std::string text;
  for (int i = 0; i < count; i++) {
    std::string line = std::to_string(i) + ' ';
    while (line.size() < 150) line += "abcdefghij";
    line.resize(150);
    text += line + "\r\n";
  }
  return text;
}

// Each widening joins the wrapped lines at the width's cells and each narrowing makes them anew;
// the heap those took must go back to the system when the resizes stop, not stay the process's
// for good below what is still in use.
TEST(ResizeStorm, TheMemoryTheResizesTookGoesBackOnceTheyStop) {
  testing::ensureGtk();
  const size_t start = residentBytes();
  auto view = std::make_unique<TerminalView>();
  view->cellDimension = ViewSize{8, 16};
  view->scaleFactorOverride = 1.0;
  view->changeScrollback(40'000);
  allocateAndDraw(*view, 800, 496);
  const std::string text = longLines(20'000);
  view->feed(text);
  allocateAndDraw(*view, 800, 496);
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->resizesSettling(); }));
  const size_t before = residentBytes();
  for (int trip = 0; trip < 10; trip++) {
    allocateAndDraw(*view, 1920, 1000);
    allocateAndDraw(*view, 60, 1000);
  }
  allocateAndDraw(*view, 800, 496);
  ASSERT_TRUE(view->resizesSettling());
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->resizesSettling(); }));
  const size_t after = residentBytes();
  const double took = double(before) - double(start), holds = double(after) - double(start);
  EXPECT_LE(holds, 1.5 * took) << "before " << took / 1e6 << " MB, after " << holds / 1e6 << " MB";
}

}  // namespace
}  // namespace vantrelle
