// Input reaches the child in the order it was sent, whether a write goes out at once on the caller's
// thread or waits on the writer thread for the child to make room.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Vantrelle/Process/PtyChannel.h"

using namespace vantrelle;

namespace {

// Reads what `fd` holds once `count` bytes have come.
std::string readExactly(int fd, size_t count) {
  std::string got;
  char buffer[4096];
  while (got.size() < count) {
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, 10'000) <= 0) break;
    ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, count - got.size()));
    if (n <= 0) break;
    got.append(buffer, size_t(n));
  }
  return got;
}

// A write the reader has no room for waits on the writer thread; a later one must not slip past it
// into room the reader makes meanwhile.
TEST(PtyWrite, AWriteWaitingForRoomKeepsItsPlace) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  int capacity = fcntl(fds[1], F_SETPIPE_SZ, 4096);
  ASSERT_GT(capacity, 0);
  auto channel = std::make_shared<PtyChannel>(fds[1]);
  std::string first(size_t(capacity) * 2, 'a'), second = "b";
  for (int round = 0; round < 500; round++) {
    // The writer thread, once it runs, takes the part the reader had no room for and waits.
    channel->write({first.begin(), first.end()}, [](size_t, int) {});
    // The reader makes room while the first write still waits for it.
    std::string got = readExactly(fds[0], size_t(capacity));
    channel->write({second.begin(), second.end()}, [](size_t, int) {});
    got += readExactly(fds[0], first.size() + second.size() - got.size());
    ASSERT_EQ(got, first + second) << "round " << round;
    first[size_t(round) % first.size()] = char('a' + round % 26);
  }
  channel->close();
  ::close(fds[0]);
}

}  // namespace
