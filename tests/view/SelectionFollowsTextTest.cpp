// The selection as output arrives under it: the host keeps it while lines come in (mouse
// reporting off), so it must stay on the text the user selected.
#include "InputTestSupport.h"

namespace vantrelle {
namespace {

class SelectionFollowsText : public testing::InputTest {
 protected:
  void SetUp() override {
    InputTest::SetUp();
    view->allowMouseReporting = false;
    view->changeScrollback(10);
    lines(0, 40);
  }
  void lines(int from, int to) {
    std::string text;
    for (int i = from; i < to; i++) text += "line " + std::to_string(i) + "\r\n";
    view->feed(text);
  }
  // The buffer row where "line n" is now.
  int64_t rowOf(int n) {
    Buffer& buffer = *view->getTerminal().buffer;
    for (int64_t row = 0; row < buffer.lines().count(); row++) {
      if (buffer.lines()[int(row)]->translateToString(true) == "line " + std::to_string(n)) return row;
    }
    return -1;
  }
};

TEST_F(SelectionFollowsText, AFullScrollbackDroppingLinesKeepsTheSelectedText) {
  view->selection->setSelection(Position(5, rowOf(20)), Position(4, rowOf(22)));
  ASSERT_EQ(view->selection->getSelectedText(), "20\nline 21\nline");
  lines(40, 45);
  ASSERT_TRUE(view->selectionActive());
  EXPECT_EQ(view->selection->getSelectedText(), "20\nline 21\nline");
  // A double click's word stays anchored on its word too.
  view->selection->selectWordOrExpression(Position(1, rowOf(30)), *view->getTerminal().buffer);
  lines(45, 47);
  EXPECT_EQ(view->selection->getSelectedText(), "line");
  EXPECT_EQ(view->selection->start().row, rowOf(30));
}

TEST_F(SelectionFollowsText, TheSelectionGoesWithItsTextOrTheSavedLines) {
  int64_t row = rowOf(18);
  ASSERT_GE(row, 0);
  view->selection->select(row);
  lines(40, 40 + int(row) + 1);
  EXPECT_FALSE(view->selectionActive()) << view->selection->getSelectedText();
  // A line of the saved lines, which the erase takes (one on the screen stays, see below).
  ASSERT_LT(rowOf(25), view->getTerminal().buffer->yBase);
  view->selection->select(rowOf(25));
  view->feed("\x1b[3J");
  EXPECT_FALSE(view->selectionActive()) << view->selection->getSelectedText();
}

TEST_F(SelectionFollowsText, SavedLinesErasedAndWrittenAgainInOneReadMoveTheSelectionByAll) {
  // Erased, then filled again and scrolled on past a full scrollback, all in one read: the
  // selection on the screen follows its text up by every line that left, and one in the erased
  // lines goes.
  view->feed("\x1b[3J");
  lines(100, 110);
  // The first line of the saved lines, and the last line written.
  const int64_t kept = rowOf(109), erased = 0;
  ASSERT_LT(erased, view->getTerminal().buffer->yBase);
  for (int64_t row : {kept, erased}) {
    view->selection->setSelection(Position(0, row), Position(8, row));
    std::string text = "\x1b[3J";
    for (int i = 200; i < 213; i++) text += "line " + std::to_string(i) + "\r\n";
    view->feed(text);
    if (row == kept) {
      ASSERT_TRUE(view->selectionActive());
      EXPECT_EQ(view->selection->getSelectedText(), "line 109");
    } else {
      EXPECT_FALSE(view->selectionActive()) << view->selection->getSelectedText();
    }
    lines(110, 120);
  }
}

}  // namespace
}  // namespace vantrelle
