#pragma once
// Runs one child program on a pseudo-terminal and is the only channel between a terminal and it:
// output goes to the delegate in order and in bounded time slices, reading pauses while too much
// output waits undelivered, input is written in order off the caller's thread, and the exit is
// reported once the output written before it has been delivered.
//
// A LocalProcess must be owned through a std::shared_ptr: its readers and queued blocks hold it
// weakly and drop their work once it is gone.
#include <sys/ioctl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "Vantrelle/Process/LocalProcessDelegate.h"

namespace platform {
class DispatchQueue;
}

namespace vantrelle {

struct ProcessSession;

class LocalProcess : public std::enable_shared_from_this<LocalProcess> {
 public:
  static constexpr size_t readSize = 131072;
  static constexpr size_t pendingChunkFlushThreshold = 32;
  static constexpr uint64_t pendingTimeSliceNs = 4'000'000;
  static constexpr size_t pendingHighWaterBytes = 4'194'304;
  // The most bytes that chunks read one after another are joined into while they wait.
  static constexpr size_t joinedChunkBytes = 65'536;
  static constexpr size_t pendingLowWaterBytes = 1'048'576;
  // A read that comes within `gatherLimitNs` of the one before it is part of a stream, and more is
  // on its way: such output waits on the reader for what follows, up to `gatherLimitNs` or
  // `joinedChunkBytes`, so that a stream wakes the dispatch queue once for many reads rather than
  // once for each. The reads of a stream are of any size: a program writing lines reaches the pty
  // line by line, and most of its reads are a line or a few. A read after a quiet moment (an echo,
  // a prompt, the first of a screen redrawn for a key) goes on at once with what waits before it;
  // the rest of a burst goes on once the pty has been quiet for `gatherWaitMs`.
  static constexpr uint64_t gatherLimitNs = 2'000'000;
  // How long the delegate may hold output back: a frame it waits for may never come.
  static constexpr uint64_t heldDeliveryLimitNs = 40'000'000;

  // `dispatchQueue` is where the delegate is called; the main queue when none is given.
  explicit LocalProcess(std::weak_ptr<LocalProcessDelegate> delegate, platform::DispatchQueue* dispatchQueue = nullptr);
  virtual ~LocalProcess();
  LocalProcess(const LocalProcess&) = delete;
  LocalProcess& operator=(const LocalProcess&) = delete;

  virtual void startProcess(const std::string& executable, const std::vector<std::string>& args = {},
                            const std::optional<std::vector<std::string>>& environment = std::nullopt,
                            const std::optional<std::string>& execName = std::nullopt,
                            const std::optional<std::string>& currentDirectory = std::nullopt);
  virtual void send(std::span<const uint8_t> data);
  // Sends a reply of the terminal to the program (a report it asked for, a mouse or focus event).
  // A program can ask faster than it reads: while the replies it has not read yet hold this many
  // bytes, further ones are dropped rather than kept waiting without bound. Typed and pasted
  // input goes through `send` and is never dropped.
  static constexpr size_t maximumQueuedReplyBytes = size_t(1) << 20;
  void sendReply(std::span<const uint8_t> data);
  // Reply bytes the child has not taken yet, and the replies dropped for want of room.
  size_t queuedReplyBytes() const;
  size_t droppedReplies() const { return repliesDropped.load(); }
  virtual void terminate();
  // For a host about to exit: waits until each child it terminated has ended or used up its grace
  // period, and kills those left, which its watchers would otherwise not live to do.
  static void endTerminatedChildren();
  virtual void setHostLogging(std::optional<std::string> directory);
  // Resizes the running child's pseudo-terminal (the child hears SIGWINCH); -1 when none runs.
  // Safer than an ioctl on `childfd()`, which may close at any moment.
  int32_t setWindowSize(winsize size);

  int32_t childfd() const { return childFd.load(); }
  int32_t shellPid() const { return childPid.load(); }
  bool running() const { return isRunning.load(); }
  bool debugIO() const { return debugIOEnabled.load(); }
  void setDebugIO(bool enabled) { debugIOEnabled = enabled; }
  std::weak_ptr<LocalProcessDelegate> delegate() const;
  void setDelegate(std::weak_ptr<LocalProcessDelegate> newDelegate);
  size_t total() const { return totalWritten.load(); }
  size_t sendCount() const { return sendCounter.load(); }
  // Undelivered output; for watching the back-pressure bound.
  size_t pendingBytes() const;
  // On the main queue, delivers output that waits for a drain at once, for one slice (cut short by
  // the delegate's deadline), leaving the child's exit and the rest to the drain. Ends a hold.
  void deliverPendingNow();

