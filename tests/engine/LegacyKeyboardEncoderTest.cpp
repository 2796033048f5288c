// Keys to what they send while the program has asked for no keyboard enhancement.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "Vantrelle/Keyboard/LegacyKeyboardEncoder.h"

using namespace vantrelle;

namespace {

using FK = KittyFunctionalKey;
using Kind = LegacyKeyAction::Kind;
using Mods = LegacyKeyEvent::Modifiers;

// A key as the view hands it over: a named key, or the character a key types.
LegacyKeyEvent named(FK key, std::string characters = {}) {
  LegacyKeyEvent event;
  event.key = key;
  event.characters = event.charactersIgnoringModifiers = std::move(characters);
  return event;
}

LegacyKeyEvent typing(std::string characters) {
  LegacyKeyEvent event;
  event.characters = event.charactersIgnoringModifiers = std::move(characters);
  return event;
}

// Tab as the layout's back-tab key, which may come without Shift.
LegacyKeyEvent backTab() {
  LegacyKeyEvent event = named(FK::tab);
  event.backTab = true;
  return event;
}

LegacyKeyEvent unshifted(LegacyKeyEvent event, std::string characters) {
  event.unshiftedCharacters = std::move(characters);
  return event;
}

LegacyKeyEvent with(LegacyKeyEvent event, Mods modifiers) {
  event.modifiers = modifiers;
  return event;
}

struct Modes {
  bool applicationCursor = false;
  bool alternateScreen = false;
  bool backspaceSendsControlH = false;
  bool optionAsMetaKey = true;
};

LegacyKeyboardEncoder encoder(Modes modes) {
  return {modes.applicationCursor, modes.alternateScreen, modes.backspaceSendsControlH, modes.optionAsMetaKey};
}

LegacyKeyAction sends(std::initializer_list<std::string_view> writes) {
  LegacyKeyAction action{Kind::send, {}, {}};
  for (std::string_view write : writes) action.writes.emplace_back(write.begin(), write.end());
  return action;
}
LegacyKeyAction sends(std::string_view bytes) { return sends({bytes}); }
LegacyKeyAction types(std::string text) { return {Kind::type, {}, std::move(text)}; }
const LegacyKeyAction pagesUp{Kind::pageUp, {}, {}};
const LegacyKeyAction pagesDown{Kind::pageDown, {}, {}};
const LegacyKeyAction nothing{};

std::string printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7f) {
      out += char(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

// The action in words, so that a failure shows what was sent.
std::string describe(const LegacyKeyAction& action) {
  switch (action.kind) {
    case Kind::none:
      return "nothing";
    case Kind::pageUp:
      return "page up";
    case Kind::pageDown:
      return "page down";
    case Kind::type:
      return "type \"" + printable(action.text) + "\"";
    case Kind::send:
      break;
  }
  std::string out = "send";
  for (const Bytes& write : action.writes) out += " \"" + printable(std::string(write.begin(), write.end())) + "\"";
  return out;
}

struct Row {
  const char* what;
  LegacyKeyEvent event;
  LegacyKeyAction expected;
  Modes modes = {};
};

void runTable(std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    EXPECT_EQ(describe(encoder(row.modes).encode(row.event)), describe(row.expected)) << row.what;
  }
}

const Mods ctrl{.control = true}, shift{.shift = true}, alt{.alt = true}, super{.super = true};
const Mods ctrlShift{.shift = true, .control = true}, ctrlAlt{.control = true, .alt = true};
const Modes app{.applicationCursor = true};
const Modes alternate{.alternateScreen = true};
const Modes appAlternate{.applicationCursor = true, .alternateScreen = true};
const Modes controlH{.backspaceSendsControlH = true};
const Modes altIsAlt{.optionAsMetaKey = false};

}  // namespace

