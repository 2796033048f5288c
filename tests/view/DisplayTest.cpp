// Redraw coalescing, immediate redraws after typing, synchronized output, changed-row redraws,
// the caret's place, scrolling and painted cell colours.
#include <gtest/gtest.h>
#include <gtkmm/adjustment.h>

#include <cmath>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

class Display : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
    view->cellDimension = ViewSize{10, 17};
    view->scaleFactorOverride = 1.0;
    // 80 columns beside the scroller's strip.
    strip = testing::scrollerStrip(*view);
    view->size_allocate(Gtk::Allocation(0, 0, 800 + strip, 340), -1);
  }
  CairoDrawingPath& cairoPath() { return static_cast<CairoDrawingPath&>(view->drawingPath()); }
  // The pixel at a point of the view after bringing the backing surface up to date.
  uint32_t pixelAt(int x, int y) {
    cairo_surface_t* surface = cairoPath().render();
    cairo_surface_flush(surface);
    auto* data = cairo_image_surface_get_data(surface);
    return *reinterpret_cast<uint32_t*>(data + size_t(y) * cairo_image_surface_get_stride(surface) + size_t(x) * 4);
  }
  Terminal& terminal() { return view->getTerminal(); }
  testing::RecordingHost host;
  std::unique_ptr<TerminalView> view;
  int strip = 0;
};

TEST_F(Display, TheFrameBecomesTheGrid) {
  EXPECT_EQ(terminal().cols, 80);
  EXPECT_EQ(terminal().rows, 20);
}

TEST_F(Display, ManyFeedsWithinOneIntervalGiveOneRedraw) {
  uint64_t before = view->displayCount;
  for (int i = 0; i < 50; i++) view->feed("line\r\n");
  EXPECT_EQ(view->displayCount, before);
  EXPECT_TRUE(testing::pumpUntil([&] { return !view->pendingDisplay; }));
  EXPECT_EQ(view->displayCount, before + 1);
}

// Output that comes a line a read, as a program writes it, leaves the rows it scrolls into the
// scrollback whole while it lasts, however few each read scrolls; once it rests, they are packed.
TEST_F(Display, ScrolledRowsArePackedOnceTheOutputRests) {
  for (int i = 0; i < 1000; i++) view->feed("line " + std::to_string(i) + std::string(60, '.') + "\r\n");
  Buffer& buffer = *terminal().buffer;
  const BufferLine& newest = *buffer.lines()[buffer.yBase - 1];
  ASSERT_EQ(newest.translateToString(true).substr(0, 9), "line 980.");
  EXPECT_FALSE(newest.isCompact());
  EXPECT_TRUE(testing::pumpUntil([&] { return newest.isCompact(); }));
  EXPECT_TRUE(buffer.lines()[0]->isCompact());
}

TEST_F(Display, OutputRightAfterTypingIsDrawnAtOnce) {
  view->send(std::string("x"));
  uint64_t before = view->displayCount;
  view->feed("x");
  EXPECT_EQ(view->displayCount, before + 1);
  EXPECT_FALSE(view->pendingDisplay);
  {
    std::lock_guard<std::mutex> lock(view->userInputLock);
    view->lastUserInputUptimeNs -= 200'000'000;
  }
  view->feed("y");
  EXPECT_EQ(view->displayCount, before + 1);
  EXPECT_TRUE(view->pendingDisplay);
}

