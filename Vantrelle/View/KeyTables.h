#pragma once
// GDK key values and the keys the Kitty keyboard encoding names them by.
#include <gdk/gdk.h>

#include <optional>

#include "Vantrelle/Keyboard/KittyKeyboardEncoder.h"

namespace vantrelle::keys {

// The keypad's own keys: digits and operators with Num Lock on, navigation with it off.
std::optional<KittyFunctionalKey> keypadKey(guint keyval);
// Arrows, the navigation block, function keys and the other keys that type no character.
std::optional<KittyFunctionalKey> namedFunctionalKey(guint keyval);
// Keys that change the modifier or lock state rather than type: reported only on request.
std::optional<KittyFunctionalKey> modifierKey(guint keyval);
// Enter, Tab, Backspace and Escape: keys that type a control character rather than text.
std::optional<KittyFunctionalKey> controlKey(guint keyval);
bool isKeypad(KittyFunctionalKey key);

// The unshifted character of a key in the US layout, by its hardware key code; 0 for a key it
// does not know.
char32_t usLayoutCharacter(guint keycode);
// The Latin letter (a-z) of a key: at the first level of the first of the user's layouts that has
// one there, else the US layout's; 0 when the key has none. A layout of another script keeps
// Control's letters reachable through it.
char32_t latinLetter(GdkDisplay* display, guint keycode);

}  // namespace vantrelle::keys
