// The view bound to a child process: the child's output reaches the screen, its pty follows the
// grid, and the owner hears of the exit.
#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "Vantrelle/View/LocalProcessTerminalView.h"
#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

struct RecordingOwner : LocalProcessTerminalViewDelegate {
  std::vector<std::pair<int, int>> sizes;
  std::vector<std::string> titles;
  std::optional<std::optional<int32_t>> exit;
  void sizeChanged(LocalProcessTerminalView&, int cols, int rows) override { sizes.emplace_back(cols, rows); }
  void setTerminalTitle(LocalProcessTerminalView&, const std::string& title) override { titles.push_back(title); }
  void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<std::string>&) override {}
  void processTerminated(TerminalView&, std::optional<int32_t> code) override { exit = code; }
};

class ProcessView : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ensureGtk();
    view = std::make_unique<LocalProcessTerminalView>();
    view->processDelegate = &owner;
    view->cellDimension = ViewSize{10, 20};
  }
  std::string screenText() {
    Buffer& buffer = *view->getTerminal().buffer;
    std::string text;
    for (int y = 0; y < buffer.rows(); y++) {
      text += buffer.lines()[buffer.yBase + y]->translateToString(true) + "\n";
    }
    return text;
  }
  void run(const std::string& script) { view->startProcess("/bin/sh", {"-c", script}); }
  RecordingOwner owner;
  std::unique_ptr<LocalProcessTerminalView> view;
};

TEST_F(ProcessView, AFreshViewHasAnIdleProcessAndIsItsOwnHost) {
  ASSERT_TRUE(view->process);
  EXPECT_FALSE(view->process->running());
  EXPECT_EQ(view->terminalDelegate, view.get());
}

TEST_F(ProcessView, TheChildsOutputReachesTheScreenAndItsExitTheOwner) {
  run("printf 'hello from the child'; stty size; exit 3");
  ASSERT_TRUE(testing::pumpUntil([&] { return owner.exit.has_value(); }));
  std::string text = screenText();
  EXPECT_NE(text.find("hello from the child"), std::string::npos);
  EXPECT_NE(text.find("25 80"), std::string::npos);
  ASSERT_TRUE(*owner.exit);
  EXPECT_EQ(**owner.exit, 3 << 8);
}

TEST_F(ProcessView, RepliesAndTypingGoToTheChild) {
  run("stty -echo; printf '\\033[6n'; IFS= read -r reply; printf 'got:%s' \"$reply\" | od -c | "
      "head -2");
  ASSERT_TRUE(testing::pumpUntil([&] { return view->process->total() > 0; }));
  view->send(std::string("typed\r"));
  ASSERT_TRUE(testing::pumpUntil([&] { return owner.exit.has_value(); }));
  std::string text = screenText();
  EXPECT_NE(text.find("033   [   1   ;   1   R"), std::string::npos) << text;
}

TEST_F(ProcessView, ResizesReachThePtyOnlyWhileAChildRuns) {
  double strip = testing::scrollerStrip(*view);
  view->processSizeChange({400 + strip, 200});
  EXPECT_TRUE(owner.sizes.empty());
  // The child reads its size only once told to, after the change.
  run("read line; stty size");
  ASSERT_TRUE(testing::pumpUntil([&] { return view->process->running(); }));
  view->processSizeChange({600 + strip, 300});
  ASSERT_EQ(owner.sizes.size(), 1u);
  EXPECT_EQ(owner.sizes[0], std::make_pair(60, 15));
  view->send(std::string("\r"));
  ASSERT_TRUE(testing::pumpUntil([&] { return owner.exit.has_value(); }));
  EXPECT_NE(screenText().find("15 60"), std::string::npos);
}

TEST_F(ProcessView, StartingTwiceRunsOneChildAndTerminatingReportsNothing) {
  run("sleep 5");
  ASSERT_TRUE(view->process->running());
  int pid = view->process->shellPid();
  run("echo second");
  EXPECT_EQ(view->process->shellPid(), pid);
  view->terminate();
  testing::pumpFor(std::chrono::milliseconds(300));
  EXPECT_FALSE(owner.exit.has_value());
}

// Started before its window is shown, the child waits for the view's first layout: what it reads
// first is the grid it is shown at, not the default one.
TEST_F(ProcessView, AChildStartsAtTheGridItIsShownAt) {
  Gtk::Window window;
  window.set_default_size(1000, 300);
  window.set_child(*view);
  run("stty size; sleep 5");
  EXPECT_FALSE(view->process->running());
  window.present();
  ASSERT_TRUE(testing::pumpUntil([&] { return screenText().find_first_of("0123456789") != std::string::npos; }));
  const Terminal& terminal = view->getTerminal();
  EXPECT_NE(terminal.cols, 80);
  EXPECT_NE(screenText().find(std::to_string(terminal.rows) + " " + std::to_string(terminal.cols)), std::string::npos)
      << screenText();
  view->terminate();
  window.unset_child();
}

TEST_F(ProcessView, AStartStoppedBeforeTheLayoutNeverRuns) {
  Gtk::Window window;
  window.set_child(*view);
  run("echo started");
  view->terminate();
  window.present();
  ASSERT_TRUE(testing::pumpUntil([&] { return view->get_width() > 0; }));
  testing::pumpFor(std::chrono::milliseconds(100));
  EXPECT_FALSE(view->process->running());
  EXPECT_FALSE(view->startPending());
  window.unset_child();
}

TEST_F(ProcessView, TheWindowSizeCarriesDevicePixels) {
  view->scaleFactorOverride = 2.0;
  winsize size = view->getWindowSize();
  EXPECT_EQ(size.ws_col, 80);
  EXPECT_EQ(size.ws_row, 25);
  EXPECT_EQ(size.ws_xpixel, 1600);
  EXPECT_EQ(size.ws_ypixel, 1000);
}

TEST_F(ProcessView, ClipboardWritesMustBeText) {
  const uint8_t good[] = {'o', 'k'};
  view->clipboardCopy(*view, good);
  auto read = view->clipboardRead(*view);
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(read->begin(), read->end()), "ok");
  const uint8_t bad[] = {0xff, 0xfe};
  view->clipboardCopy(*view, bad);
  read = view->clipboardRead(*view);
  ASSERT_TRUE(read);
  EXPECT_EQ(std::string(read->begin(), read->end()), "ok");
}

}  // namespace
}  // namespace vantrelle
