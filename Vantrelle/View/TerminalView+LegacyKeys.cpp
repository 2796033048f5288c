// Keys while the program has asked for no keyboard enhancement: the fixed sequences, and the
// engine's plain encoding for every key they would send without its modifiers.
#include <cstdio>
#include <string>

#include "Vantrelle/Keyboard/EscapeSequences.h"
#include "Vantrelle/View/KeyTables.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

using FK = KittyFunctionalKey;
using Mods = KittyKeyboardModifiers;

std::span<const uint8_t> view(const Bytes& bytes) { return std::span<const uint8_t>(bytes); }

// Keys that type a control character rather than text.
std::optional<FK> specialKey(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_ISO_Enter:
      return FK::enter;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
      return FK::tab;
    case GDK_KEY_BackSpace:
      return FK::backspace;
    case GDK_KEY_Escape:
      return FK::escape;
    default:
      return std::nullopt;
  }
}

// CSI, the parameters and the final byte; the modifier parameter only when one is held.
Bytes csi(int number, int64_t modifiers, char final) {
  char text[32];
  int n = modifiers ? std::snprintf(text, sizeof text, "\x1b[%d;%lld%c", number, (long long)(modifiers + 1), final)
                    : std::snprintf(text, sizeof text, "\x1b[%d%c", number, final);
  return Bytes(text, text + n);
}

char32_t firstScalar(const std::string& utf8) {
  if (utf8.empty()) return 0;
  gunichar ch = g_utf8_get_char_validated(utf8.data(), gssize(utf8.size()));
  return ch == gunichar(-1) || ch == gunichar(-2) ? 0 : ch;
}

}  // namespace

std::optional<Bytes> TerminalView::legacyModifiedKey(const KeyRecord& event) const {
  const InputModifiers& m = event.modifiers;
  bool meta = m.alt && optionAsMetaKey;
  // Lock keys change no sequence here.
  int64_t raw =
      (m.shift ? Mods::shift : 0) | (m.control ? Mods::ctrl : 0) | (meta ? Mods::alt : 0) | (m.super ? Mods::super : 0);
  KittyKeyEvent key;
  key.modifiers = Mods(raw);
  if (auto functional = keys::namedFunctionalKey(event.keyval)) {
    FK k = *functional;
    bool pageKey = k == FK::pageUp || k == FK::pageDown;
    // The page keys page through the normal screen's scrollback, Shift or not; only Shift+Page
    // Down has a sequence of its own there.
    bool scrolls = pageKey && !terminal->applicationCursor && !terminal->isCurrentBufferAlternate() &&
                   !(k == FK::pageDown && m.shift);
    if (scrolls) return std::nullopt;
    bool fixed = (k >= FK::up && k <= FK::pageDown) || k == FK::delete_ || (k >= FK::f1 && k <= FK::f12);
    if (raw == 0 && fixed) return std::nullopt;
    // Super with Left or Right moves to the line's ends, as Command does on other desktops.
    if ((k == FK::left || k == FK::right) && raw == Mods::super) return std::nullopt;
    // The keys that the keyboard encoding numbers its own way take the numbers xterm gives them.
    if (k == FK::menu) return csi(29, raw, '~');
    if (k == FK::f3) return csi(1, raw, 'R');
    key.key = KittyKey::functional(k);
    return encodeKitty(key);
  }
  if (raw == 0) return std::nullopt;
  if (auto special = specialKey(event.keyval)) {
    key.key = KittyKey::functional(*special);
    return encodeKitty(key);
  }
  const std::string& chars = event.charactersIgnoringModifiers;
  char32_t scalar = firstScalar(chars);
  if (scalar == 0) return std::nullopt;
  if (m.super) {
    auto text = kittyTextEvent(event, KittyKeyboardEventType::press, std::nullopt);
    if (!text) return std::nullopt;
    text->modifiers = key.modifiers;
    return encodeKitty(*text);
  }
  if (!m.control) return std::nullopt;
  if (!meta && !applyControlToEventCharacters(chars).empty()) return std::nullopt;
  // The character already carries Shift; Control (and Meta) make its control character.
  key.key = KittyKey::unicode(scalar);
  key.modifiers = Mods(raw & ~Mods::shift);
  return encodeKitty(key);
}

void TerminalView::legacyKeyDown(const KeyRecord& event) {
  if (auto bytes = legacyModifiedKey(event)) {
    if (!bytes->empty()) send(view(*bytes));
    return;
  }
  const InputModifiers& m = event.modifiers;
  const std::string& chars = event.charactersIgnoringModifiers;
  if (optionAsMetaKey && m.alt) {
    if (chars.empty()) {
      interpretKeyEvent(event);
      return;
    }
    send(view(EscapeSequences::cmdEsc));
    send(chars);
    return;
  }
  if (m.control) {
    if (chars.empty() || keys::namedFunctionalKey(event.keyval) || specialKey(event.keyval)) {
      interpretKeyEvent(event);
    } else {
      send(view(applyControlToEventCharacters(chars)));
    }
    return;
  }
  guint k = event.keyval;
  if (k >= GDK_KEY_F1 && k <= GDK_KEY_F12) {
    send(view(EscapeSequences::cmdF[k - GDK_KEY_F1]));
  } else if (k == GDK_KEY_Delete) {
    send(view(EscapeSequences::cmdDelKey));
  } else if (k == GDK_KEY_Page_Up) {
    pageUp();
  } else if (k == GDK_KEY_Page_Down) {
    pageDown();
  } else {
    interpretKeyEvent(event);
  }
}

}  // namespace vantrelle
