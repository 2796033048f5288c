#include "Vantrelle/Process/PtyChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "Vantrelle/Process/PseudoTerminalHelpers.h"

namespace vantrelle {

PtyChannel::PtyChannel(int fd) : fd(fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  closeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  readerWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

PtyChannel::~PtyChannel() {
  if (fd >= 0) ::close(fd);
  ::close(closeFd);
  ::close(readerWakeFd);
}

bool PtyChannel::acquire() {
  std::lock_guard lock(mutex);
  if (closed) return false;
  users++;
  return true;
}

void PtyChannel::relinquish() {
  std::lock_guard lock(mutex);
  if (--users == 0 && closed && fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

size_t PtyChannel::availableBytes() {
  if (!acquire()) return 0;
  auto available = PseudoTerminalHelpers::availableBytes(fd);
  relinquish();
  return available.status == 0 && available.size > 0 ? size_t(available.size) : 0;
}

int PtyChannel::setWindowSize(winsize& size) {
  if (!acquire()) return -1;
  int result = PseudoTerminalHelpers::setWinSize(fd, size);
  relinquish();
  return result;
}

PtyChannel::ReadResult PtyChannel::read(uint8_t* buffer, size_t capacity, int timeoutMs, bool readFirst) {
  if (!acquire()) return {ReadStatus::closed};
  auto result = readInUse(buffer, capacity, timeoutMs, readFirst);
  relinquish();
  return result;
}

PtyChannel::ReadResult PtyChannel::readInUse(uint8_t* buffer, size_t capacity, int timeoutMs, bool readFirst) {
  if (readFirst) {
    ssize_t n;
    do n = ::read(fd, buffer, capacity);
    while (n < 0 && errno == EINTR);
    if (n > 0) return {ReadStatus::data, size_t(n)};
    // Nothing yet, or the end: the wait below tells which, and hears a close or a wake first.
  }
  for (;;) {
    pollfd fds[3] = {{closeFd, POLLIN, 0}, {readerWakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
    int ready = poll(fds, 3, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {ReadStatus::endOfFile};
    }
    if (ready == 0) return {ReadStatus::timedOut};
    if (fds[0].revents) return {ReadStatus::closed};
    if (fds[1].revents) {
      uint64_t count;
      [[maybe_unused]] auto ignored = ::read(readerWakeFd, &count, sizeof count);
      return {ReadStatus::woken};
    }
    ssize_t n = ::read(fd, buffer, capacity);
    if (n > 0) return {ReadStatus::data, size_t(n)};
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return {ReadStatus::endOfFile};
  }
}

void PtyChannel::wakeReader() {
  uint64_t one = 1;
  [[maybe_unused]] auto ignored = ::write(readerWakeFd, &one, sizeof one);
}

void PtyChannel::write(std::vector<uint8_t> bytes, WriteCompletion completion) {
  std::unique_lock lock(mutex);
  if (closed) return;
  // A keystroke reaches the child without waiting for the writer thread to wake.
  PendingWrite next{std::move(bytes), std::move(completion)};
  int error = 0;
  if (writeAtOnce(next, error)) {
    lock.unlock();
    if (next.completion) next.completion(next.written, error);
    return;
  }
  writes.push_back(std::move(next));
  if (!writerStarted) {
    writerStarted = true;
    std::thread(writerLoop, shared_from_this()).detach();
  } else {
    writesAvailable.notify_one();
  }
}

void PtyChannel::writerLoop(std::shared_ptr<PtyChannel> channel) {
  pthread_setname_np(pthread_self(), "pty-writer");
  for (;;) {
    PendingWrite next;
    {
      std::unique_lock lock(channel->mutex);
      channel->writesAvailable.wait(lock, [&] { return channel->closed || !channel->writes.empty(); });
      if (channel->closed) return;
      next = std::move(channel->writes.front());
      channel->writes.pop_front();
      channel->writerBusy = true;
    }
    size_t written = next.written;
    if (!channel->acquire()) return;
    int error = channel->writeAll(next.bytes, written);
    channel->relinquish();
    if (error == ECANCELED) return;
    if (next.completion) next.completion(written, error);
    std::lock_guard lock(channel->mutex);
    channel->writerBusy = false;
  }
}

bool PtyChannel::writeAtOnce(PendingWrite& write, int& error) {
  if (!writes.empty() || writerBusy || fd < 0) return false;
  while (write.written < write.bytes.size()) {
    ssize_t n = ::write(fd, write.bytes.data() + write.written, write.bytes.size() - write.written);
    if (n > 0) {
      write.written += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno != EAGAIN) {
      error = errno;
      return true;
    } else {
      return false;  // the rest waits for room on the writer thread
    }
  }
  return true;
}

// Writes the whole buffer, waiting for room while the child is slow to read; gives up with
// ECANCELED when the channel closes meanwhile.
int PtyChannel::writeAll(const std::vector<uint8_t>& bytes, size_t& written) {
  while (written < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += size_t(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return errno;
    pollfd fds[2] = {{closeFd, POLLIN, 0}, {fd, POLLOUT, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return errno;
    if (fds[0].revents) return ECANCELED;
    if (fds[1].revents & (POLLERR | POLLHUP) && !(fds[1].revents & POLLOUT)) return EIO;
  }
  return 0;
}

void PtyChannel::close() {
  {
    std::lock_guard lock(mutex);
    if (closed) return;
    closed = true;
    writes.clear();
    if (users == 0 && fd >= 0) {
      ::close(fd);
      fd = -1;
    }
  }
  writesAvailable.notify_all();
  uint64_t one = 1;
  [[maybe_unused]] auto ignored = ::write(closeFd, &one, sizeof one);
}

bool PtyChannel::isClosed() const {
  std::lock_guard lock(mutex);
  return closed;
}

}  // namespace vantrelle
