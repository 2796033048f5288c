#include "Vantrelle/View/KeyTables.h"

#include <climits>
#include <unordered_map>

#include "platform/GLibPtr.h"

namespace vantrelle::keys {

using FK = KittyFunctionalKey;

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

std::optional<FK> modifierKey(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Super_R:
      return FK::rightSuper;
    case GDK_KEY_Super_L:
      return FK::leftSuper;
    case GDK_KEY_Shift_L:
      return FK::leftShift;
    case GDK_KEY_Caps_Lock:
      return FK::capsLock;
    case GDK_KEY_Num_Lock:
      return FK::numLock;
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

std::optional<FK> controlKey(guint keyval) {
  switch (keyval) {
    case GDK_KEY_Return:
    case GDK_KEY_ISO_Enter:
      return FK::enter;
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
      return FK::tab;
    case GDK_KEY_BackSpace:
      return FK::backspace;
    case GDK_KEY_Escape:
      return FK::escape;
    default:
      return std::nullopt;
  }
}

bool isKeypad(FK key) { return key >= FK::keypad0 && key <= FK::keypadBegin; }

char32_t usLayoutCharacter(guint keycode) {
  static const std::unordered_map<guint, char32_t> map = [] {
    std::unordered_map<guint, char32_t> m;
    const char* digits = "1234567890-=";
    for (guint i = 0; i < 12; i++) m[10 + i] = char32_t(digits[i]);
    const char* top = "qwertyuiop[]";
    for (guint i = 0; i < 12; i++) m[24 + i] = char32_t(top[i]);
    const char* home = "asdfghjkl;'`";
    for (guint i = 0; i < 12; i++) m[38 + i] = char32_t(home[i]);
    const char* bottom = "\\zxcvbnm,./";
    for (guint i = 0; i < 11; i++) m[51 + i] = char32_t(bottom[i]);
    m[65] = U' ';
    return m;
  }();
  auto found = map.find(keycode);
  return found == map.end() ? 0 : found->second;
}

namespace {

bool isLatinLetter(char32_t c) { return c >= 'a' && c <= 'z'; }

}  // namespace

char32_t latinLetter(GdkDisplay* display, guint keycode) {
  platform::GArrayPtr<GdkKeymapKey> keys;
  platform::GArrayPtr<guint> keyvals;
  int count = 0;
  if (display && gdk_display_map_keycode(display, keycode, platform::out(keys), platform::out(keyvals), &count)) {
    char32_t found = 0;
    int group = INT_MAX;
    for (int i = 0; i < count; i++) {
      if (keys[i].level != 0 || keys[i].group >= group) continue;
      char32_t c = gdk_keyval_to_unicode(gdk_keyval_to_lower(keyvals[i]));
      if (!isLatinLetter(c)) continue;
      found = c;
      group = keys[i].group;
    }
    if (found) return found;
  }
  char32_t us = usLayoutCharacter(keycode);
  return isLatinLetter(us) ? us : 0;
}

}  // namespace vantrelle::keys