TEST(LegacyKeyboardEncoder, KeysWithoutModifiersSendTheirFixedSequences) {
  runTable({
      {"a", typing("a"), types("a")},
      {"return", named(FK::enter, "\r"), sends("\r")},
      {"keypad enter", named(FK::keypadEnter, "\r"), sends("\r")},
      {"escape", named(FK::escape, "\x1b"), sends("\x1b")},
      {"tab", named(FK::tab, "\t"), sends("\t")},
      {"shift+tab", with(named(FK::tab), shift), sends("\x1b[Z")},
      {"back tab without shift", backTab(), sends("\x1b[Z")},
      {"backspace", named(FK::backspace, "\x7f"), sends("\x7f")},
      {"backspace as ctrl-h", named(FK::backspace, "\x7f"), sends("\b"), controlH},
      {"f1", named(FK::f1), sends("\x1bOP")},
      {"f5", named(FK::f5), sends("\x1b[15~")},
      {"f12", named(FK::f12), sends("\x1b[24~")},
      {"delete", named(FK::delete_, "\x7f"), sends("\x1b[3~")},
      {"insert", named(FK::insert), sends("\x1b[2~")},
      {"menu", named(FK::menu), sends("\x1b[29~")},
      {"f13", named(FK::f13), sends("\x1b[57376u")},
      {"home", named(FK::home), sends("\x1b[H")},
      {"up", named(FK::up), sends("\x1b[A")},
      {"up, application cursor", named(FK::up), sends("\x1bOA"), app},
      {"end, application cursor", named(FK::end), sends("\x1bOF"), app},
      {"up with ctrl, application cursor", with(named(FK::up), ctrl), sends("\x1b[1;5A"), app},
      {"keypad 8 types its digit", named(FK::keypad8, "8"), types("8")},
      {"a key with neither text nor a sequence sends nothing", named(FK::mediaPlay), nothing},
      {"a control character is no typed text", typing("\x01"), nothing},
      {"malformed text is no typed text", typing("\xc3"), nothing},
  });
}

// The Linefeed key types LF whatever else is held: no sequence of xterm's carries its modifiers.
TEST(LegacyKeyboardEncoder, TheLinefeedKeySendsALineFeed) {
  runTable({
      {"linefeed", typing("\n"), sends("\n")},
      {"linefeed, application cursor on the alternate screen", typing("\n"), sends("\n"), appAlternate},
      {"shift+linefeed", with(typing("\n"), shift), sends("\n")},
      {"ctrl+linefeed", with(typing("\n"), ctrl), sends("\n")},
      {"ctrl+shift+linefeed", with(typing("\n"), ctrlShift), sends("\n")},
      {"super+linefeed", with(typing("\n"), super), sends("\n")},
      {"alt+linefeed", with(typing("\n"), alt), sends({"\x1b", "\n"})},
      {"ctrl+alt+linefeed", with(typing("\n"), ctrlAlt), sends({"\x1b", "\n"})},
      {"alt+linefeed, alt not meta", with(typing("\n"), alt), sends("\n"), altIsAlt},
      {"ctrl+j is still its control character", with(typing("j"), ctrl), sends("\n")},
      {"return is still a carriage return", named(FK::enter, "\r"), sends("\r")},
  });
}

TEST(LegacyKeyboardEncoder, KeypadCursorKeysSendWhatTheMainBlockSends) {
  runTable({
      {"keypad up", named(FK::keypadUp), sends("\x1b[A")},
      {"keypad home", named(FK::keypadHome), sends("\x1b[H")},
      {"keypad delete", named(FK::keypadDelete), sends("\x1b[3~")},
      {"keypad insert", named(FK::keypadInsert), sends("\x1b[2~")},
      {"ctrl+keypad left", with(named(FK::keypadLeft), ctrl), sends("\x1b[1;5D")},
      {"alt+keypad right", with(named(FK::keypadRight), alt), sends("\x1b[1;3C")},
      {"shift+keypad up", with(named(FK::keypadUp), shift), sends("\x1b[1;2A")},
      {"keypad down, application cursor", named(FK::keypadDown), sends("\x1bOB"), appAlternate},
      {"keypad page up, application cursor", named(FK::keypadPageUp), sends("\x1b[5~"), appAlternate},
      // The keypad's centre (5 with Num Lock off) is a cursor key of its own, with no main-block twin.
      {"keypad begin", named(FK::keypadBegin), sends("\x1b[E")},
      {"keypad begin, application cursor", named(FK::keypadBegin), sends("\x1bOE"), app},
      {"shift+keypad begin", with(named(FK::keypadBegin), shift), sends("\x1b[1;2E")},
      {"ctrl+keypad begin, application cursor", with(named(FK::keypadBegin), ctrl), sends("\x1b[1;5E"), app},
      {"alt+keypad begin", with(named(FK::keypadBegin), alt), sends("\x1b[1;3E")},
  });
}

