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

}  // namespace vantrelle::keys
