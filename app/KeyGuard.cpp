#include "app/KeyGuard.h"

namespace zorvel {

void KeyGuard::appeared(Clock::time_point now) {
  held = false;
  if (!since) since = now;
}

bool KeyGuard::press(unsigned key, bool passes, Clock::time_point now) {
  // A key comes only to the window with the keyboard: one that comes first says the window has it.
  if (!held) appeared(now);
  // The window sees only the repeats of a key held down from before.
  if (before.count(key)) return false;
  if (!passes && !settled(now)) {
    before.insert(key);
    return false;
  }
  down.insert(key);
  return true;
}

bool KeyGuard::release(unsigned key) {
  if (before.erase(key)) return false;
  return down.erase(key) > 0;
}

}  // namespace zorvel
