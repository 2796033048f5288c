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

namespace zorvel {

namespace {

// Writes all of a line, waiting a bounded time when the core is slow to read, so a core that
// stopped reading cannot block a writer (the main thread among them) for ever.
void writeAll(int fd, std::string_view bytes) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      pollfd entry{fd, POLLOUT, 0};
      ::poll(&entry, 1, static_cast<int>(left.count()));
      continue;
    }
    return;  // the core has gone; the line is simply not sent
  }
}

}  // namespace

ControlChannel::ControlChannel(DesktopRuntimeAuthority& authority) : runtimeAuthority(authority) {}

void ControlChannel::writeControl(const nlohmann::json& message, const Handle& handle) {
  if (!handle || !message.is_object()) return;
  std::string line = encodeControlLine(message);
  std::lock_guard guard(controlWriteLock);
  int fd = handle->inputDescriptor();
  if (fd >= 0) writeAll(fd, line);
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
