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
// The keypad's navigation keys (Num Lock off) as the main block's keys.
guint mainBlockKeyval(guint keyval);
bool isKeypad(KittyFunctionalKey key);

}  // namespace vantrelle::keys
