// Keyboard input: key events become the legacy sequences or the Kitty keyboard encoding.
#include <gtkmm/eventcontrollerkey.h>

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "Vantrelle/Keyboard/EscapeSequences.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

using FK = KittyFunctionalKey;

char32_t firstScalar(const std::string& utf8) {
  if (utf8.empty()) return 0;
  gunichar ch = g_utf8_get_char_validated(utf8.data(), gssize(utf8.size()));
  return ch == gunichar(-1) || ch == gunichar(-2) ? 0 : ch;
}

// The unshifted characters of the US layout by X key code, so that programs can match shortcuts
// on their position whatever layout is active.
const std::unordered_map<guint, char32_t>& kittyBaseLayoutKeyMap() {
  static const std::unordered_map<guint, char32_t> map = [] {
    std::unordered_map<guint, char32_t> m;
    const char* digits = "1234567890-=";
    for (int i = 0; i < 12; i++) m[10 + i] = char32_t(digits[i]);
    const char* top = "qwertyuiop[]";
    for (int i = 0; i < 12; i++) m[24 + i] = char32_t(top[i]);
    const char* home = "asdfghjkl;'`";
    for (int i = 0; i < 12; i++) m[38 + i] = char32_t(home[i]);
    const char* bottom = "\\zxcvbnm,./";
    for (int i = 0; i < 11; i++) m[51 + i] = char32_t(bottom[i]);
    m[65] = U' ';
    return m;
  }();
  return map;
}

std::optional<FK> keypadKey(guint keyval) {
  switch (keyval) {
    case GDK_KEY_KP_Decimal:
      return FK::keypadDecimal;
    case GDK_KEY_KP_Multiply:
      return FK::keypadMultiply;
    case GDK_KEY_KP_Add:
      return FK::keypadAdd;
    case GDK_KEY_KP_Begin:
      return FK::keypadBegin;
    case GDK_KEY_KP_Divide:
      return FK::keypadDivide;
    case GDK_KEY_KP_Enter:
      return FK::keypadEnter;
    case GDK_KEY_KP_Subtract:
      return FK::keypadSubtract;
    case GDK_KEY_KP_Equal:
      return FK::keypadEqual;
    case GDK_KEY_KP_Separator:
      return FK::keypadSeparator;
    case GDK_KEY_KP_Up:
      return FK::keypadUp;
    case GDK_KEY_KP_Down:
      return FK::keypadDown;
    case GDK_KEY_KP_Left:
      return FK::keypadLeft;
    case GDK_KEY_KP_Right:
      return FK::keypadRight;
    case GDK_KEY_KP_Insert:
      return FK::keypadInsert;
    case GDK_KEY_KP_Delete:
      return FK::keypadDelete;
    case GDK_KEY_KP_Home:
      return FK::keypadHome;
    case GDK_KEY_KP_End:
      return FK::keypadEnd;
    case GDK_KEY_KP_Page_Up:
      return FK::keypadPageUp;
    case GDK_KEY_KP_Page_Down:
      return FK::keypadPageDown;
    default:
      break;
  }
  if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) return FK(int(FK::keypad0) + int(keyval - GDK_KEY_KP_0));
  return std::nullopt;
}

std::optional<FK> namedFunctionalKey(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Up:
      return FK::up;
    case GDK_KEY_Down:
      return FK::down;
    case GDK_KEY_Left:
      return FK::left;
    case GDK_KEY_Right:
      return FK::right;
    case GDK_KEY_Insert:
      return FK::insert;
    case GDK_KEY_Delete:
      return FK::delete_;
    case GDK_KEY_Home:
      return FK::home;
    case GDK_KEY_End:
      return FK::end;
    case GDK_KEY_Page_Up:
      return FK::pageUp;
    case GDK_KEY_Page_Down:
      return FK::pageDown;
    case GDK_KEY_Print:
      return FK::printScreen;
    case GDK_KEY_Scroll_Lock:
      return FK::scrollLock;
    case GDK_KEY_Pause:
      return FK::pause;
    case GDK_KEY_Menu:
      return FK::menu;
    default:
      break;
  }
  if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F35) return FK(int(FK::f1) + int(keyval - GDK_KEY_F1));
  return std::nullopt;
}

