#include "Vantrelle/View/InputRecords.h"

#include "Vantrelle/View/KeyTables.h"

namespace vantrelle {

namespace {

std::string utf8Of(guint keyval) {
  // Backspace types DEL in a terminal, as the program expects from the erase key.
  if (keyval == GDK_KEY_BackSpace) return "\x7f";
  gunichar ch = gdk_keyval_to_unicode(keyval);
  if (ch == 0) return {};
  char buffer[8];
  int n = g_unichar_to_utf8(ch, buffer);
  return std::string(buffer, n);
}

}  // namespace

InputModifiers InputModifiers::from(GdkModifierType state) {
  InputModifiers m;
  m.shift = state & GDK_SHIFT_MASK;
  m.control = state & GDK_CONTROL_MASK;
  m.alt = state & GDK_ALT_MASK;
  m.super = state & GDK_SUPER_MASK;
  m.capsLock = state & GDK_LOCK_MASK;
  return m;
}

KeyRecord KeyRecord::make(guint keyval, InputModifiers modifiers, guint keycode, guint unshiftedKeyval) {
  KeyRecord record;
  record.keyval = keyval;
  record.keycode = keycode;
  record.modifiers = modifiers;
  record.characters = utf8Of(keyval);
  record.charactersIgnoringModifiers = record.characters;
  record.unshiftedKeyval = unshiftedKeyval;
  if (unshiftedKeyval) record.unshiftedCharacters = utf8Of(unshiftedKeyval);
  // Without a display to ask for the user's layouts, the US layout's letter stands in.
  if (!record.characters.empty() && uint8_t(record.characters[0]) >= 0x80) {
    if (char32_t latin = keys::latinLetter(nullptr, keycode)) record.latinCharacters = std::string(1, char(latin));
  }
  return record;
}

ScrollRecord ScrollRecord::make(double dy, bool inPoints, bool fromTouchpad, double cellHeight) {
  ScrollRecord record;
  record.deltaY = -dy;
  record.hasPreciseScrollingDeltas = inPoints;
  if (!inPoints && fromTouchpad && cellHeight > 0) {
    record.deltaY = -dy * cellHeight;
    record.hasPreciseScrollingDeltas = true;
  }
  record.inNotches = !record.hasPreciseScrollingDeltas;
  return record;
}

}  // namespace vantrelle
