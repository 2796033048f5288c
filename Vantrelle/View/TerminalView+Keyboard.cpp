// Keyboard input: key events become the legacy sequences or the Kitty keyboard encoding.
#include <gtkmm/eventcontrollerkey.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "Vantrelle/Text/Utf8.h"
#include "Vantrelle/View/KeyTables.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

using FK = KittyFunctionalKey;

// A key event carries the modifiers held before it, but a modifier key's own report carries the
// state it leaves behind: Shift going down reports shift held, going up reports it released.
KittyKeyboardModifiers kittyModifiersAfter(KittyKeyboardModifiers before, FK key, bool pressed) {
  int64_t bit = 0;
  switch (key) {
    case FK::leftShift:
    case FK::rightShift:
      bit = KittyKeyboardModifiers::shift;
      break;
    case FK::leftControl:
    case FK::rightControl:
      bit = KittyKeyboardModifiers::ctrl;
      break;
    case FK::leftAlt:
    case FK::rightAlt:
      bit = KittyKeyboardModifiers::alt;
      break;
    case FK::leftSuper:
    case FK::rightSuper:
      bit = KittyKeyboardModifiers::super;
      break;
    case FK::capsLock:
      bit = KittyKeyboardModifiers::capsLock;
      break;
    default:
      return before;
  }
  int64_t raw = before.rawValue;
  raw = pressed ? raw | bit : raw & ~bit;
  return KittyKeyboardModifiers(raw);
}

// The key's value at the first shift level of the event's layout group.
guint unshiftedKeyval(Gtk::EventControllerKey* controller, guint keycode) {
  GdkEvent* event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller->gobj()));
  if (!event) return 0;
  guint keyval = 0;
  if (!gdk_display_translate_key(gdk_event_get_display(event), keycode, GdkModifierType(0),
                                 int(gdk_key_event_get_layout(event)), &keyval, nullptr, nullptr, nullptr)) {
    return 0;
  }
  return keyval;
}

std::span<const uint8_t> view(const Bytes& bytes) { return std::span<const uint8_t>(bytes); }

// Num Lock is no part of a GDK event's modifier state; the keyboard device knows it.
bool numLockOn(GdkEvent* event) {
  GdkDevice* device = event ? gdk_event_get_device(event) : nullptr;
  return device && gdk_device_get_source(device) == GDK_SOURCE_KEYBOARD && gdk_device_get_num_lock_state(device);
}

KeyRecord recordOf(Gtk::EventControllerKey* controller, guint keyval, guint keycode, Gdk::ModifierType state) {
  KeyRecord record = KeyRecord::make(keyval, InputModifiers::from(GdkModifierType(state)), keycode,
                                     unshiftedKeyval(controller, keycode));
  record.event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(controller->gobj()));
  // Asking costs a round trip to the display server on X11, and only the keypad reports it.
  if (keys::keypadKey(keyval)) record.modifiers.numLock = numLockOn(record.event);
  if (!record.latinCharacters.empty() && record.event) {
    char32_t latin = keys::latinLetter(gdk_event_get_display(record.event), keycode);
    record.latinCharacters = latin ? std::string(1, char(latin)) : std::string();
  }
  return record;
}

// The built-in input method (dead keys, compose, Unicode entry) takes a key that cannot go on
// with its sequence, does nothing with it and keeps the sequence: after a stray dead key, Ctrl+C,
// Enter and the arrows would vanish until a letter ends it.
bool isBuiltInInputMethod(GtkIMContext* im) {
  if (!im || !GTK_IS_IM_MULTICONTEXT(im)) return false;
  const char* id = gtk_im_multicontext_get_context_id(GTK_IM_MULTICONTEXT(im));
  return id && std::string_view(id) == "gtk-im-context-simple";
}

// The keyboard protocol has no code for the Linefeed key: a program that asked for it gets the
// line feed the key has always typed, and no release it could not match with a press.
bool isLinefeedKey(const KeyRecord& event) { return event.keyval == GDK_KEY_Linefeed; }

}  // namespace

