#include <gtest/gtest.h>

#include "Vantrelle/Text/SelectionService.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::sized;
using testing::TestHost;

struct CountingHost : TestHost {
  int selectionChanges = 0;
  void selectionChanged(Terminal&) override { ++selectionChanges; }
};

struct SelectionFixture {
  CountingHost host;
  Terminal t;
  SelectionService selection;
  explicit SelectionFixture(int cols = 20, int rows = 6) : t(&host, sized(cols, rows)), selection(t) {}
  void wordAt(int col, int row) { selection.selectWordOrExpression(Position(col, row), *t.buffer); }
};

TEST(Selection, WordClassesFollowTheClickedCharacter) {
  SelectionFixture f;
  f.t.feed("hello.world-x_1 y\r\na.b\r\na   b");
  f.wordAt(1, 0);
  EXPECT_EQ(f.selection.start(), Position(0, 0));
  EXPECT_EQ(f.selection.end(), Position(15, 0));
  EXPECT_EQ(f.selection.getSelectedText(), "hello.world-x_1");

  f.wordAt(1, 1);  // the full stop alone
  EXPECT_EQ(f.selection.start(), f.selection.end());
  EXPECT_FALSE(f.selection.hasSelectionRange());

  f.wordAt(2, 2);  // the run of spaces
  EXPECT_EQ(f.selection.start(), Position(1, 2));
  EXPECT_EQ(f.selection.end(), Position(4, 2));

  f.wordAt(10, 2);  // empty cells up to the edge
  EXPECT_EQ(f.selection.start(), Position(5, 2));
  EXPECT_EQ(f.selection.end(), Position(20, 2));
  EXPECT_EQ(f.selection.selectionMode, SelectionService::SelectionMode::word);
}

// A hidden word (SGR 8) selects as the blanks it shows, and hidden brackets pair with nothing.
TEST(Selection, HiddenTextSelectsAsBlanks) {
  SelectionFixture f(30);
  f.t.feed("pw: \x1b[8mhunter2\x1b[m (hidden)\r\n(a \x1b[8m)\x1b[m b)");
  f.wordAt(6, 0);
  EXPECT_EQ(f.selection.start(), Position(3, 0));
  EXPECT_EQ(f.selection.end(), Position(12, 0));
  EXPECT_EQ(f.selection.getSelectedText(), std::string(9, ' '));
  f.wordAt(0, 1);
  EXPECT_EQ(f.selection.end(), Position(7, 1));
  EXPECT_EQ(f.selection.getSelectedText(), "(a   b)");
}

TEST(Selection, BracketedExpressionsAcrossRows) {
  SelectionFixture f(10, 6);
  f.t.feed("f(a(b)c) d\r\nx [one\r\ntwo] (no");
  f.wordAt(1, 0);
  EXPECT_EQ(f.selection.getSelectedText(), "(a(b)c)");
  f.wordAt(7, 0);
  EXPECT_EQ(f.selection.start(), Position(1, 0));
  EXPECT_EQ(f.selection.end(), Position(8, 0));

  f.wordAt(2, 1);
  EXPECT_EQ(f.selection.end(), Position(4, 2));
  EXPECT_EQ(f.selection.getSelectedText(), "[one\ntwo]");
  f.wordAt(3, 2);
  EXPECT_EQ(f.selection.start(), Position(2, 1));

  f.wordAt(5, 2);  // no closer on screen
  EXPECT_EQ(f.selection.start(), Position(5, 2));
  EXPECT_EQ(f.selection.end(), Position(5, 2));
}

TEST(Selection, RowsAndSelectAllKeepTheLastColumn) {
  SelectionFixture f(5, 3);
  f.t.feed("abcde\r\nxy\x1b[3C");
  f.selection.select(0);
  EXPECT_EQ(f.selection.getSelectedText(), "abcde");
  f.selection.select(1);  // trailing blanks are trimmed
  EXPECT_EQ(f.selection.getSelectedText(), "xy");
  EXPECT_EQ(f.selection.selectionMode, SelectionService::SelectionMode::row);
  f.selection.selectAll();
  EXPECT_EQ(f.selection.getSelectedText(), "abcde\nxy");
}

TEST(Selection, ExtendingAndSelectedText) {
  SelectionFixture f(10, 4);
  f.t.feed("ab\r\ncd\r\n0123456789wrapped");
  f.selection.setSelection(Position(0, 0), Position(2, 1));
  EXPECT_EQ(f.selection.getSelectedText(), "ab\ncd");
  f.selection.setSelection(Position(0, 2), Position(3, 3));
  EXPECT_EQ(f.selection.getSelectedText(), "0123456789wra");
  f.selection.setSelection(Position(50, 0), Position(0, 99));
  EXPECT_EQ(f.selection.start(), Position(10, 0));
  EXPECT_EQ(f.selection.end(), Position(0, 3));

  // Shift-click before a forward selection turns it around.
  f.selection.setSelection(Position(4, 2), Position(8, 2));
  f.selection.shiftExtend(Position(1, 2));
  EXPECT_EQ(f.selection.start(), Position(8, 2));
  EXPECT_EQ(f.selection.end(), Position(1, 2));

  // Dragging back inside the anchored word restores it.
  f.t.feed("\x1b[H\x1b[2Kone two three");
  f.selection.selectWordOrExpression(Position(5, 0), *f.t.buffer);
  f.selection.dragExtend(Position(9, 0));
  EXPECT_EQ(f.selection.end(), Position(3, 1));  // "three" goes on past the wrap
  f.selection.dragExtend(Position(5, 0));
  EXPECT_EQ(f.selection.start(), Position(4, 0));
  EXPECT_EQ(f.selection.end(), Position(7, 0));
  // Word-mode shift-clicks snap to the clicked word's edge.
  f.selection.shiftExtend(Position(9, 0));
  EXPECT_EQ(f.selection.end(), Position(3, 1));
  EXPECT_EQ(f.selection.getSelectedText(), "two three");
  f.selection.shiftExtend(Position(1, 0));
  EXPECT_EQ(f.selection.start(), Position(3, 1));
  EXPECT_EQ(f.selection.end(), Position(0, 0));
}

TEST(Selection, ActiveFlagNotifiesOnlyOnChange) {
  SelectionFixture f;
  f.selection.setActive(false);
  EXPECT_EQ(f.host.selectionChanges, 0);
  EXPECT_FALSE(f.selection.pivot);
  f.selection.setSoftStart(Position(1, 1));
  f.selection.startSelection();
  EXPECT_EQ(f.host.selectionChanges, 2);
  f.selection.selectNone();
  EXPECT_EQ(f.host.selectionChanges, 3);
  EXPECT_EQ(f.selection.debugDescription(),
            "[Selection (active=false, start=col=1 row=1 end=col=1 row=1 hasSR=false pivot=nil]");
}

}  // namespace
}  // namespace vantrelle
