// Construction, the terminal's callbacks, window reports and progress reports.
#include <gtest/gtest.h>

#include "ViewTestSupport.h"

namespace vantrelle {
namespace {

using testing::ensureGtk;

class TerminalViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureGtk();
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
  }
  std::string reply(const std::string& input) {
    host.sent.clear();
    view->feed(input);
    return host.sent;
  }
  testing::RecordingHost host;
  std::unique_ptr<TerminalView> view;
};

TEST_F(TerminalViewTest, AnUnsizedViewGetsTheDefaultGridAndAMeasuredCell) {
  EXPECT_EQ(view->getTerminal().cols, 80);
  EXPECT_EQ(view->getTerminal().rows, 25);
  ASSERT_TRUE(view->cellDimension);
  EXPECT_GE(view->cellDimension->width, 1);
  EXPECT_GE(view->cellDimension->height, 1);
  EXPECT_EQ(view->font().get_family(), "Monospace");
  ASSERT_TRUE(view->caretView);
  EXPECT_FALSE(view->isUsingMetalRenderer());
}

TEST_F(TerminalViewTest, WindowReportsAnswerInPixelsOfTheScale) {
  view->scaleFactorOverride = 2.0;
  view->cellDimension = ViewSize{8, 16};
  view->getTerminal().resize(80, 24);
  EXPECT_EQ(reply("\x1b[14t"), "\x1b[4;768;1280t");
  EXPECT_EQ(reply("\x1b[16t"), "\x1b[6;32;16t");
}

TEST_F(TerminalViewTest, WindowCommandsTheViewDoesNotServeGetNoReply) {
  EXPECT_EQ(reply("\x1b[8;10;10t"), "");
  EXPECT_EQ(reply("\x1b[2t"), "");
}

TEST_F(TerminalViewTest, TitlesAndRepliesReachTheHost) {
  view->feed("\x1b]0;hello\x07");
  ASSERT_EQ(host.titles.size(), 1u);
  EXPECT_EQ(host.titles[0], "hello");
  EXPECT_EQ(reply("\x1b[6n"), "\x1b[1;1R");
}

TEST_F(TerminalViewTest, ProgressReportsKeepTheLastValueAsSpecified) {
  auto& bar = *view->progress.progressBarView;
  view->handleProgressReport({ProgressReportState::pause, std::nullopt});
  EXPECT_EQ(bar.progress, std::optional<uint8_t>(100));
  view->handleProgressReport({ProgressReportState::set, 40});
  view->handleProgressReport({ProgressReportState::error, std::nullopt});
  EXPECT_EQ(bar.state, ProgressReportState::error);
  EXPECT_EQ(bar.progress, std::optional<uint8_t>(40));
  view->handleProgressReport({ProgressReportState::indeterminate, std::nullopt});
  EXPECT_EQ(bar.progress, std::nullopt);
  EXPECT_EQ(view->progress.lastProgressValue, std::optional<uint8_t>(40));
  view->handleProgressReport({ProgressReportState::remove, std::nullopt});
  EXPECT_EQ(bar.state, ProgressReportState::remove);
  EXPECT_FALSE(view->progress.lastProgressValue);
  EXPECT_FALSE(view->progress.progressReportTimer);
}

TEST_F(TerminalViewTest, AnErrorWithoutAnyValueShowsNone) {
  view->handleProgressReport({ProgressReportState::error, std::nullopt});
  EXPECT_EQ(view->progress.progressBarView->progress, std::nullopt);
  EXPECT_FALSE(view->progress.lastProgressValue);
  EXPECT_TRUE(view->progress.progressReportTimer);
}

TEST_F(TerminalViewTest, FocusReportsFollowFocusOnlyWhenAsked) {
  view->becomeFirstResponder();
  EXPECT_EQ(host.sent, "");
  view->feed("\x1b[?1004h");
  host.sent.clear();
  view->resignFirstResponder();
  EXPECT_EQ(host.sent, "\x1b[O");
  EXPECT_FALSE(view->hasFocus());
  host.sent.clear();
  view->becomeFirstResponder();
  EXPECT_EQ(host.sent, "\x1b[I");
  EXPECT_TRUE(view->hasFocus());
}

TEST_F(TerminalViewTest, ResigningStillsABlinkingCaret) {
  view->becomeFirstResponder();
  EXPECT_TRUE(view->caretView->isBlinking());
  view->resignFirstResponder();
  EXPECT_FALSE(view->caretView->isBlinking());
  EXPECT_EQ(view->caretView->opacity(), 1.0);
}

TEST_F(TerminalViewTest, ADestroyedViewDropsItsQueuedRedraw) {
  view->feed("x");
  EXPECT_TRUE(view->pendingDisplay);
  view.reset();
  testing::pumpFor(std::chrono::milliseconds(60));
  SUCCEED();
}

TEST_F(TerminalViewTest, RepliesUseEightBitIntroducersWhenTheProgramAsks) {
  view->scaleFactorOverride = 1.0;
  view->cellDimension = ViewSize{8, 16};
  view->getTerminal().resize(80, 24);
  view->feed("\x1b G");
  EXPECT_EQ(reply("\x1b[16t"),
            "\x9b"
            "6;16;8t");
  EXPECT_EQ(reply("\x1b[14t"),
            "\x9b"
            "4;384;640t");
}

// A host that also hears the bell and the working directory.
struct FullHost : testing::RecordingHost {
  int bells = 0;
  std::vector<std::optional<std::string>> directories;
  void bell(TerminalView&) override { bells++; }
  void hostCurrentDirectoryUpdate(TerminalView&, const std::optional<std::string>& directory) override {
    directories.push_back(directory);
  }
};

TEST_F(TerminalViewTest, TheTerminalsNewsReachesTheHost) {
  FullHost full;
  view->terminalDelegate = &full;
  view->feed("\x07");
  EXPECT_EQ(full.bells, 1);
  view->feed("\x1b]7;file://host/tmp/work\x07");
  ASSERT_EQ(full.directories.size(), 1u);
  EXPECT_EQ(full.directories[0], view->getTerminal().hostCurrentDirectory);
  // The end of synchronized output tells the host where the view stands.
  view->feed("\x1b[?2026h");
  size_t scrolls = full.scrolls.size();
  view->feed("\x1b[?2026l");
  EXPECT_EQ(full.scrolls.size(), scrolls + 1);
  // A line feed lets go of a selection made with the mouse.
  view->selection->setSelection(Position(0, 0), Position(2, 0));
  view->feed("\n");
  EXPECT_FALSE(view->selectionActive());
  view->resize(60, 10);
  ASSERT_FALSE(full.sizes.empty());
  EXPECT_EQ(full.sizes.back(), std::make_pair(60, 10));
  view->terminalDelegate = nullptr;
  view->feed("\x07\x1b]0;nobody\x07");
  EXPECT_EQ(full.bells, 1);
}

TEST_F(TerminalViewTest, RedrawsReportTheirRowsWhenAsked) {
  view->notifyUpdateChanges = true;
  view->updateDisplay(false);
  host.ranges.clear();
  view->feed("\x1b[3;1Hx");
  view->updateDisplay(false);
  ASSERT_EQ(host.ranges.size(), 1u);
  EXPECT_LE(host.ranges[0].first, 2);  // the row the cursor left may come along
  EXPECT_EQ(host.ranges[0].second, 2);
  // Nothing changed: the cursor's row is reported.
  view->updateDisplay(false);
  ASSERT_EQ(host.ranges.size(), 2u);
  EXPECT_EQ(host.ranges[1], std::make_pair(2, 2));
}

}  // namespace
}  // namespace vantrelle