void TerminalView::setupKeyboardInput() {
  auto keys = Gtk::EventControllerKey::create();
  keys->signal_key_pressed().connect(
      [this, raw = keys.get()](guint keyval, guint keycode, Gdk::ModifierType state) {
        // Keys typed into a child (the find bar) that it left unhandled are not the program's.
        if (get_focus_child()) return false;
        return keyPressed(recordOf(raw, keyval, keycode, state));
      },
      false);
  keys->signal_key_released().connect([this, raw = keys.get()](guint keyval, guint keycode, Gdk::ModifierType state) {
    if (get_focus_child()) {
      std::erase_if(keyState.heldKeys, [&](const HeldKey& held) { return held.keycode == keycode; });
      // The find bar's keys are not the program's; a link modifier let go there still ends the
      // link preview it started over the terminal.
      if (keyval == GDK_KEY_Control_L || keyval == GDK_KEY_Control_R) commandKeyChanged(false);
      return;
    }
    keyReleased(recordOf(raw, keyval, keycode, state));
  });
  add_controller(keys);
}

bool TerminalView::inputMethodFilter(GdkEvent* event) {
  return event && composition.imContext && gtk_im_context_filter_keypress(composition.imContext.get(), event);
}

bool TerminalView::keyPressed(KeyRecord event) {
  if (keys::modifierKey(event.keyval)) {
    // The input method follows the modifiers too (its Unicode entry ends when they are let go).
    inputMethodFilter(event.event);
    flagsChanged(event, true);
    return false;
  }
  auto findHeld = [this, keycode = event.keycode] {
    return std::find_if(keyState.heldKeys.begin(), keyState.heldKeys.end(),
                        [&](const HeldKey& h) { return h.keycode == keycode; });
  };
  // What a key sets off may move the focus, which lets go of every held key: look again after.
  auto keep = [&] {
    if (auto held = findHeld(); held != keyState.heldKeys.end()) held->kept = true;
  };
  event.isRepeat = findHeld() != keyState.heldKeys.end();
  if (!event.isRepeat) keyState.heldKeys.push_back({event.keycode, event.keyval, event.unshiftedKeyval, false});
  if (handleKeyEquivalent(event)) {
    keep();
    return true;
  }
  // The input method sees the key before the terminal: it may compose, or take the key for an
  // entry of its own (Unicode entry). Text it commits is typed by this key. Keys that type no
  // text of their own (cursor, function and keypad keys) are the terminal's unless a composition
  // is going on: the input method would only type the keypad's digits as plain text.
  if (!keyState.kittyIsComposing && kittyFunctionalKey(event)) {
    event.event = nullptr;
    keyDown(event);
    return true;
  }
  KittyKeyboardFlags flags = terminal->keyboardEnhancementFlags();
  if (!flags.isEmpty()) {
    bool repeat = event.isRepeat && flags.contains(KittyKeyboardFlags::reportEvents) &&
                  flags.contains(KittyKeyboardFlags::reportAllKeys);
    keyState.pendingKittyKeyEvent =
        PendingKittyKeyEvent{event, repeat ? KittyKeyboardEventType::repeatPress : KittyKeyboardEventType::press};
    keyState.pendingKittyKeyEvent->event.event = nullptr;
  }
  bool composing = keyState.kittyIsComposing;
  uint64_t commits = composition.commits;
  std::optional<std::string> marked = composition.markedTextStorage;
  if (inputMethodFilter(event.event)) {
    bool ignored = composing && keyState.kittyIsComposing && composition.commits == commits &&
                   composition.markedTextStorage == marked;
    if (!ignored || !isBuiltInInputMethod(composition.imContext.get())) {
      // A key spent on a composition still going on is not the program's, nor is its release.
      if (keyState.kittyIsComposing) keep();
      return true;
    }
    // A key the sequence had no place for ends it and is the program's.
    gtk_im_context_reset(composition.imContext.get());
    unmarkText();
  }
  event.event = nullptr;
  keyDown(event);
  return true;
}

