#pragma once

#include <chrono>
#include <cstddef>
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

  // A press grants an opening of its own: two quick clicks on two links open both.
  void press(Clock::time_point now);
  // Letting go keeps the opening of the press it ends alive for as long again (a link is followed
  // on release), but grants none of its own: one click opens at most one thing.
  void release(Clock::time_point now);
  // Takes the oldest opening still alive; false when there is none.
  bool consume(Clock::time_point now);

 private:
  std::deque<Clock::time_point> openings;  // oldest first
  bool latestUntaken = false;              // the last of `openings` is the latest press's
};

}  // namespace zorvel
