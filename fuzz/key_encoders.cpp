// Puts keys through both key encodings: every key, modifier, lock, event type, layout character
// and text the host could report, under every mode and enhancement flag. Nothing may crash, and
// every control sequence that comes out must be one whole sequence: a parameter byte or final
// byte out of place would have the program read the rest of the key as something else.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "Vantrelle/Keyboard/LegacyKeyboardEncoder.h"
#include "fuzz/FuzzReader.h"

namespace {

using fuzzing::appendUtf8;
using fuzzing::Reader;

using vantrelle::KittyFunctionalKey;
using vantrelle::KittyKeyboardEncoder;

// Characters keys type: letters of several scripts, the ones Control maps, controls, wide ones.
constexpr char32_t kScalars[] = {U'a',  U'Z',  U'1',   U'6',   U' ',    U'[',     U'\\',  U']',   U'^',
                                 U'_',  U'?',  U'/',   U'~',   U'`',    0x00,     0x08,   0x09,   0x0D,
                                 0x1B,  0x7F,  0x80,   0x9B,   0xE9,    0xDF,     0x130,  0x3B1,  0x416,
                                 0x44F, 0x5D0, 0x4E2D, 0xFF21, 0x1F600, 0x10FFFF, 0xFFFD, 0x2028, 0x200D};

char32_t scalar(Reader& in) {
  const uint8_t b = in.byte();
  if (b < 0xF0) return kScalars[b % std::size(kScalars)];
  // Anywhere in the code space, surrogates skipped.
  const char32_t c = (char32_t(in.byte()) << 12 | char32_t(in.byte()) << 4 | (b & 15)) % 0x110000;
  return c >= 0xD800 && c <= 0xDFFF ? U'x' : c;
}

// A string a key may type: empty, one character or a few, and now and then bytes that are no UTF-8.
std::string text(Reader& in) {
  const uint8_t shape = in.byte();
  std::string out;
  if ((shape & 0xC0) == 0xC0) {
    for (int i = shape & 7; i > 0; --i) out += char(in.byte());
    return out;
  }
  for (int i = shape & 3; i > 0; --i) appendUtf8(out, scalar(in));
  return out;
}

std::optional<KittyFunctionalKey> functionalKey(Reader& in) {
  const uint8_t b = in.byte();
  if (b >= vantrelle::kittyFunctionalKeyCount) return std::nullopt;
  return KittyFunctionalKey(b);
}

[[noreturn]] void fail(const char* what, const std::vector<uint8_t>& bytes) {
  fprintf(stderr, "key encoders: %s:", what);
  for (uint8_t b : bytes) fprintf(stderr, " %02x", b);
  fprintf(stderr, "\n");
  std::abort();
}

// An output that starts a control sequence is exactly one: CSI or SS3, parameters, one final byte.
// Text that comes out on its own (a typed character, a control character), or after the ESC that
// Meta puts before it, is the host's and may be anything.
void checkSequence(const std::vector<uint8_t>& out, const std::vector<std::string>& hostTexts) {
  if (out.size() > 256) fail("a key sent too much", out);
  if (out.size() < 2 || out[0] != 0x1B || (out[1] != '[' && out[1] != 'O')) return;
  const std::string whole(out.begin(), out.end());
  for (const std::string& text : hostTexts)
    if (!text.empty() && (whole == text || whole.substr(1) == text)) return;
  if (out.size() < 3) fail("a sequence without its final byte", out);
  for (size_t i = 2; i + 1 < out.size(); ++i)
    if (out[i] < 0x20 || out[i] > 0x3F) fail("a stray byte inside a sequence", out);
  if (out.back() < 0x40 || out.back() > 0x7E) fail("a sequence with no final byte", out);
}

void encodeKitty(Reader& in) {
  KittyKeyboardEncoder encoder;
  const uint8_t setup = in.byte();
  encoder.flags = vantrelle::KittyKeyboardFlags(setup & vantrelle::KittyKeyboardFlags::knownMask);
  encoder.applicationCursor = setup & 0x20;
  encoder.backspaceSendsControlH = setup & 0x40;
  vantrelle::KittyKeyEvent event;
  const uint8_t shape = in.byte();
  switch (shape & 3) {
    case 0:
      event.key = vantrelle::KittyKey::unicode(scalar(in));
      break;
    case 1:
    case 2:
      if (auto key = functionalKey(in)) event.key = vantrelle::KittyKey::functional(*key);
      break;
    default:
      break;
  }
  event.modifiers = vantrelle::KittyKeyboardModifiers(in.byte());
  event.eventType = vantrelle::KittyKeyboardEventType(1 + (shape >> 2) % 3);
  if (shape & 0x10) event.text = text(in);
  if (shape & 0x20) event.shiftedKey = scalar(in);
  if (shape & 0x40) event.baseLayoutKey = scalar(in);
  event.composing = shape & 0x80;
  // Alt with a key in the legacy forms is ESC and the key's character, whatever that is.
  std::vector<std::string> typed{event.text.value_or("")};
  for (const std::optional<char32_t> c : {std::optional<char32_t>(event.key.scalar()), event.shiftedKey}) {
    if (!c) continue;
    typed.emplace_back();
    appendUtf8(typed.back(), *c);
  }
  if (auto out = encoder.encode(event)) checkSequence(*out, typed);
}

void encodeLegacy(Reader& in) {
  vantrelle::LegacyKeyboardEncoder encoder;
  const uint8_t setup = in.byte();
  encoder.applicationCursor = setup & 1;
  encoder.alternateScreen = setup & 2;
  encoder.backspaceSendsControlH = setup & 4;
  encoder.optionAsMetaKey = setup & 8;
  vantrelle::LegacyKeyEvent event;
  if (setup & 0x10) event.key = functionalKey(in);
  event.backTab = setup & 0x20;
  event.composing = setup & 0x40;
  const uint8_t mods = in.byte();
  event.modifiers = {bool(mods & 1), bool(mods & 2), bool(mods & 4), bool(mods & 8)};
  event.characters = text(in);
  event.charactersIgnoringModifiers = mods & 0x10 ? event.characters : text(in);
  if (mods & 0x20) event.unshiftedCharacters = text(in);
  if (mods & 0x40) event.latinCharacters = text(in);
  const vantrelle::LegacyKeyAction action =
      mods & 0x80 ? encoder.encode(vantrelle::KeyCommand(in.byte() % 20)) : encoder.encode(event);
  using Kind = vantrelle::LegacyKeyAction::Kind;
  if (action.kind == Kind::type && !vantrelle::isPlainPrintableText(action.text))
    fail("a key typed text that is not plain", std::vector<uint8_t>(action.text.begin(), action.text.end()));
  if (action.kind != Kind::send && !action.writes.empty()) fail("a key that sends nothing wrote", action.writes[0]);
  // Meta sends ESC on its own before the key's own bytes, which are then the host's text.
  for (size_t i = 0; i < action.writes.size(); ++i) {
    const bool afterMeta = i > 0 && action.writes[i - 1] == vantrelle::Bytes{0x1B};
    if (!afterMeta) checkSequence(action.writes[i], {event.characters, event.charactersIgnoringModifiers});
  }
  (void)vantrelle::keyCommand(event);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  while (!in.done()) {
    if (in.byte() & 1)
      encodeKitty(in);
    else
      encodeLegacy(in);
  }
  return 0;
}
