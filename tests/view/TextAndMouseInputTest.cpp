// Text commits and pastes, composition, pointer reports, selection by dragging and the wheel.
#include "InputTestSupport.h"

namespace vantrelle {
namespace {

using TextInputTest = testing::InputTest;
using MouseInputTest = testing::InputTest;

MouseRecord at(MouseRecord::Kind kind, int col, int row, InputModifiers modifiers = {}, int clicks = 1) {
  MouseRecord r;
  r.kind = kind;
  r.x = col * 8 + 4;
  r.y = row * 16 + 8;
  r.modifiers = modifiers;
  r.clickCount = clicks;
  return r;
}

ScrollRecord wheel(double deltaY, bool precise = false, double x = 0, double y = 0) {
  ScrollRecord r;
  r.deltaY = deltaY;
  r.hasPreciseScrollingDeltas = precise;
  r.x = x;
  r.y = y;
  return r;
}

TEST_F(TextInputTest, PastesAreBracketedWhenTheProgramAsks) {
  EXPECT_EQ(sentBy([&] { view->insertText("ls", true); }), "ls");
  feed("\x1b[?2004h");
  EXPECT_EQ(sentBy([&] { view->insertText("ls", true); }), "\x1b[200~ls\x1b[201~");
  // Typed text is never bracketed.
  EXPECT_EQ(sentBy([&] { view->insertText("ls", false); }), "ls");
  feed("\x1b[>1u");
  EXPECT_EQ(sentBy([&] { view->insertText("ls", true); }), "\x1b[200~ls\x1b[201~");
}

TEST_F(TextInputTest, APasteCannotEndTheBracketedPasteItself) {
  feed("\x1b[?2004h");
  // What follows a forged end marker would run as typed: the marker is dropped instead.
  EXPECT_EQ(sentBy([&] { view->insertText("a\x1b[201~rm -rf ~\r", true); }), "\x1b[200~arm -rf ~\r\x1b[201~");
  // Dropping one marker must not leave another made of its neighbours.
  EXPECT_EQ(sentBy([&] { view->insertText("\x1b[20\x1b[201~1~x", true); }), "\x1b[200~x\x1b[201~");
  feed("\x1b[>1u");
  EXPECT_EQ(sentBy([&] { view->insertText("\x1b[201~y", true); }), "\x1b[200~y\x1b[201~");
  // Without bracketing, and for typed text, the text goes as it is.
  feed("\x1b[<u\x1b[?2004l");
  EXPECT_EQ(sentBy([&] { view->insertText("\x1b[201~z", true); }), "\x1b[201~z");
}

TEST_F(TextInputTest, PastedLineBreaksAreTypedAsEnter) {
  for (const char* mode : {"", "\x1b[?2004h", "\x1b[=1u"}) {
    feed(mode);
    std::string sent = sentBy([&] { view->insertText("one\r\ntwo\nthree\r\rfour\n", true); });
    EXPECT_NE(sent.find("one\rtwo\rthree\r\rfour\r"), std::string::npos) << sent;
  }
  // Typed text is the key's own.
  feed("\x1b[=0u");
  EXPECT_EQ(sentBy([&] { view->insertText("\n", false); }), "\n");
}

// A selection of nothing copies nothing: what the clipboard held stays there.
TEST_F(TextInputTest, CopyingAnEmptySelectionKeepsTheClipboard) {
  feed("a.b");
  view->mouseDown(at(MouseRecord::Kind::down, 1, 0, {}, 2));
  ASSERT_TRUE(view->selectionActive());
  auto clipboard = view->get_clipboard();
  clipboard->set_text("kept");
  GdkContentProvider* kept = gdk_clipboard_get_content(clipboard->gobj());
  view->copy();
  EXPECT_EQ(gdk_clipboard_get_content(clipboard->gobj()), kept);
}

TEST_F(TextInputTest, UnbracketedPastesGoOutAsTextUnderEveryKittyFlag) {
  for (const char* flags : {"\x1b[=1u", "\x1b[=8u", "\x1b[=31u"}) {
    feed(flags);
    view->keyState.pendingKittyKeyEvent = TerminalView::PendingKittyKeyEvent{KeyRecord::make(GDK_KEY_x, {}, 53)};
    EXPECT_EQ(sentBy([&] { view->insertText("ab\rc", true); }), "ab\rc") << flags;
    EXPECT_EQ(sentBy([&] { view->insertText("y", true); }), "y") << flags;
    EXPECT_FALSE(view->keyState.pendingKittyKeyEvent);
  }
}

TEST_F(TextInputTest, KittyCommitsUseThePendingKeyOrGoOutAsText) {
  feed("\x1b[=24u");
  // A multi-character commit from an input method is one event carrying the text.
  EXPECT_EQ(sentBy([&] { view->insertText("\xe4\xbd\xa0\xe5\xa5\xbd"); }), "\x1b[0;;20320:22909u");
  // A dead-key composition reports the key that finished it, with the composed text.
  view->keyState.pendingKittyKeyEvent = TerminalView::PendingKittyKeyEvent{KeyRecord::make(GDK_KEY_e, {}, 26)};
  EXPECT_EQ(sentBy([&] { view->insertText("\xc3\xa9"); }), "\x1b[101;;233u");
  EXPECT_FALSE(view->keyState.pendingKittyKeyEvent);
  // With Alt left to the layout, what Alt composes goes out as plain text.
  view->optionAsMetaKey = false;
  view->keyState.pendingKittyKeyEvent =
      TerminalView::PendingKittyKeyEvent{KeyRecord::make(GDK_KEY_e, {.alt = true}, 26)};
  EXPECT_EQ(sentBy([&] { view->insertText("\xc2\xb4"); }), "\xc2\xb4");
}

TEST_F(TextInputTest, CompositionSendsNothingUntilCommitted) {
  EXPECT_EQ(sentBy([&] { view->setMarkedText("ni", 2); }), "");
  EXPECT_TRUE(view->hasMarkedText());
  EXPECT_TRUE(view->keyState.kittyIsComposing);
  ASSERT_TRUE(view->composition.markedTextOverlay);
  EXPECT_EQ(sentBy([&] { view->insertText("\xe4\xbd\xa0"); }), "\xe4\xbd\xa0");
  EXPECT_FALSE(view->hasMarkedText());
  EXPECT_FALSE(view->composition.markedTextOverlay);
  // Queries about the composition see only the composition.
  view->setMarkedText("n\xc3\xadh", 3);
  EXPECT_EQ(view->markedRange(), (std::pair<int64_t, int64_t>{0, 3}));
  EXPECT_EQ(view->attributedSubstring(1, 5), "\xc3\xadh");
  EXPECT_FALSE(view->attributedSubstring(3, 1));
  EXPECT_FALSE(view->attributedSubstring(1, 0));
  EXPECT_EQ(view->characterIndex(8 * 5 + 1, 16 * 2 + 1), 165);
  view->unmarkText();
  EXPECT_EQ(view->markedRange().first, -1);
  EXPECT_FALSE(view->keyState.kittyIsComposing);
  EXPECT_FALSE(view->composition.markedTextOverlay);
}

// An input method that remembers where it was told the caret is.
struct RecordingIm {
  GtkIMContext parent;
  GdkRectangle area;
};
struct RecordingImClass {
  GtkIMContextClass parent;
};
G_DEFINE_TYPE(RecordingIm, recording_im, GTK_TYPE_IM_CONTEXT)
void recording_im_init(RecordingIm* im) { im->area = {-1, -1, 0, 0}; }
void recording_im_class_init(RecordingImClass* type) {
  GTK_IM_CONTEXT_CLASS(type)->set_cursor_location = [](GtkIMContext* im, GdkRectangle* area) {
    reinterpret_cast<RecordingIm*>(im)->area = *area;
  };
}

// An input method shows its candidates at the caret: a caret that moves without a new layout of
// the view must still tell it where it went.
TEST_F(TextInputTest, TheInputMethodFollowsTheCaret) {
  auto* im = static_cast<RecordingIm*>(g_object_new(recording_im_get_type(), nullptr));
  view->composition.imContext.reset(GTK_IM_CONTEXT(im));
  view->feed("\x1b[3;6H");
  view->updateDisplay(false);
  EXPECT_EQ(im->area.x, 5 * 8);
  EXPECT_EQ(im->area.y, 2 * 16);
}

TEST_F(TextInputTest, SelectedRangeIsTheSelectionOrTheCaret) {
  feed("\x1b[3;6H");
  EXPECT_EQ(view->selectedRange(), (std::pair<int64_t, int64_t>{165, 0}));
  view->selection->setSelection(Position(10, 1), Position(2, 1));
  EXPECT_EQ(view->selectedRange(), (std::pair<int64_t, int64_t>{82, 8}));
  EXPECT_TRUE(TerminalView::isPlainPrintableText("h\xc3\xa9"));
  EXPECT_FALSE(TerminalView::isPlainPrintableText("a\x1b"));
  EXPECT_FALSE(TerminalView::isPlainPrintableText("\xc2\x85"));
  EXPECT_FALSE(TerminalView::isPlainPrintableText(""));
}

TEST_F(MouseInputTest, ReportsFollowTheMouseMode) {
  // Off: a click only touches the selection.
  EXPECT_EQ(sentBy([&] { view->mouseDown(at(MouseRecord::Kind::down, 2, 3)); }), "");
  feed("\x1b[?1000h\x1b[?1006h");
  EXPECT_EQ(sentBy([&] { view->mouseDown(at(MouseRecord::Kind::down, 2, 3)); }), "\x1b[<0;3;4M");
  EXPECT_EQ(sentBy([&] { view->mouseUp(at(MouseRecord::Kind::up, 2, 3)); }), "\x1b[<0;3;4m");
  EXPECT_EQ(sentBy([&] { view->mouseDown(at(MouseRecord::Kind::down, 0, 0, {.control = true})); }), "\x1b[<16;1;1M");
  // The secondary button is xterm's third, the middle one its second; SGR releases name them.
  MouseRecord right = at(MouseRecord::Kind::down, 2, 3);
  right.buttonNumber = 1;
  EXPECT_EQ(sentBy([&] { view->mouseDown(right); }), "\x1b[<2;3;4M");
  right.kind = MouseRecord::Kind::up;
  EXPECT_EQ(sentBy([&] { view->mouseUp(right); }), "\x1b[<2;3;4m");
  MouseRecord middle = at(MouseRecord::Kind::down, 2, 3);
  middle.buttonNumber = 2;
  EXPECT_EQ(sentBy([&] { view->mouseDown(middle); }), "\x1b[<1;3;4M");
  // Button-less motion is reported only in any-event mode.
  EXPECT_EQ(sentBy([&] { view->mouseMoved(at(MouseRecord::Kind::moved, 1, 1)); }), "");
  feed("\x1b[?1003h");
  EXPECT_EQ(sentBy([&] { view->mouseMoved(at(MouseRecord::Kind::moved, 1, 1)); }), "\x1b[<35;2;2M");
  EXPECT_EQ(sentBy([&] { view->mouseDragged(at(MouseRecord::Kind::dragged, 4, 1)); }), "\x1b[<32;5;2M");
}

TEST_F(MouseInputTest, X10ModeReportsPressesOnly) {
  feed("some text\x1b[?9h");
  // Presses without modifier bits, whatever is held; releases and motion are not reported.
  EXPECT_EQ(sentBy([&] { view->mouseDown(at(MouseRecord::Kind::down, 2, 3, {.control = true})); }), "\x1b[M #$");
  EXPECT_EQ(sentBy([&] { view->mouseUp(at(MouseRecord::Kind::up, 2, 3)); }), "");
  EXPECT_EQ(sentBy([&] { view->mouseDragged(at(MouseRecord::Kind::dragged, 4, 3)); }), "");
  EXPECT_FALSE(view->selection->active());
}

TEST_F(MouseInputTest, ShiftSelectsLocallyUnlessTheProgramCapturesIt) {
  feed("hello world\r\n\x1b[?1000h");
  view->mouseDown(at(MouseRecord::Kind::down, 0, 0, {}, 2));
  EXPECT_EQ(host.sent, "\x1b[M !!");
  host.sent.clear();
  view->allowMouseReporting = false;
  view->mouseDown(at(MouseRecord::Kind::down, 1, 0, {}, 2));
  EXPECT_TRUE(view->selection->active());
  EXPECT_EQ(view->selection->getSelectedText(), "hello");
  view->allowMouseReporting = true;
  EXPECT_EQ(sentBy([&] { view->mouseDown(at(MouseRecord::Kind::down, 8, 0, testing::InputTest::shift())); }), "");
  EXPECT_EQ(view->selection->getSelectedText(), "hello world");
}

TEST_F(MouseInputTest, ClicksSelectWordsAndLinesAndDragsExtend) {
  feed("alpha beta gamma\r\nsecond line");
  view->mouseDown(at(MouseRecord::Kind::down, 7, 0, {}, 3));
  EXPECT_EQ(view->selection->getSelectedText(), "alpha beta gamma");
  view->mouseDown(at(MouseRecord::Kind::down, 7, 0, {}, 1));
  EXPECT_FALSE(view->selection->active());
  view->mouseUp(at(MouseRecord::Kind::up, 7, 0));
  // The drag selects from where the button went down, however far its first motion lands.
  view->mouseDown(at(MouseRecord::Kind::down, 0, 0, {}, 1));
  view->mouseDragged(at(MouseRecord::Kind::dragged, 5, 1));
  EXPECT_TRUE(view->mouseState.didSelectionDrag);
  EXPECT_EQ(view->selection->getSelectedText(), "alpha beta gamma\nsecond");
  EXPECT_EQ(view->mouseState.autoScrollDelta, 0);
  view->mouseUp(at(MouseRecord::Kind::up, 5, 1));
  EXPECT_FALSE(view->mouseState.lastSelectionDragPoint);
}

// The secondary button neither clears the selection nor makes one: a right click out of the habit
// of a context menu left nothing to copy.
TEST_F(MouseInputTest, TheSecondaryButtonLeavesTheSelectionAlone) {
  feed("alpha beta gamma");
  view->mouseDown(at(MouseRecord::Kind::down, 7, 0, {}, 2));
  view->mouseUp(at(MouseRecord::Kind::up, 7, 0));
  MouseRecord right = at(MouseRecord::Kind::down, 1, 0);
  right.buttonNumber = 1;
  view->mouseDown(right);
  right.kind = MouseRecord::Kind::dragged;
  right.x = 8 * 14;
  view->mouseDragged(right);
  right.kind = MouseRecord::Kind::up;
  view->mouseUp(right);
  EXPECT_TRUE(view->selectionActive());
  EXPECT_EQ(view->selection->getSelectedText(), "beta");
}

// A drag takes in the character under the press and the one under the pointer, either way and
// up to the last column; a Shift-click takes in the character clicked.
TEST_F(MouseInputTest, DragsTakeInTheCharactersAtBothEnds) {
  const int cols = view->getTerminal().cols;
  const std::string full = std::string(size_t(cols - 1), 'a') + "Z";
  feed(full +
       "\r\nword1 word2\r\nab\xe4\xb8\xad"
       "cd");
  struct Case {
    const char* name;
    int fromCol, fromRow, toCol, toRow;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {"rightwards onto the last column", 0, 0, cols - 1, 0, full},
           {"leftwards from the last column", cols - 1, 0, 0, 0, full},
           {"rightwards within a line", 0, 1, 4, 1, "word1"},
           {"leftwards within a line", 4, 1, 0, 1, "word1"},
           {"one character", 6, 1, 6, 1, "w"},
           {"onto either half of a wide character", 0, 2, 3, 2, "ab\xe4\xb8\xad"},
           {"within a wide character's second half", 3, 2, 3, 2, "\xe4\xb8\xad"},
           {"leftwards from a wide character's first half", 2, 2, 1, 2, "b\xe4\xb8\xad"},
       }) {
    view->mouseDown(at(MouseRecord::Kind::down, c.fromCol, c.fromRow));
    view->mouseDragged(at(MouseRecord::Kind::dragged, c.toCol, c.toRow));
    EXPECT_EQ(view->selection->getSelectedText(), c.text) << c.name;
    view->mouseUp(at(MouseRecord::Kind::up, c.toCol, c.toRow));
  }
  view->mouseDown(at(MouseRecord::Kind::down, 0, 1));
  view->mouseDragged(at(MouseRecord::Kind::dragged, 4, 1));
  view->mouseUp(at(MouseRecord::Kind::up, 4, 1));
  view->mouseDown(at(MouseRecord::Kind::down, 10, 1, InputModifiers{.shift = true}));
  EXPECT_EQ(view->selection->getSelectedText(), "word1 word2");
}

// Output ends a selection, but not one a drag is still making: the button let go copies it.
TEST_F(MouseInputTest, OutputLeavesTheSelectionADragIsMaking) {
  feed("keep this\r\n");
  view->mouseDown(at(MouseRecord::Kind::down, 0, 0));
  view->mouseDragged(at(MouseRecord::Kind::dragged, 3, 0));
  feed("more output\r\n");
  view->mouseDragged(at(MouseRecord::Kind::dragged, 8, 0));
  feed("and more\r\n");
  ASSERT_TRUE(view->selectionActive());
  EXPECT_EQ(view->selection->getSelectedText(), "keep this");
  view->mouseUp(at(MouseRecord::Kind::up, 8, 0));
  feed("after\r\n");
  EXPECT_FALSE(view->selectionActive());
  // A switch of screens ends it all the same: its rows are the other screen's.
  view->mouseDown(at(MouseRecord::Kind::down, 0, 0));
  view->mouseDragged(at(MouseRecord::Kind::dragged, 3, 0));
  feed("\x1b[?1049h");
  EXPECT_FALSE(view->selectionActive());
}

TEST_F(MouseInputTest, DraggingPastTheEdgesAutoScrollsFasterFurtherOut) {
  for (int i = 0; i < 200; i++) view->feed("row\r\n");
  view->mouseDragged(at(MouseRecord::Kind::dragged, 0, 5));
  view->mouseDragged(at(MouseRecord::Kind::dragged, 0, -4));
  EXPECT_EQ(view->mouseState.autoScrollDelta, -3);
  EXPECT_NE(view->mouseState.selectionAutoScrollTimer.get(), 0u);
  view->mouseDragged(at(MouseRecord::Kind::dragged, 0, -12));
  EXPECT_EQ(view->mouseState.autoScrollDelta, -std::max(view->getTerminal().rows, 20));
  int before = view->getTerminal().buffer->yDisp;
  view->scrollingTimerElapsed();
  EXPECT_EQ(view->getTerminal().buffer->yDisp, before - std::max(view->getTerminal().rows, 20));
  view->mouseDragged(at(MouseRecord::Kind::dragged, 0, 5));
  EXPECT_EQ(view->mouseState.selectionAutoScrollTimer.get(), 0u);
  view->mouseUp(at(MouseRecord::Kind::up, 0, 5));
  EXPECT_EQ(view->mouseState.autoScrollDelta, 0);
}

TEST_F(MouseInputTest, TheWheelScrollsSendsArrowsOrReports) {
  for (int i = 0; i < 100; i++) view->feed("row\r\n");
  host.sent.clear();
  Buffer& normal = *view->getTerminal().buffer;
  int bottom = normal.yDisp;
  view->scrollWheel(wheel(0));
  EXPECT_EQ(normal.yDisp, bottom);
  view->scrollWheel(wheel(0.3));
  EXPECT_EQ(normal.yDisp, bottom - 1);
  // Precise deltas below a cell keep their remainder, sign included.
  view->scrollWheel(wheel(-10, true));
  EXPECT_EQ(normal.yDisp, bottom - 1);
  EXPECT_DOUBLE_EQ(view->mouseState.scrollAccumulator, -10);
  view->scrollWheel(wheel(-10, true));
  EXPECT_EQ(normal.yDisp, bottom);
  EXPECT_DOUBLE_EQ(view->mouseState.scrollAccumulator, -4);
  view->setScrollSensitivity(0);
  EXPECT_DOUBLE_EQ(view->mouseState.scrollSensitivity, 0.05);
  view->setScrollSensitivity(1);

  EXPECT_DOUBLE_EQ(ScrollRecord::make(5, true, false, 16).deltaY, -5);
  // A touchpad on X11 reports GTK's wheel unit: a unit is a line, fractions add up first.
  view->mouseState.scrollAccumulator = 0;
  for (int i = 0; i < 3; i++) view->scrollWheel(ScrollRecord::make(-0.25, false, true, 16));
  EXPECT_EQ(normal.yDisp, bottom);
  view->scrollWheel(ScrollRecord::make(-0.25, false, true, 16));
  EXPECT_EQ(normal.yDisp, bottom - 1);

  feed("\x1b[?1049h");
  EXPECT_EQ(sentBy([&] { view->scrollWheel(wheel(3)); }), "\x1b[A\x1b[A\x1b[A");
  feed("\x1b[?1h");
  EXPECT_EQ(sentBy([&] { view->scrollWheel(wheel(-1)); }), "\x1bOB");
  feed("\x1b[?1000h\x1b[?1006h");
  EXPECT_EQ(sentBy([&] { view->scrollWheel(wheel(2, false, 4, 8)); }), "\x1b[<64;1;1M\x1b[<64;1;1M");
  EXPECT_EQ(sentBy([&] { view->scrollWheel(wheel(-1, false, 4, 8)); }), "\x1b[<65;1;1M");
}

ScrollRecord notches(double count) { return ScrollRecord::make(-count, false, false, 16); }

// A notch scrolls what the desktop's scrolled views scroll for the view's height (GTK takes a
// view 408 points tall 55 points a notch): about three lines at 24 rows, more in a taller view.
TEST_F(MouseInputTest, AWheelNotchScrollsAsFarAsTheDesktopsScrolledViews) {
  struct Case {
    int rows;
    double notches;
    double sensitivity;
    int lines;
  } cases[] = {
      {24, 1, 1, 3}, {24, 4, 1, 13},  {24, -1, 1, -3},  {10, 1, 1, 1},    {50, 1, 1, 5},
      {24, 1, 2, 6}, {24, 0.5, 1, 1}, {24, 0.25, 1, 0}, {24, 1, 0.05, 0}, {1, 1, 1, 1},
  };
  auto scrolledBack = [&](int rows) {
    view = std::make_unique<TerminalView>();
    view->terminalDelegate = &host;
    view->cellDimension = ViewSize{8, 16};
    view->getTerminal().resize(80, rows);
    for (int i = 0; i < 200; i++) view->feed("row\r\n");
    view->scrollTo(view->getTerminal().buffer->yDisp - 100, false);
  };
  for (const Case& c : cases) {
    scrolledBack(c.rows);
    Buffer& buffer = *view->getTerminal().buffer;
    view->setScrollSensitivity(c.sensitivity);
    int from = buffer.yDisp;
    // Whole notches one at a time, as a wheel turns; a fraction as a fine wheel sends it.
    double whole = std::trunc(c.notches);
    for (int i = 0; i < std::abs(int(whole)); i++) view->scrollWheel(notches(whole > 0 ? 1 : -1));
    if (c.notches != whole) view->scrollWheel(notches(c.notches - whole));
    EXPECT_EQ(from - buffer.yDisp, c.lines) << c.rows << " rows, " << c.notches << " notches x" << c.sensitivity;
  }

  // Turned back, the wheel comes back to the line it left.
  scrolledBack(24);
  Buffer& buffer = *view->getTerminal().buffer;
  int from = buffer.yDisp;
  for (int i = 0; i < 3; i++) view->scrollWheel(notches(1));
  EXPECT_EQ(from - buffer.yDisp, 9);
  for (int i = 0; i < 3; i++) view->scrollWheel(notches(-1));
  EXPECT_EQ(buffer.yDisp, from);

  // The alternate screen gets the lines as arrows; a program reading the wheel, a report a notch.
  feed("\x1b[?1049h");
  EXPECT_EQ(sentBy([&] { view->scrollWheel(notches(1)); }), "\x1b[A\x1b[A\x1b[A");
  feed("\x1b[?1000h\x1b[?1006h");
  EXPECT_EQ(sentBy([&] { view->scrollWheel(notches(1)); }), "\x1b[<64;1;1M");
  EXPECT_EQ(sentBy([&] { view->scrollWheel(notches(-2)); }), "\x1b[<65;1;1M\x1b[<65;1;1M");
  std::string fine;
  for (int i = 0; i < 8; i++) fine += sentBy([&] { view->scrollWheel(notches(0.25)); });
  EXPECT_EQ(fine, "\x1b[<64;1;1M\x1b[<64;1;1M");
}

// Touchpads move the content with the fingers: their points add up to lines, whatever the height.
TEST_F(MouseInputTest, TouchpadPointsAddUpToLines) {
  view->getTerminal().resize(80, 24);
  for (int i = 0; i < 300; i++) view->feed("row\r\n");
  Buffer& buffer = *view->getTerminal().buffer;
  int bottom = buffer.yDisp;
  std::vector<int> seen;
  for (int i = 0; i < 10; i++) {
    view->scrollWheel(ScrollRecord::make(-5, true, false, 16));
    seen.push_back(bottom - buffer.yDisp);
  }
  EXPECT_EQ(seen, (std::vector<int>{0, 0, 0, 1, 1, 1, 2, 2, 2, 3}));
  view->setScrollSensitivity(2);
  view->scrollWheel(ScrollRecord::make(-8, true, false, 16));
  EXPECT_EQ(bottom - buffer.yDisp, 4);
}

}  // namespace
}  // namespace vantrelle
