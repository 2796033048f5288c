#pragma once
// A keeper stands between the application and a child that must take everything it starts with it
// when it ends. The keeper leads a session of its own and is the kernel's child subreaper for what
// the child starts: whatever a descendant does (a session of its own, a double fork), it passes to
// the keeper when its parent ends, never to the init process, so nothing escapes and nothing is
// left behind if the application itself is killed.
//
// Conversation with the application, on the status pipe (keeper to application) and the answer
// pipe (application to keeper):
//   1. the keeper sends the child's id (a pid_t) as soon as it has forked it;
//   2. the application opens a pidfd of the child and then closes its end of the answer pipe;
//      until then the keeper reaps nothing, so that id cannot pass to another process;
//   3. once the child has exited (seen without reaping it), the keeper kills and reaps every other
//      process it has, until none is left, then sends how many it ended (a std::uint64_t), reaps
//      the child and exits as the child did: the same exit code, or the same signal.
// SIGTERM, SIGINT and SIGHUP sent to the keeper go on to the child.
#include <sys/types.h>

namespace platform {

// Called in the forked child to become the program: it must not return.
using StartKept = void (*)(void* context);

// Runs in a process just forked from a multi-threaded one, with every signal blocked: only
// async-signal-safe calls. `reportFD` carries an errno to the application when the keeper cannot
// start the child; `start` must do the same when it cannot.
[[noreturn]] void runProcessKeeper(int statusFD, int answerFD, int reportFD, StartKept start, void* context);

}  // namespace platform