// The keypad's navigation keys (Num Lock off) are the main block's keys to the legacy encoding.
guint mainBlockKeyval(guint keyval) {
  switch (keyval) {
    case GDK_KEY_KP_Up:
      return GDK_KEY_Up;
    case GDK_KEY_KP_Down:
      return GDK_KEY_Down;
    case GDK_KEY_KP_Left:
      return GDK_KEY_Left;
    case GDK_KEY_KP_Right:
      return GDK_KEY_Right;
    case GDK_KEY_KP_Home:
      return GDK_KEY_Home;
    case GDK_KEY_KP_End:
      return GDK_KEY_End;
    case GDK_KEY_KP_Page_Up:
      return GDK_KEY_Page_Up;
    case GDK_KEY_KP_Page_Down:
      return GDK_KEY_Page_Down;
    case GDK_KEY_KP_Insert:
      return GDK_KEY_Insert;
    case GDK_KEY_KP_Delete:
      return GDK_KEY_Delete;
    default:
      return keyval;
  }
}

// Keys that carry no character: arrows, function keys and the navigation block.
bool isFunctionKey(guint keyval) { return namedFunctionalKey(keyval).has_value(); }

std::optional<FK> kittyModifierKey(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Super_R:
      return FK::rightSuper;
    case GDK_KEY_Super_L:
      return FK::leftSuper;
    case GDK_KEY_Shift_L:
      return FK::leftShift;
    case GDK_KEY_Caps_Lock:
      return FK::capsLock;
    case GDK_KEY_Alt_L:
    case GDK_KEY_Meta_L:
      return FK::leftAlt;
    case GDK_KEY_Control_L:
      return FK::leftControl;
    case GDK_KEY_Shift_R:
      return FK::rightShift;
    case GDK_KEY_Alt_R:
    case GDK_KEY_Meta_R:
    case GDK_KEY_ISO_Level3_Shift:
      return FK::rightAlt;
    case GDK_KEY_Control_R:
      return FK::rightControl;
    default:
      return std::nullopt;
  }
}

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

std::optional<TerminalView::Command> commandFor(const KeyRecord& event) {
  using C = TerminalView::Command;
  const InputModifiers& m = event.modifiers;
  switch (event.keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
      return C::insertNewline;
    case GDK_KEY_Escape:
      return C::cancelOperation;
    case GDK_KEY_BackSpace:
      return C::deleteBackward;
    case GDK_KEY_Up:
      return C::moveUp;
    case GDK_KEY_Down:
      return C::moveDown;
    case GDK_KEY_Left:
      return m.super ? C::moveToLeftEndOfLine : C::moveLeft;
    case GDK_KEY_Right:
      return m.super ? C::moveToRightEndOfLine : C::moveRight;
    case GDK_KEY_Tab:
      return m.shift ? C::insertBacktab : C::insertTab;
    case GDK_KEY_ISO_Left_Tab:
      return C::insertBacktab;
    case GDK_KEY_Home:
      return C::moveToBeginningOfLine;
    case GDK_KEY_End:
      return C::moveToEndOfLine;
    case GDK_KEY_Page_Up:
      return C::scrollPageUp;
    case GDK_KEY_Page_Down:
      return m.shift ? C::pageDownAndModifySelection : C::scrollPageDown;
    default:
      return std::nullopt;
  }
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

}  // namespace

void TerminalView::setupKeyboardInput() {
  auto keys = Gtk::EventControllerKey::create();
  keys->signal_key_pressed().connect(
      [this, raw = keys.get()](guint keyval, guint keycode, Gdk::ModifierType state) {
        // Keys typed into a child (the find bar) that it left unhandled are not the program's.
        if (get_focus_child()) return false;
        KeyRecord record = KeyRecord::make(keyval, InputModifiers::from(GdkModifierType(state)), keycode,
                                           unshiftedKeyval(raw, keycode));
        record.event = gtk_event_controller_get_current_event(GTK_EVENT_CONTROLLER(raw->gobj()));
        if (kittyModifierKey(keyval)) {
          flagsChanged(record, true);
          return false;
        }
        record.isRepeat = std::find(heldKeycodes.begin(), heldKeycodes.end(), keycode) != heldKeycodes.end();
        if (!record.isRepeat) heldKeycodes.push_back(keycode);
        keyDown(record);
        return true;
      },
      false);
  keys->signal_key_released().connect([this, raw = keys.get()](guint keyval, guint keycode, Gdk::ModifierType state) {
    KeyRecord record =
        KeyRecord::make(keyval, InputModifiers::from(GdkModifierType(state)), keycode, unshiftedKeyval(raw, keycode));
    std::erase(heldKeycodes, keycode);
    if (get_focus_child()) {
      // The find bar's keys are not the program's; a link modifier let go there still ends the
      // link preview it started over the terminal.
      if (keyval == GDK_KEY_Control_L || keyval == GDK_KEY_Control_R) commandKeyChanged(false);
      return;
    }
    if (kittyModifierKey(keyval)) {
      flagsChanged(record, false);
      return;
    }
    keyUp(record);
  });
  add_controller(keys);
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
  if (auto key = keypadKey(event.keyval)) return key;
  return namedFunctionalKey(event.keyval);
}