void TerminalView::keyReleased(KeyRecord event) {
  auto held = std::find_if(keyState.heldKeys.begin(), keyState.heldKeys.end(),
                           [&](const HeldKey& h) { return h.keycode == event.keycode; });
  std::optional<HeldKey> pressed;
  if (held != keyState.heldKeys.end()) {
    pressed = *held;
    keyState.heldKeys.erase(held);
  }
  if (keys::modifierKey(event.keyval)) {
    inputMethodFilter(event.event);
    flagsChanged(event, false);
    return;
  }
  if (inputMethodFilter(event.event) || (pressed && pressed->kept)) return;
  if (pressed && pressed->keyval != event.keyval) {
    KeyRecord renamed = KeyRecord::make(pressed->keyval, event.modifiers, event.keycode, pressed->unshiftedKeyval);
    keyUp(renamed);
    return;
  }
  keyUp(event);
}

KittyKeyboardModifiers TerminalView::kittyModifiers(const InputModifiers& m, bool altAlways) const {
  int64_t raw = 0;
  if (m.shift) raw |= KittyKeyboardModifiers::shift;
  if (m.control) raw |= KittyKeyboardModifiers::ctrl;
  if (m.alt && (optionAsMetaKey || altAlways)) raw |= KittyKeyboardModifiers::alt;
  if (m.super) raw |= KittyKeyboardModifiers::super;
  if (m.capsLock) raw |= KittyKeyboardModifiers::capsLock;
  return KittyKeyboardModifiers(raw);
}

std::optional<Bytes> TerminalView::encodeKitty(const KittyKeyEvent& event) const {
  KittyKeyboardEncoder encoder;
  encoder.flags = terminal->keyboardEnhancementFlags();
  encoder.applicationCursor = terminal->applicationCursor;
  encoder.backspaceSendsControlH = backspaceSendsControlH;
  return encoder.encode(event);
}

std::optional<KittyFunctionalKey> TerminalView::kittyFunctionalKey(const KeyRecord& event) const {
  if (auto key = keys::keypadKey(event.keyval)) return key;
  return keys::namedFunctionalKey(event.keyval);
}

