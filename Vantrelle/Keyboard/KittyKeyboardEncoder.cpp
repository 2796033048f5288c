#include "Vantrelle/Keyboard/KittyKeyboardEncoder.h"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <array>

#include "Vantrelle/Text/Utf8.h"

namespace vantrelle {

namespace {

using Bytes = KittyKeyboardEncoder::Bytes;
using Mods = KittyKeyboardModifiers;
using Key = KittyFunctionalKey;

constexpr uint8_t esc = 0x1B;

bool isControlScalar(char32_t c) { return c < 32 || (c >= 127 && c <= 159); }

void appendDecimal(Bytes& out, uint64_t value) {
  const std::string digits = std::to_string(value);
  out.insert(out.end(), digits.begin(), digits.end());
}

void appendText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }

Bytes csiIntroducer() { return Bytes{esc, '['}; }

// Writes "; mods+1" and ":type" when either is worth saying.
void appendModifierField(Bytes& out, Mods mods, std::optional<KittyKeyboardEventType> type) {
  if (mods.isEmpty() && !type) {
    return;
  }
  out.push_back(';');
  appendDecimal(out, static_cast<uint64_t>(mods.rawValue) + 1);
  if (type) {
    out.push_back(':');
    appendDecimal(out, static_cast<uint64_t>(*type));
  }
}

bool hasText(const KittyKeyEvent& event) { return event.text && !event.text->empty(); }

// The four keys that keep their C0 byte as their key number.
std::optional<uint32_t> specialKeyCode(const KittyKey& key) {
  if (key.kind() != KittyKey::Kind::functional) {
    return std::nullopt;
  }
  switch (key.functionalKey()) {
    case Key::escape:
      return 27;
    case Key::enter:
      return 13;
    case Key::tab:
      return 9;
    case Key::backspace:
      return 127;
    default:
      return std::nullopt;
  }
}

bool isEnterTabOrBackspace(const KittyKey& key) {
  return key.is(Key::enter) || key.is(Key::tab) || key.is(Key::backspace);
}

}  // namespace

std::optional<KittyKeyboardEventType> KittyKeyboardEncoder::reportedEventType(const KittyKeyEvent& event) const {
  if (!flags.contains(KittyKeyboardFlags::reportEvents) || event.eventType == KittyKeyboardEventType::press) {
    return std::nullopt;
  }
  return event.eventType;
}

std::optional<Bytes> KittyKeyboardEncoder::encode(const KittyKeyEvent& event) const {
  const bool reportEvents = flags.contains(KittyKeyboardFlags::reportEvents);
  const bool allKeys = flags.contains(KittyKeyboardFlags::reportAllKeys);
  const bool alternates = flags.contains(KittyKeyboardFlags::reportAlternates);
  const bool disambiguate = flags.contains(KittyKeyboardFlags::disambiguate);
  const bool isRelease = event.eventType == KittyKeyboardEventType::release;
  const Mods mods = event.modifiers;

  bool includeText = false;
  if (allKeys && flags.contains(KittyKeyboardFlags::reportText) && !isRelease) {
    // Text that a shortcut would produce is not text the user typed.
    includeText = !mods.containsAny(Mods::alt | Mods::ctrl | Mods::super | Mods::hyper | Mods::meta);
  } else if (isRelease && (!reportEvents || (!allKeys && isEnterTabOrBackspace(event.key)))) {
    return std::nullopt;
  }

  const bool modifierKey = event.key.kind() == KittyKey::Kind::functional && isModifierKey(event.key.functionalKey());
  if (event.composing ? !(modifierKey && allKeys) : (modifierKey && !allKeys)) {
    return std::nullopt;
  }

  const bool nonTextDisambiguate = disambiguate || allKeys;
  if (!hasText(event)) {
    if (allKeys) {
      return encodeAllKeys(event, includeText);
    }
    return encodeNonText(event, nonTextDisambiguate, reportEvents, alternates, true);
  }

  const std::string& text = *event.text;
  if ((event.key.is(Key::enter) || event.key.is(Key::backspace)) && !containsControlScalars(text)) {
    if (event.key.is(Key::backspace)) {
      return std::nullopt;
    }
    return Bytes(text.begin(), text.end());
  }
  if (allKeys) {
    return encodeAllKeys(event, includeText);
  }
  const bool hasAlternate = mods.contains(Mods::shift) || event.shiftedKey || event.baseLayoutKey;
  if (event.key.kind() == KittyKey::Kind::functional || (alternates && hasAlternate) ||
      (mods.containsAny(Mods::alt | Mods::ctrl) && disambiguate)) {
    return encodeNonText(event, nonTextDisambiguate, reportEvents, alternates, true);
  }
  if (isRelease) {
    return std::nullopt;
  }
  return Bytes(text.begin(), text.end());
}

