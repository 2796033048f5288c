#pragma once
// One child of a LocalProcess: its pty channel, the reader thread and the exit watcher. The threads
// hold the session strongly and the LocalProcess weakly, so either side may go first.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "Vantrelle/Process/PtyChannel.h"
#include "platform/ChildWatcher.h"

namespace vantrelle {

class LocalProcess;

struct ProcessSession : std::enable_shared_from_this<ProcessSession> {
  // How long a terminated child may take to honour SIGTERM before it is killed.
  static constexpr std::chrono::milliseconds terminateGracePeriod{2000};
  // Once the child has ended, output still arriving (from programs it left behind holding the
  // pty) is read until the pty is quiet this long, or for at most `exitReadLimit`.
  static constexpr int exitQuietMs = 50;
  static constexpr std::chrono::milliseconds exitReadLimit{2000};

  ProcessSession(pid_t pid, int masterFd);

  // Starts the reader and the exit watcher for `owner`.
  void start(std::weak_ptr<LocalProcess> owner);

  // The reader waits here while the owner holds back for back-pressure; false once closed.
  bool waitForReadPermit();
  void setReadPermitted(bool permitted);

  // Stops reading and writing; the descriptor closes once no thread uses it.
  void close();

  // Signals the child's process group, then kills it if it has not ended after the grace period.
  void requestTermination();
  // For a host about to exit, whose watchers would not live to kill anyone: waits until every child
  // asked to terminate has ended or used up its grace period, and kills those still there.
  static void endTerminatedChildren();
  // No exit report is made once the monitor is cancelled.
  void cancelMonitor() { monitorCancelled = true; }
  bool isMonitorCancelled() const { return monitorCancelled; }

  std::shared_ptr<PtyChannel> channel;
  platform::ChildWatcher watcher;
  // Bytes of the terminal's replies handed to the channel and not yet written to the child.
  std::atomic<size_t> repliesQueued{0};

 private:
  void readLoop(std::weak_ptr<LocalProcess> owner);
  void watchLoop(std::weak_ptr<LocalProcess> owner);
  void childExited(int status, const std::weak_ptr<LocalProcess>& owner);
  void readerFinished(const std::weak_ptr<LocalProcess>& owner);
  void postExit(int status, const std::weak_ptr<LocalProcess>& owner);
  bool exitKnown();

  std::mutex mutex;
  std::condition_variable permitChanged;
  bool readPermitted = true;
  bool readerDone = false;
  bool exitPosted = false;
  std::optional<int> exitStatus;
  std::optional<std::chrono::steady_clock::time_point> killDeadline;
  std::atomic<bool> monitorCancelled{false};
};

}  // namespace vantrelle