uint64_t monotonicNs() {
  return uint64_t(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

// Moves the last keystroke back in time, past the frame interval in which output answers it.
void typedAgo(TerminalView& view, uint64_t ns) {
  std::lock_guard<std::mutex> lock(view.userInputLock);
  view.lastUserInputUptimeNs = monotonicNs() - ns;
}

// While the user types, output that answers no keystroke leaves the frame clock free for the next
// echo: one redraw, two frame intervals after the last frame, and never held back for long.
TEST_F(Display, OutputWhileTypingIsSpacedFromTheLastFrame) {
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->pendingDisplay; }));
  view->send(std::string("x"));
  view->feed("x");
  typedAgo(*view, 30'000'000);
  view->framePacing.frameHandedOver(monotonicNs());
  uint64_t due = view->framePacing.lastFrameNs() + TerminalView::typingOutputFrameSpacingNs;
  uint64_t before = view->displayCount;
  view->feed("y");
  view->feed("z");
  EXPECT_EQ(view->displayCount, before);
  EXPECT_NE(view->typingDisplayQueuedNs, 0u);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->typingDisplayQueuedNs == 0; }));
  EXPECT_GE(monotonicNs(), due);

  // A last frame far ahead must not keep the output off the screen.
  typedAgo(*view, 30'000'000);
  view->framePacing.frameHandedOver(monotonicNs() + 60'000'000'000);
  view->feed("w");
  EXPECT_TRUE(testing::pumpUntil([&] { return view->typingDisplayQueuedNs == 0; }, std::chrono::seconds(10)));
}

// Output that comes right after a keystroke is drawn at once even when it is not the first; a
// keystroke whose echo has not come yet holds other output back for a frame interval.
TEST_F(Display, AKeystrokeKeepsTheNextFrameForItsEcho) {
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->pendingDisplay; }));
  view->send(std::string("k"));
  uint64_t before = view->displayCount;
  view->feed("other");
  typedAgo(*view, 0);
  view->feed("k");
  EXPECT_EQ(view->displayCount, before + 2);

  typedAgo(*view, 30'000'000);
  view->framePacing.frameHandedOver(0);
  view->feed("more");
  uint64_t typed = monotonicNs();
  view->send(std::string("j"));
  ASSERT_TRUE(testing::pumpUntil([&] { return view->typingDisplayQueuedNs == 0; }));
  EXPECT_GE(monotonicNs(), typed + TerminalView::displayCoalescingNs);
}

TEST_F(Display, SynchronizedOutputHoldsRedrawsUntilItEnds) {
  view->feed("\x1b[?2026h");
  testing::pumpUntil([&] { return !view->pendingDisplay; });
  view->feed("held");
  EXPECT_FALSE(view->pendingDisplay);
  view->feed("\x1b[?2026l");
  EXPECT_TRUE(view->pendingDisplay);
  EXPECT_TRUE(testing::pumpUntil([&] { return !view->pendingDisplay; }));
}

TEST_F(Display, ARedrawLaysOutOnlyTheChangedRowsAndTheOneBelow) {
  view->feed("first\r\nsecond\r\n");
  view->updateDisplay(false);
  cairoPath().render();
  EXPECT_EQ(view->rowsDrawnInLastPass(), 20);
  view->feed("\x1b[5;1H");
  view->updateDisplay(false);
  cairoPath().render();
  // The changed row, the row below it, and the row the rectangle's lower edge touches.
  view->feed("changed");
  view->updateDisplay(false);
  cairoPath().render();
  EXPECT_EQ(view->rowsDrawnInLastPass(), 3);
  cairoPath().render();
  EXPECT_EQ(view->rowsDrawnInLastPass(), 0);
  view->feed("\x1b[20;1H");
  view->updateDisplay(false);
  cairoPath().render();
  view->feed("bottom");
  view->updateDisplay(false);
  cairoPath().render();
  EXPECT_EQ(view->rowsDrawnInLastPass(), 1);
}

// A frame copies and uploads only the bands of pixel rows it repainted; the rest keep their nodes.
TEST_F(Display, AChangedRowRemakesOnlyTheBandsItTouches) {
  auto handOver = [&] {
    auto snapshot = Gtk::Snapshot::create();
    EXPECT_TRUE(cairoPath().snapshot(snapshot));
    return cairoPath().bandNodes();
  };
  view->feed("\x1b[10;1H");
  view->updateDisplay(false);
  auto before = handOver();
  ASSERT_EQ(before.size(), size_t((340 + 31) / 32));
  // Held, so that a remade band cannot take the address of the node it replaced.
  std::vector<std::unique_ptr<GskRenderNode, void (*)(GskRenderNode*)>> held;
  for (GskRenderNode* node : before) held.emplace_back(gsk_render_node_ref(node), gsk_render_node_unref);
  view->feed("changed");
  view->updateDisplay(false);
  auto after = handOver();
  ASSERT_EQ(after.size(), before.size());
  // Row 9 spans pixels 153-170, and the row below it is repainted too: bands 4 and 5 only.
  for (size_t band = 0; band < after.size(); band++) {
    EXPECT_EQ(after[band] != before[band], band == 4 || band == 5) << band;
  }
  EXPECT_EQ(handOver(), after);
}

