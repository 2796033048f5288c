#pragma once
// Ending everything a process started. A child that leads a session of its own keeps in it what it
// starts, unless one of those starts a session or is started by one that did; what is left of the
// session when its leader has gone is found through /proc, and what left it through the parent
// the kernel gives each process (while that parent lives).
//
// Each process is held by a descriptor before it is signalled, and checked again once held, so a
// process that took the id of one that has gone is never hit.
#include <sys/types.h>

#include <chrono>
#include <map>

namespace platform {

class ProcessTree {
 public:
  ProcessTree() = default;
  ~ProcessTree();
  ProcessTree(ProcessTree&& other) noexcept;
  ProcessTree& operator=(ProcessTree&& other) noexcept;
  ProcessTree(const ProcessTree&) = delete;
  ProcessTree& operator=(const ProcessTree&) = delete;

  // Holds, without signalling them, the processes `root` started, directly or not, as they are
  // now: they are ended with the session later even if by then they have left the tree, as a
  // process that started a session of its own does once its parent has gone. The caller keeps
  // `root`'s id from passing to another process meanwhile (it has not reaped it).
  void holdDescendantsOf(pid_t root);
  // Kills every process of the session but its leader, every held one, and every process one of
  // those started, and waits up to `wait` until they have gone. Each is stopped as it is found,
  // so none can start another unseen. The caller keeps the leader's id, which is the session's,
  // from passing to another process (it has not reaped the leader). Returns how many it killed.
  std::size_t endWithSession(pid_t session, std::chrono::milliseconds wait);

  std::size_t size() const { return held.size(); }

 private:
  // Holds the process when it passes `belongs` once held; whether it was taken.
  template <typename Belongs>
  bool hold(pid_t pid, Belongs belongs, bool stop);
  void closeAll();

  std::map<pid_t, int> held;  // id to process descriptor
};

}  // namespace platform
