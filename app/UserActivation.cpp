#include "app/UserActivation.h"

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

}  // namespace zorvel
