// The view's bars (the find bar the user opens, the progress strip a program asks for) float over
// the rows: the program is told of no other size as they come and go, so it has no cause to redraw
// and end the selection that marks the match the find bar found; the find bar keeps every control
// in sight in a narrow or short window, and stays off the match and the caret.
#include <gdkmm/frameclock.h>
#include <gtkmm/window.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "InputTestSupport.h"
#include "TemporaryFolder.h"
#include "Vantrelle/View/LocalProcessTerminalView.h"

namespace vantrelle {
namespace {

using namespace std::chrono_literals;

struct SizeRecordingOwner : LocalProcessTerminalViewDelegate {
  std::vector<std::pair<int, int>> sizes;
  void sizeChanged(LocalProcessTerminalView&, int cols, int rows) override { sizes.emplace_back(cols, rows); }
  void setTerminalTitle(LocalProcessTerminalView&, const std::string&) override {}
  void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<std::string>&) override {}
  void processTerminated(TerminalView&, std::optional<int32_t>) override {}
};

// Where GTK placed `widget`, in the points of `target`.
bool boundsIn(Gtk::Widget& widget, Gtk::Widget& target, graphene_rect_t& bounds) {
  return gtk_widget_compute_bounds(widget.gobj(), target.gobj(), &bounds);
}

// Until a whole frame has passed from now: what its layout changes is done by its end.
void awaitFrameOf(Gtk::Window& window, TerminalView& view) {
  auto clock = window.get_frame_clock();
  const gint64 frame = clock->get_frame_counter();
  ASSERT_TRUE(testing::pumpUntil(
      [&] {
        view.queue_draw();
        return clock->get_frame_counter() > frame + 1;
      },
      5s));
}

bool barShown(TerminalView& view) { return view.findState.findBar && view.findState.findBar->get_visible(); }

// Whether the find bar lies in the lower half of the view.
bool barAtBottom(TerminalView& view) {
  graphene_rect_t bar;
  return barShown(view) && boundsIn(*view.findState.findBar, view, bar) && bar.origin.y > view.get_height() / 2.0;
}

std::string rowText(TerminalView& view, int64_t row) {
  Buffer& buffer = *view.getTerminal().buffer;
  if (row < 0 || row >= buffer.lines().count()) return "";
  return buffer.lines()[int(row)]->translateToString(true);
}

// Whether the find bar, where GTK placed it, lies over a cell from `start` up to `end` (buffer
// rows, the end's column excluded) on the rows shown.
bool barHides(TerminalView& view, Position start, Position end) {
  graphene_rect_t bar;
  if (!boundsIn(*view.findState.findBar, view, bar)) return false;
  const Buffer& buffer = *view.getTerminal().buffer;
  const ViewSize cell = *view.cellDimension;
  for (int64_t row = start.row; row <= end.row; row++) {
    const double from = row == start.row ? double(start.col) : 0.0;
    const double to = row == end.row ? double(end.col) : double(view.getTerminal().cols);
    const double top = double(row - buffer.yDisp) * cell.height;
    if (from * cell.width < bar.origin.x + bar.size.width && bar.origin.x < to * cell.width &&
        top < bar.origin.y + bar.size.height && bar.origin.y < top + cell.height)
      return true;
  }
  return false;
}

class RealInputFloatingBars : public testing::RealWindowInputTest {
 protected:
  RealInputFloatingBars()
      : RealWindowInputTest("FloatingBarsTerminal", "command -v xdotool && command -v bash && command -v less") {}

  std::unique_ptr<TerminalView> makeView() override {
    auto made = std::make_unique<LocalProcessTerminalView>();
    made->processDelegate = &owner;
    return made;
  }
  LocalProcessTerminalView& processView() { return static_cast<LocalProcessTerminalView&>(*view); }

  std::string screen() {
    const Buffer& b = *view->getTerminal().buffer;
    std::string text;
    for (int row = 0; row < b.rows(); row++) text += rowText(*view, int64_t(b.yBase) + row) + "\n";
    return text;
  }

  // One whole frame: a size that the layout it runs changes has been told by its end.
  void awaitFrame() { awaitFrameOf(*window, *view); }