std::optional<Bytes> KittyKeyboardEncoder::encodeAllKeys(const KittyKeyEvent& event, bool includeText) const {
  const bool events = flags.contains(KittyKeyboardFlags::reportEvents);
  const bool alternates = flags.contains(KittyKeyboardFlags::reportAlternates);
  if (event.key.kind() != KittyKey::Kind::functional) {
    return encodeCsiU(event, std::nullopt, includeText, alternates, events, true);
  }
  if (event.key.is(Key::escape)) {
    return encodeCsiU(event, 27, false, alternates, events, true);
  }
  if (const auto code = specialKeyCode(event.key)) {
    return encodeCsiU(event, code, includeText, alternates, events, true);
  }
  const FunctionalEncoding encoding = functionalEncoding(event.key.functionalKey());
  switch (encoding.form) {
    case Form::letter:
      return buildCsiWithModifier(1, event.modifiers, reportedEventType(event), static_cast<char>(encoding.number),
                                  true);
    case Form::tilde:
      return buildCsiWithModifier(encoding.number, event.modifiers, reportedEventType(event), "~");
    case Form::u:
      return encodeCsiU(event, encoding.number, includeText, alternates, events, true);
  }
  return std::nullopt;
}

std::optional<Bytes> KittyKeyboardEncoder::encodeNonText(const KittyKeyEvent& event, bool disambiguate,
                                                         bool includeEventType, bool includeAlternates,
                                                         bool includeLocks) const {
  const bool typeReported = includeEventType && event.eventType != KittyKeyboardEventType::press;
  const bool plain = event.modifiers.isEmpty() && !typeReported;
  const KittyKey& key = event.key;

  switch (key.kind()) {
    case KittyKey::Kind::none:
      return encodeCsiU(event, std::nullopt, false, includeAlternates, includeEventType, includeLocks);
    case KittyKey::Kind::unicode:
      if (!disambiguate) {
        if (auto legacy = legacyTextKeySequence(event)) {
          return legacy;
        }
      }
      return encodeCsiU(event, key.scalar(), false, includeAlternates, includeEventType, includeLocks);
    case KittyKey::Kind::functional:
      break;
  }

  const Key functional = key.functionalKey();
  if (functional == Key::escape) {
    if (!disambiguate) {
      return legacySpecialKeySequence(functional, event.modifiers, event.eventType);
    }
    return encodeCsiU(event, 27, false, includeAlternates, includeEventType, includeLocks);
  }
  if (const auto code = specialKeyCode(key)) {
    if (!disambiguate || plain) {
      return legacySpecialKeySequence(functional, event.modifiers, event.eventType);
    }
    return encodeCsiU(event, code, false, includeAlternates, includeEventType, includeLocks);
  }

  const std::optional<KittyKeyboardEventType> type = typeReported ? std::optional(event.eventType) : std::nullopt;
  const FunctionalEncoding encoding = functionalEncoding(functional);
  switch (encoding.form) {
    case Form::letter: {
      if (!disambiguate && plain) {
        const bool cursorKey = functional >= Key::up && functional <= Key::end;
        const uint8_t introducer = (!cursorKey || applicationCursor) ? 'O' : '[';
        return Bytes{esc, introducer, static_cast<uint8_t>(encoding.number)};
      }
      return buildCsiWithModifier(1, event.modifiers, type, static_cast<char>(encoding.number), true);
    }
    case Form::tilde:
      return buildCsiWithModifier(encoding.number, event.modifiers, type, "~");
    case Form::u:
      return encodeCsiU(event, encoding.number, false, includeAlternates, includeEventType, includeLocks);
  }
  return std::nullopt;
}

