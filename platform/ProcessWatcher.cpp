#include "platform/ProcessWatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/ChildProcess.h"

namespace platform {

ProcessWatcher::ProcessWatcher() : wakeFD(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  thread = std::thread([this] { run(); });
}

ProcessWatcher::~ProcessWatcher() {
  {
    std::lock_guard guard(mutex);
    stopping = true;
  }
  wake();
  // The last owner may let go from inside a handler, on the watcher's own thread.
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
  } else {
    thread.join();
  }
  for (auto& entry : entries) {
    if (entry.pidfd >= 0) ::close(entry.pidfd);
  }
  if (wakeFD >= 0) ::close(wakeFD);
}

void ProcessWatcher::wake() {
  uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wakeFD, &one, sizeof one);
}

void ProcessWatcher::watch(pid_t pid, std::function<void()> handler) {
  int pidfd = openProcessDescriptor(pid);
  if (pidfd < 0 && errno == ESRCH) {
    handler();
    return;
  }
  if (pidfd >= 0) ::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
  {
    std::lock_guard guard(mutex);
    entries.push_back({pid, pidfd, std::move(handler)});
  }
  wake();
}

size_t ProcessWatcher::watchedCount() {
  std::lock_guard guard(mutex);
  return entries.size();
}

void ProcessWatcher::run() {
  std::vector<pollfd> fds;
  while (true) {
    bool polling = false;
    {
      std::lock_guard guard(mutex);
      if (stopping) return;
      fds.assign(1, pollfd{wakeFD, POLLIN, 0});
      for (auto& entry : entries) {
        fds.push_back(pollfd{entry.pidfd, POLLIN, 0});  // a negative descriptor is skipped
        polling = polling || entry.pidfd < 0;
      }
    }
    int ready = ::poll(fds.data(), fds.size(), polling ? 500 : -1);
    if (ready < 0 && errno != EINTR) return;
    if (fds[0].revents & POLLIN) {
      uint64_t count;
      [[maybe_unused]] auto got = ::read(wakeFD, &count, sizeof count);
    }
    std::vector<std::function<void()>> gone;
    {
      std::lock_guard guard(mutex);
      if (stopping) return;
      // Entries only ever grow at the end while we poll, so the first fds.size() - 1 entries are
      // the ones polled.
      size_t polled = fds.size() - 1;
      std::vector<Entry> kept;
      for (size_t i = 0; i < entries.size(); ++i) {
        auto& entry = entries[i];
        bool exited;
        if (entry.pidfd >= 0) {
          exited = i < polled && (fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR));
        } else {
          exited = ::kill(entry.pid, 0) != 0 && errno != EPERM;
        }
        if (exited) {
          if (entry.pidfd >= 0) ::close(entry.pidfd);
          gone.push_back(std::move(entry.handler));
        } else {
          kept.push_back(std::move(entry));
        }
      }
      entries = std::move(kept);
    }
    for (auto& handler : gone) handler();
  }
}

}  // namespace platform