  // Ctrl+Shift+C, then what the clipboard holds.
  std::string copied() {
    auto clipboard = view->get_clipboard();
    clipboard->set_text("nothing copied");
    GdkContentProvider* before = gdk_clipboard_get_content(clipboard->gobj());
    EXPECT_EQ(std::system("xdotool key ctrl+shift+c"), 0);
    // A copy puts content of its own there; a copy of nothing leaves the clipboard alone.
    testing::pumpUntil([&] { return gdk_clipboard_get_content(clipboard->gobj()) != before; }, 5s);
    auto text = std::make_shared<std::optional<std::string>>();
    clipboard->read_text_async([text, clipboard](const Glib::RefPtr<Gio::AsyncResult>& result) {
      try {
        *text = clipboard->read_text_finish(result).raw();
      } catch (const Glib::Error&) {
        *text = "";
      }
    });
    testing::pumpUntil([&] { return text->has_value(); }, 5s);
    return text->value_or("");
  }

  // Runs `command`, types `typed` at its prompt as the user would, and once `ready` holds finds
  // `term` with the bar, closes it and copies. A shell redraws its prompt when told of a new size,
  // and a full-screen program its screen: that output ended the selection of the match, and the
  // user who closed the bar had nothing to copy.
  void findCloseAndCopy(const std::string& command, const std::string& typed, const std::function<bool()>& ready,
                        const std::string& term) {
    TerminalFindBarView::findPasteboard().reset();
    processView().startProcess("/bin/sh", {"-c", command},
                               std::vector<std::string>{"TERM=xterm-256color", "PS1=$ ", "HOME=" + home.path().string(),
                                                        "LANG=C.UTF-8", "PATH=/usr/bin:/bin", "LESSHISTFILE=-"});
    if (!typed.empty()) {
      ASSERT_TRUE(
          testing::pumpUntil([&] { return rowText(*view, view->getTerminal().buffer->y).starts_with("$ "); }, 10s));
      ASSERT_EQ(std::system(("xdotool type --delay 20 '" + typed + "' && xdotool key Return").c_str()), 0);
    }
    ASSERT_TRUE(testing::pumpUntil(ready, 10s)) << "the program did not show its text: " << screen();
    awaitFrame();
    const size_t told = owner.sizes.size();

    ASSERT_EQ(std::system(("xdotool key ctrl+shift+f && xdotool type --delay 20 '" + term + "'").c_str()), 0);
    ASSERT_TRUE(
        testing::pumpUntil([&] { return view->selectionActive() && view->selection->getSelectedText() == term; }, 10s))
        << "the match of \"" << view->findState.findBar->text()
        << "\" was not selected: " << (view->selectionActive() ? view->selection->getSelectedText() : "none") << " on\n"
        << screen();
    ASSERT_EQ(std::system("xdotool key Escape"), 0);
    ASSERT_TRUE(testing::pumpUntil([&] { return !barShown(*view) && view->hasFocus(); }, 5s));
    awaitFrame();
    EXPECT_EQ(owner.sizes.size(), told) << "the program was told of another size as the bar came and went";
    EXPECT_EQ(copied(), term);
    TerminalFindBarView::findPasteboard().reset();
  }

  SizeRecordingOwner owner;
  // The shell's home and the pager's file: what they leave goes with the test.
  ::testing::TemporaryFolder home{"floating-bars"};
};

TEST_F(RealInputFloatingBars, TheMatchStaysSelectedForCopyOnceTheBarClosesOverAShell) {
  findCloseAndCopy(
      "exec bash --norc --noprofile -i", "seq 1 500",
      [&] {
        const Buffer& b = *view->getTerminal().buffer;
        const int64_t cursor = int64_t(b.yBase) + b.y;
        return rowText(*view, cursor - 1) == "500" && rowText(*view, cursor).starts_with("$ ");
      },
      "499");
}

TEST_F(RealInputFloatingBars, TheMatchStaysSelectedForCopyOnceTheBarClosesOverAFullScreenProgram) {
  const std::string numbers = (home.path() / "numbered-lines").string();
  {
    std::ofstream file(numbers);
    for (int i = 1; i <= 300; i++) file << "line " << i << "\n";
  }
  findCloseAndCopy(
      "exec less " + numbers, "",
      [&] {
        const int rows = view->getTerminal().rows;
        return view->getTerminal().isCurrentBufferAlternate() && rowText(*view, 0) == "line 1" &&
               rowText(*view, rows - 2) == "line " + std::to_string(rows - 1) && !rowText(*view, rows - 1).empty();
      },
      "line 12");
}

class RealInputBarPlacement : public testing::RealWindowInputTest {
 protected:
  RealInputBarPlacement() : RealWindowInputTest("BarPlacementTerminal", "command -v xdotool") {}

