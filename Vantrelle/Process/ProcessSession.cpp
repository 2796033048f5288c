#include "Vantrelle/Process/ProcessSession.h"

#include <pthread.h>
#include <signal.h>

#include <thread>
#include <vector>

#include "Vantrelle/Process/LocalProcess.h"

namespace vantrelle {

namespace {

// Sessions whose child was asked to terminate, for a host that exits before their grace periods end.
struct TerminatingSessions {
  std::mutex mutex;
  std::vector<std::weak_ptr<ProcessSession>> sessions;
};

TerminatingSessions& terminatingSessions() {
  static auto* all = new TerminatingSessions;  // never destroyed: watchers may outlive static teardown
  return *all;
}

}  // namespace

ProcessSession::ProcessSession(pid_t pid, int masterFd)
    : channel(std::make_shared<PtyChannel>(masterFd)), watcher(pid) {}

void ProcessSession::start(std::weak_ptr<LocalProcess> owner) {
  auto self = shared_from_this();
  std::thread([self, owner] {
    pthread_setname_np(pthread_self(), "sender");
    self->readLoop(owner);
  }).detach();
  std::thread([self, owner] {
    pthread_setname_np(pthread_self(), "child-watch");
    self->watchLoop(owner);
  }).detach();
}

bool ProcessSession::waitForReadPermit() {
  std::unique_lock lock(mutex);
  permitChanged.wait(lock, [&] { return readPermitted || channel->isClosed(); });
  return !channel->isClosed();
}

void ProcessSession::setReadPermitted(bool permitted) {
  {
    std::lock_guard lock(mutex);
    readPermitted = permitted;
  }
  permitChanged.notify_all();
}

void ProcessSession::close() {
  channel->close();
  std::lock_guard lock(mutex);
  permitChanged.notify_all();
}

void ProcessSession::requestTermination() {
  watcher.signal(SIGTERM);
  {
    std::lock_guard lock(mutex);
    killDeadline = std::chrono::steady_clock::now() + terminateGracePeriod;
  }
  watcher.wake();
  auto& terminating = terminatingSessions();
  std::lock_guard lock(terminating.mutex);
  std::erase_if(terminating.sessions, [](const auto& session) { return session.expired(); });
  terminating.sessions.push_back(weak_from_this());
}

void ProcessSession::endTerminatedChildren() {
  std::vector<std::shared_ptr<ProcessSession>> sessions;
  {
    auto& terminating = terminatingSessions();
    std::lock_guard lock(terminating.mutex);
    for (auto& weak : terminating.sessions) {
      if (auto session = weak.lock()) sessions.push_back(std::move(session));
    }
    terminating.sessions.clear();
  }
  for (auto& session : sessions) {
    std::optional<std::chrono::steady_clock::time_point> deadline;
    {
      std::lock_guard lock(session->mutex);
      deadline = session->killDeadline;
    }
    // The session's own watcher reaps the child; a deadline already gone means it killed it.
    while (deadline && !session->watcher.reaped() && std::chrono::steady_clock::now() < *deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    session->watcher.signal(SIGKILL);
  }
}

bool ProcessSession::exitKnown() {
  std::lock_guard lock(mutex);
  return exitStatus.has_value();
}

void ProcessSession::readLoop(std::weak_ptr<LocalProcess> owner) {
  std::vector<uint8_t> buffer(LocalProcess::readSize);
  bool exitSeen = false;
  size_t owed = 0;  // bytes that were waiting in the pty when the child ended
  std::chrono::steady_clock::time_point exitTime;
  bool gathering = false;  // output read waits on the next read
  bool streamed = false;   // output has come: a read is tried before any wait
  std::chrono::steady_clock::time_point previousRead;
  for (;;) {
    if (!waitForReadPermit()) break;
    if (!exitSeen && exitKnown()) {
      exitSeen = true;
      exitTime = std::chrono::steady_clock::now();
      owed = channel->availableBytes();
    }
    auto result = channel->read(buffer.data(), buffer.size(),
                                gathering  ? LocalProcess::gatherWaitMs
                                : exitSeen ? exitQuietMs
                                           : -1,
                                streamed);
    if (gathering && result.status != PtyChannel::ReadStatus::data) {
      gathering = false;
      if (auto process = owner.lock()) process->releaseGathered();
      // The wait for more output is no quiet period of a child that has ended.
      if (result.status == PtyChannel::ReadStatus::timedOut) continue;
    }
    if (result.status == PtyChannel::ReadStatus::closed) break;
    if (result.status == PtyChannel::ReadStatus::endOfFile) {
      if (auto process = owner.lock()) process->endOfFile(shared_from_this());
      break;
    }
    if (result.status == PtyChannel::ReadStatus::data) {
      auto process = owner.lock();
      if (!process) break;
      // Output gathers only within a stream: a read right after another.
      auto now = std::chrono::steady_clock::now();
      const bool flood = streamed && now - previousRead < std::chrono::nanoseconds(LocalProcess::gatherLimitNs);
      streamed = true;
      previousRead = now;
      gathering = process->readCompleted(shared_from_this(), buffer.data(), result.count, flood);
      owed -= std::min(owed, result.count);
    }
    if (exitSeen && owed == 0 &&
        (result.status == PtyChannel::ReadStatus::timedOut ||
         std::chrono::steady_clock::now() - exitTime > exitReadLimit))
      break;
  }
  if (auto process = owner.lock(); process && gathering) process->releaseGathered();
  readerFinished(owner);
}

void ProcessSession::watchLoop(std::weak_ptr<LocalProcess> owner) {
  for (;;) {
    std::optional<std::chrono::milliseconds> timeout;
    {
      std::lock_guard lock(mutex);
      if (killDeadline) {
        auto left = *killDeadline - std::chrono::steady_clock::now();
        timeout = std::max(std::chrono::milliseconds(0), std::chrono::duration_cast<std::chrono::milliseconds>(left));
      }
    }
    if (auto status = watcher.waitForExit(timeout)) {
      childExited(*status, owner);
      return;
    }
    if (watcher.reaped()) return;
    bool kill = false;
    {
      std::lock_guard lock(mutex);
      if (killDeadline && std::chrono::steady_clock::now() >= *killDeadline) {
        killDeadline.reset();
        kill = true;
      }
    }
    if (kill) watcher.signal(SIGKILL);
  }
}

void ProcessSession::childExited(int status, const std::weak_ptr<LocalProcess>& owner) {
  bool post;
  {
    std::lock_guard lock(mutex);
    exitStatus = status;
    post = readerDone && !exitPosted;
    if (post) exitPosted = true;
  }
  if (post)
    postExit(status, owner);
  else
    channel->wakeReader();
}

void ProcessSession::readerFinished(const std::weak_ptr<LocalProcess>& owner) {
  std::optional<int> status;
  {
    std::lock_guard lock(mutex);
    readerDone = true;
    if (exitStatus && !exitPosted) {
      exitPosted = true;
      status = exitStatus;
    }
  }
  if (status) postExit(*status, owner);
}

void ProcessSession::postExit(int status, const std::weak_ptr<LocalProcess>& owner) {
  if (monitorCancelled) return;
  if (auto process = owner.lock()) process->postExit(shared_from_this(), status);
}

}  // namespace vantrelle
