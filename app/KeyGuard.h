#pragma once

#include <chrono>
#include <optional>
#include <set>

namespace zorvel {

// What a window that has just taken the keyboard accepts of it. The user was typing somewhere
// else (a shell, the page) a moment ago: a key still held down then, or pressed as the window came
// up, was meant for that place, and a Return meant for a shell would answer the window's
// question. So, in the window's first moment, only keys that say no (Escape) or ask for the
// application itself (its Quit keys) go through, and a key pressed before the window settled
// reaches it neither then nor as it repeats, nor as it is let go.
class KeyGuard {
 public:
  using Clock = std::chrono::steady_clock;
  // As browsers hold back the answer to their own security questions.
  static constexpr Clock::duration settleTime = std::chrono::seconds(1);

  // The window took the keyboard for the first time; later times change nothing.
  void appeared(Clock::time_point now);
  // What holds the keyboard before the user can see it (a panel whose page is still loading) takes
  // no key until it has been shown, and its moment counts from then (`appeared`), not from a key.
  void hold() { held = !since; }
  // Whether the window gets the press of the key. `passes` says that the key goes through even
  // before the window settled.
  bool press(unsigned key, bool passes, Clock::time_point now);
  // Whether the window gets the key's release: only of a press it got.
  bool release(unsigned key);
  bool settled(Clock::time_point now) const { return !held && since && now - *since >= settleTime; }

 private:
  std::optional<Clock::time_point> since;
  bool held = false;          // holding the keyboard, not shown yet
  std::set<unsigned> down;    // pressed here and not let go yet
  std::set<unsigned> before;  // pressed before the window settled and not let go yet
};

}  // namespace zorvel
