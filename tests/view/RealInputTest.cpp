// Real key and pointer events from the X server, through GDK, to the bytes sent and the selection.
#include <gtkmm/adjustment.h>
#include <gtkmm/drawingarea.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/window.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "InputTestSupport.h"
#include "tests/Programs.h"

namespace vantrelle {
namespace {

class RealInputTest : public testing::RealWindowInputTest {
 protected:
  RealInputTest() : RealWindowInputTest("RealInputTerminal", "command -v xdotool") {}
};

TEST_F(RealInputTest, TypedKeysReachTheProgram) {
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool type --delay 20 'ls' && xdotool key Return ctrl+c Up"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return host.sent.size() >= 7; }, std::chrono::seconds(5))) << host.sent;
  EXPECT_EQ(host.sent, "ls\r\x03\x1b[A");
}

TEST_F(RealInputTest, TheLinefeedKeySendsALineFeed) {
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool key a Linefeed b Return"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return host.sent.size() >= 4; }, std::chrono::seconds(5))) << host.sent;
  EXPECT_EQ(host.sent, "a\nb\r");
}

// The input method sees a key before the terminal: its Unicode entry (Ctrl+Shift+U) and dead
// keys make one character, and none of their keys reaches the program on its own.
TEST_F(RealInputTest, TheInputMethodComposesBeforeTheTerminalSeesTheKeys) {
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool key ctrl+shift+u && xdotool type --delay 20 e9 && xdotool key space"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return !host.sent.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(host.sent, "\u00e9");
  // A layout with dead keys, for this test only.
  ASSERT_EQ(std::system("setxkbmap -layout us -variant intl"), 0);
  std::shared_ptr<void> restoreLayout(nullptr, [](void*) { std::system("setxkbmap -layout us"); });
  // GTK reads the new layout from the server a moment later: until then it has no dead keys.
  ASSERT_TRUE(testing::pumpUntil([] {
    GdkKeymapKey* keys = nullptr;
    int count = 0;
    bool known = gdk_display_map_keyval(gdk_display_get_default(), GDK_KEY_dead_grave, &keys, &count);
    g_free(keys);
    return known && count > 0;
  }));
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool key dead_grave a"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return !host.sent.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(host.sent, "\u00e0");
  // Keys the input method lets through still reach the program with their modifiers.
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool key ctrl+u shift+Up"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return host.sent.size() >= 7; }, std::chrono::seconds(5))) << host.sent;
  EXPECT_EQ(host.sent, "\x15\x1b[1;2A");
  // A keypad key is a key of its own to a program that asked, not the digit the input method types.
  feed("\x1b[>1u");
  ASSERT_EQ(std::system("xdotool key KP_Add"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return !host.sent.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(host.sent, "\x1b[57413u");
}

TEST_F(RealInputTest, AModifierKeyReportsTheStateItLeaves) {
  feed("\x1b[=10u");
  ASSERT_EQ(std::system("xdotool keydown shift keyup shift"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return host.sent.size() >= 19; }, std::chrono::seconds(5))) << host.sent;
  EXPECT_EQ(host.sent, "\x1b[57441;2u\x1b[57441;1:3u");
}

TEST_F(RealInputTest, TheFindBarAndAnotherWindowTakeTheFocus) {
  feed("\x1b[?1004h");
  view->showFindBar(false);
  ASSERT_TRUE(testing::pumpUntil([&] { return !host.sent.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(host.sent, "\x1b[O");
  EXPECT_FALSE(view->hasFocus());
  EXPECT_FALSE(view->caretView->drawsFocused());
  host.sent.clear();
  view->hideFindBar();
  ASSERT_TRUE(testing::pumpUntil([&] { return !host.sent.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(host.sent, "\x1b[I");
  EXPECT_TRUE(view->hasFocus());
  host.sent.clear();
  Gtk::Window other;
  other.set_title("RealInputOther");
  other.present();
  ASSERT_TRUE(testing::pumpUntil([&] { return other.get_mapped(); }));
  ASSERT_EQ(std::system(("xdotool windowfocus --sync " + testing::xWindowOf(other) + " >/dev/null 2>&1").c_str()), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return !host.sent.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(host.sent, "\x1b[O");
  EXPECT_FALSE(view->hasFocus());
  EXPECT_FALSE(view->caretView->drawsFocused());
  other.close();
}

TEST_F(RealInputTest, KeysTypedIntoTheFindBarAreNotReportedToTheProgram) {
  feed("\x1b[=11u");
  TerminalFindBarView::findPasteboard().reset();  // a find string left by an earlier run would fill the field
  view->showFindBar(false);
  Gtk::SearchEntry& field = view->findState.findBar->searchField;
  ASSERT_TRUE(testing::pumpUntil([&] {
    Gtk::Widget* focus = window->get_focus();
    return window->is_active() && focus && (focus == &field || focus->is_ancestor(field));
  }));
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool type --delay 20 'xy' && xdotool key shift+z ctrl+a"), 0);
  // The last key selects the whole field: once it has, every key has been handled.
  ASSERT_TRUE(testing::pumpUntil([&] {
    int start = 0, end = 0;
    return field.get_selection_bounds(start, end) && start == 0 && end == 3;
  })) << view->findState.findBar->text();
  EXPECT_EQ(host.sent, "");
  EXPECT_EQ(view->findState.findBar->text(), "xyZ");
  EXPECT_FALSE(view->commandActive);
}

// Turns the wheel `clicks` times (4 up, 5 down) where the xdotool command `pointer` moves the pointer.
void turnWheel(const std::string& pointer, int button, int clicks) {
  std::string command = "xdotool " + pointer;
  for (int i = 0; i < clicks; i++) command += " click " + std::to_string(button);
  ASSERT_EQ(std::system(command.c_str()), 0);
}

// A notch goes as far as in the desktop's own scrolled views of the terminal's height: measured
// on one of them, the same distance in lines, the part of a line left over kept for the next.
TEST_F(RealInputTest, AWheelNotchScrollsAsFarAsAScrolledViewOfTheSameHeight) {
  for (int i = 0; i < 100; i++) view->feed("row\r\n");
  testing::pumpFor(std::chrono::milliseconds(50));
  Buffer& buffer = *view->getTerminal().buffer;
  const double lineHeight = view->cellDimension->height;
  const int pageHeight = int(std::lround(view->getTerminal().rows * lineHeight));

  Gtk::Window other;
  other.set_title("RealInputScrolled");
  Gtk::ScrolledWindow scrolled;
  Gtk::DrawingArea tall;
  tall.set_content_width(200);
  tall.set_content_height(100 * pageHeight);
  scrolled.set_child(tall);
  scrolled.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::ALWAYS);
  scrolled.set_size_request(200, pageHeight);
  other.set_child(scrolled);
  other.present();
  auto adjustment = scrolled.get_vadjustment();
  ASSERT_TRUE(testing::pumpUntil([&] { return std::lround(adjustment->get_page_size()) == pageHeight; }))
      << adjustment->get_page_size() << " for " << pageHeight;
  turnWheel("mousemove --window " + testing::xWindowOf(other) + " 20 20", 5, 1);
  ASSERT_TRUE(testing::pumpUntil([&] { return adjustment->get_value() > 0; }, std::chrono::seconds(5)));
  testing::pumpFor(std::chrono::milliseconds(100));
  const double notch = adjustment->get_value();
  other.close();

  const int bottom = buffer.yDisp;
  const int expected = int(3 * notch / lineHeight);
  ASSERT_GE(expected, 3) << notch;
  turnWheel(pointerAt(40, 40), 4, 3);
  ASSERT_TRUE(testing::pumpUntil([&] { return buffer.yDisp <= bottom - expected; }, std::chrono::seconds(5)));
  testing::pumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(bottom - buffer.yDisp, expected) << notch << " points a notch, lines of " << lineHeight;
}

TEST_F(RealInputTest, TheFindBarSearchesAsYouTypeStepsWithReturnAndGivesTheKeysBack) {
  feed("one apple\r\ntwo apple\r\nthree apple\r\n");
  TerminalFindBarView::findPasteboard().reset();
  ASSERT_EQ(std::system("xdotool key ctrl+shift+f && xdotool type --delay 20 apple"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->findState.findBarTerm == "apple"; }, std::chrono::seconds(5)));
  EXPECT_EQ(view->selection->start(), Position(4, 0));
  ASSERT_EQ(std::system("xdotool key Return"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->selection->start().row == 1; }, std::chrono::seconds(5)));
  ASSERT_EQ(std::system("xdotool key shift+Return"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->selection->start().row == 0; }, std::chrono::seconds(5)));
  ASSERT_EQ(std::system("xdotool key Escape"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return !view->findState.findBar->get_visible(); }, std::chrono::seconds(5)));
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool type x"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return !host.sent.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(host.sent, "x");
}

TEST_F(RealInputTest, ASecondaryClickIsReportedAsXtermsThirdButton) {
  feed("\x1b[?1000h\x1b[?1006h");
  ASSERT_EQ(std::system(("xdotool " + pointerAt(2, 2) + " click 3 click 2").c_str()), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return host.sent.size() >= 36; }, std::chrono::seconds(5))) << host.sent;
  EXPECT_EQ(host.sent, "\x1b[<2;1;1M\x1b[<2;1;1m\x1b[<1;1;1M\x1b[<1;1;1m");
}

TEST_F(RealInputTest, DraggingSelectsText) {
  view->feed("drag over this text");
  testing::pumpFor(std::chrono::milliseconds(100));
  std::string command = "xdotool " + pointerAtCell(0, 0) + " mousedown 1 mousemove_relative --sync " +
                        std::to_string(int(view->cellDimension->width * 8)) + " 0 mouseup 1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->selection->active() && !view->mouseState.mouseButtonHeld; }));
  EXPECT_EQ(view->selection->getSelectedText().substr(0, 8), "drag ove")
      << view->selection->start().col << "," << view->selection->start().row << " " << view->selection->end().col << ","
      << view->selection->end().row;
}

// What the mouse selects becomes the desktop's primary selection; the middle button pastes it
// as a paste (bracketed when the program asked), and leaves the selection alone.
TEST_F(RealInputTest, TheMiddleButtonPastesWhatTheMouseSelected) {
  view->feed("pick this word\r\n\x1b[?2004h");
  testing::pumpFor(std::chrono::milliseconds(100));
  // The middle of "this", then of the row below it.
  ASSERT_EQ(std::system(("xdotool " + pointerAtCell(6, 0) + " click --repeat 2 1").c_str()), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return view->selection->active() && !view->mouseState.mouseButtonHeld; }));
  ASSERT_EQ(view->selection->getSelectedText(), "this");
  host.sent.clear();
  ASSERT_EQ(std::system(("xdotool " + pointerAtCell(6, 1) + " click 2").c_str()), 0);
  ASSERT_TRUE(
      testing::pumpUntil([&] { return host.sent.find("\x1b[201~") != std::string::npos; }, std::chrono::seconds(5)))
      << host.sent;
  EXPECT_EQ(host.sent, "\x1b[200~this\x1b[201~");
  EXPECT_TRUE(view->selection->active());
  EXPECT_EQ(view->selection->getSelectedText(), "this");
}

// Text a program hid leaves through neither selection: a triple click and the middle button, or
// the clipboard's copy and paste, give the blanks it shows.
TEST_F(RealInputTest, HiddenTextIsCopiedAsTheBlanksItShows) {
  view->feed("pw: \x1b[8mhunter2\x1b[m (hidden)\r\n");
  testing::pumpFor(std::chrono::milliseconds(100));
  ASSERT_EQ(std::system(("xdotool " + pointerAtCell(6, 0) + " click --repeat 3 1").c_str()), 0);
  ASSERT_TRUE(testing::pumpUntil([&] {
    return view->selection->active() && view->selection->selectingRows && !view->mouseState.mouseButtonHeld;
  }));
  const std::string shown = "pw:         (hidden)";
  host.sent.clear();
  ASSERT_EQ(std::system(("xdotool " + pointerAtCell(6, 2) + " click 2").c_str()), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return host.sent.size() >= shown.size(); }, std::chrono::seconds(5)))
      << host.sent;
  EXPECT_EQ(host.sent, shown);
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool key ctrl+shift+c ctrl+shift+v"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return host.sent.size() >= shown.size(); }, std::chrono::seconds(5)))
      << host.sent;
  EXPECT_EQ(host.sent, shown);
}

