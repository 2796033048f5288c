// Underlines and strikethroughs of a small font: its own line may be thinner than a pixel, and
// drawn without antialiasing a line that thin can miss every pixel.
#include <gtest/gtest.h>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

// Whether some pixel row of the cell row `row` is lit across all of its first `cells` cells.
bool hasLineAcross(testing::Canvas& canvas, const ViewSize& cell, int row, int cells) {
  uint32_t background = canvas.pixel(canvas.width() - 1, canvas.height() - 1);
  for (int y = int(cell.height * row); y < int(cell.height * (row + 1)); y++) {
    bool lit = true;
    for (int x = 0; x < int(cell.width * cells) && lit; x++) lit = canvas.pixel(x, y) != background;
    if (lit) return true;
  }
  return false;
}

TEST(SmallFontLines, UnderlinesAndStrikethroughsShowAtEverySize) {
  testing::ensureGtk();
  for (int points : {6, 7, 8, 9, 11}) {
    Pango::FontDescription font("DejaVu Sans Mono");
    font.set_size(points * PANGO_SCALE);
    TerminalView view(font);
    testing::RecordingHost host;
    view.terminalDelegate = &host;
    view.scaleFactorOverride = 1.0;
    view.size_allocate(Gtk::Allocation(0, 0, 400, 200), -1);
    view.feed("\x1b[4mXXXXXXXX\x1b[0m\r\n\x1b[9mXXXXXXXX\x1b[0m\r\n\x1b[4:2mXXXXXXXX\x1b[0m");
    ViewSize cell = *view.cellDimension;
    testing::Canvas canvas(400, 200);
    view.drawTerminalContents(ViewRect{0, 0, 400, 200}, canvas.cr, 0);
    EXPECT_TRUE(hasLineAcross(canvas, cell, 0, 8)) << points << " pt underline";
    EXPECT_TRUE(hasLineAcross(canvas, cell, 1, 8)) << points << " pt strikethrough";
    EXPECT_TRUE(hasLineAcross(canvas, cell, 2, 8)) << points << " pt double underline";
  }
}

}  // namespace
}  // namespace vantrelle
