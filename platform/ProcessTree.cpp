#include "platform/ProcessTree.h"

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/ProcStat.h"

namespace platform {

namespace {

// A tree is followed this far at most, and a session gone over this many times: a process that
// keeps starting others is stopped as soon as it is found, so a few rounds find them all.
constexpr std::size_t maximumProcesses = 4096;
constexpr int maximumRounds = 64;

bool sendSignal(int process, int signal) { return ::syscall(SYS_pidfd_send_signal, process, signal, nullptr, 0) == 0; }

// Whether the process has ended (a zombie or gone).
bool hasEnded(int process) {
  pollfd ended{process, POLLIN, 0};
  return ::poll(&ended, 1, 0) != 0;
}

std::map<pid_t, std::vector<pid_t>> childrenByParent(const std::vector<ProcStat>& processes) {
  std::map<pid_t, std::vector<pid_t>> children;
  for (const auto& process : processes) {
    if (process.parent > 0) children[process.parent].push_back(process.pid);
  }
  return children;
}

}  // namespace

ProcessTree::~ProcessTree() { closeAll(); }

ProcessTree::ProcessTree(ProcessTree&& other) noexcept : held(std::exchange(other.held, {})) {}

ProcessTree& ProcessTree::operator=(ProcessTree&& other) noexcept {
  if (this != &other) {
    closeAll();
    held = std::exchange(other.held, {});
  }
  return *this;
}

void ProcessTree::closeAll() {
  for (auto& [pid, process] : held) ::close(process);
  held.clear();
}

template <typename Belongs>
bool ProcessTree::hold(pid_t pid, Belongs belongs, bool stop) {
  if (held.count(pid) || held.size() >= maximumProcesses) return false;
  const int process = openProcessDescriptor(pid);
  if (process < 0) return false;
  // Read after the descriptor was taken: if the id passed to another process in between, this
  // reads that one, and the descriptor names one that has gone.
  auto stat = ProcStat::of(pid);
  if (!stat || stat->isZombie() || !belongs(*stat) || (stop && !sendSignal(process, SIGSTOP))) {
    ::close(process);
    return false;
  }
  held.emplace(pid, process);
  return true;
}

void ProcessTree::holdDescendantsOf(pid_t root) {
  auto children = childrenByParent(ProcStat::all());
  std::deque<pid_t> pending{root};
  while (!pending.empty() && held.size() < maximumProcesses) {
    const pid_t parent = pending.front();
    pending.pop_front();
    for (pid_t child : children[parent]) {
      // A parent that still runs once its child is held is the one the child's line named.
      auto belongs = [&](const ProcStat& stat) {
        return stat.parent == parent && (parent == root || !hasEnded(held.at(parent)));
      };
      if (held.count(child) || hold(child, belongs, false)) pending.push_back(child);
    }
  }
}

std::size_t ProcessTree::endWithSession(pid_t session, std::chrono::milliseconds wait) {
  // What was held while it ran stops now; what has ended since is let go.
  for (auto it = held.begin(); it != held.end();) {
    if (sendSignal(it->second, SIGSTOP)) {
      ++it;
    } else {
      ::close(it->second);
      it = held.erase(it);
    }
  }
  for (int round = 0; round < maximumRounds; ++round) {
    const auto processes = ProcStat::all();
    const std::size_t before = held.size();
    for (const auto& process : processes) {
      if (process.session != session || process.pid == session) continue;
      hold(
          process.pid, [&](const ProcStat& stat) { return stat.session == session; }, true);
    }
    // What the held ones started, also in sessions of their own: stopped, their parents can
    // neither end nor start another meanwhile.
    auto children = childrenByParent(processes);
    std::deque<pid_t> pending;
    for (const auto& [pid, process] : held) pending.push_back(pid);
    while (!pending.empty() && held.size() < maximumProcesses) {
      const pid_t parent = pending.front();
      pending.pop_front();
      for (pid_t child : children[parent]) {
        if (hold(
                child, [&](const ProcStat& stat) { return stat.parent == parent; }, true))
          pending.push_back(child);
      }
    }
    if (held.size() == before) break;
  }
  const std::size_t killed = static_cast<std::size_t>(
      std::count_if(held.begin(), held.end(), [](const auto& entry) { return sendSignal(entry.second, SIGKILL); }));
  // Until they have gone their sockets and files are still open: a port one held is not free yet.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (const auto& [pid, process] : held) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ended{process, POLLIN, 0};
    ::poll(&ended, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
  }
  closeAll();
  return killed;
}

}  // namespace platform
