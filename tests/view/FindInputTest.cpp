// Finding text: the bar's callbacks, stepping through matches, the shared find string and menus.
#include <gdkmm/clipboard.h>

#include "InputTestSupport.h"

namespace vantrelle {
namespace {

class FindInputTest : public testing::InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    TerminalFindBarView::findPasteboard().reset();
  }
  std::string selected() { return view->selection->getSelectedText(); }
};

TEST_F(FindInputTest, TypingSearchesAndNavigationSteps) {
  feed("one apple\r\ntwo apple\r\nthree apple\r\n");
  TerminalFindBarView& bar = view->ensureFindBar();
  bar.searchField.set_text("apple");
  testing::pumpUntil([&] { return view->selection->active(); }, std::chrono::milliseconds(500));
  ASSERT_TRUE(view->selection->active());
  EXPECT_EQ(view->findState.findBarTerm, "apple");
  EXPECT_EQ(TerminalFindBarView::findPasteboard(), "apple");
  Position first = view->selection->start();
  bar.set_visible(true);
  bar.nextButton.activate();
  bar.onFindNext();
  Position second = view->selection->start();
  EXPECT_NE(first.row, second.row);
  bar.onFindPrevious();
  EXPECT_EQ(view->selection->start().row, first.row);
  EXPECT_EQ(selected(), "apple");
  // Clearing the field clears the selection that marked the match.
  view->handleFindBarSearchChanged("");
  EXPECT_FALSE(view->selection->active());
  bar.onClose();
  EXPECT_FALSE(bar.get_visible());
}

TEST_F(FindInputTest, OptionsRerunTheSearch) {
  feed("Apple apple");
  TerminalFindBarView& bar = view->ensureFindBar();
  view->handleFindBarSearchChanged("apple");
  EXPECT_EQ(view->selection->start().col, 0);
  view->selection->setActive(false);
  bar.caseSensitiveButton.set_active(true);
  EXPECT_TRUE(view->findState.findBarOptions.caseSensitive);
  EXPECT_EQ(view->selection->start().col, 6);
  EXPECT_FALSE(view->findNext("absent", view->findState.findBarOptions, true));
  EXPECT_FALSE(view->selection->active());
}

TEST_F(FindInputTest, FindNextWithoutTheBarUsesTheSharedFindString) {
  feed("needle here");
  view->performFindPanelAction(2);
  EXPECT_FALSE(view->selection->active());
  TerminalFindBarView::findPasteboard() = "here";
  view->performFindPanelAction(2);
  EXPECT_EQ(selected(), "here");
  EXPECT_FALSE(view->validateUserInterfaceItem("performFindPanelAction:", 11));
  EXPECT_TRUE(view->validateUserInterfaceItem("performTextFinderAction:", 11));
  EXPECT_TRUE(view->validateUserInterfaceItem("performFindPanelAction:", 7));
  view->selectNone();
  EXPECT_FALSE(view->validateUserInterfaceItem("performFindPanelAction:", 7));
  EXPECT_FALSE(view->validateUserInterfaceItem("copy:"));
  EXPECT_TRUE(view->validateUserInterfaceItem("paste:"));
}

TEST_F(FindInputTest, AClearedSelectionNoLongerFeedsFindOrTheClipboard) {
  feed("stale fresh");
  view->selection->setSelection(Position(0, 0), Position(5, 0));
  view->selectNone();
  view->performFindPanelAction(7);
  EXPECT_FALSE(TerminalFindBarView::findPasteboard());
  EXPECT_EQ(view->findState.findBar->text(), "");
  EXPECT_TRUE(view->findState.findBarTerm.empty());
  // Copy leaves the clipboard alone too (checked on its local contents, with no main-loop turn
  // in which another process could take the clipboard).
  auto clipboard = view->get_clipboard();
  clipboard->set_text("kept");
  GdkContentProvider* kept = gdk_clipboard_get_content(clipboard->gobj());
  ASSERT_NE(kept, nullptr);
  view->copy();
  EXPECT_EQ(gdk_clipboard_get_content(clipboard->gobj()), kept);
  view->selection->setSelection(Position(6, 0), Position(11, 0));
  view->copy();
  EXPECT_NE(gdk_clipboard_get_content(clipboard->gobj()), kept);
}

