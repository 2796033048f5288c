// How the demo finds the program it is asked to run, and what it reports once that program ends.
#pragma once

#include <glib.h>
#include <sys/wait.h>

#include <cstdint>
#include <optional>
#include <string>

#include "platform/GLibPtr.h"

namespace vantrelle::demo {

// The program a command names, looked up as a shell looks it up: on the search path unless the
// name has a slash. Nothing when no executable of that name exists. The terminal starts programs
// by path alone, and a child that cannot start ends at once and takes the window with it, which
// would leave the user with no word of what went wrong.
inline std::optional<std::string> programPath(const std::string& name) {
  if (name.empty()) return std::nullopt;
  platform::GCharPtr found(g_find_program_in_path(name.c_str()));
  if (!found) return std::nullopt;
  return std::string(found.get());
}

// The demo's own exit status for the wait status of the child it ran, as a shell reports a
// command's: the child's exit code, or 128 plus the signal that ended it. A child that failed must
// not make the demo look as if it had succeeded.
inline int exitStatusOf(std::optional<int32_t> waitStatus) {
  if (!waitStatus) return 0;
  int status = *waitStatus;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

}  // namespace vantrelle::demo
