#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace platform {
struct URLRequest;
}

namespace zorvel {

// What the application's own requests to its core carry: the desktop token, which reaches no one
// but a core this application started. The core's port is anyone's to take while no core holds
// it (before a start, between a crash and the next start, after a start that failed), so the
// token goes only over a connection whose far end that core's process holds. This is the one
// writer of the bearer field, and it always binds the request to the core's process: the session
// refuses a request that carries credentials without a process bound to receive them.
struct CoreAccess {
  std::string desktopToken;
  // The core the requests may go to, 0 while there is none: the ready core for the page's and
  // the application's requests, the core being asked for the readiness probe. Asked on the
  // sending session's thread.
  std::function<pid_t()> core;

  // Sets the bearer field, over any field of that name, and binds the request to the core: while
  // there is none the request fails at once, and it is sent over no connection but one to it.
  void authorize(platform::URLRequest& request) const;
};

}  // namespace zorvel
