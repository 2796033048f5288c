#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Keyboard/KittyKeyboardEncoder.h"

using namespace vantrelle;

namespace {

using Key = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;
using Type = KittyKeyboardEventType;

// A key event in the shape the view builds them.
struct Ev {
  KittyKeyEvent event;

  static Ev character(char32_t c, std::optional<std::string> text = std::nullopt) {
    Ev e;
    e.event.key = KittyKey::unicode(c);
    e.event.text = std::move(text);
    return e;
  }
  static Ev functional(Key k, std::optional<std::string> text = std::nullopt) {
    Ev e;
    e.event.key = KittyKey::functional(k);
    e.event.text = std::move(text);
    return e;
  }
  Ev mods(int64_t m) const {
    Ev e = *this;
    e.event.modifiers = Mods(m);
    return e;
  }
  Ev type(Type t) const {
    Ev e = *this;
    e.event.eventType = t;
    return e;
  }
  Ev shifted(char32_t c) const {
    Ev e = *this;
    e.event.shiftedKey = c;
    return e;
  }
  Ev base(char32_t c) const {
    Ev e = *this;
    e.event.baseLayoutKey = c;
    return e;
  }
  Ev composing() const {
    Ev e = *this;
    e.event.composing = true;
    return e;
  }
};

struct Case {
  const char* what;
  int64_t flags;
  Ev event;
  std::optional<std::string> expected;  // nothing: the event sends nothing
  bool applicationCursor = false;
  bool backspaceSendsControlH = false;
};

std::optional<std::string> encode(const Case& c) {
  KittyKeyboardEncoder encoder{KittyKeyboardFlags(c.flags), c.applicationCursor, c.backspaceSendsControlH};
  const auto bytes = encoder.encode(c.event.event);
  if (!bytes) {
    return std::nullopt;
  }
  return std::string(bytes->begin(), bytes->end());
}

void runTable(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(encode(c), c.expected) << c.what << " (flags " << c.flags << ")";
  }
}

const std::optional<std::string> nothing = std::nullopt;

}  // namespace

TEST(KittyKeyboardEncoder, LegacyKeysWithoutFlags) {
  runTable({
      {"up", 0, Ev::functional(Key::up), "\x1b[A"},
      {"up, application cursor", 0, Ev::functional(Key::up), "\x1bOA", true},
      {"home, application cursor", 0, Ev::functional(Key::home), "\x1bOH", true},
      {"end", 0, Ev::functional(Key::end), "\x1b[F"},
      {"f1", 0, Ev::functional(Key::f1), "\x1bOP"},
      {"f2", 0, Ev::functional(Key::f2), "\x1bOQ"},
      {"f3", 0, Ev::functional(Key::f3), "\x1b[13~"},
      {"f4", 0, Ev::functional(Key::f4), "\x1bOS"},
      {"f5", 0, Ev::functional(Key::f5), "\x1b[15~"},
      {"f6 skips 16", 0, Ev::functional(Key::f6), "\x1b[17~"},
      {"f12", 0, Ev::functional(Key::f12), "\x1b[24~"},
      {"f13", 0, Ev::functional(Key::f13), "\x1b[57376u"},
      {"f35", 0, Ev::functional(Key::f35), "\x1b[57398u"},
      {"ctrl+f5", 0, Ev::functional(Key::f5).mods(Mods::ctrl), "\x1b[15;5~"},
      {"ctrl+up", 0, Ev::functional(Key::up).mods(Mods::ctrl), "\x1b[1;5A"},
      {"shift+f1", 0, Ev::functional(Key::f1).mods(Mods::shift), "\x1b[1;2P"},
      {"insert", 0, Ev::functional(Key::insert), "\x1b[2~"},
      {"delete", 0, Ev::functional(Key::delete_), "\x1b[3~"},
      {"page down", 0, Ev::functional(Key::pageDown), "\x1b[6~"},
      {"keypad1", 0, Ev::functional(Key::keypad1), "\x1b[57400u"},
      {"keypad begin", 0, Ev::functional(Key::keypadBegin), "\x1b[57427u"},
      {"menu", 0, Ev::functional(Key::menu), "\x1b[57363u"},
      {"caps lock key", 0, Ev::functional(Key::capsLock), "\x1b[57358u"},
      {"pause", 0, Ev::functional(Key::pause), "\x1b[57362u"},
      {"volume mute", 0, Ev::functional(Key::volumeMute), "\x1b[57440u"},
      {"escape", 0, Ev::functional(Key::escape, "\x1b"), "\x1b"},
      {"alt+escape", 0, Ev::functional(Key::escape).mods(Mods::alt), "\x1b\x1b"},
      {"enter", 0, Ev::functional(Key::enter, "\r"), "\r"},
      {"alt+enter", 0, Ev::functional(Key::enter, "\r").mods(Mods::alt), "\x1b\r"},
      {"tab", 0, Ev::functional(Key::tab, "\t"), "\t"},
      {"shift+tab", 0, Ev::functional(Key::tab).mods(Mods::shift), "\x1b[Z"},
      {"backspace", 0, Ev::functional(Key::backspace, "\x7f"), "\x7f"},
      {"ctrl+backspace", 0, Ev::functional(Key::backspace).mods(Mods::ctrl), "\b"},
      {"backspace as ctrl-h", 0, Ev::functional(Key::backspace), "\b", false, true},
  });
}

