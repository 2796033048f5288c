// The debug overlay: status counters, slot prefixes and listed line text.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "Vantrelle/View/DebugView.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

TEST(DebugViewTest, ListsSlotsAndCountersOfTheCurrentBuffer) {
  testing::ensureGtk();
  auto view = std::make_unique<TerminalView>();
  auto debug = std::make_unique<TerminalDebugView>(*view);
  EXPECT_EQ(view->debug, debug.get());
  EXPECT_EQ(debug->dbg.get_text(), "WAITING");
  view->feed("ab\r\ncd");
  debug->update();
  EXPECT_EQ(debug->dbg.get_text().substr(0, 28), "x: 2 y: 1 yDisp: 0 yBase: 0 ");
  EXPECT_EQ(debug->slotPrefix(0), "[000]DB");
  EXPECT_EQ(debug->slotPrefix(7), "[007]  ");
  Buffer& buffer = *view->getTerminal().buffer;
  auto entry = debug->getDebugString(buffer.lines()[1].get(), 4, "[001]  ", false);
  EXPECT_EQ(entry.text, "[001]  cd  ");
  ASSERT_EQ(entry.runs.size(), 1u);
  entry = debug->getDebugString(nullptr, 4, "[X]", true);
  EXPECT_EQ(entry.text, "[X]<empty>");
  ASSERT_EQ(entry.runs.size(), 2u);
  EXPECT_TRUE(entry.runs[0].highlight);
  EXPECT_EQ(debug->getDebugString(buffer.lines()[0].get(), 0, "p", false).text, "p");
  // Drawn in a window, the listing paints and the status line sits inside it.
  {
    Gtk::Window window;
    window.set_default_size(300, 200);
    window.set_child(*debug);
    window.present();
    EXPECT_TRUE(testing::pumpUntil([&] { return debug->get_mapped() && debug->dbg.get_width() > 0; }));
    // The listing starts at the top; the status line keeps to the bottom edge.
    double x = 0, y = 0;
    ASSERT_TRUE(debug->dbg.translate_coordinates(*debug, 0, 0, x, y));
    EXPECT_EQ(y, debug->get_height() - 8 - 14);
    testing::pumpFor(std::chrono::milliseconds(50));
    window.unset_child();
  }
  // The view may go first; the overlay then shows nothing of it.
  view.reset();
  EXPECT_EQ(debug->statusText(), "WAITING");
}

}  // namespace
}  // namespace vantrelle
