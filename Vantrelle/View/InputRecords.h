#pragma once
// Plain records of the user's key and pointer events. GDK events are turned into these first so
// that every input path (and every test) runs on the same values whatever produced them.
#include <gdk/gdk.h>

#include <string>

namespace vantrelle {

struct InputModifiers {
  bool shift = false;
  bool control = false;
  bool alt = false;
  bool super = false;
  bool capsLock = false;
  // GDK keeps Num Lock out of the event's state; the key controller reads it from the keyboard.
  bool numLock = false;

  static InputModifiers from(GdkModifierType state);
};

struct KeyRecord {
  // The GDK key value after the layout's shift levels were applied.
  guint keyval = 0;
  // The hardware (X) key code; identifies the physical key whatever the layout.
  guint keycode = 0;
  InputModifiers modifiers;
  bool isRepeat = false;
  // What the key types, and what it would type without Control, Alt or Super.
  std::string characters;
  std::string charactersIgnoringModifiers;
  // What the key types at the layout's first level (without Shift); empty when unknown.
  std::string unshiftedCharacters;
  guint unshiftedKeyval = 0;
  // The key's Latin letter when it types a character of another script (a Cyrillic layout's
  // letters), so that Control and the view's shortcuts still find theirs; empty otherwise.
  std::string latinCharacters;
  // The GDK event this record came from, for the input method; null for synthesized records.
  GdkEvent* event = nullptr;

  // A record for `keyval` as the keyboard would produce it with these modifiers.
  // `unshiftedKeyval` is the key's value without Shift, when known.
  static KeyRecord make(guint keyval, InputModifiers modifiers = {}, guint keycode = 0, guint unshiftedKeyval = 0);
};

struct MouseRecord {
  enum class Kind { down, up, dragged, moved };
  Kind kind = Kind::down;
  // View coordinates in points, y down.
  double x = 0;
  double y = 0;
  // 0 primary, 1 secondary, 2 middle, then further buttons.
  int buttonNumber = 0;
  int clickCount = 1;
  InputModifiers modifiers;
};

struct ScrollRecord {
  // Positive towards older lines (the wheel turned away from the user).
  double deltaY = 0;
  // Touchpads report points; wheels report whole notches.
  bool hasPreciseScrollingDeltas = false;
  // `deltaY` counts a wheel's notches, fractions of one too (fine wheels): how far a notch goes
  // is the view's to decide, from its height.
  bool inNotches = false;
  double x = 0;
  double y = 0;
  InputModifiers modifiers;

  // A scroll step as GTK reports it: `dy` positive towards the user, in surface points when
  // `inPoints`, else in GTK's wheel unit. A wheel's unit is its notch. A touchpad on X11 reports
  // in that unit too, knowing no points; its unit stays a line of `cellHeight` points, so that
  // the content keeps following the fingers.
  static ScrollRecord make(double dy, bool inPoints, bool fromTouchpad, double cellHeight);
};

}  // namespace vantrelle
