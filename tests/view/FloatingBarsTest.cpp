// The view's bars (the find bar the user opens, the progress strip a program asks for) float over
// the rows: the program is told of no other size as they come and go, so it has no cause to redraw
// and end the selection that marks the match the find bar found; the find bar keeps every control
// in sight in a narrow or short window, and stays off the match and the line the user types on,
// as a link's preview stays off the link.
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

void resizeWindow(Gtk::Window& window, TerminalView& view, int width, int height) {
  ASSERT_EQ(std::system(("xdotool windowsize --sync " + testing::xWindowOf(window) + " " + std::to_string(width) + " " +
                         std::to_string(height))
                            .c_str()),
            0);
  ASSERT_TRUE(testing::pumpUntil(
      [&] { return view.get_width() == width && view.get_height() == height && view.frame().width == width; }, 5s))
      << view.get_width() << "x" << view.get_height();
}

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

// The caret's row from its first column up to its text's end or past the caret, and the rows
// before it that the same line wraps over: what the user types on.
std::vector<std::pair<Position, Position>> typingLine(TerminalView& view) {
  Buffer& buffer = *view.getTerminal().buffer;
  const int64_t caret = int64_t(buffer.yBase) + buffer.y;
  const BufferLine& line = *buffer.lines()[int(caret)];
  std::vector<std::pair<Position, Position>> rows{
      {Position(0, caret), Position(std::max<int64_t>(buffer.x + 1, line.getTrimmedLength()), caret)}};
  for (int64_t row = caret; row > buffer.yDisp && buffer.lines()[int(row)]->isWrapped(); row--) {
    rows.emplace_back(Position(0, row - 1), Position(buffer.lines()[int(row - 1)]->getTrimmedLength(), row - 1));
  }
  return rows;
}

// The text of that line, the rows it wraps over joined.
std::string typedText(TerminalView& view) {
  Buffer& buffer = *view.getTerminal().buffer;
  int64_t row = int64_t(buffer.yBase) + buffer.y;
  std::string text = buffer.lines()[int(row)]->translateToString(true);
  while (row > 0 && buffer.lines()[int(row)]->isWrapped())
    text = buffer.lines()[int(--row)]->translateToString() + text;
  return text;
}

bool barHidesTypingLine(TerminalView& view) {
  for (const auto& [start, end] : typingLine(view)) {
    if (barHides(view, start, end)) return true;
  }
  return false;
}

bool barHidesMatch(TerminalView& view) {
  return view.selectionActive() && barHides(view, view.selection->start(), view.selection->end());
}

std::string barWhere(TerminalView& view) {
  graphene_rect_t bar{};
  if (!barShown(view) || !boundsIn(*view.findState.findBar, view, bar)) return "the bar is not shown";
  return "the bar at " + std::to_string(int(bar.origin.x)) + "," + std::to_string(int(bar.origin.y)) + " " +
         std::to_string(int(bar.size.width)) + "x" + std::to_string(int(bar.size.height));
}

// Waits until `floating` has been laid out where it now belongs, and tells whether `hidden` holds
// there: once it has been given a place, it is where it stays when two whole frames have left it
// there.
bool settlesOver(Gtk::Widget& floating, TerminalView& view, const std::function<bool()>& hidden) {
  auto* window = dynamic_cast<Gtk::Window*>(view.get_root());
  EXPECT_TRUE(window && testing::pumpUntil([&] { return floating.get_mapped() && floating.get_width() > 0; }, 5s));
  if (!window) return true;
  graphene_rect_t last{}, now{};
  for (int frames = 0, still = 0; still < 2 && frames < 100; frames++) {
    awaitFrameOf(*window, view);
    if (!boundsIn(floating, view, now)) return true;
    still = graphene_rect_equal(&now, &last) ? still + 1 : 0;
    last = now;
  }
  return hidden();
}

bool barSettlesOver(TerminalView& view, const std::function<bool()>& hidden) {
  return settlesOver(*view.findState.findBar, view, hidden);
}

