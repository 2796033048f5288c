#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Vantrelle/Keyboard/EscapeSequences.h"
#include "Vantrelle/Keyboard/KittyKeyboardEncoder.h"

namespace vantrelle {

// A key press as the host's toolkit reported it, reduced to what the key encodings read. The host
// fills it from its own event; the encoders decide what the key sends.
struct LegacyKeyEvent {
  struct Modifiers {
    bool shift = false;
    bool control = false;
    bool alt = false;
    bool super = false;
  };

  // The key when it is one of the keys that type no text of their own (Enter, Tab, Backspace,
  // Escape, the cursor and editing keys, function keys) or a key of the keypad; nothing for a key
  // that types a character.
  std::optional<KittyFunctionalKey> key;
  // Tab came as the layout's back-tab key (Shift+Tab on most layouts): it tabs backwards even
  // where the modifiers do not show Shift.
  bool backTab = false;
  Modifiers modifiers;
  // What the key types, and what it would type without Control, Alt or Super. The Linefeed key
  // types a line feed and has no `key`.
  std::string characters;
  std::string charactersIgnoringModifiers;
  // What the key types at the layout's first level (without Shift); empty when unknown.
  std::string unshiftedCharacters;
  // The key's Latin letter when it types a character of another script (a Cyrillic or Greek
  // layout's letters); empty otherwise.
  std::string latinCharacters;
  // An input-method composition is in progress.
  bool composing = false;
};

// The editing commands a key that types no text stands for.
enum class KeyCommand : uint8_t {
  insertNewline,
  cancelOperation,
  deleteBackward,
  moveUp,
  moveDown,
  moveLeft,
  moveRight,
  insertTab,
  insertBacktab,
  moveToBeginningOfLine,
  moveToEndOfLine,
  scrollToBeginningOfDocument,
  scrollToEndOfDocument,
  scrollPageUp,
  scrollPageDown,
  pageUp,
  pageDown,
  pageDownAndModifySelection,
  moveToLeftEndOfLine,
  moveToRightEndOfLine,
};

// The command a key stands for, by the key as given: the keypad's cursor keys stand for none.
std::optional<KeyCommand> keyCommand(const LegacyKeyEvent& event);

// What a key comes to when the program has asked for no keyboard enhancement.
struct LegacyKeyAction {
  enum class Kind : uint8_t {
    none,
    // Send each of `writes` in turn, an empty one too (sending still brings the caret into view).
    send,
    // `text` is typed: the host takes it as the text the user typed.
    type,
    // The host pages its view: through the scrollback on the normal screen.
    pageUp,
    pageDown,
  };

  Kind kind = Kind::none;
  std::vector<Bytes> writes;
  std::string text;

  friend bool operator==(const LegacyKeyAction&, const LegacyKeyAction&) = default;
};

// Turns a key into the fixed sequences of EscapeSequences, the xterm sequences of a key with
// modifiers, or typed text, under the terminal's modes and the host's options. Built anew for
// every key; holds no state.
struct LegacyKeyboardEncoder {
  bool applicationCursor = false;
  // The alternate screen is showing: it has no scrollback for the page keys to page through.
  bool alternateScreen = false;
  bool backspaceSendsControlH = false;
  // Alt acts as Meta: it puts ESC before what the key sends.
  bool optionAsMetaKey = true;

  LegacyKeyAction encode(const LegacyKeyEvent& event) const;
  LegacyKeyAction encode(KeyCommand command) const;

 private:
  std::optional<Bytes> modifiedKey(const LegacyKeyEvent& event) const;
  std::optional<Bytes> modifiedTextKey(const LegacyKeyEvent& event, int64_t modifiers) const;
  LegacyKeyAction interpret(const LegacyKeyEvent& event) const;
  std::optional<Bytes> encodeKitty(const KittyKeyEvent& event) const;
};

// The control character that Control makes of a one-byte character, or nothing.
Bytes applyControlToEventCharacters(const std::string& chars);
// Valid UTF-8 with no C0 or C1 control character and no DEL: text that may be typed as it is.
bool isPlainPrintableText(std::string_view text);

}  // namespace vantrelle