// Rows repainted as they were (passed over by a cursor that went to write a row far above and
// came back, or written again with the same text) keep their bands' nodes.
TEST_F(Display, RowsRepaintedAsTheyWereKeepTheirBands) {
  auto handOver = [&] {
    auto snapshot = Gtk::Snapshot::create();
    EXPECT_TRUE(cairoPath().snapshot(snapshot));
    return cairoPath().bandNodes();
  };
  for (int row = 0; row < 20; row++) view->feed("row " + std::to_string(row) + " of text\r\n");
  view->updateDisplay(false);
  auto before = handOver();
  std::vector<std::unique_ptr<GskRenderNode, void (*)(GskRenderNode*)>> held;
  for (GskRenderNode* node : before) held.emplace_back(gsk_render_node_ref(node), gsk_render_node_unref);
  // Row 2 (pixels 34-51, band 1) changes; the rows down to the cursor's are repainted as they were.
  view->feed(
      "\x1b"
      "7\x1b[3;1Hrow 2 of TEXT\x1b"
      "8");
  view->updateDisplay(false);
  auto after = handOver();
  ASSERT_EQ(after.size(), before.size());
  for (size_t band = 0; band < after.size(); band++) EXPECT_EQ(after[band] != before[band], band == 1) << band;
  view->feed("\x1b[3;1Hrow 2 of TEXT\x1b[21;1H");
  view->updateDisplay(false);
  EXPECT_EQ(handOver(), after);
}

TEST_F(Display, CellsArePaintedInTheirColours) {
  view->feed("\x1b[41m  \x1b[0m\x1b[48;2;0;0;255m \x1b[0m");
  view->updateDisplay(false);
  uint32_t red = pixelAt(5, 8), blue = pixelAt(25, 8);
  Color c1 = terminal().ansiColors[1];
  EXPECT_EQ((red >> 16) & 0xff, uint32_t(c1.red >> 8));
  EXPECT_EQ(blue & 0xffffff, 0x0000ffu);
  EXPECT_EQ(pixelAt(35, 8) >> 24, 0xffu);  // default background reaches the right edge
}

TEST_F(Display, GlyphsSitInTheirCellsAndUnderlinesSpanThem) {
  view->feed("\x1b[1;6H\x1b[4mX\x1b[0m");
  view->updateDisplay(false);
  auto inked = [&](int x0, int x1, int y0, int y1) {
    int count = 0;
    for (int y = y0; y < y1; y++) {
      for (int x = x0; x < x1; x++) {
        uint32_t p = pixelAt(x, y);
        if ((p & 0xff) > 0x40) count++;
      }
    }
    return count;
  };
  EXPECT_GT(inked(50, 60, 0, 17), 5);
  EXPECT_EQ(inked(0, 50, 0, 17), 0);
  EXPECT_EQ(inked(60, 800, 0, 17), 0);
  // The underline runs the full cell width below the baseline.
  int underlineRow = -1;
  for (int y = 10; y < 17 && underlineRow < 0; y++) {
    if ((pixelAt(50, y) & 0xff) > 0x40 && (pixelAt(59, y) & 0xff) > 0x40) underlineRow = y;
  }
  EXPECT_GE(underlineRow, 10);
}

