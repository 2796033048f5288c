#include "app/ControlChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <thread>

#include "app/RuntimeAuthority.h"
#include "app/URL.h"
#include "platform/ChildProcess.h"
#include "platform/Log.h"

namespace zorvel {

namespace {

struct Written {
  size_t bytes = 0;
  bool timedOut = false;
};

// Writes as much of the bytes as the core takes within the time allowed (a descriptor in
// non-blocking mode); stops at once when the core has gone.
Written writeWithin(int fd, std::string_view bytes, std::chrono::milliseconds allowed) {
  Written written;
  auto deadline = std::chrono::steady_clock::now() + allowed;
  while (written.bytes < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + written.bytes, bytes.size() - written.bytes);
    if (n > 0) {
      written.bytes += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        written.timedOut = true;
        return written;
      }
      pollfd entry{fd, POLLOUT, 0};
      ::poll(&entry, 1, static_cast<int>(left.count()));
      continue;
    }
    return written;  // the core has gone; the rest is simply not sent
  }
  return written;
}

const platform::Logger& controlLog() {
  static const platform::Logger log("local.zorvel.desktop", "control");
  return log;
}

}  // namespace

ControlChannel::ControlChannel(DesktopRuntimeAuthority& authority) : runtimeAuthority(authority) {}

void ControlChannel::writeControl(const nlohmann::json& message, const Handle& handle) {
  if (!handle || !message.is_object()) return;
  std::string line = encodeControlLine(message);
  std::lock_guard guard(controlWriteLock);
  int fd = handle->inputDescriptor();
  if (fd < 0) return;
  if (writeState.core.lock() != handle) writeState = WriteState{handle};
  // A line cut short when a write gave up is ended first: the core drops that one whole and
  // reads this one intact.
  if (writeState.midLine) line.insert(line.begin(), '\n');
  // A core that left a line waiting past the limit is not waited on again until it takes a line
  // whole, so a stalled core holds no writer (the main thread among them) more than once.
  auto allowed = writeState.stalled ? std::chrono::milliseconds(0) : stalledWriteLimit;
  auto written = writeWithin(fd, line, allowed);
  if (written.bytes > 0) writeState.midLine = line[written.bytes - 1] != '\n';
  if (written.bytes == line.size()) {
    writeState.stalled = false;
    return;
  }
  if (written.timedOut && !writeState.stalled) {
    controlLog().error("Core %d stopped reading its control channel; a control line was not sent",
                       static_cast<int>(handle->processIdentifier()));
  }
  writeState.stalled = writeState.stalled || written.timedOut;
}

void ControlChannel::startControlReader(Handle process) {
  int fd = process ? process->outputDescriptor() : -1;
  if (fd < 0) return;
  // The reader blocks for the core's whole life, so it gets a thread of its own rather than a
  // slot of a shared pool.
  std::thread([weak = weak_from_this(), process = std::move(process), fd] {
    ControlLineReader reader;
    char chunk[16384];
    bool alive = true;
    while (alive) {
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      reader.feed(std::string_view(chunk, static_cast<size_t>(got)), [&](nlohmann::json&& object) {
        if (!alive) return;
        auto channel = weak.lock();
        if (!channel) {
          alive = false;
          return;
        }
        auto message = decodeControlMessage(object);
        if (!message) return;
        if (auto* synced = std::get_if<SyncedReply>(&*message)) {
          channel->acceptSynced(synced->requestID);
        } else {
          channel->handleControlMessage(*message, process);
        }
      });
    }
  }).detach();
}

void ControlChannel::handleControlMessage(const ControlMessage& message, const Handle& process) {
  if (!process) return;
  std::string corePID = std::to_string(process->processIdentifier());
  if (auto* issue = std::get_if<IssueRequest>(&message)) {
    auto issued = runtimeAuthority.issueProject(issue->projectID, "core:" + corePID, issue->access, issue->taskID,
                                                issue->sessionID, issue->reportID);
    writeControl({{"kind", "issued"}, {"request_id", issue->requestID}, {"token", issued.token}}, process);
  } else if (auto* revoke = std::get_if<RevokeRequest>(&message)) {
    runtimeAuthority.revokeToken(revoke->tokenID);
  } else if (auto* bind = std::get_if<BindRequest>(&message)) {
    if (!runtimeAuthority.assign(bind->tokenID, "process:" + std::to_string(bind->pid))) return;
    monitorAuthorizedProcess(bind->pid, bind->tokenID);
    writeControl({{"kind", "bound"}, {"request_id", bind->requestID}}, process);
  }
}

void ControlChannel::acceptSynced(const std::string& requestID) {
  std::lock_guard guard(controlSyncLock);
  // Only replies someone still waits for are kept; late or unsolicited ones would otherwise pile
  // up for the life of the process.
  if (!awaitedControlSyncs.count(requestID)) return;
  completedControlSyncs.insert(requestID);
  controlSyncCondition.notify_all();
}

size_t ControlChannel::pendingSyncCount() {
  std::lock_guard guard(controlSyncLock);
  return completedControlSyncs.size();
}

bool ControlChannel::syncAuthorization(double timeout, const Handle& coreControlInput) {
  if (!coreControlInput) return false;
  std::string requestID = makeUUID();
  nlohmann::json message = runtimeAuthority.syncMessage();
  message["request_id"] = requestID;
  {
    std::lock_guard guard(controlSyncLock);
    awaitedControlSyncs.insert(requestID);
  }
  writeControl(message, coreControlInput);
  std::unique_lock guard(controlSyncLock);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                         std::chrono::duration<double>(std::max(0.0, timeout)));
  controlSyncCondition.wait_until(guard, deadline, [&] { return completedControlSyncs.count(requestID) > 0; });
  bool synced = completedControlSyncs.erase(requestID) > 0;
  awaitedControlSyncs.erase(requestID);
  return synced;
}

void ControlChannel::monitorAuthorizedProcess(pid_t pid, const std::string& tokenID) {
  processWatcher.watch(pid, [weak = weak_from_this(), tokenID] {
    if (auto channel = weak.lock(); channel && channel->onAuthorizedProcessExit) {
      channel->onAuthorizedProcessExit(tokenID);
    }
  });
}

}  // namespace zorvel
