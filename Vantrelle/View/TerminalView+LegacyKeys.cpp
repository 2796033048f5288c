// Keys while the program has asked for no keyboard enhancement: the GDK key becomes the engine's
// plain key record, the engine's legacy encoder decides, and the view carries out what it decided.
#include "Vantrelle/View/KeyTables.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

LegacyKeyEvent TerminalView::legacyKeyEvent(const KeyRecord& event) const {
  LegacyKeyEvent plain;
  plain.key = keys::keypadKey(event.keyval);
  if (!plain.key) plain.key = keys::namedFunctionalKey(event.keyval);
  if (!plain.key) plain.key = keys::controlKey(event.keyval);
  plain.backTab = event.keyval == GDK_KEY_ISO_Left_Tab;
  const InputModifiers& m = event.modifiers;
  plain.modifiers = {.shift = m.shift, .control = m.control, .alt = m.alt, .super = m.super};
  plain.characters = event.characters;
  plain.charactersIgnoringModifiers = event.charactersIgnoringModifiers;
  plain.unshiftedCharacters = event.unshiftedCharacters;
  plain.latinCharacters = event.latinCharacters;
  plain.composing = keyState.kittyIsComposing;
  return plain;
}

LegacyKeyboardEncoder TerminalView::legacyKeyboardEncoder() const {
  LegacyKeyboardEncoder encoder;
  encoder.applicationCursor = terminal->applicationCursor;
  encoder.alternateScreen = terminal->isCurrentBufferAlternate();
  encoder.backspaceSendsControlH = backspaceSendsControlH;
  encoder.optionAsMetaKey = optionAsMetaKey;
  return encoder;
}

void TerminalView::performKeyAction(const LegacyKeyAction& action) {
  using Kind = LegacyKeyAction::Kind;
  switch (action.kind) {
    case Kind::none:
      break;
    case Kind::send: {
      // One write for the whole key: ESC and the character of Alt+key written apart can reach the
      // program in two reads, and a program that tells Alt+key from Escape by what one read
      // holds takes them for Escape and then the plain key.
      if (action.writes.size() == 1) {
        send(std::span<const uint8_t>(action.writes.front()));
        break;
      }
      Bytes joined;
      for (const Bytes& write : action.writes) joined.insert(joined.end(), write.begin(), write.end());
      send(std::span<const uint8_t>(joined));
      break;
    }
    case Kind::type:
      insertText(action.text, false);
      break;
    case Kind::pageUp:
      pageUp();
      break;
    case Kind::pageDown:
      pageDown();
      break;
  }
}

void TerminalView::legacyKeyDown(const KeyRecord& event) {
  performKeyAction(legacyKeyboardEncoder().encode(legacyKeyEvent(event)));
}

}  // namespace vantrelle