TEST_F(Display, TheCaretFollowsTheCursorAndLeavesWhenScrolledBack) {
  view->feed("abc");
  view->updateDisplay(false);
  EXPECT_EQ(view->caretFrame().x, 30);
  EXPECT_EQ(view->caretFrame().y, 0);
  EXPECT_TRUE(view->caretView->get_parent());
  view->feed("\x1b#6");
  view->updateDisplay(false);
  EXPECT_EQ(view->caretFrame().x, 60);
  EXPECT_EQ(view->caretFrame().width, 20);
  view->feed("\x1b[?25l");
  view->updateDisplay(false);
  EXPECT_FALSE(view->caretView->get_parent());
  view->feed("\x1b[?25h");
  for (int i = 0; i < 40; i++) view->feed("\r\nline");
  view->updateDisplay(false);
  EXPECT_TRUE(view->caretView->get_parent());
  view->scrollTo(0, false);
  EXPECT_FALSE(view->caretView->get_parent());
}

TEST_F(Display, ScrollingMovesTheWindowAndTellsTheHost) {
  for (int i = 0; i < 100; i++) view->feed("line " + std::to_string(i) + "\r\n");
  EXPECT_TRUE(view->canScroll());
  view->scrollTo(0, false);
  EXPECT_TRUE(view->userScrolling);
  EXPECT_EQ(view->scrollPosition(), 0);
  view->scroll(1.0);
  EXPECT_FALSE(view->userScrolling);
  EXPECT_EQ(view->scrollPosition(), 1.0);
  ASSERT_FALSE(host.scrolls.empty());
  EXPECT_EQ(host.scrolls.back(), 1.0);
  size_t told = host.scrolls.size();
  view->scrollTo(terminal().buffer->yDisp, false);
  EXPECT_EQ(host.scrolls.size(), told);
  view->pageUp();
  EXPECT_EQ(terminal().buffer->yDisp, terminal().buffer->yBase - 20);
  view->send(std::string("k"));
  EXPECT_EQ(terminal().buffer->yDisp, terminal().buffer->yBase);
}

TEST_F(Display, TheThumbIsTheVisibleShareWithAFloor) {
  view->changeScrollback(20000);
  for (int i = 0; i < 980; i++) view->feed("\r\n");
  int count = terminal().buffer->lines().count();
  EXPECT_GT(count, 900);
  EXPECT_DOUBLE_EQ(view->scrollThumbsize(), 20.0 / count);
  for (int i = 0; i < 9000; i++) view->feed("\r\n");
  EXPECT_DOUBLE_EQ(view->scrollThumbsize(), 0.01);
}

TEST_F(Display, TheAlternateScreenHasNoScrollbackAndPagesGoToTheProgram) {
  for (int i = 0; i < 50; i++) view->feed("\r\n");
  view->feed("\x1b[?1049h");
  EXPECT_EQ(view->scrollPosition(), 0);
  EXPECT_EQ(view->scrollThumbsize(), 0);
  EXPECT_FALSE(view->canScroll());
  host.sent.clear();
  view->pageUp();
  view->pageDown();
  EXPECT_EQ(host.sent, "\x1b[5~\x1b[6~");
}

TEST_F(Display, FeedingClearsTheSelectionWhileMouseReportingIsAllowed) {
  view->selection->setSelection(Position(0, 0), Position(3, 0));
  view->feed("x");
  EXPECT_FALSE(view->selectionActive());
  view->allowMouseReporting = false;
  view->selection->setSelection(Position(0, 0), Position(3, 0));
  view->feed("y");
  EXPECT_TRUE(view->selectionActive());
  EXPECT_EQ(view->getSelection(), std::optional<std::string>("xy"));
  view->selectNone();
  EXPECT_EQ(view->getSelection(), std::nullopt);
  EXPECT_EQ(view->selection->selectionMode, SelectionService::SelectionMode::character);
  view->selectNone();
  EXPECT_FALSE(view->selectionActive());
  view->selectAll();
  EXPECT_TRUE(view->selectionActive());
  view->cellDimension = ViewSize{10, 17};
  view->processSizeChange({500, 170});
  EXPECT_FALSE(view->selectionActive());
}