namespace {

// Only the keypad's keys report Num Lock: it changes nothing else.
KittyKeyboardModifiers keypadModifiers(KittyKeyboardModifiers modifiers, FK key, const InputModifiers& held) {
  if (keys::isKeypad(key) && held.numLock) modifiers.rawValue |= KittyKeyboardModifiers::numLock;
  return modifiers;
}

// Keypad keys that type a character report it as their text.
std::optional<std::string> kittyTextForFunctionalKey(FK key, const KeyRecord& event) {
  bool typing = (key >= FK::keypad0 && key <= FK::keypadAdd) || key == FK::keypadEqual || key == FK::keypadSeparator;
  if (!typing) return std::nullopt;
  const std::string& text = event.characters.empty() ? event.charactersIgnoringModifiers : event.characters;
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

std::optional<KittyKeyEvent> TerminalView::kittyTextEvent(const KeyRecord& event, KittyKeyboardEventType eventType,
                                                          std::optional<std::string> text) const {
  // The key is reported by its unshifted character, the shifted one rides along.
  const std::string& keyText =
      event.unshiftedCharacters.empty() ? event.charactersIgnoringModifiers : event.unshiftedCharacters;
  char32_t scalar = firstUtf8Scalar(keyText);
  if (scalar == 0 && keyText.empty()) return std::nullopt;
  char32_t lower = g_unichar_tolower(scalar);
  KittyKeyEvent result;
  result.key = KittyKey::unicode(lower ? lower : scalar);
  if (event.modifiers.shift) {
    char32_t shifted = firstUtf8Scalar(event.characters);
    if (shifted) result.shiftedKey = shifted;
  }
  // Programs match shortcuts on the key's place, whatever layout is active.
  char32_t base = keys::usLayoutCharacter(event.keycode);
  if (base && base != result.key.scalar()) result.baseLayoutKey = base;
  result.modifiers = kittyModifiers(event.modifiers);
  result.eventType = eventType;
  result.text = std::move(text);
  result.composing = keyState.kittyIsComposing;
  return result;
}

Bytes TerminalView::applyControlToEventCharacters(const std::string& chars) {
  return vantrelle::applyControlToEventCharacters(chars);
}

// Ctrl+Shift shortcuts act on the view; everything else with Ctrl belongs to the program.
// Shift+Insert pastes the primary selection, as it does in X terminals: sent to the program
// instead, its sequence only typed "2~" at a shell's prompt.
bool TerminalView::handleKeyEquivalent(const KeyRecord& event) {
  const InputModifiers& m = event.modifiers;
  if (event.keyval == GDK_KEY_Insert && m.shift && !m.control && !m.alt && !m.super) {
    pastePrimary();
    return true;
  }
  if (!m.control || !m.shift || m.alt) return false;
  guint keyval = gdk_keyval_to_lower(event.keyval);
  // On a layout of another script the shortcuts keep to their Latin letters.
  if (gdk_keyval_to_unicode(keyval) >= 0x80 && !event.latinCharacters.empty()) {
    keyval = gdk_unicode_to_keyval(guint32(event.latinCharacters[0]));
  }
  switch (keyval) {
    case GDK_KEY_c:
      copy();
      return true;
    case GDK_KEY_v:
      paste();
      return true;
    case GDK_KEY_a:
      selectAll();
      return true;
    case GDK_KEY_f:
      performFindPanelAction(1);
      return true;
    case GDK_KEY_g:
      performFindPanelAction(2);
      return true;
    case GDK_KEY_e:
      if (selectionActive()) performFindPanelAction(7);
      return true;
    default:
      return false;
  }
}

void TerminalView::keyDown(const KeyRecord& event) {
  if (handleKeyEquivalent(event)) return;
  selection->setActive(false);
  const InputModifiers& m = event.modifiers;
  // Ctrl+Shift+Alt+O, the counterpart of Command-Option-O, switches Alt between Meta and the layout.
  bool toggleChord = m.control && m.shift && m.alt && gdk_keyval_to_lower(event.keyval) == GDK_KEY_o;
  KittyKeyboardFlags flags = terminal->keyboardEnhancementFlags();
  if (!flags.isEmpty()) {
    keyState.pendingKittyKeyEvent.reset();
    if (toggleChord) {
      optionAsMetaKey = !optionAsMetaKey;
      return;
    }
    if (isLinefeedKey(event)) {
      legacyKeyDown(event);
      return;
    }
    bool isRepeat = event.isRepeat && flags.contains(KittyKeyboardFlags::reportEvents);
    auto type = isRepeat ? KittyKeyboardEventType::repeatPress : KittyKeyboardEventType::press;
    if (auto key = kittyFunctionalKey(event)) {
      KittyKeyEvent k;
      k.key = KittyKey::functional(*key);
      k.modifiers = keypadModifiers(kittyModifiers(m), *key, m);
      k.eventType = type;
      k.text = kittyTextForFunctionalKey(*key, event);
      k.composing = keyState.kittyIsComposing;
      if (auto bytes = encodeKitty(k)) {
        send(view(*bytes));
        return;
      }
    }
    if (m.control || (m.alt && optionAsMetaKey)) {
      if (auto k = kittyTextEvent(event, type, std::nullopt)) {
        if (auto bytes = encodeKitty(*k)) send(view(*bytes));
      }
      return;
    }
    bool repeat = event.isRepeat && flags.contains(KittyKeyboardFlags::reportEvents) &&
                  flags.contains(KittyKeyboardFlags::reportAllKeys);
    keyState.pendingKittyKeyEvent =
        PendingKittyKeyEvent{event, repeat ? KittyKeyboardEventType::repeatPress : KittyKeyboardEventType::press};
    keyState.pendingKittyKeyEvent->event.event = nullptr;
    interpretKeyEvent(event);
    return;
  }
  if (toggleChord) {
    optionAsMetaKey = !optionAsMetaKey;
    return;
  }
  legacyKeyDown(event);
}

// What the input method left of a key: an editing command or plain text.
void TerminalView::interpretKeyEvent(const KeyRecord& event) {
  if (auto command = keyCommand(legacyKeyEvent(event))) {
    doCommand(*command);
    return;
  }
  if (!event.characters.empty() && isPlainPrintableText(event.characters)) insertText(event.characters, false);
}

bool TerminalView::sendKittyFunctionalKey(KittyFunctionalKey key, KittyKeyboardModifiers modifiers,
                                          KittyKeyboardEventType eventType) {
  KittyKeyEvent k;
  k.key = KittyKey::functional(key);
  k.modifiers = modifiers;
  k.eventType = eventType;
  k.composing = keyState.kittyIsComposing;
  auto bytes = encodeKitty(k);
  if (!bytes) return false;
  send(view(*bytes));
  return true;
}

void TerminalView::doCommand(Command command) {
  bool app = terminal->applicationCursor;
  if (!terminal->keyboardEnhancementFlags().isEmpty()) {
    KittyKeyboardModifiers modifiers = keyState.pendingKittyKeyEvent
                                           ? kittyModifiers(keyState.pendingKittyKeyEvent->event.modifiers)
                                           : KittyKeyboardModifiers();
    std::optional<FK> key;
    switch (command) {
      case Command::insertNewline:
        key = FK::enter;
        break;
      case Command::cancelOperation:
        key = FK::escape;
        break;
      case Command::deleteBackward:
        key = FK::backspace;
        break;
      case Command::moveUp:
        key = FK::up;
        break;
      case Command::moveDown:
        key = FK::down;
        break;
      case Command::moveLeft:
        key = FK::left;
        break;
      case Command::moveRight:
        key = FK::right;
        break;
      case Command::insertTab:
        key = FK::tab;
        break;
      case Command::insertBacktab:
        key = FK::tab;
        modifiers.rawValue |= KittyKeyboardModifiers::shift;
        break;
      case Command::moveToBeginningOfLine:
      case Command::scrollToBeginningOfDocument:
        key = FK::home;
        break;
      case Command::moveToEndOfLine:
      case Command::scrollToEndOfDocument:
        key = FK::end;
        break;
      case Command::scrollPageUp:
      case Command::pageUp:
        if (!app) return TerminalView::pageUp();
        key = FK::pageUp;
        break;
      case Command::scrollPageDown:
      case Command::pageDown:
        if (!app) return TerminalView::pageDown();
        key = FK::pageDown;
        break;
      default:
        break;
    }
    if (key && sendKittyFunctionalKey(*key, modifiers, KittyKeyboardEventType::press)) return;
  }
  performKeyAction(legacyKeyboardEncoder().encode(command));
}

void TerminalView::keyUp(const KeyRecord& event) {
  KittyKeyboardFlags flags = terminal->keyboardEnhancementFlags();
  if (!flags.contains(KittyKeyboardFlags::reportEvents) || isLinefeedKey(event)) return;
  bool allKeys = flags.contains(KittyKeyboardFlags::reportAllKeys);
  std::optional<KittyKeyEvent> k;
  if (auto key = kittyFunctionalKey(event)) {
    k = KittyKeyEvent{};
    k->key = KittyKey::functional(*key);
    k->modifiers = keypadModifiers(kittyModifiers(event.modifiers), *key, event.modifiers);
    k->eventType = KittyKeyboardEventType::release;
    k->composing = keyState.kittyIsComposing;
  } else {
    if (!allKeys && !event.modifiers.control && !(event.modifiers.alt && optionAsMetaKey)) return;
    k = kittyTextEvent(event, KittyKeyboardEventType::release, std::nullopt);
    if (!k) return;
    char32_t s = k->key.scalar();
    if (!allKeys && (s == 9 || s == 13 || s == 127)) return;
  }
  if (auto bytes = encodeKitty(*k)) send(view(*bytes));
}

void TerminalView::flagsChanged(const KeyRecord& event, bool pressed) {
  if (event.keyval == GDK_KEY_Control_L || event.keyval == GDK_KEY_Control_R) commandKeyChanged(pressed);
  KittyKeyboardFlags flags = terminal->keyboardEnhancementFlags();
  if (!flags.contains(KittyKeyboardFlags::reportAllKeys) || keyState.kittyIsComposing) return;
  auto key = keys::modifierKey(event.keyval);
  if (!key) return;
  if (!pressed && !flags.contains(KittyKeyboardFlags::reportEvents)) return;
  KittyKeyEvent k;
  k.key = KittyKey::functional(*key);
  k.modifiers = kittyModifiersAfter(kittyModifiers(event.modifiers, true), *key, pressed);
  k.eventType = pressed ? KittyKeyboardEventType::press : KittyKeyboardEventType::release;
  if (auto bytes = encodeKitty(k)) send(view(*bytes));
}

}  // namespace vantrelle
