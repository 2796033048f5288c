#include "Vantrelle/Process/LocalProcess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "Vantrelle/Process/ProcessSession.h"
#include "Vantrelle/Process/PseudoTerminalHelpers.h"
#include "Vantrelle/Terminal/Terminal.h"
#include "platform/Dispatch.h"

namespace vantrelle {

using platform::uptimeNanoseconds;

LocalProcess::LocalProcess(std::weak_ptr<LocalProcessDelegate> delegate, platform::DispatchQueue* queue)
    : delegateRef(std::move(delegate)),
      dispatchQueue(queue ? *queue : platform::DispatchQueue::main()),
      usesMainQueue(&dispatchQueue == &platform::DispatchQueue::main()) {}

LocalProcess::~LocalProcess() {
  // Like terminate, but without a signal: closing the master hangs up the child's terminal, and
  // the session's watcher still reaps the child whenever it ends.
  if (session) {
    session->cancelMonitor();
    session->close();
  }
}

std::weak_ptr<LocalProcessDelegate> LocalProcess::delegate() const {
  std::lock_guard lock(delegateLock);
  return delegateRef;
}

void LocalProcess::setDelegate(std::weak_ptr<LocalProcessDelegate> newDelegate) {
  std::lock_guard lock(delegateLock);
  delegateRef = std::move(newDelegate);
}

size_t LocalProcess::pendingBytes() const {
  std::lock_guard lock(pendingLock);
  return pendingByteCount;
}

void LocalProcess::setHostLogging(std::optional<std::string> directory) {
  std::lock_guard lock(loggingLock);
  loggingDir = std::move(directory);
}

void LocalProcess::startProcess(const std::string& executable, const std::vector<std::string>& args,
                                const std::optional<std::vector<std::string>>& environment,
                                const std::optional<std::string>& execName,
                                const std::optional<std::string>& currentDirectory) {
  if (isRunning) return;
  winsize size{};
  if (auto owner = delegate().lock()) size = owner->getWindowSize();
  std::vector<std::string> argv{execName.value_or(executable)};
  argv.insert(argv.end(), args.begin(), args.end());
  startProcessWithForkpty(executable, argv,
                          environment ? *environment : Terminal::getEnvironmentVariables("xterm-256color", true),
                          currentDirectory, size);
}

bool LocalProcess::startProcessWithForkpty(const std::string& executable, const std::vector<std::string>& argv,
                                           const std::vector<std::string>& environment,
                                           const std::optional<std::string>& currentDirectory, winsize size) {
  auto child = PseudoTerminalHelpers::fork(executable, argv, environment, currentDirectory, size);
  if (!child) return false;
  auto fresh = std::make_shared<ProcessSession>(child->pid, child->masterFd);
  std::shared_ptr<ProcessSession> previous;
  {
    std::lock_guard lock(pendingLock);
    previous = std::exchange(session, fresh);
  }
  // A child that ended by end of file may still have its exit on the way; it is reported, but its
  // channel is of no more use.
  if (previous) previous->close();
  isRunning = true;
  childFd = child->masterFd;
  childPid = child->pid;
  fresh->start(weak_from_this());
  return true;
}

bool LocalProcess::readCompleted(const std::shared_ptr<ProcessSession>& from, const uint8_t* bytes, size_t count,
                                 bool flood) {
  if (debugIOEnabled) {
    totalRead += count;
    std::printf("[READ] count=%zu received from host total=%zu\n", count, totalRead.load());
  }
  writeHostLog(bytes, count);
  if (usesMainQueue) {
    enqueueReceivedData(std::vector<uint8_t>(bytes, bytes + count), flood);
    std::lock_guard lock(pendingLock);
    return gatheringSinceNs != 0;
  }
  // Another queue gets each chunk synchronously, so it needs no pending queue of its own.
  auto self = shared_from_this();
  dispatchQueue.sync([&] { self->deliver({bytes, count}); });
  return false;
}

void LocalProcess::releaseGathered() {
  std::unique_lock lock(pendingLock);
  if (!gatheringSinceNs) return;
  gatheringSinceNs = 0;
  if (pendingScheduled) return;
  pendingScheduled = true;
  lock.unlock();
  scheduleDrain();
}

void LocalProcess::endOfFile(const std::shared_ptr<ProcessSession>& from) {
  {
    std::lock_guard lock(pendingLock);
    if (from != session) return;
  }
  childFd = -1;
  isRunning = false;
  // Nothing more can come through this pty; give its descriptor back now rather than at the next
  // start.
  from->close();
}

void LocalProcess::writeHostLog(const uint8_t* bytes, size_t count) {
  std::lock_guard lock(loggingLock);
  if (!loggingDir) return;
  std::string path = *loggingDir + "/log-" + std::to_string(logFileCounter);
  FILE* file = std::fopen(path.c_str(), "wb");
  bool written = file && std::fwrite(bytes, 1, count, file) == count;
  int error = errno;
  if (file && std::fclose(file) != 0) written = false;
  if (written) {
    logFileCounter++;
  } else {
    std::printf("Got error while logging data dump to %s: %s\n", path.c_str(), std::strerror(error));
  }
}

bool LocalProcess::enqueueReceivedData(std::vector<uint8_t> chunk, bool moreComing) {
  std::unique_lock lock(pendingLock);
  pendingByteCount += chunk.size();
  size_t pendingNow = pendingByteCount;
  // A program that writes line by line reaches us in reads of a few hundred bytes, and every
  // chunk costs the delegate a round of its own: output that still waits joins the waiting chunk
  // before it.
  PendingChunk* waiting = pendingChunks.size() > pendingChunkIndex ? &pendingChunks.back() : nullptr;
  if (waiting && !waiting->exitOf && waiting->bytes.size() + chunk.size() <= joinedChunkBytes) {
    waiting->bytes.reserve(joinedChunkBytes);
    waiting->bytes.insert(waiting->bytes.end(), chunk.begin(), chunk.end());
  } else {
    pendingChunks.push_back({std::move(chunk), nullptr, 0});
  }
  if (pendingNow >= pendingHighWaterBytes) {
    readSuspendedForBackpressure = true;
    // Withdrawn under the lock, so a drain that resumes reading cannot slip in between.
    if (session) session->setReadPermitted(false);
  }
  if (!pendingScheduled) {
    const uint64_t now = moreComing ? uptimeNanoseconds() : 0;
    if (moreComing && pendingNow < joinedChunkBytes && (!gatheringSinceNs || now - gatheringSinceNs < gatherLimitNs)) {
      if (!gatheringSinceNs) gatheringSinceNs = now;
      return true;
    }
    gatheringSinceNs = 0;
    pendingScheduled = true;
    lock.unlock();
    scheduleDrain();
  }
  return pendingNow < pendingHighWaterBytes;
}

void LocalProcess::postExit(const std::shared_ptr<ProcessSession>& from, int status) {
  if (!usesMainQueue) {
    std::weak_ptr<LocalProcess> weak = weak_from_this();
    dispatchQueue.async([weak, from, status] {
      if (auto self = weak.lock()) self->processTerminated(from, status);
    });
    return;
  }
  std::unique_lock lock(pendingLock);
  pendingChunks.push_back({{}, from, status});
  if (!pendingScheduled) {
    pendingScheduled = true;
    lock.unlock();
    scheduleDrain();
  }
}

void LocalProcess::scheduleDrain(bool afterSlice) {
  std::weak_ptr<LocalProcess> weak = weak_from_this();
  auto drain = [weak] {
    if (auto self = weak.lock()) self->drainReceivedData();
  };
  if (afterSlice) {
    dispatchQueue.asyncWhenIdle(drain);
  } else {
    dispatchQueue.async(drain);
  }
}

void LocalProcess::drainReceivedData() {
  // A drain queued before a hold began leaves the output to the hold's end.
  if (deliveryHeld) return;
  if (deliverSlice(false) && !deliveryHeld) scheduleDrain(true);
}

void LocalProcess::deliverPendingNow() {
  if (!usesMainQueue || !platform::DispatchQueue::isMainThread()) return;
  bool held = std::exchange(deliveryHeld, false);
  bool waiting, gathered = false;
  {
    std::lock_guard lock(pendingLock);
    // Output gathering on the reader is waiting too: a drain is queued for whatever this slice
    // leaves.
    if (!pendingScheduled && gatheringSinceNs && pendingChunkIndex < pendingChunks.size()) {
      gatheringSinceNs = 0;
      pendingScheduled = gathered = true;
    }
    waiting = pendingScheduled && pendingChunkIndex < pendingChunks.size();
  }
  if (gathered) scheduleDrain();
  // A drain that is waiting for the queue stays queued and delivers the rest; a held one is queued
  // again, unless this slice was held in turn.
  bool more = waiting ? deliverSlice(true) : held;
  if (held && more && !deliveryHeld) scheduleDrain(true);
}

void LocalProcess::holdIfAsked() {
  auto owner = delegate().lock();
  if (!owner || !owner->deliveryDeadlineReached()) return;
  deliveryHeld = true;
  uint64_t hold = ++holdCount;
  std::weak_ptr<LocalProcess> weak = weak_from_this();
  dispatchQueue.asyncAfter(std::chrono::nanoseconds(heldDeliveryLimitNs), [weak, hold] {
    if (auto self = weak.lock()) self->endHold(hold);
  });
}

void LocalProcess::endHold(uint64_t hold) {
  if (!deliveryHeld || hold != holdCount) return;
  deliveryHeld = false;
  scheduleDrain(true);
}

bool LocalProcess::deliverSlice(bool outputOnly) {
  uint64_t start = uptimeNanoseconds();
  uint64_t sliceEnd = start + pendingTimeSliceNs;
  for (;;) {
    std::unique_lock lock(pendingLock);
    if (pendingChunkIndex >= pendingChunks.size()) {
      pendingChunks.clear();
      pendingChunkIndex = 0;
      pendingByteCount = 0;
      pendingScheduled = false;
      gatheringSinceNs = 0;
      return false;
    }
    if (outputOnly && pendingChunks[pendingChunkIndex].exitOf) return true;
    PendingChunk chunk = std::move(pendingChunks[pendingChunkIndex++]);
    if (pendingChunkIndex >= pendingChunkFlushThreshold) {
      pendingChunks.erase(pendingChunks.begin(), pendingChunks.begin() + std::ptrdiff_t(pendingChunkIndex));
      pendingChunkIndex = 0;
    }
    pendingByteCount -= chunk.bytes.size();
    std::shared_ptr<ProcessSession> resume;
    if (readSuspendedForBackpressure && pendingByteCount <= pendingLowWaterBytes) {
      readSuspendedForBackpressure = false;
      resume = session;
    }
    lock.unlock();
    if (resume && isRunning) resume->setReadPermitted(true);

    uint64_t deadline = 0;
    if (chunk.exitOf)
      processTerminated(chunk.exitOf, chunk.status);
    else
      deadline = deliver(chunk.bytes);
    // A deadline passed by more than a slice is not one the queue is about to keep (the frames
    // may have stopped), so it no longer cuts slices short.
    uint64_t now = uptimeNanoseconds();
    bool keptDeadline = deadline && now < deadline + pendingTimeSliceNs;
    if (keptDeadline) sliceEnd = std::min(sliceEnd, deadline);
    if (now < sliceEnd) continue;
    if (keptDeadline && now >= deadline) holdIfAsked();
    return true;
  }
}

uint64_t LocalProcess::deliver(std::span<const uint8_t> slice) {
  auto owner = delegate().lock();
  if (!owner) return 0;
  owner->dataReceived(slice);
  return owner->deliveryDeadlineNs();
}

void LocalProcess::processTerminated(const std::shared_ptr<ProcessSession>& from, int status) {
  if (from->isMonitorCancelled()) return;
  from->cancelMonitor();
  if (auto owner = delegate().lock()) owner->processTerminated(*this, status);
  std::lock_guard lock(pendingLock);
  if (from == session) isRunning = false;
}

std::shared_ptr<ProcessSession> LocalProcess::currentSession() const {
  if (!isRunning) return nullptr;
  std::lock_guard lock(pendingLock);
  return session;
}

void LocalProcess::send(std::span<const uint8_t> data) {
  if (auto current = currentSession()) write(current, data, false);
}

void LocalProcess::sendReply(std::span<const uint8_t> data) {
  auto current = currentSession();
  if (!current || data.empty()) return;
  if (current->repliesQueued.load() + data.size() > maximumQueuedReplyBytes) {
    repliesDropped++;
    return;
  }
  current->repliesQueued += data.size();
  write(current, data, true);
}

void LocalProcess::write(const std::shared_ptr<ProcessSession>& current, std::span<const uint8_t> data, bool reply) {
  size_t n = sendCounter++;
  if (debugIOEnabled) {
    std::string line = "[SEND-" + std::to_string(n) + "] Queuing data to client: [";
    for (size_t i = 0; i < data.size(); i++) line += (i ? ", " : "") + std::to_string(data[i]);
    std::printf("%s] \n", line.c_str());
  }
  std::weak_ptr<LocalProcess> weak = weak_from_this();
  // A reply is counted off its session once written, failed or not; one dropped because the
  // channel closed leaves its count behind with the session.
  std::weak_ptr<ProcessSession> replied = reply ? current : nullptr;
  const size_t size = data.size();
  current->channel->write(
      std::vector<uint8_t>(data.begin(), data.end()), [weak, n, replied, size](size_t written, int error) {
        if (auto session = replied.lock()) session->repliesQueued -= size;
        platform::DispatchQueue::global(platform::QoS::userInitiated).async([weak, n, written, error] {
          auto self = weak.lock();
          if (!self) return;
          self->totalWritten += written;
          if (self->debugIOEnabled) std::printf("[SEND-%zu] completed bytes=%zu\n", n, self->totalWritten.load());
          if (error != 0) std::printf("Error writing data to the child, errno=%d\n", error);
        });
      });
}

size_t LocalProcess::queuedReplyBytes() const {
  std::lock_guard lock(pendingLock);
  return session ? session->repliesQueued.load() : 0;
}

int32_t LocalProcess::setWindowSize(winsize size) {
  std::shared_ptr<ProcessSession> current;
  {
    std::lock_guard lock(pendingLock);
    current = session;
  }
  return current ? current->channel->setWindowSize(size) : -1;
}

void LocalProcess::endTerminatedChildren() { ProcessSession::endTerminatedChildren(); }

void LocalProcess::terminate() {
  std::shared_ptr<ProcessSession> current;
  {
    std::lock_guard lock(pendingLock);
    current = session;
  }
  if (current) {
    current->cancelMonitor();
    current->close();
    if (childPid != 0) current->requestTermination();
  }
  childFd = -1;
  isRunning = false;
}

}  // namespace vantrelle
