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
  // Called with the bytes written and the error number (0 on success): on the writer thread, or on
  // the caller's when `write` wrote everything at once.
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
  // With `readFirst` it reads before it waits: a child that writes faster than it is read has its
  // next output ready, and a read then costs one call rather than a wait and a read.
  ReadResult read(uint8_t* buffer, size_t capacity, int timeoutMs, bool readFirst = false);
  // Makes a waiting `read` return `woken`.
  void wakeReader();

  // Writes the whole buffer, in order with the writes before it: at once when nothing waits and the
  // child has room for all of it, otherwise on a thread of the channel's own.
  void write(std::vector<uint8_t> bytes, WriteCompletion completion);

  // Stops reads and writes: queued writes that have not started are dropped.
  void close();
  bool isClosed() const;

 private:
  struct PendingWrite {
    std::vector<uint8_t> bytes;
    WriteCompletion completion;
    size_t written = 0;  // the part already written
  };
  // Writes what the child takes without waiting, under `mutex`; nothing when a write is queued or
  // under way. Returns whether the whole buffer went (`error` set when it failed).
  bool writeAtOnce(PendingWrite& write, int& error);
  ReadResult readInUse(uint8_t* buffer, size_t capacity, int timeoutMs, bool readFirst);
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
  bool writerBusy = false;  // the writer thread has taken a write and not finished it
};

}  // namespace vantrelle
