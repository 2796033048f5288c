// Keys under other keyboard layouts, composed text, and the wheel and extra buttons over a program
// that reads the mouse, from the X server through GDK to the bytes sent.
#include <gdkmm/clipboard.h>
#include <gtkmm/window.h>

#include <cstdlib>
#include <memory>

#include "InputTestSupport.h"

namespace vantrelle {
namespace {

using KeyboardLayoutsTest = testing::InputTest;

// A record as the view makes one without a display: the US layout gives the key's Latin letter.
TEST_F(KeyboardLayoutsTest, ControlAndTheShortcutsFindTheLatinLetterOfACyrillicKey) {
  constexpr guint keyC = 54;
  EXPECT_EQ(key(GDK_KEY_Cyrillic_es, control(), keyC), "\x03");
  EXPECT_EQ(key(GDK_KEY_Cyrillic_es, {}, keyC), "\xd1\x81");
  // Ctrl+Shift+C copies rather than sending anything.
  feed("copied");
  view->selectAll();
  auto clipboard = view->get_clipboard();
  clipboard->set_text("before");
  GdkContentProvider* before = gdk_clipboard_get_content(clipboard->gobj());
  EXPECT_EQ(press(GDK_KEY_Cyrillic_ES, {.shift = true, .control = true}, keyC), "");
  EXPECT_NE(gdk_clipboard_get_content(clipboard->gobj()), before);
}

// A program that asks for every key as an escape code but not for their text still gets what an
// input method composed, as text; the keys it composed from are its own.
TEST_F(KeyboardLayoutsTest, ComposedTextReachesAProgramThatTakesKeysWithoutText) {
  const std::string eAcute = "\xc3\xa9", hanzi = "\xe4\xbd\xa0\xe5\xa5\xbd";
  struct Row {
    const char* flags;
    std::string deadKeyE, inputMethod, ownKey;
  };
  for (const Row& row : {
           Row{"\x1b[=8u", eAcute, hanzi, "\x1b[101u"},
           Row{"\x1b[=11u", eAcute, hanzi, "\x1b[101u"},
           Row{"\x1b[=24u", "\x1b[101;;233u", "\x1b[0;;20320:22909u", "\x1b[101;;101u"},
           Row{"\x1b[=1u", eAcute, hanzi, "e"},
       }) {
    feed(row.flags);
    view->keyState.pendingKittyKeyEvent = TerminalView::PendingKittyKeyEvent{KeyRecord::make(GDK_KEY_e, {}, 26)};
    EXPECT_EQ(sentBy([&] { view->insertText(eAcute); }), row.deadKeyE) << row.flags;
    EXPECT_EQ(sentBy([&] { view->insertText(hanzi); }), row.inputMethod) << row.flags;
    view->keyState.pendingKittyKeyEvent = TerminalView::PendingKittyKeyEvent{KeyRecord::make(GDK_KEY_e, {}, 26)};
    EXPECT_EQ(sentBy([&] { view->insertText("e"); }), row.ownKey) << row.flags;
  }
  // The release of the key that ended a composition sent as text is not reported either.
  feed("\x1b[=11u");
  view->keyState.heldKeys.push_back({26, GDK_KEY_e, GDK_KEY_e, false});
  view->keyState.pendingKittyKeyEvent = TerminalView::PendingKittyKeyEvent{KeyRecord::make(GDK_KEY_e, {}, 26)};
  EXPECT_EQ(sentBy([&] { view->insertText(eAcute); }), eAcute);
  EXPECT_EQ(release(GDK_KEY_e, {}, 26), "");
  EXPECT_EQ(press(GDK_KEY_a, {}, 38) + release(GDK_KEY_a, {}, 38), "\x1b[97u\x1b[97;1:3u");
}

// A mouse's back and forward buttons are no click: nothing is reported and the selection stays.
TEST_F(KeyboardLayoutsTest, ExtraMouseButtonsAreNoClicks) {
  feed("some text");
  MouseRecord back;
  back.x = 12;
  back.y = 8;
  back.buttonNumber = 7;
  for (const char* mode : {"", "\x1b[?1000h", "\x1b[?1006h"}) {
    feed(mode);
    view->selectAll();
    EXPECT_EQ(sentBy([&] { view->mouseDown(back); }), "") << mode;
    back.kind = MouseRecord::Kind::up;
    EXPECT_EQ(sentBy([&] { view->mouseUp(back); }), "") << mode;
    back.kind = MouseRecord::Kind::down;
    EXPECT_TRUE(view->selectionActive()) << mode;
  }
}

class RealInputLayoutsTest : public testing::RealWindowInputTest {
 protected:
  RealInputLayoutsTest()
      : RealWindowInputTest("RealInputLayoutsTerminal", "command -v xdotool && command -v setxkbmap") {}
  // Runs xdotool with `arguments` and waits until `count` bytes have been sent.
  std::string sentAfter(const std::string& arguments, size_t count) {
    host.sent.clear();
    EXPECT_EQ(std::system(("xdotool " + arguments).c_str()), 0);
    EXPECT_TRUE(testing::pumpUntil([&] { return host.sent.size() >= count; }, std::chrono::seconds(5))) << host.sent;
    return host.sent;
  }
};

// With a Cyrillic layout first and a Latin one second, as Russian users have it, Control still
// makes its control characters and Ctrl+Shift+C still copies.
TEST_F(RealInputLayoutsTest, ControlKeysWorkWhileACyrillicLayoutIsActive) {
  ASSERT_EQ(std::system("setxkbmap -layout ru,us"), 0);
  std::shared_ptr<void> restoreLayout(nullptr, [](void*) { std::system("setxkbmap -layout us"); });
  // GTK reads the new layout from the server a moment later.
  ASSERT_TRUE(testing::pumpUntil([] {
    GdkKeymapKey* keys = nullptr;
    int count = 0;
    bool known = gdk_display_map_keyval(gdk_display_get_default(), GDK_KEY_Cyrillic_es, &keys, &count);
    g_free(keys);
    return known && count > 0;
  }));
  // Key code 54 is the C key, 40 the D key.
  EXPECT_EQ(sentAfter("key 54 ctrl+54 ctrl+40 ctrl+alt+54", 6), "\xd1\x81\x03\x04\x1b\x03");
  feed("copied");
  view->selectAll();
  auto clipboard = view->get_clipboard();
  clipboard->set_text("before");
  GdkContentProvider* before = gdk_clipboard_get_content(clipboard->gobj());
  host.sent.clear();
  ASSERT_EQ(std::system("xdotool key ctrl+shift+54"), 0);
  ASSERT_TRUE(testing::pumpUntil([&] { return gdk_clipboard_get_content(clipboard->gobj()) != before; }));
  EXPECT_EQ(host.sent, "");
}

// A key that a dead key or the Unicode entry has no place for ends the sequence and reaches the
// program: Ctrl+C after a stray dead key interrupts, Enter enters. Sequences still compose.
TEST_F(RealInputLayoutsTest, AKeyADeadKeyCannotTakeEndsItAndReachesTheProgram) {
  ASSERT_EQ(std::system("setxkbmap -layout us -variant intl"), 0);
  std::shared_ptr<void> restoreLayout(nullptr, [](void*) { std::system("setxkbmap -layout us"); });
  ASSERT_TRUE(testing::pumpUntil([] {
    GdkKeymapKey* keys = nullptr;
    int count = 0;
    bool known = gdk_display_map_keyval(gdk_display_get_default(), GDK_KEY_dead_acute, &keys, &count);
    g_free(keys);
    return known && count > 0;
  }));
  EXPECT_EQ(sentAfter("key dead_acute ctrl+c x", 2), "\x03x");
  EXPECT_EQ(sentAfter("key dead_acute Return x", 2), "\rx");
  EXPECT_EQ(sentAfter("key dead_acute Up x", 4), "\x1b[Ax");
  EXPECT_EQ(sentAfter("key ctrl+shift+u 2 0 Up x", 4), "\x1b[Ax");
  EXPECT_EQ(sentAfter("key dead_acute e x", 3), "\xc3\xa9x");
  feed("\x1b[>1u");
  EXPECT_EQ(sentAfter("key dead_acute ctrl+c x", 8), "\x1b[99;5ux");
}

// A wheel turned over a program that reads the mouse is reported where the pointer is.
TEST_F(RealInputLayoutsTest, WheelReportsCarryThePointersCell) {
  feed("\x1b[?1000h\x1b[?1006h");
  std::string move = pointerAtCell(10, 5);
  EXPECT_EQ(sentAfter(move + " click 4 click 5", 20), "\x1b[<64;11;6M\x1b[<65;11;6M");
}

// A mouse's back and forward buttons are not reported as clicks.
TEST_F(RealInputLayoutsTest, ExtraButtonsAreNeitherReportedNorClicks) {
  feed("\x1b[?1000h\x1b[?1006h");
  std::string move = pointerAtCell(2, 1);
  // The left click after them shows that they have been handled.
  EXPECT_EQ(sentAfter(move + " click 8 click 9 click 1", 18), "\x1b[<0;3;2M\x1b[<0;3;2m");
}

}  // namespace
}  // namespace vantrelle