// The window sizes in which the bar, whole in its corner, lay over a pager's third row.
struct WindowSize {
  int width, height;
};
constexpr WindowSize shortWindows[] = {{800, 120}, {800, 90}, {400, 120}};

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

  void start(const std::string& command) {
    TerminalFindBarView::findPasteboard().reset();
    processView().startProcess("/bin/sh", {"-c", command},
                               std::vector<std::string>{"TERM=xterm-256color", "PS1=$ ", "HOME=" + home.path().string(),
                                                        "LANG=C.UTF-8", "PATH=/usr/bin:/bin", "LESSHISTFILE=-"});
  }
  bool atPrompt() {
    const Buffer& b = *view->getTerminal().buffer;
    return rowText(*view, int64_t(b.yBase) + b.y) == "$ " && b.x == 2;
  }
  void type(const std::string& text) { ASSERT_EQ(std::system(("xdotool type --delay 10 '" + text + "'").c_str()), 0); }
  void openBarAndFind(const std::string& term) {
    // Over what the field was filled with.
    ASSERT_EQ(std::system(("xdotool key ctrl+shift+f ctrl+a && xdotool type --delay 20 '" + term + "'").c_str()), 0);
    ASSERT_TRUE(testing::pumpUntil(
        [&] {
          return barShown(*view) && view->findState.findBar->text() == term && view->findState.findBarTerm == term;
        },
        10s));
  }
  void closeBar() {
    // The keys go to the field once more, and Escape there closes the bar.
    ASSERT_EQ(std::system("xdotool key ctrl+shift+f Escape"), 0);
    ASSERT_TRUE(testing::pumpUntil([&] { return !barShown(*view) && view->hasFocus(); }, 5s));
    TerminalFindBarView::findPasteboard().reset();
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

// A pager's lines end at the right edge, where the bar lies whole in its corner; in a short window
// no corner left the match on the third row in sight, and the bar covered it.
TEST_F(RealInputFloatingBars, InAShortWindowAPagersMatchAndPromptStayInSight) {
  const std::string items = (home.path() / "list").string();
  {
    std::ofstream file(items);
    for (int i = 1; i <= 300; i++) file << std::string(95 - std::to_string(i).size() - 4, ' ') << "item" << i << "\n";
  }
  start("exec less " + items);
  for (const WindowSize& size : shortWindows) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    resizeWindow(*window, *view, size.width, size.height);
    // Each size's search starts afresh.
    view->clearSearch();
    const int rows = view->getTerminal().rows;
    // The item on the third row, or the first below it where lines wrap.
    std::string term;
    ASSERT_TRUE(testing::pumpUntil(
        [&] {
          term.clear();
          // Its prompt, the file's name at first, on the last row once it has drawn the screen anew.
          const std::string prompt = rowText(*view, rows - 1);
          if (!view->getTerminal().isCurrentBufferAlternate() || prompt.empty() || prompt.find("item") != prompt.npos)
            return false;
          for (int row = 2; row < rows - 1 && term.empty(); row++) {
            const std::string text = rowText(*view, row);
            if (auto at = text.find("item"); at != std::string::npos) term = text.substr(at);
          }
          return rowText(*view, 0).find("item1") != std::string::npos && !term.empty();
        },
        10s))
        << screen();
    openBarAndFind(term);
    ASSERT_TRUE(
        testing::pumpUntil([&] { return view->selectionActive() && view->selection->getSelectedText() == term; }, 10s))
        << (view->selectionActive() ? view->selection->getSelectedText() : "no selection") << " for " << term << "\n"
        << screen();
    EXPECT_FALSE(barSettlesOver(*view, [&] { return barHidesMatch(*view) || barHidesTypingLine(*view); }))
        << barWhere(*view) << " hides " << (barHidesMatch(*view) ? "the match " + term : "the prompt");
    closeBar();
  }
}

