#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace platform {

struct RunningApplication {
  pid_t processIdentifier = 0;
  std::string executablePath;
  bool isTerminated = false;  // exited, not yet reaped
};

// The processes of this user whose executable can be read, from /proc.
std::vector<RunningApplication> runningApplications();
// The executable of this process.
std::string ownExecutablePath();

}  // namespace platform