TEST_F(Display, EveryRowOfTheScrollbackIsReachableByItsPosition) {
  for (int i = 0; i < 300; i++) view->feed("line " + std::to_string(i) + "\r\n");
  int max = terminal().buffer->lines().count() - terminal().rows;
  ASSERT_GT(max, 250);
  // row / max read back as a position must land on the same row, including the rows where a
  // plain truncation of the product falls one short.
  for (int row = 0; row <= max; row++) {
    view->scroll(double(row) / max);
    ASSERT_EQ(terminal().buffer->yDisp, row) << "of " << max;
  }
  view->scroll(std::nan(""));
  EXPECT_EQ(terminal().buffer->yDisp, 0);
  view->scroll(7.5);
  EXPECT_EQ(terminal().buffer->yDisp, max);
  view->scroll(-3);
  EXPECT_EQ(terminal().buffer->yDisp, 0);
}

TEST_F(Display, TheScrollbarPagesAndFollowsItsKnob) {
  for (int i = 0; i < 100; i++) view->feed("line " + std::to_string(i) + "\r\n");
  int bottom = terminal().buffer->yBase;
  view->scrollerActivated(TerminalView::ScrollerPart::decrementPage);
  EXPECT_EQ(terminal().buffer->yDisp, bottom - 20);
  EXPECT_DOUBLE_EQ(view->scrollerValue(), view->scrollPosition());
  view->scrollerActivated(TerminalView::ScrollerPart::incrementPage);
  EXPECT_EQ(terminal().buffer->yDisp, bottom);
  // Moving the knob scrolls there, with the host told.
  view->setScrollerValue(0);
  EXPECT_EQ(terminal().buffer->yDisp, 0);
  EXPECT_EQ(host.scrolls.back(), 0);
  view->scrollerActivated(TerminalView::ScrollerPart::knobSlot);
  EXPECT_EQ(terminal().buffer->yDisp, 0);
}

// A feed that scrolls many lines (a build log, `yes`) tells the scroller and the host where it
// ended, once: updating them at every line cost more than the lines themselves.
TEST_F(Display, AFeedThatScrollsManyLinesShowsWhereItEndsOnce) {
  std::string lines;
  for (int i = 0; i < 500; i++) lines += "line " + std::to_string(i) + "\r\n";
  host.scrolls.clear();
  view->feed(lines);
  ASSERT_EQ(host.scrolls.size(), 1u);
  EXPECT_DOUBLE_EQ(host.scrolls.back(), view->scrollPosition());
  auto adjustment = view->scrollerWidget()->get_adjustment();
  const double value = adjustment->get_value(), page = adjustment->get_page_size();
  view->updateScroller();
  EXPECT_DOUBLE_EQ(adjustment->get_value(), value);
  EXPECT_DOUBLE_EQ(adjustment->get_page_size(), page);
  EXPECT_LT(page, 0.1);
}

TEST_F(Display, ANegativeScrollbackSizeKeepsAWholeScreen) {
  for (int i = 0; i < 100; i++) view->feed("line " + std::to_string(i) + "\r\n");
  view->changeScrollback(-50);
  EXPECT_EQ(terminal().buffer->lines().count(), terminal().rows);
  EXPECT_EQ(terminal().options.scrollback, 0);
  for (int i = 0; i < 30; i++) view->feed("more\r\n");
  EXPECT_EQ(terminal().buffer->lines().count(), terminal().rows);
  EXPECT_FALSE(view->canScroll());
}

TEST_F(Display, ResizingTheViewLetsGoOfTheSelection) {
  view->feed("hello");
  view->selection->setSelection(Position(0, 0), Position(3, 0));
  // A relayout at the same size keeps it.
  view->size_allocate(Gtk::Allocation(0, 0, 800 + strip, 340), -1);
  EXPECT_TRUE(view->selectionActive());
  // A change smaller than a cell leaves the grid alone but still moves the view.
  view->size_allocate(Gtk::Allocation(0, 0, 805 + strip, 340), -1);
  EXPECT_EQ(terminal().cols, 80);
  EXPECT_FALSE(view->selectionActive());
}