 protected:
  // Takes one read's bytes on the reader thread; answers whether reading may go on. With
  // `moreComing` (a flood), no drain is scheduled for them yet while the output gathered is young
  // and small.
  virtual bool enqueueReceivedData(std::vector<uint8_t> chunk, bool moreComing = false);
  // Delivers pending chunks on the dispatch queue for one time slice.
  virtual void drainReceivedData();
  // The exit step: reports the child's raw wait status to the delegate.
  virtual void processTerminated(const std::shared_ptr<ProcessSession>& session, int status);
  virtual bool startProcessWithForkpty(const std::string& executable, const std::vector<std::string>& argv,
                                       const std::vector<std::string>& environment,
                                       const std::optional<std::string>& currentDirectory, winsize size);

 private:
  std::shared_ptr<ProcessSession> currentSession() const;
  // Queues bytes for the child, a reply of the terminal or the user's input.
  void write(const std::shared_ptr<ProcessSession>& current, std::span<const uint8_t> data, bool reply);
  friend struct ProcessSession;
  // Takes a read on the reader thread, `flood` when it came right after another full one; true while
  // its output waits for what follows: the reader then calls `releaseGathered` unless more comes
  // within `gatherWaitMs`.
  bool readCompleted(const std::shared_ptr<ProcessSession>& session, const uint8_t* bytes, size_t count, bool flood);
  static constexpr int gatherWaitMs = 1;
  void releaseGathered();
  void endOfFile(const std::shared_ptr<ProcessSession>& session);
  void postExit(const std::shared_ptr<ProcessSession>& session, int status);
  // A drain that used up its time slice continues only once the main loop is otherwise idle, so
  // that a flood of output leaves room for input and frames between slices.
  void scheduleDrain(bool afterSlice = false);
  void writeHostLog(const uint8_t* bytes, size_t count);
  // Delivers pending chunks for one time slice, or up to the first exit when `outputOnly`; true
  // when some are left.
  bool deliverSlice(bool outputOnly);
  // The delegate's hold on output (deliveryDeadlineReached): taken, and ended by its time limit.
  void holdIfAsked();
  void endHold(uint64_t hold);
  // Hands the delegate a chunk; returns its delivery deadline.
  uint64_t deliver(std::span<const uint8_t> slice);

  std::weak_ptr<LocalProcessDelegate> delegateRef;
  mutable std::mutex delegateLock;
  platform::DispatchQueue& dispatchQueue;
  const bool usesMainQueue;

  std::atomic<int32_t> childFd{-1};
  std::atomic<int32_t> childPid{0};
  std::atomic<bool> isRunning{false};
  std::atomic<bool> debugIOEnabled{false};
  std::atomic<size_t> sendCounter{0};
  std::atomic<size_t> repliesDropped{0};
  std::atomic<size_t> totalWritten{0};
  std::atomic<size_t> totalRead{0};

  std::shared_ptr<ProcessSession> session;  // the current child's channel and watchers

  mutable std::mutex pendingLock;
  // A chunk of output, or (with `exitOf` set) the exit of a child, which waits behind the output
  // read before it.
  struct PendingChunk {
    std::vector<uint8_t> bytes;
    std::shared_ptr<ProcessSession> exitOf;
    int status = 0;
  };
  std::vector<PendingChunk> pendingChunks;
  size_t pendingChunkIndex = 0;
  bool pendingScheduled = false;
  // When the output that waits without a drain scheduled began to gather (0: none waits so).
  uint64_t gatheringSinceNs = 0;
  // Output is held for the delegate; holds are counted, so that the time limit of one cannot end a
  // later one. While held, pendingScheduled stays set and no drain runs.
  bool deliveryHeld = false;
  uint64_t holdCount = 0;
  size_t pendingByteCount = 0;
  bool readSuspendedForBackpressure = false;

  std::mutex loggingLock;
  std::optional<std::string> loggingDir;
  size_t logFileCounter = 0;
};

}  // namespace vantrelle
