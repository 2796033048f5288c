#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace zorvel {

// Whether the user's own hands are behind what a page asks for now. Each real press of a button,
// a key or a touch on a page grants one opening, which the first thing that leaves the application
// takes; it lapses a short while after the press, so a page cannot save a click for later. What a
// page's script does is never a press: the web engine counts everything the application hands the
// page (each fetch answer, each stream event) as the user's gesture, so its own verdict is not
// asked.
class UserActivation {
 public:
  using Clock = std::chrono::steady_clock;
  // Long enough for a page on a busy machine to act on the click (the page's request has been seen
  // to come more than a second after the press) and for an answer it fetched for it, short enough
  // that a click is not kept for later.
  static constexpr Clock::duration lifetime = std::chrono::seconds(5);
  // Presses come no faster than a person makes them; more untaken openings than this are no person.
  static constexpr std::size_t maximumOpenings = 8;
  // How long a key press may take to reach a busy page and still be told of.
  static constexpr Clock::duration keyLandingWait = std::chrono::seconds(30);

  // A press grants an opening of its own: two quick clicks on two links open both. The number
  // names the opening.
  std::uint64_t press(Clock::time_point now);
  // Letting go keeps the opening of the press it ends alive for as long again (a link is followed
  // on release), but grants none of its own: one click opens at most one thing. So does the page's
  // getting the press (`landed`), which on a busy machine may come seconds after the application saw
  // it: the page's answer to a click comes within a while of the page's getting it.
  void release(Clock::time_point now);
  void landed(Clock::time_point now) { release(now); }
  // Takes the oldest opening still alive; false when there is none.
  bool consume(Clock::time_point now);

  // A key press is told of twice by the page's side, in the order the keys were pressed: as it
  // reaches the page (`keyLanded`), with whether it went into a text field (or anything else that
  // takes typing), and once the page has handled it (`keySettled`), with whether the page's
  // editing or its own handler took it after all. Only a key that went into no field and that
  // nothing took grants an opening: typing is not asking for a window. The grant comes as the
  // key lands, so that the page's handler of that very key may use it, and lasts from then; it is
  // withdrawn, if still untaken, when the key turns out to have been taken. A key the page's side
  // never tells of (a key in a frame, or a page that hangs for longer than `keyLandingWait`)
  // grants nothing.
  void keyPressed(Clock::time_point now);
  void keyLanded(bool intoText, Clock::time_point now);
  void keySettled(bool taken);

 private:
  struct Opening {
    Clock::time_point since;
    std::uint64_t number;
  };
  std::deque<Opening> openings;                // oldest first
  bool latestUntaken = false;                  // the last of `openings` is the latest press's
  std::uint64_t granted = 0;                   // openings granted so far
  std::deque<Clock::time_point> keysInFlight;  // pressed, not yet landed on the page
  std::deque<std::uint64_t> keysGranted;       // the openings of keys landed, not yet settled
};

}  // namespace zorvel