  void resizeTo(int width, int height) {
    ASSERT_EQ(std::system(("xdotool windowsize --sync " + testing::xWindowOf(*window) + " " + std::to_string(width) +
                           " " + std::to_string(height))
                              .c_str()),
              0);
    ASSERT_TRUE(testing::pumpUntil(
        [&] { return view->get_width() == width && view->get_height() == height && view->frame().width == width; }, 5s))
        << view->get_width() << "x" << view->get_height();
  }
  void openBar() {
    ASSERT_EQ(std::system("xdotool key ctrl+shift+f"), 0);
    ASSERT_TRUE(testing::pumpUntil(
        [&] {
          return barShown(*view) && view->findState.findBar->get_mapped() && view->findState.findBar->get_width() > 0;
        },
        5s));
  }
  void closeBar() {
    ASSERT_EQ(std::system("xdotool key Escape"), 0);
    ASSERT_TRUE(testing::pumpUntil([&] { return !barShown(*view) && view->hasFocus(); }, 5s));
  }
  // Waits until the bar has been laid out where it now belongs, and tells whether it lies over the
  // selection there, or over the caret.
  bool barSettlesOverSelection() {
    return barSettlesOver(
        [&] { return view->selectionActive() && barHides(*view, view->selection->start(), view->selection->end()); });
  }
  bool barSettlesOverCaret() {
    return barSettlesOver([&] {
      const Buffer& b = *view->getTerminal().buffer;
      const Position caret(b.x, int64_t(b.yBase) + b.y);
      return barHides(*view, caret, Position(caret.col + 1, caret.row));
    });
  }
  bool barSettlesOver(const std::function<bool()>& hidden) {
    bool hides = true;
    graphene_rect_t last{};
    int still = 0;
    testing::pumpUntil(
        [&] {
          graphene_rect_t now;
          if (!boundsIn(*view->findState.findBar, *view, now)) return false;
          still = graphene_rect_equal(&now, &last) ? still + 1 : 0;
          last = now;
          hides = hidden();
          return !hides || still > 20;
        },
        5s);
    return hides;
  }
};

// In a window 300 points wide or 60 to 90 high the program keeps the rows it is shown, and the
// bar shows every control whole; the options go below the field where one row cannot hold them.
TEST_F(RealInputBarPlacement, InANarrowOrShortWindowTheProgramKeepsItsRowsAndTheBarShowsItsControlsWhole) {
  struct Size {
    int width, height;
    bool optionsShown;
  };
  const double cellHeight = view->cellDimension->height;
  for (const Size& size :
       {Size{300, 400, true}, Size{640, 90, true}, Size{640, 60, true}, Size{300, 90, true}, Size{300, 70, false}}) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    resizeTo(size.width, size.height);
    const int rows = view->getTerminal().rows;
    EXPECT_LE(rows * cellHeight, size.height + 1e-9) << "the program is told of rows the view cannot show";
    host.sizes.clear();
    openBar();
    TerminalFindBarView& bar = *view->findState.findBar;
    graphene_rect_t barBounds;
    ASSERT_TRUE(testing::pumpUntil([&] { return boundsIn(bar, *view, barBounds) && barBounds.size.width > 0; }));
    EXPECT_EQ(view->getTerminal().rows, rows);
    EXPECT_TRUE(host.sizes.empty()) << "the program was told of " << host.sizes.back().second << " rows";
    Gtk::Widget* controls[] = {&bar.searchField,         &bar.previousButton, &bar.nextButton,     &bar.closeButton,
                               &bar.caseSensitiveButton, &bar.regexButton,    &bar.wholeWordButton};
    int shown = 0;
    for (Gtk::Widget* control : controls) {
      graphene_rect_t r;
      if (!control->is_drawable() || !boundsIn(*control, *view, r)) continue;
      shown++;
      const std::string name = control->get_tooltip_text().empty() ? "the field" : control->get_tooltip_text().raw();
      EXPECT_GE(r.origin.x, barBounds.origin.x) << name;
      EXPECT_GE(r.origin.y, barBounds.origin.y) << name;
      EXPECT_LE(r.origin.x + r.size.width, std::min<float>(barBounds.origin.x + barBounds.size.width, size.width))
          << name << " is cut off";
      EXPECT_LE(r.origin.y + r.size.height, std::min<float>(barBounds.origin.y + barBounds.size.height, size.height))
          << name << " is cut off";
    }
    EXPECT_EQ(shown, size.optionsShown ? 7 : 4);
    closeBar();
  }
}