// Without keyboard flags a key keeps its modifiers: xterm's sequences, never the bare key or nothing.
TEST(LegacyKeyboardEncoder, KeysWithModifiersSendXtermsSequences) {
  runTable({
      {"ctrl+f2", with(named(FK::f2), ctrl), sends("\x1b[1;5Q")},
      {"alt+f3", with(named(FK::f3), alt), sends("\x1b[1;3R")},
      {"ctrl+shift+f4", with(named(FK::f4), ctrlShift), sends("\x1b[1;6S")},
      {"ctrl+f5", with(named(FK::f5), ctrl), sends("\x1b[15;5~")},
      {"ctrl+f12", with(named(FK::f12), ctrl), sends("\x1b[24;5~")},
      {"shift+f1", with(named(FK::f1), shift), sends("\x1b[1;2P")},
      {"shift+f5", with(named(FK::f5), shift), sends("\x1b[15;2~")},
      {"ctrl+delete", with(named(FK::delete_), ctrl), sends("\x1b[3;5~")},
      {"ctrl+menu", with(named(FK::menu), ctrl), sends("\x1b[29;5~")},
      {"ctrl+up", with(named(FK::up), ctrl), sends("\x1b[1;5A")},
      {"shift+up", with(named(FK::up), shift), sends("\x1b[1;2A")},
      {"alt+up", with(named(FK::up), alt), sends("\x1b[1;3A")},
      {"shift+home", with(named(FK::home), shift), sends("\x1b[1;2H")},
      {"ctrl+shift+right", with(named(FK::right), ctrlShift), sends("\x1b[1;6C")},
      {"ctrl+right", with(named(FK::right), ctrl), sends("\x1b[1;5C")},
      {"alt+left", with(named(FK::left), alt), sends("\x1b[1;3D")},
      {"ctrl+left", with(named(FK::left), ctrl), sends("\x1b[1;5D")},
      {"super+left goes to the line's start", with(named(FK::left), super),
       sends("\x1b"
             "b")},
      {"super+right goes to the line's end", with(named(FK::right), super),
       sends("\x1b"
             "f")},
      {"ctrl+backspace", with(named(FK::backspace, "\x7f"), ctrl), sends("\x08")},
      {"alt+backspace", with(named(FK::backspace, "\x7f"), alt), sends("\x1b\x7f")},
      {"ctrl+tab", with(named(FK::tab, "\t"), ctrl), sends("\t")},
      {"alt+return", with(named(FK::enter, "\r"), alt), sends("\x1b\r")},
      {"super+a", with(typing("a"), super), sends("\x1b[97;9u")},
      {"super+A reports the unshifted key", unshifted(with(typing("A"), {.shift = true, .super = true}), "a"),
       sends("\x1b[97;10u")},
  });
}

TEST(LegacyKeyboardEncoder, ControlAndAltChangeTheCharacterAKeyTypes) {
  runTable({
      {"ctrl+a", with(typing("a"), ctrl), sends("\x01")},
      {"shift+A", with(typing("A"), shift), types("A")},
      {"ctrl+space", with(typing(" "), ctrl), sends(std::string_view("\0", 1))},
      {"ctrl+6", with(typing("6"), ctrl), sends("\x1e")},
      {"ctrl+[", with(typing("["), ctrl), sends("\x1b")},
      {"ctrl+/", with(typing("/"), ctrl), sends("\x1f")},
      {"ctrl+2", with(typing("2"), ctrl), sends(std::string_view("\0", 1))},
      {"ctrl+alt+a", with(typing("a"), ctrlAlt), sends("\x1b\x01")},
      {"ctrl+shift+X", with(typing("X"), ctrlShift), sends("\x18")},
      {"ctrl on a key with no text", with(named(FK::mediaPlay), ctrl), nothing},
      // Alt as Meta sends its ESC on its own, then the characters.
      {"alt+x", with(typing("x"), alt), sends({"\x1b", "x"})},
      {"alt+x, alt not meta", with(typing("x"), alt), types("x"), altIsAlt},
      {"alt+up, alt not meta", with(named(FK::up), alt), sends("\x1b[A"), altIsAlt},
  });
  EXPECT_EQ(applyControlToEventCharacters("A"), Bytes{1});
  EXPECT_EQ(applyControlToEventCharacters("^"), Bytes{30});
  EXPECT_TRUE(applyControlToEventCharacters("\xc3\xa9").empty());
  EXPECT_TRUE(applyControlToEventCharacters("ab").empty());
}