TEST(KittyKeyboardEncoder, LegacyTextKeys) {
  runTable({
      {"text decides", 0, Ev::character('a', "a"), "a"},
      {"text with alt", 0, Ev::character('a', "\xc3\xa5").mods(Mods::alt), "\xc3\xa5"},
      {"text with ctrl", 0, Ev::character('a', "\x01").mods(Mods::ctrl), "\x01"},
      {"ctrl+a without text", 0, Ev::character('a').mods(Mods::ctrl), "\x01"},
      {"ctrl+alt+a", 0, Ev::character('a').mods(Mods::ctrl | Mods::alt), "\x1b\x01"},
      {"ctrl+shift+a", 0, Ev::character('a').mods(Mods::ctrl | Mods::shift), "\x1b[97;6u"},
      {"super+a", 0, Ev::character('a').mods(Mods::super), "\x1b[97;9u"},
      {"ctrl+A maps as a", 0, Ev::character('A').mods(Mods::ctrl), "\x01"},
      {"ctrl+space", 0, Ev::character(' ').mods(Mods::ctrl), std::string(1, '\0')},
      {"ctrl+2", 0, Ev::character('2').mods(Mods::ctrl), std::string(1, '\0')},
      {"ctrl+8", 0, Ev::character('8').mods(Mods::ctrl), "\x7f"},
      {"ctrl+[", 0, Ev::character('[').mods(Mods::ctrl), "\x1b"},
      {"ctrl+9 stays", 0, Ev::character('9').mods(Mods::ctrl), "9"},
      {"ctrl+unmapped", 0, Ev::character(0xE9).mods(Mods::ctrl), "\xc3\xa9"},
      {"alt+a", 0, Ev::character('a').mods(Mods::alt),
       "\x1b"
       "a"},
      {"shift+a uses shifted key", 0, Ev::character('a').mods(Mods::shift).shifted('A'), "A"},
      {"caps lock allowed", 0, Ev::character('a').mods(Mods::ctrl | Mods::capsLock), "\x01"},
      {"no key text", 0, Ev::character(0x20AC), "\xe2\x82\xac"},
  });
}