Bytes KittyKeyboardEncoder::encodeCsiU(const KittyKeyEvent& event, std::optional<uint32_t> overrideKeyCode,
                                       bool includeText, bool includeAlternates, bool includeEventType,
                                       bool includeLocks) const {
  Bytes out = csiIntroducer();

  uint32_t keyCode = 0;
  if (overrideKeyCode) {
    keyCode = *overrideKeyCode;
  } else if (event.key.kind() == KittyKey::Kind::unicode) {
    keyCode = event.key.scalar();
  } else if (const auto code = specialKeyCode(event.key)) {
    keyCode = *code;
  } else if (event.key.kind() == KittyKey::Kind::functional) {
    const FunctionalEncoding encoding = functionalEncoding(event.key.functionalKey());
    keyCode = encoding.form == Form::u ? encoding.number : 0;
  }
  appendDecimal(out, keyCode);

  Mods mods = event.modifiers;
  if (!includeLocks) {
    mods.rawValue &= ~(Mods::capsLock | Mods::numLock);
  }
  if (includeAlternates) {
    const bool shifted = mods.contains(Mods::shift) && event.shiftedKey;
    if (shifted) {
      out.push_back(':');
      appendDecimal(out, *event.shiftedKey);
    }
    if (event.baseLayoutKey) {
      appendText(out, shifted ? ":" : "::");
      appendDecimal(out, *event.baseLayoutKey);
    }
  }

  const bool typeReported = includeEventType && event.eventType != KittyKeyboardEventType::press;
  appendModifierField(out, mods, typeReported ? std::optional(event.eventType) : std::nullopt);
  const bool wroteModifiers = !mods.isEmpty() || typeReported;

  if (includeText) {
    const std::vector<char32_t> scalars = textCodepoints(event.text);
    if (!scalars.empty()) {
      appendText(out, wroteModifiers ? ";" : ";;");
      for (size_t i = 0; i < scalars.size(); ++i) {
        if (i > 0) {
          out.push_back(':');
        }
        appendDecimal(out, scalars[i]);
      }
    }
  }
  out.push_back('u');
  return out;
}

Bytes KittyKeyboardEncoder::buildCsiWithModifier(uint32_t number, KittyKeyboardModifiers modifiers,
                                                 std::optional<KittyKeyboardEventType> eventType, char terminator,
                                                 bool omitDefaultNumber) {
  Bytes out = csiIntroducer();
  if (!(omitDefaultNumber && number == 1 && modifiers.isEmpty() && !eventType)) {
    appendDecimal(out, number);
    appendModifierField(out, modifiers, eventType);
  }
  out.push_back(static_cast<uint8_t>(terminator));
  return out;
}

Bytes KittyKeyboardEncoder::buildCsiWithModifier(uint32_t number, KittyKeyboardModifiers modifiers,
                                                 std::optional<KittyKeyboardEventType> eventType,
                                                 const std::string& terminator) {
  Bytes out = csiIntroducer();
  appendDecimal(out, number);
  appendModifierField(out, modifiers, eventType);
  appendText(out, terminator);
  return out;
}

std::optional<Bytes> KittyKeyboardEncoder::legacySpecialKeySequence(KittyFunctionalKey key,
                                                                    KittyKeyboardModifiers modifiers,
                                                                    KittyKeyboardEventType eventType) const {
  // A held key repeats: its auto-repeat sends the same bytes as the press, or holding Enter,
  // Tab or Backspace would stop repeating once a program asks for event types.
  if (eventType == KittyKeyboardEventType::release) {
    return std::nullopt;
  }
  Bytes out;
  if (modifiers.contains(Mods::alt)) {
    out.push_back(esc);
  }
  switch (key) {
    case Key::escape:
      out.push_back(esc);
      break;
    case Key::enter:
      out.push_back('\r');
      break;
    case Key::tab:
      if (modifiers.contains(Mods::shift)) {
        appendText(out, "\x1b[Z");
      } else {
        out.push_back('\t');
      }
      break;
    case Key::backspace:
      out.push_back(backspaceSendsControlH || modifiers.contains(Mods::ctrl) ? 0x08 : 0x7F);
      break;
    default:
      return std::nullopt;
  }
  return out;
}

std::optional<Bytes> KittyKeyboardEncoder::legacyTextKeySequence(const KittyKeyEvent& event) {
  if (event.eventType != KittyKeyboardEventType::press || event.key.kind() != KittyKey::Kind::unicode ||
      !isUnicodeScalar(event.key.scalar())) {
    return std::nullopt;
  }
  const Mods mods = event.modifiers;
  constexpr int64_t legacyMods = Mods::shift | Mods::alt | Mods::ctrl | Mods::capsLock | Mods::numLock;
  if ((mods.rawValue & ~legacyMods) != 0 || mods.contains(Mods::shift | Mods::ctrl)) {
    return std::nullopt;
  }
  Bytes out;
  if (mods.contains(Mods::alt)) {
    out.push_back(esc);
  }
  if (mods.contains(Mods::ctrl)) {
    if (const auto control = legacyControlMapping(event.key.scalar())) {
      out.push_back(*control);
      return out;
    }
  }
  if (hasText(event)) {
    appendText(out, *event.text);
  } else if (mods.contains(Mods::shift) && event.shiftedKey) {
    appendUtf8(out, *event.shiftedKey);
  } else {
    appendUtf8(out, event.key.scalar());
  }
  return out;
}

