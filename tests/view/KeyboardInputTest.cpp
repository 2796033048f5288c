// Keys to bytes: the legacy sequences and the Kitty keyboard encoding, through the view's key path.
// The legacy encoding's own cases are in the engine's tests; these check what the view hands it
// (GDK keys, the modes, the view's options and actions).
#include "InputTestSupport.h"

namespace vantrelle {
namespace {

using KeyboardInputTest = testing::InputTest;

TEST_F(KeyboardInputTest, LegacyKeysSendTheirFixedSequences) {
  EXPECT_EQ(key(GDK_KEY_a), "a");
  EXPECT_EQ(key(GDK_KEY_Return), "\r");
  EXPECT_EQ(key(GDK_KEY_Escape), "\x1b");
  EXPECT_EQ(key(GDK_KEY_Tab), "\t");
  EXPECT_EQ(key(GDK_KEY_ISO_Left_Tab, shift()), "\x1b[Z");
  EXPECT_EQ(key(GDK_KEY_BackSpace), "\x7f");
  view->backspaceSendsControlH = true;
  EXPECT_EQ(key(GDK_KEY_BackSpace), "\b");
  EXPECT_EQ(key(GDK_KEY_F5), "\x1b[15~");
  EXPECT_EQ(key(GDK_KEY_F1), "\x1bOP");
  EXPECT_EQ(key(GDK_KEY_Delete), "\x1b[3~");
  EXPECT_EQ(key(GDK_KEY_Home), "\x1b[H");
  EXPECT_EQ(key(GDK_KEY_Up), "\x1b[A");
  feed("\x1b[?1h");
  EXPECT_EQ(key(GDK_KEY_Up), "\x1bOA");
  EXPECT_EQ(key(GDK_KEY_End), "\x1bOF");
}

// Linefeed types LF as Return types CR, also for a program that asked for the keyboard protocol,
// which has no code for the key: it gets the line feed, and no release of a key it never saw.
TEST_F(KeyboardInputTest, TheLinefeedKeySendsALineFeed) {
  for (const char* flags : {"", "\x1b[=1u", "\x1b[=31u"}) {
    feed(flags);
    EXPECT_EQ(press(GDK_KEY_Linefeed), "\n") << flags;
    EXPECT_EQ(release(GDK_KEY_Linefeed), "") << flags;
    EXPECT_EQ(key(GDK_KEY_Linefeed, control()), "\n") << flags;
    EXPECT_EQ(key(GDK_KEY_Linefeed, shift()), "\n") << flags;
    EXPECT_EQ(key(GDK_KEY_Linefeed, alt()), "\x1b\n") << flags;
    EXPECT_EQ(keyUp(GDK_KEY_Linefeed, control()), "") << flags;
  }
  feed("\x1b[=0u");
  view->optionAsMetaKey = false;
  EXPECT_EQ(key(GDK_KEY_Linefeed, alt()), "\n");
}

TEST_F(KeyboardInputTest, KeypadNavigationKeysSendWhatTheMainBlockSends) {
  EXPECT_EQ(key(GDK_KEY_KP_Up), "\x1b[A");
  EXPECT_EQ(key(GDK_KEY_KP_Home), "\x1b[H");
  EXPECT_EQ(key(GDK_KEY_KP_Delete), "\x1b[3~");
  EXPECT_EQ(key(GDK_KEY_KP_Left, control()), "\x1b[1;5D");
  EXPECT_EQ(key(GDK_KEY_KP_Right, alt()), "\x1b[1;3C");
  feed("\x1b[?1h\x1b[?1049h");
  EXPECT_EQ(key(GDK_KEY_KP_Down), "\x1bOB");
  EXPECT_EQ(key(GDK_KEY_KP_Page_Up), "\x1b[5~");
  // With Num Lock on the keypad types its digits.
  EXPECT_EQ(key(GDK_KEY_KP_8), "8");
}

TEST_F(KeyboardInputTest, ControlMapsLettersAndPunctuationToControlCharacters) {
  EXPECT_EQ(key(GDK_KEY_a, control()), "\x01");
  EXPECT_EQ(key(GDK_KEY_A, {.shift = true, .control = false}), "A");
  EXPECT_EQ(key(GDK_KEY_bracketleft, control()), "\x1b");
  EXPECT_EQ(key(GDK_KEY_Left, control()), "\x1b[1;5D");
}

TEST_F(KeyboardInputTest, AltActsAsMetaUntilToggled) {
  EXPECT_EQ(key(GDK_KEY_x, alt()), "\x1bx");
  EXPECT_EQ(key(GDK_KEY_Return, alt()), "\x1b\r");
  EXPECT_EQ(key(GDK_KEY_o, {.shift = true, .control = true, .alt = true}), "");
  EXPECT_FALSE(view->optionAsMetaKey);
  EXPECT_EQ(key(GDK_KEY_x, alt()), "x");
}

// Written apart, ESC and the key can reach the program in two reads, which a program that tells
// Alt+key from Escape by one read takes for Escape and then the plain key.
TEST_F(KeyboardInputTest, AltAndItsKeyGoOutInOneWrite) {
  struct CountingHost : testing::RecordingHost {
    std::vector<std::string> writes;
    void send(TerminalView&, std::span<const uint8_t> data) override { writes.emplace_back(data.begin(), data.end()); }
  } counting;
  view->terminalDelegate = &counting;
  view->keyDown(KeyRecord::make(GDK_KEY_question, alt()));
  view->terminalDelegate = &host;
  EXPECT_EQ(counting.writes, std::vector<std::string>{"\x1b?"});
}

TEST_F(KeyboardInputTest, PageKeysScrollTheNormalScreenAndAreSentOnTheAlternateOne) {
  for (int i = 0; i < 100; i++) view->feed("line\r\n");
  host.sent.clear();
  int bottom = view->getTerminal().buffer->yDisp;
  ASSERT_GT(bottom, 0);
  EXPECT_EQ(key(GDK_KEY_Page_Up), "");
  EXPECT_EQ(view->getTerminal().buffer->yDisp, bottom - view->getTerminal().rows);
  feed("\x1b[?1049h");
  EXPECT_EQ(key(GDK_KEY_Page_Up), "\x1b[5~");
}

TEST_F(KeyboardInputTest, KittyFlagsChooseTheKittyEncoding) {
  feed("\x1b[>1u");
  EXPECT_EQ(key(GDK_KEY_a), "a");
  EXPECT_EQ(key(GDK_KEY_Escape), "\x1b[27u");
  EXPECT_EQ(key(GDK_KEY_a, control()), "\x1b[97;5u");
  EXPECT_EQ(key(GDK_KEY_KP_5, {}, 84), "\x1b[57404u");
  // A main-block arrow stays an arrow.
  EXPECT_EQ(key(GDK_KEY_Up, {}, 111), "\x1b[A");
  // Releases are not reported without the event-types flag.
  EXPECT_EQ(keyUp(GDK_KEY_a), "");
  feed("\x1b[=8u");
  EXPECT_EQ(key(GDK_KEY_Return), "\x1b[13u");
  EXPECT_EQ(key(GDK_KEY_ISO_Left_Tab, shift()), "\x1b[9;2u");
  EXPECT_EQ(key(GDK_KEY_o, {.shift = true, .control = true, .alt = true}), "");
  EXPECT_FALSE(view->optionAsMetaKey);
}

TEST_F(KeyboardInputTest, KittyReleasesNeedTheirFlags) {
  feed("\x1b[=2u");
  EXPECT_EQ(keyUp(GDK_KEY_a), "");
  EXPECT_EQ(keyUp(GDK_KEY_a, control()), "\x1b[97;5:3u");
  EXPECT_EQ(keyUp(GDK_KEY_Up), "\x1b[1;1:3A");
  feed("\x1b[=10u");
  EXPECT_EQ(keyUp(GDK_KEY_a), "\x1b[97;1:3u");
  // A modifier key reports the state it leaves: its own bit set on the press, clear on the release,
  // though the key event carries the state from before it.
  EXPECT_EQ(sentBy([&] { view->flagsChanged(KeyRecord::make(GDK_KEY_Shift_L), true); }), "\x1b[57441;2u");
  EXPECT_EQ(sentBy([&] { view->flagsChanged(KeyRecord::make(GDK_KEY_Shift_L, shift()), false); }), "\x1b[57441;1:3u");
  // Other modifiers held stay in the report.
  EXPECT_EQ(sentBy([&] { view->flagsChanged(KeyRecord::make(GDK_KEY_Control_R, shift()), true); }), "\x1b[57448;6u");
}

TEST_F(KeyboardInputTest, KittyShiftedKeysReportTheBaseLayoutKey) {
  feed("\x1b[=12u");
  // Shift+1 on the key with X code 10: the shifted key and the US layout's unshifted key.
  host.sent.clear();
  view->keyDown(KeyRecord::make(GDK_KEY_exclam, shift(), 10, GDK_KEY_1));
  EXPECT_EQ(host.sent, "\x1b[49:33;2u");
  // On another layout the key at the US "q" position reports "q" as its base-layout key.
  host.sent.clear();
  view->keyDown(KeyRecord::make(GDK_KEY_a, control(), 24, GDK_KEY_a));
  EXPECT_EQ(host.sent, "\x1b[97::113;5u");
}

struct ModifiedKey {
  guint keyval;
  InputModifiers modifiers;
  std::string_view bytes;
};

// Without keyboard flags a key keeps its modifiers: xterm's sequences, never the bare key or nothing.
TEST_F(KeyboardInputTest, KeysWithModifiersSendXtermsSequences) {
  const InputModifiers ctrl{.control = true}, shift{.shift = true}, alt{.alt = true}, super{.super = true};
  const InputModifiers ctrlShift{.shift = true, .control = true}, ctrlAlt{.control = true, .alt = true};
  const ModifiedKey table[] = {
      {GDK_KEY_Insert, {}, "\x1b[2~"},
      {GDK_KEY_Menu, {}, "\x1b[29~"},
      {GDK_KEY_F3, alt, "\x1b[1;3R"},
      {GDK_KEY_F4, ctrlShift, "\x1b[1;6S"},
      {GDK_KEY_Delete, ctrl, "\x1b[3;5~"},
      {GDK_KEY_slash, ctrl, "\x1f"},
      {GDK_KEY_Up, alt, "\x1b[1;3A"},
      {GDK_KEY_KP_Up, shift, "\x1b[1;2A"},
      {GDK_KEY_Home, shift, "\x1b[1;2H"},
      {GDK_KEY_a, ctrlAlt, "\x1b\x01"},
      {GDK_KEY_X, ctrlShift, "\x18"},
      {GDK_KEY_BackSpace, alt, "\x1b\x7f"},
      {GDK_KEY_Tab, ctrl, "\t"},
      {GDK_KEY_a, super, "\x1b[97;9u"},
      {GDK_KEY_Left, super,
       "\x1b"
       "b"},
      {GDK_KEY_F13, {}, "\x1b[57376u"},
  };
  for (const ModifiedKey& row : table) {
    EXPECT_EQ(key(row.keyval, row.modifiers), row.bytes) << gdk_keyval_name(row.keyval);
  }
  // Application-cursor mode changes only the unmodified arrows.
  feed("\x1b[?1h");
  EXPECT_EQ(key(GDK_KEY_Up), "\x1bOA");
  EXPECT_EQ(key(GDK_KEY_Up, ctrl), "\x1b[1;5A");
  // The page keys page the normal screen whatever is held; elsewhere they keep their modifiers.
  feed("\x1b[?1l");
  for (int i = 0; i < 100; i++) view->feed("line\r\n");
  int bottom = view->getTerminal().buffer->yDisp;
  EXPECT_EQ(key(GDK_KEY_Page_Up, shift), "");
  EXPECT_LT(view->getTerminal().buffer->yDisp, bottom);
  feed("\x1b[?1049h");
  EXPECT_EQ(key(GDK_KEY_Page_Up, shift), "\x1b[5;2~");
  EXPECT_EQ(key(GDK_KEY_Page_Down, ctrl), "\x1b[6;5~");
}

TEST_F(KeyboardInputTest, KittyReportsNumLockOnTheKeypad) {
  feed("\x1b[=31u");
  EXPECT_EQ(press(GDK_KEY_Num_Lock, {}, 77), "\x1b[57360u");
  EXPECT_EQ(release(GDK_KEY_Num_Lock, {}, 77), "\x1b[57360;1:3u");
  const InputModifiers numLock{.numLock = true};
  EXPECT_EQ(press(GDK_KEY_KP_1, numLock, 87), "\x1b[57400;129;49u");
  // Num Lock went off while the key was down: it is let go as the key it was pressed as.
  EXPECT_EQ(release(GDK_KEY_KP_End, {}, 87), "\x1b[57400;1:3u");
  // Num Lock changes nothing off the keypad.
  EXPECT_EQ(press(GDK_KEY_a, numLock, 38), "\x1b[97;;97u");
  feed("\x1b[=0u");
  EXPECT_EQ(press(GDK_KEY_Num_Lock, {}, 77), "");
  EXPECT_EQ(release(GDK_KEY_Num_Lock, {}, 77), "");
}

TEST_F(KeyboardInputTest, ShiftInsertPastesThePrimarySelection) {
  view->get_primary_clipboard()->set_text("picked");
  feed("\x1b[?2004h");
  EXPECT_EQ(press(GDK_KEY_Insert, shift()), "");
  ASSERT_TRUE(testing::pumpUntil([&] { return !host.sent.empty(); }));
  EXPECT_EQ(host.sent, "\x1b[200~picked\x1b[201~");
  EXPECT_EQ(key(GDK_KEY_Insert), "\x1b[2~");
}

TEST_F(KeyboardInputTest, AShortcutTheViewKeepsNeverReachesTheProgram) {
  feed("\x1b[=31u");
  const InputModifiers ctrlShift{.shift = true, .control = true};
  view->feed("some text");
  host.sent.clear();
  EXPECT_EQ(press(GDK_KEY_A, ctrlShift, 38), "");
  EXPECT_TRUE(view->selectionActive());
  EXPECT_EQ(release(GDK_KEY_A, {}, 38), "");
  // The next press of the key is the program's again.
  EXPECT_EQ(press(GDK_KEY_a, {}, 38), "\x1b[97;;97u");
  EXPECT_EQ(release(GDK_KEY_a, {}, 38), "\x1b[97;1:3u");
}

}  // namespace
}  // namespace vantrelle
