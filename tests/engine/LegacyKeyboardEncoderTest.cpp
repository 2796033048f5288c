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
      {"keypad begin types nothing", named(FK::keypadBegin), nothing},
      {"a control character is no typed text", typing("\x01"), nothing},
      {"malformed text is no typed text", typing("\xc3"), nothing},
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
      {"ctrl on a key with no text", with(named(FK::keypadBegin), ctrl), nothing},
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
