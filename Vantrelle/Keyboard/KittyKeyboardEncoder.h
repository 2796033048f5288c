#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Keyboard/KittyKeyboardFlags.h"

namespace vantrelle {

// Keys without a character of their own. The order indexes the encoding table, so new keys go
// nowhere but where the protocol's table puts them.
enum class KittyFunctionalKey : uint8_t {
  escape,
  enter,
  tab,
  backspace,
  insert,
  delete_,  // the Delete key; the trailing underscore only dodges the C++ keyword
  up,
  down,
  left,
  right,
  home,
  end,
  pageUp,
  pageDown,
  f1,
  f2,
  f3,
  f4,
  f5,
  f6,
  f7,
  f8,
  f9,
  f10,
  f11,
  f12,
  f13,
  f14,
  f15,
  f16,
  f17,
  f18,
  f19,
  f20,
  f21,
  f22,
  f23,
  f24,
  f25,
  f26,
  f27,
  f28,
  f29,
  f30,
  f31,
  f32,
  f33,
  f34,
  f35,
  menu,
  capsLock,
  scrollLock,
  numLock,
  printScreen,
  pause,
  keypad0,
  keypad1,
  keypad2,
  keypad3,
  keypad4,
  keypad5,
  keypad6,
  keypad7,
  keypad8,
  keypad9,
  keypadDecimal,
  keypadDivide,
  keypadMultiply,
  keypadSubtract,
  keypadAdd,
  keypadEnter,
  keypadEqual,
  keypadSeparator,
  keypadLeft,
  keypadRight,
  keypadUp,
  keypadDown,
  keypadPageUp,
  keypadPageDown,
  keypadHome,
  keypadEnd,
  keypadInsert,
  keypadDelete,
  keypadBegin,
  mediaPlay,
  mediaPause,
  mediaPlayPause,
  mediaReverse,
  mediaStop,
  mediaFastForward,
  mediaRewind,
  mediaTrackNext,
  mediaTrackPrevious,
  mediaRecord,
  volumeDown,
  volumeUp,
  volumeMute,
  leftShift,
  leftControl,
  leftAlt,
  leftSuper,
  leftHyper,
  leftMeta,
  rightShift,
  rightControl,
  rightAlt,
  rightSuper,
  rightHyper,
  rightMeta,
  isoLevel3Shift,
  isoLevel5Shift,
};

inline constexpr int kittyFunctionalKeyCount = 111;
static_assert(static_cast<int>(KittyFunctionalKey::isoLevel5Shift) == kittyFunctionalKeyCount - 1);

// Shift, control and the like pressed on their own: reported only when all keys are.
constexpr bool isModifierKey(KittyFunctionalKey key) { return key >= KittyFunctionalKey::leftShift; }

// The identity of a key: a character, a functional key, or nothing.
class KittyKey {
 public:
  enum class Kind : uint8_t { unicode, functional, none };

  static constexpr KittyKey unicode(char32_t scalar) { return KittyKey(Kind::unicode, scalar, {}); }
  static constexpr KittyKey functional(KittyFunctionalKey key) { return KittyKey(Kind::functional, 0, key); }
  static constexpr KittyKey none() { return KittyKey(Kind::none, 0, {}); }

  constexpr Kind kind() const { return kind_; }
  constexpr char32_t scalar() const { return scalar_; }
  constexpr KittyFunctionalKey functionalKey() const { return functional_; }
  constexpr bool is(KittyFunctionalKey key) const { return kind_ == Kind::functional && functional_ == key; }

 private:
  constexpr KittyKey(Kind kind, char32_t scalar, KittyFunctionalKey key)
      : kind_(kind), scalar_(scalar), functional_(key) {}

  Kind kind_;
  char32_t scalar_;
  KittyFunctionalKey functional_;
};

struct KittyKeyEvent {
  KittyKey key = KittyKey::none();
  // The modifiers held, lock bits included.
  KittyKeyboardModifiers modifiers;
  KittyKeyboardEventType eventType = KittyKeyboardEventType::press;
  // UTF-8 text that the key produces; empty counts as none.
  std::optional<std::string> text;
  std::optional<char32_t> shiftedKey;
  std::optional<char32_t> baseLayoutKey;
  // An input-method composition is in progress.
  bool composing = false;
};

// Turns one key event into the bytes for the program, under the flags the program asked for.
// Built anew for every key; holds no state.
struct KittyKeyboardEncoder {
  using Bytes = std::vector<uint8_t>;

  KittyKeyboardFlags flags;
  bool applicationCursor = false;
  bool backspaceSendsControlH = false;

  // The bytes to send, or nothing when this event sends nothing.
  std::optional<Bytes> encode(const KittyKeyEvent& event) const;

 private:
  enum class Form : uint8_t { letter, tilde, u };
  struct FunctionalEncoding {
    Form form;
    uint32_t number;  // the final letter for the letter form
  };

  std::optional<Bytes> encodeAllKeys(const KittyKeyEvent& event, bool includeText) const;
  std::optional<Bytes> encodeNonText(const KittyKeyEvent& event, bool disambiguate, bool includeEventType,
                                     bool includeAlternates, bool includeLocks) const;
  Bytes encodeCsiU(const KittyKeyEvent& event, std::optional<uint32_t> overrideKeyCode, bool includeText,
                   bool includeAlternates, bool includeEventType, bool includeLocks) const;
  static Bytes buildCsiWithModifier(uint32_t number, KittyKeyboardModifiers modifiers,
                                    std::optional<KittyKeyboardEventType> eventType, char terminator,
                                    bool omitDefaultNumber);
  static Bytes buildCsiWithModifier(uint32_t number, KittyKeyboardModifiers modifiers,
                                    std::optional<KittyKeyboardEventType> eventType, const std::string& terminator);
  std::optional<Bytes> legacySpecialKeySequence(KittyFunctionalKey key, KittyKeyboardModifiers modifiers,
                                                KittyKeyboardEventType eventType) const;
  static std::optional<Bytes> legacyTextKeySequence(const KittyKeyEvent& event);
  static std::optional<uint8_t> legacyControlMapping(char32_t scalar);
  static FunctionalEncoding functionalEncoding(KittyFunctionalKey key);
  static std::vector<char32_t> textCodepoints(const std::optional<std::string>& text);
  static bool containsControlScalars(const std::string& text);

  std::optional<KittyKeyboardEventType> reportedEventType(const KittyKeyEvent& event) const;
};

}  // namespace vantrelle
