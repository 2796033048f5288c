#include "platform/ChildWatcher.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace platform {

namespace {
constexpr int fallbackPollMs = 20;

int openProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  return int(syscall(SYS_pidfd_open, pid, 0));
#else
  return -1;
#endif
}
}  // namespace

ChildWatcher::ChildWatcher(pid_t pid) : childPid(pid) {
  pidFd = openProcessDescriptor(pid);
  wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ChildWatcher::~ChildWatcher() {
  if (pidFd >= 0) close(pidFd);
  if (wakeFd >= 0) close(wakeFd);
}

std::optional<int> ChildWatcher::tryReap() {
  std::lock_guard lock(mutex);
  if (wasReaped) return std::nullopt;
  int status = 0;
  pid_t result;
  do {
    result = waitpid(childPid, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == childPid) {
    wasReaped = true;
    return status;
  }
  if (result < 0 && errno == ECHILD) {
    // Somebody else reaped it (a SIGCHLD handler set to ignore, for example): it is gone.
    wasReaped = true;
    return 0;
  }
  return std::nullopt;
}

std::optional<int> ChildWatcher::waitForExit(std::optional<std::chrono::milliseconds> timeout) {
  auto deadline = timeout ? std::chrono::steady_clock::now() + *timeout : std::chrono::steady_clock::time_point::max();
  for (;;) {
    if (auto status = tryReap()) return status;
    if (reaped()) return std::nullopt;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return std::nullopt;
    int waitMs = -1;
    if (timeout) waitMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()) + 1;
    if (pidFd < 0 && (waitMs < 0 || waitMs > fallbackPollMs)) waitMs = fallbackPollMs;
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {pidFd, POLLIN, 0}};
    int ready = poll(fds, pidFd >= 0 ? 2 : 1, waitMs);
    if (ready > 0 && (fds[0].revents & POLLIN)) {
      uint64_t count;
      [[maybe_unused]] auto ignored = read(wakeFd, &count, sizeof count);
      return tryReap();
    }
  }
}

void ChildWatcher::wake() {
  uint64_t one = 1;
  [[maybe_unused]] auto ignored = write(wakeFd, &one, sizeof one);
}

void ChildWatcher::signal(int sig) {
  std::lock_guard lock(mutex);
  if (wasReaped) return;
  // The child leads its own session, so its process group carries its id; the group reaches the
  // programs it started in the foreground too.
  kill(-childPid, sig);
  kill(childPid, sig);
}

bool ChildWatcher::reaped() const {
  std::lock_guard lock(mutex);
  return wasReaped;
}

}  // namespace platform