LegacyKeyEvent latin(LegacyKeyEvent event, std::string letter) {
  event.latinCharacters = std::move(letter);
  return event;
}

// On a layout of another script Control makes the control character of the key's Latin letter;
// the key's own letter still goes out as typed, and so do keys that have no Latin letter.
TEST(LegacyKeyboardEncoder, ControlTakesTheLatinLetterOfAKeyOfAnotherScript) {
  const std::string es = "\xd1\x81", bigEs = "\xd0\xa1", zhe = "\xd0\xb6";
  runTable({
      {"ctrl+es", with(latin(typing(es), "c"), ctrl), sends("\x03")},
      {"ctrl+shift+Es", with(latin(typing(bigEs), "c"), ctrlShift), sends("\x03")},
      {"ctrl+alt+es", with(latin(typing(es), "c"), ctrlAlt), sends("\x1b\x03")},
      {"es", latin(typing(es), "c"), types(es)},
      {"alt+es", with(latin(typing(es), "c"), alt), sends({"\x1b", es})},
      {"ctrl+zhe, no Latin letter", with(typing(zhe), ctrl), sends(zhe)},
      {"ctrl+a keeps its own letter", with(latin(typing("a"), "q"), ctrl), sends("\x01")},
  });
}

// The page keys page through the normal screen's scrollback, Shift or not; elsewhere, and for a
// program that asked for application cursor keys, they are the program's and keep their modifiers.
TEST(LegacyKeyboardEncoder, PageKeysPageTheNormalScreen) {
  runTable({
      {"page up", named(FK::pageUp), pagesUp},
      {"page down", named(FK::pageDown), pagesDown},
      {"shift+page up", with(named(FK::pageUp), shift), pagesUp},
      {"shift+page down", with(named(FK::pageDown), shift), pagesDown},
      {"shift+page down, alternate screen", with(named(FK::pageDown), shift), sends("\x1b[6;2~"), alternate},
      {"page up, alternate screen", named(FK::pageUp), pagesUp, alternate},
      {"shift+page up, alternate screen", with(named(FK::pageUp), shift), sends("\x1b[5;2~"), alternate},
      {"ctrl+page down, alternate screen", with(named(FK::pageDown), ctrl), sends("\x1b[6;5~"), alternate},
      {"ctrl+page up, application cursor", with(named(FK::pageUp), ctrl), sends("\x1b[5;5~"), app},
      {"page up, application cursor", named(FK::pageUp), sends("\x1b[5~"), app},
      {"page down, application cursor", named(FK::pageDown), sends("\x1b[6~"), app},
  });
}

TEST(LegacyKeyboardEncoder, CommandsSendTheirSequencesOrPage) {
  struct CommandRow {
    KeyCommand command;
    Modes modes;
    LegacyKeyAction expected;
  };
  const CommandRow rows[] = {
      {KeyCommand::insertNewline, {}, sends("\r")},
      {KeyCommand::deleteBackward, controlH, sends("\b")},
      {KeyCommand::moveLeft, app, sends("\x1bOD")},
      {KeyCommand::scrollToEndOfDocument, {}, sends("\x1b[F")},
      {KeyCommand::insertBacktab, {}, sends("\x1b[Z")},
      {KeyCommand::scrollPageUp, {}, pagesUp},
      {KeyCommand::pageUp, app, sends("\x1b[5~")},
      {KeyCommand::scrollPageDown, app, sends("\x1b[6~")},
      {KeyCommand::pageDownAndModifySelection, {}, sends("\x1b[6~")},
      {KeyCommand::pageDownAndModifySelection, app, nothing},
      {KeyCommand::moveToRightEndOfLine,
       {},
       sends("\x1b"
             "f")},
  };
  for (const CommandRow& row : rows) {
    EXPECT_EQ(describe(encoder(row.modes).encode(row.command)), describe(row.expected)) << int(row.command);
  }
  // The keypad's cursor keys stand for no command by themselves; Enter on the keypad does.
  EXPECT_EQ(keyCommand(named(FK::keypadUp)), std::nullopt);
  EXPECT_EQ(keyCommand(named(FK::keypadEnter)), KeyCommand::insertNewline);
  EXPECT_EQ(keyCommand(with(named(FK::pageDown), shift)), KeyCommand::pageDownAndModifySelection);
}