// A match that ends at the last column selects that row to its end and no further: copying it
// gives the match alone, with no line break, also on the buffer's last row.
TEST_F(FindInputTest, AMatchEndingAtTheLastColumnSelectsItsTextOnly) {
  feed(std::string(76, '-') + "tail\r\nnext");
  ASSERT_TRUE(view->findNext("tail", {}, true));
  EXPECT_EQ(view->selection->end(), Position(80, 0));
  EXPECT_EQ(selected(), "tail");
  EXPECT_EQ(view->searchMatchSummary("tail", {}, 10), (std::pair<int, int>{1, 1}));
  ASSERT_TRUE(view->findNext("tail", {}, true));  // the only match comes round again
  EXPECT_EQ(selected(), "tail");

  feed("\x1b[999;77Hlast");
  view->selectNone();
  ASSERT_TRUE(view->findNext("last", {}, true));
  EXPECT_EQ(selected(), "last");
}

// Over a big scrollback typing returns at once and the search goes on between the main loop's
// other work: the match shows when the search reaches it, a key typed meanwhile replaces the
// search, output meanwhile does not move the match off its text, and closing the bar ends it.
TEST_F(FindInputTest, ALongSearchGoesOnBetweenTheLoopsOtherWork) {
  view->changeScrollback(1000);
  view->findState.sliceLength = {};  // a few lines a slice
  std::string text;
  for (int i = 0; i < 1500; i++) text += "line " + std::to_string(i) + "\r\n";
  feed(text + "zebra\r\n");
  view->handleFindBarSearchChanged("zeb");
  EXPECT_FALSE(view->selection->active());
  ASSERT_TRUE(view->findState.pendingFind);
  view->handleFindBarSearchChanged("zebra");
  feed("more\r\nmore\r\n");
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->findState.pendingFind; }, std::chrono::seconds(5)));
  EXPECT_EQ(selected(), "zebra");

  view->selectNone();
  view->handleFindBarSearchChanged("more");
  ASSERT_TRUE(view->findState.pendingFind);
  view->ensureFindBar().onClose();
  EXPECT_FALSE(view->findState.pendingFind);
  EXPECT_FALSE(view->selection->active());
}

// While mouse reports are allowed each line fed ends the selection that shows the match: the next
// step still goes on from that match, also after lines left the top of the scrollback, and not
// back to the first match each time. A selection the user changed starts it from the top.
TEST_F(FindInputTest, StepsGoOnFromTheLastMatchWhileOutputRuns) {
  view->changeScrollback(30);
  std::string text;
  for (int i = 0; i < 100; i++) text += (i % 10 == 5 ? "needle " : "filler ") + std::to_string(i) + "\r\n";
  feed(text);
  auto numberOfMatch = [&] {
    const int64_t row = view->selection->start().row;
    return std::stoi(view->getTerminal().getText(Position(7, row), Position(10, row)));
  };
  ASSERT_TRUE(view->findNext("needle", {}, true));
  const int first = numberOfMatch();
  feed("more\r\n");
  ASSERT_FALSE(view->selection->active());
  ASSERT_TRUE(view->findNext("needle", {}, true));
  EXPECT_EQ(numberOfMatch(), first + 10);
  feed("more\r\nmore\r\n");
  ASSERT_TRUE(view->findNext("needle", {}, true));
  EXPECT_EQ(numberOfMatch(), first + 20);

  view->selection->setSelection(Position(0, 0), Position(1, 0));
  view->selection->setActive(false);
  feed("more\r\n");
  ASSERT_TRUE(view->findNext("needle", {}, true));
  EXPECT_EQ(numberOfMatch(), first);
}

TEST_F(FindInputTest, MatchesScrollIntoViewOnlyOnTheNormalScreen) {
  view->feed("target\r\n");
  for (int i = 0; i < 100; i++) view->feed("filler\r\n");
  Buffer& buffer = *view->getTerminal().buffer;
  int bottom = buffer.yDisp;
  ASSERT_TRUE(view->findNext("target", {}, true));
  EXPECT_EQ(buffer.yDisp, 0);
  // A match on a visible row leaves the view where it is.
  view->scrollTo(bottom, false);
  view->selection->setSelection(Position(0, bottom + 5), Position(3, bottom + 5));
  ASSERT_TRUE(view->findNext("filler", {}, true));
  EXPECT_GE(view->selection->start().row, bottom);
  EXPECT_EQ(buffer.yDisp, bottom);
  feed("\x1b[?1049h\x1b[Halt target");
  ASSERT_TRUE(view->findNext("target", {}, true));
  EXPECT_EQ(view->getTerminal().buffer->yDisp, 0);
}

}  // namespace
}  // namespace vantrelle
