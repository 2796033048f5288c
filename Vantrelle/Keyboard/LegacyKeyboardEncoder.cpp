#include "Vantrelle/Keyboard/LegacyKeyboardEncoder.h"

#include <unicode/uchar.h>

#include <cstdio>

#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {

namespace {

using FK = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;
using Kind = LegacyKeyAction::Kind;

// The keypad's cursor and editing keys (Num Lock off) send what the main block's keys send.
std::optional<FK> mainBlockKey(std::optional<FK> key) {
  if (!key) return key;
  switch (*key) {
    case FK::keypadUp:
      return FK::up;
    case FK::keypadDown:
      return FK::down;
    case FK::keypadLeft:
      return FK::left;
    case FK::keypadRight:
      return FK::right;
    case FK::keypadHome:
      return FK::home;
    case FK::keypadEnd:
      return FK::end;
    case FK::keypadPageUp:
      return FK::pageUp;
    case FK::keypadPageDown:
      return FK::pageDown;
    case FK::keypadInsert:
      return FK::insert;
    case FK::keypadDelete:
      return FK::delete_;
    default:
      return key;
  }
}

// The cursor and editing keys, function keys and the other keys with a sequence of their own.
bool isNamedKey(std::optional<FK> key) {
  if (!key) return false;
  FK k = *key;
  return (k >= FK::insert && k <= FK::f35) || k == FK::menu || k == FK::scrollLock || k == FK::printScreen ||
         k == FK::pause || k == FK::keypadBegin;
}

// Enter, Tab, Backspace and Escape: keys that type a control character rather than text.
bool isControlKey(std::optional<FK> key) { return key && *key <= FK::backspace; }

// CSI, the parameters and the final byte; the modifier parameter only when one is held.
Bytes csi(int number, int64_t modifiers, char final) {
  char text[48];
  const int n = modifiers
                    ? std::snprintf(text, sizeof text, "\x1b[%d;%lld%c", number, (long long)(modifiers + 1), final)
                    : std::snprintf(text, sizeof text, "\x1b[%d%c", number, final);
  return Bytes(text, text + n);
}

// Control with a letter of another script (Control+C on a Cyrillic layout) makes the control
// character of the key's Latin letter, or a shell would never see ^C.
void takeLatinLetterUnderControl(LegacyKeyEvent& event) {
  const std::string& chars = event.charactersIgnoringModifiers;
  if (event.key || event.latinCharacters.empty() || chars.empty() || uint8_t(chars[0]) < 0x80) return;
  if (applyControlToEventCharacters(event.latinCharacters).empty()) return;
  event.characters = event.charactersIgnoringModifiers = event.unshiftedCharacters = event.latinCharacters;
}

// The Linefeed key: it types LF as Return types CR, and is no key of the keyboard protocol's.
bool typesLineFeed(const LegacyKeyEvent& event) { return !event.key && event.charactersIgnoringModifiers == "\n"; }

LegacyKeyAction sent(std::vector<Bytes> writes) { return {Kind::send, std::move(writes), {}}; }

LegacyKeyAction sent(const Bytes& bytes) { return sent(std::vector<Bytes>{bytes}); }

}  // namespace

std::optional<KeyCommand> keyCommand(const LegacyKeyEvent& event) {
  if (!event.key) return std::nullopt;
  const LegacyKeyEvent::Modifiers& m = event.modifiers;
  switch (*event.key) {
    case FK::enter:
    case FK::keypadEnter:
      return KeyCommand::insertNewline;
    case FK::escape:
      return KeyCommand::cancelOperation;
    case FK::backspace:
      return KeyCommand::deleteBackward;
    case FK::up:
      return KeyCommand::moveUp;
    case FK::down:
      return KeyCommand::moveDown;
    case FK::left:
      return m.super ? KeyCommand::moveToLeftEndOfLine : KeyCommand::moveLeft;
    case FK::right:
      return m.super ? KeyCommand::moveToRightEndOfLine : KeyCommand::moveRight;
    case FK::tab:
      return m.shift || event.backTab ? KeyCommand::insertBacktab : KeyCommand::insertTab;
    case FK::home:
      return KeyCommand::moveToBeginningOfLine;
    case FK::end:
      return KeyCommand::moveToEndOfLine;
    case FK::pageUp:
      return KeyCommand::scrollPageUp;
    case FK::pageDown:
      return m.shift ? KeyCommand::pageDownAndModifySelection : KeyCommand::scrollPageDown;
    default:
      return std::nullopt;
  }
}