namespace {

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
  char32_t scalar = firstScalar(keyText);
  if (scalar == 0 && keyText.empty()) return std::nullopt;
  char32_t lower = g_unichar_tolower(scalar);
  KittyKeyEvent result;
  result.key = KittyKey::unicode(lower ? lower : scalar);
  if (event.modifiers.shift) {
    char32_t shifted = firstScalar(event.characters);
    if (shifted) result.shiftedKey = shifted;
  }
  auto base = kittyBaseLayoutKeyMap().find(event.keycode);
  if (base != kittyBaseLayoutKeyMap().end() && base->second != result.key.scalar()) result.baseLayoutKey = base->second;
  result.modifiers = kittyModifiers(event.modifiers);
  result.eventType = eventType;
  result.text = std::move(text);
  result.composing = kittyIsComposing;
  return result;
}

Bytes TerminalView::applyControlToEventCharacters(const std::string& chars) {
  if (chars.size() != 1) return {};
  uint8_t c = uint8_t(chars[0]);
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

// Ctrl+Shift shortcuts act on the view; everything else with Ctrl belongs to the program.
bool TerminalView::handleKeyEquivalent(const KeyRecord& event) {
  const InputModifiers& m = event.modifiers;
  if (!m.control || !m.shift || m.alt) return false;
  switch (gdk_keyval_to_lower(event.keyval)) {
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
    pendingKittyKeyEvent.reset();
    if (toggleChord) {
      optionAsMetaKey = !optionAsMetaKey;
      return;
    }
    bool isRepeat = event.isRepeat && flags.contains(KittyKeyboardFlags::reportEvents);
    auto type = isRepeat ? KittyKeyboardEventType::repeatPress : KittyKeyboardEventType::press;
    if (auto key = kittyFunctionalKey(event)) {
      KittyKeyEvent k;
      k.key = KittyKey::functional(*key);
      k.modifiers = kittyModifiers(m);
      k.eventType = type;
      k.text = kittyTextForFunctionalKey(*key, event);
      k.composing = kittyIsComposing;
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
    pendingKittyKeyEvent =
        PendingKittyKeyEvent{event, repeat ? KittyKeyboardEventType::repeatPress : KittyKeyboardEventType::press};
    pendingKittyKeyEvent->event.event = nullptr;
    interpretKeyEvent(event);
    return;
  }
  if (toggleChord) {
    optionAsMetaKey = !optionAsMetaKey;
    return;
  }
  KeyRecord mainBlock = event;
  mainBlock.keyval = mainBlockKeyval(event.keyval);
  legacyKeyDown(mainBlock);
}

void TerminalView::legacyKeyDown(const KeyRecord& event) {
  const InputModifiers& m = event.modifiers;
  const std::string& chars = event.charactersIgnoringModifiers;
  if (optionAsMetaKey && m.alt) {
    if (event.keyval == GDK_KEY_Right) {
      send(view(EscapeSequences::emacsForward));
    } else if (event.keyval == GDK_KEY_Left) {
      send(view(EscapeSequences::emacsBack));
    } else if (!chars.empty()) {
      send(view(EscapeSequences::cmdEsc));
      send(chars);
    } else if (auto command = commandFor(event)) {
      // Alt with a key that types nothing (Return, Backspace): Meta prefixes the key's sequence.
      send(view(EscapeSequences::cmdEsc));
      doCommand(*command);
    }
    return;
  }
  if (m.control) {
    if (event.keyval == GDK_KEY_Right) {
      send(view(EscapeSequences::controlRight));
    } else if (event.keyval == GDK_KEY_Left) {
      send(view(EscapeSequences::controlLeft));
    } else if (chars.empty() || isFunctionKey(event.keyval) || commandFor(event)) {
      interpretKeyEvent(event);
    } else {
      send(view(applyControlToEventCharacters(chars)));
    }
    return;
  }
  if (isFunctionKey(event.keyval)) {
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
    return;
  }
  interpretKeyEvent(event);
}

// The input method sees the key first (it may be composing); what it leaves is a command or text.
void TerminalView::interpretKeyEvent(const KeyRecord& event) {
  if (event.event && imContext && gtk_im_context_filter_keypress(imContext.get(), event.event)) return;
  if (auto command = commandFor(event)) {
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
  k.composing = kittyIsComposing;
  auto bytes = encodeKitty(k);
  if (!bytes) return false;
  send(view(*bytes));
  return true;
}

void TerminalView::doCommand(Command command) {
  bool app = terminal->applicationCursor;
  if (!terminal->keyboardEnhancementFlags().isEmpty()) {
    KittyKeyboardModifiers modifiers =
        pendingKittyKeyEvent ? kittyModifiers(pendingKittyKeyEvent->event.modifiers) : KittyKeyboardModifiers();
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
  namespace E = vantrelle;
  using S = E::EscapeSequences;
  switch (command) {
    case Command::insertNewline:
      send(view(S::cmdRet));
      break;
    case Command::cancelOperation:
      send(view(S::cmdEsc));
      break;
    case Command::deleteBackward:
      send(view(Bytes{uint8_t(backspaceSendsControlH ? 0x08 : 0x7f)}));
      break;
    case Command::moveUp:
      send(view(app ? S::moveUpApp : S::moveUpNormal));
      break;
    case Command::moveDown:
      send(view(app ? S::moveDownApp : S::moveDownNormal));
      break;
    case Command::moveLeft:
      send(view(app ? S::moveLeftApp : S::moveLeftNormal));
      break;
    case Command::moveRight:
      send(view(app ? S::moveRightApp : S::moveRightNormal));
      break;
    case Command::insertTab:
      send(view(S::cmdTab));
      break;
    case Command::insertBacktab:
      send(view(S::cmdBackTab));
      break;
    case Command::moveToBeginningOfLine:
    case Command::scrollToBeginningOfDocument:
      send(view(app ? S::moveHomeApp : S::moveHomeNormal));
      break;
    case Command::moveToEndOfLine:
    case Command::scrollToEndOfDocument:
      send(view(app ? S::moveEndApp : S::moveEndNormal));
      break;
    case Command::scrollPageUp:
    case Command::pageUp:
      if (app)
        send(view(S::cmdPageUp));
      else
        TerminalView::pageUp();
      break;
    case Command::scrollPageDown:
    case Command::pageDown:
      if (app)
        send(view(S::cmdPageDown));
      else
        TerminalView::pageDown();
      break;
    case Command::pageDownAndModifySelection:
      if (!app) send(view(S::cmdPageDown));
      break;
    case Command::moveToLeftEndOfLine:
      send(view(S::emacsBack));
      break;
    case Command::moveToRightEndOfLine:
      send(view(S::emacsForward));
      break;
  }
}

void TerminalView::keyUp(const KeyRecord& event) {
  KittyKeyboardFlags flags = terminal->keyboardEnhancementFlags();
  if (!flags.contains(KittyKeyboardFlags::reportEvents)) return;
  bool allKeys = flags.contains(KittyKeyboardFlags::reportAllKeys);
  std::optional<KittyKeyEvent> k;
  if (auto key = kittyFunctionalKey(event)) {
    k = KittyKeyEvent{};
    k->key = KittyKey::functional(*key);
    k->modifiers = kittyModifiers(event.modifiers);
    k->eventType = KittyKeyboardEventType::release;
    k->composing = kittyIsComposing;
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
  if (!flags.contains(KittyKeyboardFlags::reportAllKeys) || kittyIsComposing) return;
  auto key = kittyModifierKey(event.keyval);
  if (!key) return;
  if (!pressed && !flags.contains(KittyKeyboardFlags::reportEvents)) return;
  KittyKeyEvent k;
  k.key = KittyKey::functional(*key);
  k.modifiers = kittyModifiersAfter(kittyModifiers(event.modifiers, true), *key, pressed);
  k.eventType = pressed ? KittyKeyboardEventType::press : KittyKeyboardEventType::release;
  if (auto bytes = encodeKitty(k)) send(view(*bytes));
}

}  // namespace vantrelle
