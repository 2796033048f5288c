#pragma once
// Owns a pseudo-terminal master descriptor and the reads and writes on it. Closing the channel
// wakes and stops its users; the descriptor itself is closed as soon as no read or write is using
// it, so a write that races with closing never touches a closed or reused descriptor.
#include <sys/ioctl.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vantrelle {

class PtyChannel : public std::enable_shared_from_this<PtyChannel> {
 public:
  enum class ReadStatus { data, endOfFile, timedOut, woken, closed };
  struct ReadResult {
    ReadStatus status;
    size_t count = 0;
  };
  // Called on the writer thread with the bytes written and the error number (0 on success).
  using WriteCompletion = std::function<void(size_t written, int error)>;

  // Takes ownership of `fd`, which it switches to non-blocking mode.
  explicit PtyChannel(int fd);
  ~PtyChannel();
  PtyChannel(const PtyChannel&) = delete;
  PtyChannel& operator=(const PtyChannel&) = delete;

  // Bytes waiting to be read, or 0.
  size_t availableBytes();
  // The ioctl result, or -1 once closed.
  int setWindowSize(winsize& size);

  // Waits up to `timeoutMs` (-1: no limit) for output and reads at most `capacity` bytes of it.
  // End of file and EIO (the slave side is gone) both read as end of file.
  ReadResult read(uint8_t* buffer, size_t capacity, int timeoutMs);
  // Makes a waiting `read` return `woken`.
  void wakeReader();

  // Queues the whole buffer for writing; writes happen in order on a thread of the channel's own.
  void write(std::vector<uint8_t> bytes, WriteCompletion completion);

  // Stops reads and writes: queued writes that have not started are dropped.
  void close();
  bool isClosed() const;

 private:
  struct PendingWrite {
    std::vector<uint8_t> bytes;
    WriteCompletion completion;
  };
  ReadResult readInUse(uint8_t* buffer, size_t capacity, int timeoutMs);
  static void writerLoop(std::shared_ptr<PtyChannel> channel);
  int writeAll(const std::vector<uint8_t>& bytes, size_t& written);
  // Marks the descriptor in use; false once the channel is closed.
  bool acquire();
  void relinquish();

  int fd;
  int closeFd;       // an eventfd signalled once on close and never drained, so every waiter sees it
  int readerWakeFd;  // an eventfd the reader drains

  mutable std::mutex mutex;
  std::condition_variable writesAvailable;
  std::deque<PendingWrite> writes;
  bool closed = false;
  int users = 0;
  bool writerStarted = false;
};

}  // namespace vantrelle