LegacyKeyAction LegacyKeyboardEncoder::encode(const LegacyKeyEvent& pressed) const {
  LegacyKeyEvent event = pressed;
  event.key = mainBlockKey(pressed.key);
  // No sequence carries Linefeed's modifiers: Alt as Meta puts its ESC before it as before any key,
  // and the others leave the line feed as it is rather than lose it.
  if (typesLineFeed(event)) {
    const Bytes lineFeed{'\n'};
    return optionAsMetaKey && event.modifiers.alt ? sent({EscapeSequences::cmdEsc, lineFeed}) : sent(lineFeed);
  }
  if (event.modifiers.control) takeLatinLetterUnderControl(event);
  if (auto bytes = modifiedKey(event)) return bytes->empty() ? LegacyKeyAction{} : sent(*bytes);
  const LegacyKeyEvent::Modifiers& m = event.modifiers;
  const std::string& chars = event.charactersIgnoringModifiers;
  if (optionAsMetaKey && m.alt) {
    if (chars.empty()) return interpret(event);
    return sent({EscapeSequences::cmdEsc, Bytes(chars.begin(), chars.end())});
  }
  if (m.control) {
    if (chars.empty() || isNamedKey(event.key) || isControlKey(event.key)) return interpret(event);
    return sent(applyControlToEventCharacters(chars));
  }
  if (!event.key) return interpret(event);
  FK key = *event.key;
  if (key >= FK::f1 && key <= FK::f12) return sent(EscapeSequences::cmdF[size_t(key) - size_t(FK::f1)]);
  if (key == FK::delete_) return sent(EscapeSequences::cmdDelKey);
  if (key == FK::keypadBegin) {
    return sent(applicationCursor ? EscapeSequences::keypadBeginApp : EscapeSequences::keypadBeginNormal);
  }
  // A program that asked for application cursor keys reads the page keys too (a pager that
  // keeps to the normal screen); otherwise the host pages.
  if (key == FK::pageUp) return encode(KeyCommand::pageUp);
  if (key == FK::pageDown) return encode(KeyCommand::pageDown);
  return interpret(event);
}

// What the input method would leave of a key: an editing command, or the text it types.
LegacyKeyAction LegacyKeyboardEncoder::interpret(const LegacyKeyEvent& event) const {
  if (auto command = keyCommand(event)) return encode(*command);
  if (!event.characters.empty() && isPlainPrintableText(event.characters)) return {Kind::type, {}, event.characters};
  return {};
}

LegacyKeyAction LegacyKeyboardEncoder::encode(KeyCommand command) const {
  using S = EscapeSequences;
  const bool app = applicationCursor;
  switch (command) {
    case KeyCommand::insertNewline:
      return sent(S::cmdRet);
    case KeyCommand::cancelOperation:
      return sent(S::cmdEsc);
    case KeyCommand::deleteBackward:
      return sent(Bytes{uint8_t(backspaceSendsControlH ? 0x08 : 0x7f)});
    case KeyCommand::moveUp:
      return sent(app ? S::moveUpApp : S::moveUpNormal);
    case KeyCommand::moveDown:
      return sent(app ? S::moveDownApp : S::moveDownNormal);
    case KeyCommand::moveLeft:
      return sent(app ? S::moveLeftApp : S::moveLeftNormal);
    case KeyCommand::moveRight:
      return sent(app ? S::moveRightApp : S::moveRightNormal);
    case KeyCommand::insertTab:
      return sent(S::cmdTab);
    case KeyCommand::insertBacktab:
      return sent(S::cmdBackTab);
    case KeyCommand::moveToBeginningOfLine:
    case KeyCommand::scrollToBeginningOfDocument:
      return sent(app ? S::moveHomeApp : S::moveHomeNormal);
    case KeyCommand::moveToEndOfLine:
    case KeyCommand::scrollToEndOfDocument:
      return sent(app ? S::moveEndApp : S::moveEndNormal);
    case KeyCommand::scrollPageUp:
    case KeyCommand::pageUp:
      return app ? sent(S::cmdPageUp) : LegacyKeyAction{Kind::pageUp, {}, {}};
    case KeyCommand::scrollPageDown:
    case KeyCommand::pageDown:
      return app ? sent(S::cmdPageDown) : LegacyKeyAction{Kind::pageDown, {}, {}};
    case KeyCommand::pageDownAndModifySelection:
      return app ? LegacyKeyAction{} : sent(S::cmdPageDown);
    case KeyCommand::moveToLeftEndOfLine:
      return sent(S::emacsBack);
    case KeyCommand::moveToRightEndOfLine:
      return sent(S::emacsForward);
  }
  return {};
}

