#include "app/UserActivation.h"

#include <iterator>

namespace zorvel {

void UserActivation::press(Clock::time_point now) {
  if (openings.size() == maximumOpenings) openings.pop_front();
  openings.push_back(now);
  latestUntaken = true;
}

void UserActivation::release(Clock::time_point now) {
  if (latestUntaken) openings.back() = now;
}

bool UserActivation::consume(Clock::time_point now) {
  while (!openings.empty() && now - openings.front() > lifetime) openings.pop_front();
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
  while (!keysInFlight.empty() && now - keysInFlight.front() > lifetime) keysInFlight.pop_front();
  if (keysInFlight.empty()) return;  // no key of the user's behind it
  const auto pressed = keysInFlight.front();
  keysInFlight.pop_front();
  if (intoText) return;
  press(pressed);
  if (keysGranted.size() == maximumOpenings) keysGranted.pop_front();
  keysGranted.push_back(pressed);
}

void UserActivation::keySettled(bool taken) {
  if (keysGranted.empty()) return;
  const auto pressed = keysGranted.front();
  keysGranted.pop_front();
  if (!taken) return;
  for (auto opening = openings.begin(); opening != openings.end(); ++opening) {
    if (*opening != pressed) continue;
    if (std::next(opening) == openings.end()) latestUntaken = false;
    openings.erase(opening);
    return;
  }
}

}  // namespace zorvel