TEST(LegacyKeyboardEncoder, IsPlainPrintableText) {
  EXPECT_TRUE(isPlainPrintableText("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"));
  for (std::string_view text :
       {std::string_view(), std::string_view("a\tb"), std::string_view("\x7f"), std::string_view("\xc2\x85"),
        std::string_view("a\xc3"), std::string_view("\xed\xa0\x80"), std::string_view("\xc0\xaf"),
        std::string_view("a\0b", 3)}) {
    EXPECT_FALSE(isPlainPrintableText(text)) << printable(std::string(text));
  }
}

// Every key string of the entry for TERM=xterm-256color (the child's TERM), as curses reads it
// once the program has sent smkx (application cursor keys) and switched to the alternate screen.
TEST(LegacyKeyboardEncoder, KeysSendWhatTheTerminfoEntrySays) {
  const Mods shiftAlt{.shift = true, .alt = true};
  struct KeyRow {
    const char* capability;
    FK key;
    Mods modifiers;
    const char* bytes;
  };
  const KeyRow rows[] = {
      {"kcuu1", FK::up, {}, "\x1bOA"},
      {"kcud1", FK::down, {}, "\x1bOB"},
      {"kcuf1", FK::right, {}, "\x1bOC"},
      {"kcub1", FK::left, {}, "\x1bOD"},
      {"khome", FK::home, {}, "\x1bOH"},
      {"kend", FK::end, {}, "\x1bOF"},
      {"kb2", FK::keypadBegin, {}, "\x1bOE"},
      {"kich1", FK::insert, {}, "\x1b[2~"},
      {"kdch1", FK::delete_, {}, "\x1b[3~"},
      {"kpp", FK::pageUp, {}, "\x1b[5~"},
      {"knp", FK::pageDown, {}, "\x1b[6~"},
      {"kcbt", FK::tab, shift, "\x1b[Z"},
      {"kbs", FK::backspace, {}, "\x7f"},
      {"kri", FK::up, shift, "\x1b[1;2A"},
      {"kind", FK::down, shift, "\x1b[1;2B"},
      {"kDC", FK::delete_, shift, "\x1b[3;2~"},
      {"kDC3", FK::delete_, alt, "\x1b[3;3~"},
      {"kDC4", FK::delete_, shiftAlt, "\x1b[3;4~"},
      {"kDC5", FK::delete_, ctrl, "\x1b[3;5~"},
      {"kDC6", FK::delete_, ctrlShift, "\x1b[3;6~"},
      {"kDC7", FK::delete_, ctrlAlt, "\x1b[3;7~"},
      {"kEND", FK::end, shift, "\x1b[1;2F"},
      {"kEND3", FK::end, alt, "\x1b[1;3F"},
      {"kEND4", FK::end, shiftAlt, "\x1b[1;4F"},
      {"kEND5", FK::end, ctrl, "\x1b[1;5F"},
      {"kEND6", FK::end, ctrlShift, "\x1b[1;6F"},
      {"kEND7", FK::end, ctrlAlt, "\x1b[1;7F"},
      {"kHOM", FK::home, shift, "\x1b[1;2H"},
      {"kHOM3", FK::home, alt, "\x1b[1;3H"},
      {"kHOM4", FK::home, shiftAlt, "\x1b[1;4H"},
      {"kHOM5", FK::home, ctrl, "\x1b[1;5H"},
      {"kHOM6", FK::home, ctrlShift, "\x1b[1;6H"},
      {"kHOM7", FK::home, ctrlAlt, "\x1b[1;7H"},
      {"kIC", FK::insert, shift, "\x1b[2;2~"},
      {"kIC3", FK::insert, alt, "\x1b[2;3~"},
      {"kIC4", FK::insert, shiftAlt, "\x1b[2;4~"},
      {"kIC5", FK::insert, ctrl, "\x1b[2;5~"},
      {"kIC6", FK::insert, ctrlShift, "\x1b[2;6~"},
      {"kIC7", FK::insert, ctrlAlt, "\x1b[2;7~"},
      {"kLFT", FK::left, shift, "\x1b[1;2D"},
      {"kLFT3", FK::left, alt, "\x1b[1;3D"},
      {"kLFT4", FK::left, shiftAlt, "\x1b[1;4D"},
      {"kLFT5", FK::left, ctrl, "\x1b[1;5D"},
      {"kLFT6", FK::left, ctrlShift, "\x1b[1;6D"},
      {"kLFT7", FK::left, ctrlAlt, "\x1b[1;7D"},
      {"kNXT", FK::pageDown, shift, "\x1b[6;2~"},
      {"kNXT3", FK::pageDown, alt, "\x1b[6;3~"},
      {"kNXT4", FK::pageDown, shiftAlt, "\x1b[6;4~"},
      {"kNXT5", FK::pageDown, ctrl, "\x1b[6;5~"},
      {"kNXT6", FK::pageDown, ctrlShift, "\x1b[6;6~"},
      {"kNXT7", FK::pageDown, ctrlAlt, "\x1b[6;7~"},
      {"kPRV", FK::pageUp, shift, "\x1b[5;2~"},
      {"kPRV3", FK::pageUp, alt, "\x1b[5;3~"},
      {"kPRV4", FK::pageUp, shiftAlt, "\x1b[5;4~"},
      {"kPRV5", FK::pageUp, ctrl, "\x1b[5;5~"},
      {"kPRV6", FK::pageUp, ctrlShift, "\x1b[5;6~"},
      {"kPRV7", FK::pageUp, ctrlAlt, "\x1b[5;7~"},
      {"kRIT", FK::right, shift, "\x1b[1;2C"},
      {"kRIT3", FK::right, alt, "\x1b[1;3C"},
      {"kRIT4", FK::right, shiftAlt, "\x1b[1;4C"},
      {"kRIT5", FK::right, ctrl, "\x1b[1;5C"},
      {"kRIT6", FK::right, ctrlShift, "\x1b[1;6C"},
      {"kRIT7", FK::right, ctrlAlt, "\x1b[1;7C"},
      {"kUP", FK::up, shift, "\x1b[1;2A"},
      {"kUP3", FK::up, alt, "\x1b[1;3A"},
      {"kUP4", FK::up, shiftAlt, "\x1b[1;4A"},
      {"kUP5", FK::up, ctrl, "\x1b[1;5A"},
      {"kUP6", FK::up, ctrlShift, "\x1b[1;6A"},
      {"kUP7", FK::up, ctrlAlt, "\x1b[1;7A"},
      {"kDN", FK::down, shift, "\x1b[1;2B"},
      {"kDN3", FK::down, alt, "\x1b[1;3B"},
      {"kDN4", FK::down, shiftAlt, "\x1b[1;4B"},
      {"kDN5", FK::down, ctrl, "\x1b[1;5B"},
      {"kDN6", FK::down, ctrlShift, "\x1b[1;6B"},
      {"kDN7", FK::down, ctrlAlt, "\x1b[1;7B"},
      {"kf1", FK::f1, {}, "\x1bOP"},
      {"kf2", FK::f2, {}, "\x1bOQ"},
      {"kf3", FK::f3, {}, "\x1bOR"},
      {"kf4", FK::f4, {}, "\x1bOS"},
      {"kf5", FK::f5, {}, "\x1b[15~"},
      {"kf6", FK::f6, {}, "\x1b[17~"},
      {"kf7", FK::f7, {}, "\x1b[18~"},
      {"kf8", FK::f8, {}, "\x1b[19~"},
      {"kf9", FK::f9, {}, "\x1b[20~"},
      {"kf10", FK::f10, {}, "\x1b[21~"},
      {"kf11", FK::f11, {}, "\x1b[23~"},
      {"kf12", FK::f12, {}, "\x1b[24~"},
      {"kf13", FK::f1, shift, "\x1b[1;2P"},
      {"kf14", FK::f2, shift, "\x1b[1;2Q"},
      {"kf15", FK::f3, shift, "\x1b[1;2R"},
      {"kf16", FK::f4, shift, "\x1b[1;2S"},
      {"kf17", FK::f5, shift, "\x1b[15;2~"},
      {"kf18", FK::f6, shift, "\x1b[17;2~"},
      {"kf19", FK::f7, shift, "\x1b[18;2~"},
      {"kf20", FK::f8, shift, "\x1b[19;2~"},
      {"kf21", FK::f9, shift, "\x1b[20;2~"},
      {"kf22", FK::f10, shift, "\x1b[21;2~"},
      {"kf23", FK::f11, shift, "\x1b[23;2~"},
      {"kf24", FK::f12, shift, "\x1b[24;2~"},
      {"kf25", FK::f1, ctrl, "\x1b[1;5P"},
      {"kf26", FK::f2, ctrl, "\x1b[1;5Q"},
      {"kf27", FK::f3, ctrl, "\x1b[1;5R"},
      {"kf28", FK::f4, ctrl, "\x1b[1;5S"},
      {"kf29", FK::f5, ctrl, "\x1b[15;5~"},
      {"kf30", FK::f6, ctrl, "\x1b[17;5~"},
      {"kf31", FK::f7, ctrl, "\x1b[18;5~"},
      {"kf32", FK::f8, ctrl, "\x1b[19;5~"},
      {"kf33", FK::f9, ctrl, "\x1b[20;5~"},
      {"kf34", FK::f10, ctrl, "\x1b[21;5~"},
      {"kf35", FK::f11, ctrl, "\x1b[23;5~"},
      {"kf36", FK::f12, ctrl, "\x1b[24;5~"},
      {"kf37", FK::f1, ctrlShift, "\x1b[1;6P"},
      {"kf38", FK::f2, ctrlShift, "\x1b[1;6Q"},
      {"kf39", FK::f3, ctrlShift, "\x1b[1;6R"},
      {"kf40", FK::f4, ctrlShift, "\x1b[1;6S"},
      {"kf41", FK::f5, ctrlShift, "\x1b[15;6~"},
      {"kf42", FK::f6, ctrlShift, "\x1b[17;6~"},
      {"kf43", FK::f7, ctrlShift, "\x1b[18;6~"},
      {"kf44", FK::f8, ctrlShift, "\x1b[19;6~"},
      {"kf45", FK::f9, ctrlShift, "\x1b[20;6~"},
      {"kf46", FK::f10, ctrlShift, "\x1b[21;6~"},
      {"kf47", FK::f11, ctrlShift, "\x1b[23;6~"},
      {"kf48", FK::f12, ctrlShift, "\x1b[24;6~"},
      {"kf49", FK::f1, alt, "\x1b[1;3P"},
      {"kf50", FK::f2, alt, "\x1b[1;3Q"},
      {"kf51", FK::f3, alt, "\x1b[1;3R"},
      {"kf52", FK::f4, alt, "\x1b[1;3S"},
      {"kf53", FK::f5, alt, "\x1b[15;3~"},
      {"kf54", FK::f6, alt, "\x1b[17;3~"},
      {"kf55", FK::f7, alt, "\x1b[18;3~"},
      {"kf56", FK::f8, alt, "\x1b[19;3~"},
      {"kf57", FK::f9, alt, "\x1b[20;3~"},
      {"kf58", FK::f10, alt, "\x1b[21;3~"},
      {"kf59", FK::f11, alt, "\x1b[23;3~"},
      {"kf60", FK::f12, alt, "\x1b[24;3~"},
      {"kf61", FK::f1, shiftAlt, "\x1b[1;4P"},
      {"kf62", FK::f2, shiftAlt, "\x1b[1;4Q"},
      {"kf63", FK::f3, shiftAlt, "\x1b[1;4R"},
  };
  for (const KeyRow& row : rows) {
    EXPECT_EQ(describe(encoder(appAlternate).encode(with(named(row.key), row.modifiers))), describe(sends(row.bytes)))
        << row.capability;
  }
}