// A key that the fixed sequences would send without its modifiers keeps them: the xterm sequence
// of the key with modifiers. Nothing when the key has no such sequence.
std::optional<Bytes> LegacyKeyboardEncoder::modifiedKey(const LegacyKeyEvent& event) const {
  const LegacyKeyEvent::Modifiers& m = event.modifiers;
  const bool meta = m.alt && optionAsMetaKey;
  const int64_t raw =
      (m.shift ? Mods::shift : 0) | (m.control ? Mods::ctrl : 0) | (meta ? Mods::alt : 0) | (m.super ? Mods::super : 0);
  KittyKeyEvent key;
  key.modifiers = Mods(raw);
  if (isNamedKey(event.key)) {
    FK k = *event.key;
    const bool pageKey = k == FK::pageUp || k == FK::pageDown;
    // The page keys page through the normal screen's scrollback, Shift or not: Shift+Page Down
    // takes the user back down the scrollback that Shift+Page Up went up.
    const bool scrolls = pageKey && !applicationCursor && !alternateScreen;
    if (scrolls) return std::nullopt;
    const bool fixed =
        (k >= FK::up && k <= FK::pageDown) || k == FK::delete_ || (k >= FK::f1 && k <= FK::f12) || k == FK::keypadBegin;
    if (raw == 0 && fixed) return std::nullopt;
    // Super with Left or Right moves to the line's ends, as Command does on other desktops.
    if ((k == FK::left || k == FK::right) && raw == Mods::super) return std::nullopt;
    // The keys that the keyboard protocol numbers its own way take the numbers xterm gives them.
    if (k == FK::menu) return csi(29, raw, '~');
    if (k == FK::f3) return csi(1, raw, 'R');
    // The keypad's centre is a cursor key to xterm: it keeps the cursor keys' form.
    if (k == FK::keypadBegin) return csi(1, raw, 'E');
    key.key = KittyKey::functional(k);
    return encodeKitty(key);
  }
  if (raw == 0) return std::nullopt;
  if (isControlKey(event.key)) {
    key.key = KittyKey::functional(*event.key);
    return encodeKitty(key);
  }
  const std::string& chars = event.charactersIgnoringModifiers;
  const char32_t scalar = firstUtf8Scalar(chars);
  if (scalar == 0) return std::nullopt;
  if (m.super) return modifiedTextKey(event, raw);
  if (!m.control) return std::nullopt;
  if (!meta && !applyControlToEventCharacters(chars).empty()) return std::nullopt;
  // The character already carries Shift; Control (and Meta) make its control character.
  key.key = KittyKey::unicode(scalar);
  key.modifiers = Mods(raw & ~Mods::shift);
  return encodeKitty(key);
}

// Super has no legacy form: the key goes out as the keyboard protocol reports a key, by its
// unshifted character, lower-cased.
std::optional<Bytes> LegacyKeyboardEncoder::modifiedTextKey(const LegacyKeyEvent& event, int64_t modifiers) const {
  const std::string& keyText =
      event.unshiftedCharacters.empty() ? event.charactersIgnoringModifiers : event.unshiftedCharacters;
  const char32_t scalar = firstUtf8Scalar(keyText);
  const auto lower = char32_t(u_tolower(UChar32(scalar)));
  KittyKeyEvent key;
  key.key = KittyKey::unicode(lower ? lower : scalar);
  key.modifiers = Mods(modifiers);
  key.composing = event.composing;
  return encodeKitty(key);
}

std::optional<Bytes> LegacyKeyboardEncoder::encodeKitty(const KittyKeyEvent& event) const {
  KittyKeyboardEncoder encoder;
  encoder.applicationCursor = applicationCursor;
  encoder.backspaceSendsControlH = backspaceSendsControlH;
  return encoder.encode(event);
}

Bytes applyControlToEventCharacters(const std::string& chars) {
  if (chars.size() != 1) return {};
  const auto c = uint8_t(chars[0]);
  if (c >= 'A' && c <= 'Z') return {uint8_t(c - 64)};
  if (c >= 'a' && c <= 'z') return {uint8_t(c - 96)};
  switch (c) {
    case '\\':
      return {28};
    case '_':
      return {31};
    case ']':
      return {29};
    case '[':
      return {27};
    case '^':
    case '6':
      return {30};
    case ' ':
      return {0};
    default:
      return {};
  }
}

bool isPlainPrintableText(std::string_view text) {
  if (text.empty()) return false;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  size_t offset = 0;
  while (offset < text.size()) {
    const Utf8Step step = decodeUtf8Step(bytes + offset, text.size() - offset);
    const char32_t c = step.scalar;
    if (step.status != Utf8Status::ok || c < 0x20 || (c >= 0x7f && c <= 0x9f)) return false;
    offset += step.consumed;
  }
  return true;
}

}  // namespace vantrelle