TEST(KittyKeyboardEncoder, DisambiguateFlag) {
  runTable({
      {"escape", 1, Ev::functional(Key::escape, "\x1b"), "\x1b[27u"},
      {"enter stays CR", 1, Ev::functional(Key::enter, "\r"), "\r"},
      {"shift+enter", 1, Ev::functional(Key::enter, "\r").mods(Mods::shift), "\x1b[13;2u"},
      {"ctrl+tab", 1, Ev::functional(Key::tab, "\t").mods(Mods::ctrl), "\x1b[9;5u"},
      {"alt+backspace", 1, Ev::functional(Key::backspace).mods(Mods::alt), "\x1b[127;3u"},
      {"up", 1, Ev::functional(Key::up), "\x1b[A"},
      {"up ignores application cursor", 1, Ev::functional(Key::up), "\x1b[A", true},
      {"f1", 1, Ev::functional(Key::f1), "\x1b[P"},
      {"ctrl+a", 1, Ev::character('a', "\x01").mods(Mods::ctrl), "\x1b[97;5u"},
      {"alt+a", 1, Ev::character('a', "a").mods(Mods::alt), "\x1b[97;3u"},
      {"plain a", 1, Ev::character('a', "a"), "a"},
      {"shift+a text", 1, Ev::character('a', "A").mods(Mods::shift), "A"},
      {"lock bits reported", 1, Ev::character('a', "\x01").mods(Mods::ctrl | Mods::capsLock), "\x1b[97;69u"},
      {"no key identity", 1, Ev{}.mods(Mods::ctrl), "\x1b[0;5u"},
  });
}

TEST(KittyKeyboardEncoder, AllKeysAndText) {
  runTable({
      {"a as escape code", 8, Ev::character('a', "a"), "\x1b[97u"},
      {"a with text", 24, Ev::character('a', "a"), "\x1b[97;;97u"},
      {"shift+a with text", 24, Ev::character('a', "A").mods(Mods::shift), "\x1b[97;2;65u"},
      {"shifted alternate", 28, Ev::character('a', "A").mods(Mods::shift).shifted('A'), "\x1b[97:65;2;65u"},
      {"base layout alternate", 12, Ev::character(0x444, "\xd1\x84").base('a'), "\x1b[1092::97u"},
      {"shifted and base", 12, Ev::character(0x444, "\xd0\xa4").mods(Mods::shift).shifted(0x424).base('a'),
       "\x1b[1092:1060:97;2u"},
      {"shifted key without shift", 12, Ev::character('a', "a").shifted('A'), "\x1b[97u"},
      {"ctrl drops text", 24, Ev::character('a', "\x01").mods(Mods::ctrl), "\x1b[97;5u"},
      {"caps lock keeps text", 24, Ev::character('a', "A").mods(Mods::capsLock), "\x1b[97;65;65u"},
      {"escape", 8, Ev::functional(Key::escape, "\x1b"), "\x1b[27u"},
      {"enter", 8, Ev::functional(Key::enter, "\r"), "\x1b[13u"},
      {"tab", 8, Ev::functional(Key::tab, "\t"), "\x1b[9u"},
      {"backspace", 8, Ev::functional(Key::backspace, "\x7f"), "\x1b[127u"},
      {"up", 8, Ev::functional(Key::up), "\x1b[A"},
      {"ctrl+up", 8, Ev::functional(Key::up).mods(Mods::ctrl), "\x1b[1;5A"},
      {"f5", 8, Ev::functional(Key::f5), "\x1b[15~"},
      {"keypad with text", 24, Ev::functional(Key::keypad1, "1"), "\x1b[57400;;49u"},
      {"keypad text only with text flag", 8, Ev::functional(Key::keypad1, "1"), "\x1b[57400u"},
      {"left shift alone", 8, Ev::functional(Key::leftShift).mods(Mods::shift), "\x1b[57441;2u"},
      {"right alt", 8, Ev::functional(Key::rightAlt).mods(Mods::alt), "\x1b[57449;3u"},
      {"iso level 5 shift", 8, Ev::functional(Key::isoLevel5Shift), "\x1b[57454u"},
      {"control scalars left out of text", 24,
       Ev::character('a',
                     "a\x01\xc2\x85"
                     "b"),
       "\x1b[97;;97:98u"},
  });
}

