#pragma once

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

// Tells when processes that are not necessarily our children are gone. All of them are watched by
// one thread: through a pidfd, which names the very process and so is not fooled by a recycled
// id, or, where no pidfd can be had, by polling the id every half second.
class ProcessWatcher {
 public:
  ProcessWatcher();
  ~ProcessWatcher();
  ProcessWatcher(const ProcessWatcher&) = delete;
  ProcessWatcher& operator=(const ProcessWatcher&) = delete;

  // The handler runs once, on the watcher's thread, after the process is gone.
  void watch(pid_t pid, std::function<void()> handler);
  size_t watchedCount();

 private:
  struct Entry {
    pid_t pid;
    int pidfd;  // -1 when the id is polled
    std::function<void()> handler;
  };
  void run();
  void wake();

  std::mutex mutex;
  std::vector<Entry> entries;
  bool stopping = false;
  int wakeFD = -1;
  std::thread thread;
};

}  // namespace platform
