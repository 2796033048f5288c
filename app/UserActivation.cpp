#include "app/UserActivation.h"

#include <algorithm>

namespace zorvel {

std::uint64_t UserActivation::press(Clock::time_point now) {
  if (openings.size() == maximumOpenings) openings.pop_front();
  openings.push_back({now, ++granted});
  latestUntaken = true;
  return granted;
}

void UserActivation::release(Clock::time_point now) {
  if (latestUntaken) openings.back().since = now;
}

bool UserActivation::consume(Clock::time_point now) {
  while (!openings.empty() && now - openings.front().since > lifetime) openings.pop_front();
  if (openings.empty()) {
    latestUntaken = false;
    return false;
  }
  openings.pop_front();
  latestUntaken = latestUntaken && !openings.empty();
  return true;
}

void UserActivation::keyPressed(Clock::time_point now) {
  if (keysInFlight.size() == maximumOpenings) keysInFlight.pop_front();
  keysInFlight.push_back(now);
}

void UserActivation::keyLanded(bool intoText, Clock::time_point now) {
  while (!keysInFlight.empty() && now - keysInFlight.front() > keyLandingWait) keysInFlight.pop_front();
  if (keysInFlight.empty()) return;  // no key of the user's behind it
  keysInFlight.pop_front();
  if (intoText) return;
  if (keysGranted.size() == maximumOpenings) keysGranted.pop_front();
  keysGranted.push_back(press(now));
}

void UserActivation::keySettled(bool taken) {
  if (keysGranted.empty()) return;
  const auto number = keysGranted.front();
  keysGranted.pop_front();
  if (!taken) return;
  auto opening =
      std::find_if(openings.begin(), openings.end(), [&](const Opening& each) { return each.number == number; });
  if (opening == openings.end()) return;  // taken already
  if (std::next(opening) == openings.end()) latestUntaken = false;
  openings.erase(opening);
}

}  // namespace zorvel