TEST(KittyKeyboardEncoder, EventTypes) {
  runTable({
      {"release without the flag", 0, Ev::character('a').type(Type::release), nothing},
      {"release without the flag, all keys", 8, Ev::functional(Key::up).type(Type::release), nothing},
      {"release of a", 2, Ev::character('a').type(Type::release), "\x1b[97;1:3u"},
      {"release of a with text", 2, Ev::character('a', "a").type(Type::release), nothing},
      {"release of enter", 2, Ev::functional(Key::enter, "\r").type(Type::release), nothing},
      {"release of tab", 3, Ev::functional(Key::tab, "\t").type(Type::release), nothing},
      {"release of enter, all keys", 10, Ev::functional(Key::enter, "\r").type(Type::release), "\x1b[13;1:3u"},
      {"repeat of up", 3, Ev::functional(Key::up).type(Type::repeatPress), "\x1b[1;1:2A"},
      {"release of f5", 2, Ev::functional(Key::f5).type(Type::release), "\x1b[15;1:3~"},
      {"shifted release", 3, Ev::functional(Key::left).mods(Mods::shift).type(Type::release), "\x1b[1;2:3D"},
      {"repeat of a with text", 2, Ev::character('a', "a").type(Type::repeatPress), "a"},
      {"release with text flag drops text", 26, Ev::character('a', "a").type(Type::release), "\x1b[97;1:3u"},
      {"repeat with text", 26, Ev::character('a', "a").type(Type::repeatPress), "\x1b[97;1:2;97u"},
      {"repeat of enter, disambiguated", 3, Ev::functional(Key::enter, "\r").type(Type::repeatPress), "\x1b[13;1:2u"},
  });
}

// Holding Enter, Tab, Backspace or Escape under the event-types flag still repeats the key; the
// repeat carries the same legacy bytes as the press.
TEST(KittyKeyboardEncoder, HeldLegacyKeysKeepRepeating) {
  runTable({
      {"enter", 2, Ev::functional(Key::enter, "\r").type(Type::repeatPress), "\r"},
      {"tab", 2, Ev::functional(Key::tab, "\t").type(Type::repeatPress), "\t"},
      {"shift+tab", 2, Ev::functional(Key::tab).mods(Mods::shift).type(Type::repeatPress), "\x1b[Z"},
      {"backspace", 2, Ev::functional(Key::backspace, "\x7f").type(Type::repeatPress), "\x7f"},
      {"escape", 2, Ev::functional(Key::escape, "\x1b").type(Type::repeatPress), "\x1b"},
  });
}

TEST(KittyKeyboardEncoder, ModifierKeysAndComposition) {
  runTable({
      {"modifier key alone", 0, Ev::functional(Key::leftControl).mods(Mods::ctrl), nothing},
      {"modifier key disambiguated", 1, Ev::functional(Key::leftShift).mods(Mods::shift), nothing},
      {"composing", 0, Ev::character('a', "a").composing(), nothing},
      {"composing, all keys", 8, Ev::character('a', "a").composing(), nothing},
      {"composing enter", 1, Ev::functional(Key::enter, "\r").composing(), nothing},
      {"composing modifier, all keys", 8, Ev::functional(Key::leftShift).mods(Mods::shift).composing(),
       "\x1b[57441;2u"},
      {"backspace with printable text", 0, Ev::functional(Key::backspace, "x"), nothing},
      {"enter with printable text", 0, Ev::functional(Key::enter, "ok"), "ok"},
      {"enter with printable text, all keys", 8, Ev::functional(Key::enter, "ok"), "ok"},
  });
}

// Text from the platform is untrusted UTF-8: malformed bytes must not turn into control scalars
// or escape the text field.
TEST(KittyKeyboardEncoder, MalformedTextStaysInItsField) {
  runTable({
      {"stray continuation byte", 24, Ev::character('a', "\x80"), "\x1b[97;;65533u"},
      {"overlong nul", 24, Ev::character('a', "\xc0\x80"), "\x1b[97;;65533:65533u"},
      {"encoded surrogate", 24, Ev::character('a', "\xed\xa0\x80"), "\x1b[97;;65533:65533:65533u"},
      {"truncated sequence", 24, Ev::character('a', "\xe2\x82"), "\x1b[97;;65533:65533u"},
      {"invalid key scalar", 1, Ev::character(0xD800).mods(Mods::ctrl), "\x1b[55296;5u"},
  });
}