TEST_F(Display, EdgesOutsideTheGridTakeTheNativeBackground) {
  view->size_allocate(Gtk::Allocation(0, 0, 805 + strip, 345), -1);
  ASSERT_EQ(terminal().cols, 80);
  ASSERT_EQ(terminal().rows, 20);
  view->setNativeBackgroundColor(ViewColor(1, 0, 0, 1));
  view->feed("\x1b[2;80H\x1b[44m \x1b[0m");
  view->selection->setSelection(Position(70, 0), Position(79, 0));
  view->setNeedsDisplay();
  // A selected run reaching the last column: selection colour up to it, native beyond.
  EXPECT_EQ(pixelAt(795, 8) & 0xffffff, 0x00a6b2u);
  EXPECT_EQ(pixelAt(802, 8) & 0xffffff, 0xff0000u);
  // A coloured run there stops at the grid too.
  const Color& blue = terminal().ansiColors[4];
  EXPECT_EQ(pixelAt(795, 25) & 0xffffff,
            uint32_t(blue.red >> 8) << 16 | uint32_t(blue.green >> 8) << 8 | uint32_t(blue.blue >> 8));
  EXPECT_EQ(pixelAt(802, 25) & 0xffffff, 0xff0000u);
  // The strip below the last whole row.
  EXPECT_EQ(pixelAt(5, 342) & 0xffffff, 0xff0000u);
  EXPECT_EQ(pixelAt(700, 343) & 0xffffff, 0xff0000u);
}

TEST_F(Display, DoubleWidthLinesDrawEveryCellTwiceAsWide) {
  view->setNativeBackgroundColor(ViewColor::white());
  view->feed("\x1b#6 \x1b[41m \x1b[0m");
  view->setNeedsDisplay();
  uint32_t red = (uint32_t(terminal().ansiColors[1].red >> 8) << 16) |
                 (uint32_t(terminal().ansiColors[1].green >> 8) << 8) | uint32_t(terminal().ansiColors[1].blue >> 8);
  EXPECT_EQ(pixelAt(15, 8) & 0xffffff, 0xffffffu);
  EXPECT_EQ(pixelAt(25, 8) & 0xffffff, red);
  EXPECT_EQ(pixelAt(38, 8) & 0xffffff, red);
  EXPECT_EQ(pixelAt(42, 8) & 0xffffff, 0xffffffu);
}

}  // namespace
}  // namespace vantrelle

namespace vantrelle {
namespace {

// Short pieces are shaped once and kept across frames; what a view draws after its font changed
// must still be what a view made with that font draws.
TEST(ShapedPieces, OneCellPiecesDrawAsAFreshViewDrawsThemAfterAFontChange) {
  testing::ensureGtk();
  auto pixels = [](TerminalView& view) {
    view.scaleFactorOverride = 1.0;
    view.size_allocate(Gtk::Allocation(0, 0, 400, 120), -1);
    view.setNeedsDisplay();
    cairo_surface_t* surface = static_cast<CairoDrawingPath&>(view.drawingPath()).render();
    cairo_surface_flush(surface);
    auto* data = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface));
    size_t count = size_t(cairo_image_surface_get_stride(surface)) / 4 * cairo_image_surface_get_height(surface);
    return std::vector<uint32_t>(data, data + count);
  };
  const std::string text = "\x1b[31mW\x1b[32mi\x1b[1mW\x1b[22;3m#\x1b[0;4mQ\x1b[0m plain";
  TerminalView reused;
  reused.feed(text);
  pixels(reused);
  Pango::FontDescription larger = TerminalView::defaultFont();
  larger.set_size(larger.get_size() * 2);
  reused.setFont(larger);
  TerminalView fresh(larger);
  fresh.feed(text);
  EXPECT_TRUE(pixels(reused) == pixels(fresh));
}

}  // namespace
}  // namespace vantrelle