constexpr const char* clipboardReader = "timeout 20 xclip -o -selection clipboard";

// What another program reads of the clipboard, read on a thread of its own while the main loop
// serves it. A main loop that stops for good ends the test program rather than hanging it.
std::string readClipboardElsewhere() {
  std::atomic<bool> read = false;
  std::string text;
  std::thread reader([&] {
    if (FILE* pipe = popen(clipboardReader, "r")) {
      char chunk[65536];
      for (size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
      pclose(pipe);
    }
    read = true;
  });
  std::mutex mutex;
  std::condition_variable served;
  bool pumped = false;
  std::thread watchdog([&] {
    std::unique_lock lock(mutex);
    if (!served.wait_for(lock, std::chrono::seconds(30), [&] { return pumped; })) {
      std::fprintf(stderr, "the main loop stopped while another program read the clipboard\n");
      std::_Exit(1);
    }
  });
  testing::pumpUntil([&] { return read.load(); }, std::chrono::seconds(25));
  {
    std::lock_guard lock(mutex);
    pumped = true;
  }
  served.notify_all();
  watchdog.join();
  reader.join();
  return text;
}

// A copy longer than the X server takes in one request goes to another program in pieces that the
// main loop hands over: the view keeps handing them over to the end, for each paste.
TEST_F(RealInputTest, AnotherProgramPastesALongCopyWhole) {
  ::testing::programs::require(clipboardReader);
  view->changeScrollback(20000);
  std::string lines;
  for (int i = 0; i < 15000; i++) {
    std::string line = std::to_string(i);
    line.resize(72, char('a' + i % 26));
    lines += line + (i + 1 < 15000 ? "\r\n" : "");
  }
  view->feed(lines);
  view->selectAll();
  view->copy();
  const std::string copied = view->getSelection().value_or("");
  ASSERT_GT(copied.size(), size_t(1) << 20);
  for (int paste = 0; paste < 2; paste++) {
    const std::string pasted = readClipboardElsewhere();
    EXPECT_EQ(pasted.size(), copied.size()) << "paste " << paste;
    EXPECT_TRUE(pasted == copied) << "paste " << paste;
  }
}

}  // namespace
}  // namespace vantrelle