// At the top of a shell's scrollback the match on the third row cannot be scrolled below the bar.
TEST_F(RealInputFloatingBars, AtTheTopOfAShellsScrollbackTheMatchStaysInSight) {
  start("exec bash --norc --noprofile -i");
  ASSERT_TRUE(testing::pumpUntil([&] { return atPrompt(); }, 10s));
  // Few enough lines that the scrollback keeps them all where each takes two rows.
  type("for i in $(seq 150); do printf \"%95s\\n\" item$i:; done");
  ASSERT_EQ(std::system("xdotool key Return"), 0);
  ASSERT_TRUE(testing::pumpUntil(
      [&] {
        const Buffer& b = *view->getTerminal().buffer;
        return atPrompt() && rowText(*view, int64_t(b.yBase) + b.y - 1).ends_with("item150:");
      },
      10s))
      << screen();
  for (const WindowSize& size : shortWindows) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    resizeWindow(*window, *view, size.width, size.height);
    // Each size's search starts afresh from the top.
    view->clearSearch();
    openBarAndFind("item3:");
    ASSERT_TRUE(testing::pumpUntil(
        [&] { return view->selectionActive() && view->selection->getSelectedText() == "item3:"; }, 10s))
        << screen();
    EXPECT_FALSE(barSettlesOver(*view, [&] { return barHidesMatch(*view); })) << barWhere(*view) << " hides the match";
    closeBar();
  }
}

// The bar follows the line the user types on as the shell echoes each key: typed past the bar's
// left edge, the command and the caret ran under it, which moved only on a match, a click or a new
// size.
TEST_F(RealInputFloatingBars, TheBarKeepsOffTheLineTheUserTypesOn) {
  start("exec bash --norc --noprofile -i");
  ASSERT_TRUE(testing::pumpUntil([&] { return atPrompt(); }, 10s));
  const std::string words = ": one two three four five six seven eight nine ten eleven twelve thirteen fourteen";
  for (const WindowSize& size : shortWindows) {
    SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
    resizeWindow(*window, *view, size.width, size.height);
    ASSERT_TRUE(testing::pumpUntil([&] { return atPrompt(); }, 10s));
    type("clear; echo one; echo two");
    ASSERT_EQ(std::system("xdotool key Return"), 0);
    ASSERT_TRUE(testing::pumpUntil(
        [&] { return atPrompt() && rowText(*view, 0) == "one" && view->getTerminal().buffer->y == 2; }, 10s))
        << screen();
    openBarAndFind("zz");
    awaitFrame();
    ASSERT_EQ(std::system(("xdotool " + pointerAtCell(0, 0) + " click 1").c_str()), 0);
    ASSERT_TRUE(testing::pumpUntil([&] { return view->hasFocus(); }, 5s)) << barWhere(*view) << "\n" << screen();
    for (size_t typed = 0; typed < words.size(); typed += 40) {
      const std::string part = words.substr(typed, 40);
      type(part);
      ASSERT_TRUE(testing::pumpUntil([&] { return typedText(*view).ends_with(part); }, 10s)) << screen();
      EXPECT_FALSE(barSettlesOver(*view, [&] { return barHidesTypingLine(*view); }))
          << barWhere(*view) << " hides what was typed, up to column " << view->getTerminal().buffer->x;
    }
    ASSERT_EQ(std::system("xdotool key ctrl+u"), 0);
    closeBar();
  }
}

class RealInputBarPlacement : public testing::RealWindowInputTest {
 protected:
  RealInputBarPlacement() : RealWindowInputTest("BarPlacementTerminal", "command -v xdotool") {}

