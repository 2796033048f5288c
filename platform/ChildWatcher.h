#pragma once
// Waits for one child of this process to end and reaps it, with a time limit and a way to be woken
// early. Signals go to the child only while it is known not to be reaped, so a recycled process id
// is never hit.
#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <optional>

namespace platform {

class ChildWatcher {
 public:
  explicit ChildWatcher(pid_t pid);
  ~ChildWatcher();
  ChildWatcher(const ChildWatcher&) = delete;
  ChildWatcher& operator=(const ChildWatcher&) = delete;

  // Waits until the child ends (then reaps it and returns its raw wait status), `timeout` passes
  // or `wake()` is called; no timeout waits without limit.
  std::optional<int> waitForExit(std::optional<std::chrono::milliseconds> timeout);
  void wake();
  // Sends `sig` to the child's process group and to the child itself, unless it was reaped.
  void signal(int sig);
  bool reaped() const;
  pid_t pid() const { return childPid; }

 private:
  std::optional<int> tryReap();

  pid_t childPid;
  int pidFd = -1;  // -1 where the kernel has no process descriptors; we poll instead
  int wakeFd = -1;
  mutable std::mutex mutex;
  bool wasReaped = false;
};

}  // namespace platform