// A match the bar lies over is brought out from under it: scrolled below it where the scrollback
// allows; where it does not (the top of the scrollback, the other screen) the bar goes to the
// bottom corner, and in a window too short for that it narrows. Once a click gives the keys back
// to the terminal and lets the match go, the bar keeps off the caret.
TEST_F(RealInputBarPlacement, TheBarKeepsOffTheMatchAndOffTheCaretOnceTheKeysGoToTheTerminal) {
  resizeTo(300, 400);
  const int rows = view->getTerminal().rows;
  std::string scrolled;
  for (int i = 1; i <= 100; i++) scrolled += "row " + std::to_string(i) + "\r\n";
  struct Case {
    const char* name;
    int height;
    std::string output;
    std::string term;
    bool scrolls;  // else the bar moves
    bool atBottom;
  };
  const std::string second = std::to_string(100 - rows + 3);
  const std::vector<Case> cases = {
      {"under the bar with scrollback above", 400, scrolled, "row " + second, true, false},
      {"at the top of the scrollback", 400, "first\r\nsecond\r\nthird\r\n\r\n\r\n\r\n\r\n", "second", false, true},
      {"on the other screen", 400, "\x1b[?1049h\x1b[2J\x1b[1;1Hon top\x1b[8;1H", "on top", false, true},
      {"in a window too short for the bar to leave a row free", 70, "first\r\nsecond\r\nthird", "second", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    resizeTo(300, c.height);
    feed("\x1b[?1049l\x1b[2J\x1b[3J\x1b[H" + c.output);
    testing::pumpUntil([&] { return !barShown(*view); });
    const int top = view->getTerminal().buffer->yDisp;
    TerminalFindBarView::findPasteboard() = c.term;
    openBar();
    ASSERT_TRUE(testing::pumpUntil([&] { return view->selectionActive(); }, 5s));
    graphene_rect_t bar{};
    EXPECT_FALSE(barSettlesOverSelection() && boundsIn(*view->findState.findBar, *view, bar))
        << "the bar at " << bar.origin.x << "," << bar.origin.y << " " << bar.size.width << "x" << bar.size.height
        << " hides the match";
    EXPECT_EQ(view->getTerminal().buffer->yDisp != top, c.scrolls);
    EXPECT_EQ(barAtBottom(*view), c.atBottom);
    closeBar();
  }
  resizeTo(300, 400);
  // A match across the top row, the caret on the bottom one: the bar at the bottom leaves the match
  // in sight; a click into the terminal lets the match go, and the bar keeps off the caret.
  feed("\x1b[?1049h\x1b[2J\x1b[1;1Hacross the top row\x1b[" + std::to_string(rows) + ";11H");
  TerminalFindBarView::findPasteboard() = "across the top row";
  openBar();
  ASSERT_TRUE(testing::pumpUntil([&] { return view->selectionActive(); }, 5s));
  EXPECT_FALSE(barSettlesOverSelection());
  EXPECT_TRUE(barAtBottom(*view));
  ASSERT_EQ(std::system(("xdotool " + pointerAtCell(2, rows / 2) + " click 1").c_str()), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->hasFocus() && !barAtBottom(*view); }, 5s));
  EXPECT_FALSE(barSettlesOverCaret()) << "the bar hides the caret";
  EXPECT_TRUE(barShown(*view));
  TerminalFindBarView::findPasteboard().reset();
}

// A progress report that comes and goes changes nothing the program was told, even where the
// view's height is a whole number of rows.
TEST_F(RealInputBarPlacement, TheProgressStripTakesNoRow) {
  resizeTo(640, int(std::ceil(20 * view->cellDimension->height)));
  ASSERT_EQ(view->getTerminal().rows, 20);
  host.sizes.clear();
  auto strip = view->progress.progressBarView.get();
  view->feed("\x1b]9;4;1;50\x07");
  ASSERT_TRUE(testing::pumpUntil([&] { return strip->get_mapped() && strip->get_width() > 0; }, 5s));
  view->feed("\x1b]9;4;0\x07");
  ASSERT_TRUE(testing::pumpUntil([&] { return !strip->get_visible(); }, 5s));
  awaitFrameOf(*window, *view);
  EXPECT_EQ(view->getTerminal().rows, 20);
  EXPECT_TRUE(host.sizes.empty()) << "the program was told of " << host.sizes.front().second << " rows";
}

}  // namespace
}  // namespace vantrelle