  void resizeTo(int width, int height) { resizeWindow(*window, *view, width, height); }
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
    return barSettlesOver(*view, [&] { return barHidesMatch(*view); });
  }
  bool barSettlesOverCaret() {
    return barSettlesOver(*view, [&] { return barHidesTypingLine(*view); });
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
// bottom corner, and in a window too short for that it narrows. With the caret on the bottom row
// it lies between the two. Once a click gives the keys back to the terminal and lets the match go,
// the bar keeps off the caret's line, also where output moves it.
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
    bool narrows;
  };
  const std::string second = std::to_string(100 - rows + 3);
  const std::vector<Case> cases = {
      {"under the bar with scrollback above", 400, scrolled, "row " + second, true, false, false},
      {"at the top of the scrollback", 400, "first\r\nsecond\r\nthird\r\n\r\n\r\n\r\n\r\n", "second", false, true,
       false},
      {"on the other screen", 400, "\x1b[?1049h\x1b[2J\x1b[1;1Hon top\x1b[8;1H", "on top", false, true, false},
      {"in a window too short for the bar to leave a row free", 70, "first\r\nsecond\r\nthird", "second", false, false,
       true},
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
    // Whole, the bar takes all the room the window gives it, 16 points from either edge.
    EXPECT_EQ(boundsIn(*view->findState.findBar, *view, bar) && bar.size.width < 300 - 2 * 16, c.narrows)
        << bar.size.width << " points wide";
    closeBar();
  }
  resizeTo(300, 400);
  // A match across the top row, the caret on the bottom one: the bar at the bottom leaves the match
  // in sight; a click into the terminal lets the match go, and the bar keeps off the caret.
  feed("\x1b[?1049h\x1b[2J\x1b[1;1Hacross the top row\x1b[" + std::to_string(rows) + ";11H");
  TerminalFindBarView::findPasteboard() = "across the top row";
  openBar();
  ASSERT_TRUE(testing::pumpUntil([&] { return view->selectionActive(); }, 5s));
  EXPECT_FALSE(barSettlesOver(*view, [&] { return barHidesMatch(*view) || barHidesTypingLine(*view); }))
      << barWhere(*view);
  ASSERT_EQ(std::system(("xdotool " + pointerAtCell(2, rows / 2) + " click 1").c_str()), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->hasFocus() && !barAtBottom(*view); }, 5s));
  EXPECT_FALSE(barSettlesOverCaret()) << "the bar hides the caret";
  EXPECT_TRUE(barShown(*view));
  // The program writes along the top row, under the bar, and the caret goes with its text.
  feed("\x1b[1;1H" + std::string(view->getTerminal().cols - 4, '-'));
  EXPECT_FALSE(barSettlesOverCaret()) << barWhere(*view) << " hides the line output moved the caret to";
  TerminalFindBarView::findPasteboard().reset();
}

// With Ctrl held over a link, the preview of its target keeps off the link it names: in the
// top-left corner it lay over a link on the first row.
TEST_F(RealInputBarPlacement, ALinksPreviewKeepsOffTheLink) {
  resizeTo(640, 400);
  feed("\x1b[2J\x1b[H\x1b]8;;https://example.com/a/long/enough/path\x1b\\the link on the first row\x1b]8;;\x1b\\\r\n");
  ASSERT_EQ(std::system(("xdotool " + pointerAtCell(4, 0) + " keydown Control_L").c_str()), 0);
  auto preview = [&] { return view->linkState.urlPreview.get(); };
  graphene_rect_t shown{};
  const bool mapped = testing::pumpUntil(
      [&] {
        return preview() && preview()->get_mapped() && boundsIn(*preview(), *view, shown) && shown.size.width > 0;
      },
      5s);
  const bool hides = mapped && settlesOver(*preview(), *view, [&] {
                       return boundsIn(*preview(), *view, shown) && shown.origin.x < 25 * view->cellDimension->width &&
                              shown.origin.y < view->cellDimension->height;
                     });
  ASSERT_EQ(std::system("xdotool keyup Control_L"), 0);
  ASSERT_TRUE(mapped) << "no preview";
  EXPECT_FALSE(hides) << "the preview at " << shown.origin.x << "," << shown.origin.y << " lies over the link";
  EXPECT_TRUE(testing::pumpUntil([&] { return !preview(); }, 5s));
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