std::optional<uint8_t> KittyKeyboardEncoder::legacyControlMapping(char32_t scalar) {
  const auto lookup = [](char32_t c) -> std::optional<uint8_t> {
    if (c >= 'a' && c <= 'z') {
      return static_cast<uint8_t>(c - 'a' + 1);
    }
    switch (c) {
      case ' ':
      case '2':
      case '@':
        return 0x00;
      case '3':
      case '[':
        return 0x1B;
      case '4':
      case '\\':
        return 0x1C;
      case '5':
      case ']':
        return 0x1D;
      case '6':
      case '^':
      case '~':
        return 0x1E;
      case '7':
      case '/':
      case '_':
        return 0x1F;
      case '8':
      case '?':
        return 0x7F;
      case '0':
      case '1':
      case '9':
        return static_cast<uint8_t>(c);
      default:
        return std::nullopt;
    }
  };
  if (!isUnicodeScalar(scalar)) {
    return std::nullopt;
  }
  // Full lower-casing, as a string, so that a key like U+0130 maps by its first scalar.
  icu::UnicodeString lowered = icu::UnicodeString(static_cast<UChar32>(scalar)).toLower(icu::Locale::getRoot());
  if (lowered.length() > 0) {
    if (const auto byte = lookup(static_cast<char32_t>(lowered.char32At(0)))) {
      return byte;
    }
  }
  return lookup(scalar);
}

KittyKeyboardEncoder::FunctionalEncoding KittyKeyboardEncoder::functionalEncoding(KittyFunctionalKey key) {
  const auto index = static_cast<uint32_t>(key);
  const auto in = [index](Key first, Key last) {
    return index >= static_cast<uint32_t>(first) && index <= static_cast<uint32_t>(last);
  };
  const auto offset = [index](Key first) { return index - static_cast<uint32_t>(first); };
  static constexpr std::array<uint32_t, 8> f5ToF12 = {15, 17, 18, 19, 20, 21, 23, 24};
  switch (key) {
    case Key::insert:
      return {Form::tilde, 2};
    case Key::delete_:
      return {Form::tilde, 3};
    case Key::up:
      return {Form::letter, 'A'};
    case Key::down:
      return {Form::letter, 'B'};
    case Key::left:
      return {Form::letter, 'D'};
    case Key::right:
      return {Form::letter, 'C'};
    case Key::home:
      return {Form::letter, 'H'};
    case Key::end:
      return {Form::letter, 'F'};
    case Key::pageUp:
      return {Form::tilde, 5};
    case Key::pageDown:
      return {Form::tilde, 6};
    case Key::f1:
      return {Form::letter, 'P'};
    case Key::f2:
      return {Form::letter, 'Q'};
    case Key::f3:
      return {Form::tilde, 13};
    case Key::f4:
      return {Form::letter, 'S'};
    case Key::menu:
      return {Form::u, 57363};
    default:
      break;
  }
  if (in(Key::f5, Key::f12)) {
    return {Form::tilde, f5ToF12[offset(Key::f5)]};
  }
  if (in(Key::f13, Key::f35)) {
    return {Form::u, 57376 + offset(Key::f13)};
  }
  if (in(Key::capsLock, Key::pause)) {
    return {Form::u, 57358 + offset(Key::capsLock)};
  }
  if (in(Key::keypad0, Key::keypadBegin)) {
    return {Form::u, 57399 + offset(Key::keypad0)};
  }
  if (in(Key::mediaPlay, Key::volumeMute)) {
    return {Form::u, 57428 + offset(Key::mediaPlay)};
  }
  if (in(Key::leftShift, Key::isoLevel5Shift)) {
    return {Form::u, 57441 + offset(Key::leftShift)};
  }
  // Escape, Enter, Tab and Backspace use their C0 byte instead (see specialKeyCode).
  return {Form::u, 0};
}

std::vector<char32_t> KittyKeyboardEncoder::textCodepoints(const std::optional<std::string>& text) {
  std::vector<char32_t> scalars;
  if (!text) {
    return scalars;
  }
  for (const char32_t c : decodeUtf8Replacing(*text)) {
    if (!isControlScalar(c)) {
      scalars.push_back(c);
    }
  }
  return scalars;
}

bool KittyKeyboardEncoder::containsControlScalars(const std::string& text) {
  for (const char32_t c : decodeUtf8Replacing(text)) {
    if (isControlScalar(c)) {
      return true;
    }
  }
  return false;
}

}  // namespace vantrelle
