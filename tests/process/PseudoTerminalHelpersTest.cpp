#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "Vantrelle/Process/PseudoTerminalHelpers.h"

using namespace vantrelle;

namespace {
std::string readAll(int fd) {
  std::string out;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      out.append(buffer, size_t(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return out;  // end of file or EIO once the child is gone
  }
}
}  // namespace

TEST(PseudoTerminalHelpers, CStringArrayIsNullTerminatedCopy) {
  auto array = PseudoTerminalHelpers::allocateCStringArray({"a", "", "ünï"});
  ASSERT_TRUE(array);
  EXPECT_EQ(array->size(), 3u);
  EXPECT_STREQ(array->data()[0], "a");
  EXPECT_STREQ(array->data()[1], "");
  EXPECT_STREQ(array->data()[2], "ünï");
  EXPECT_EQ(array->data()[3], nullptr);
  auto empty = PseudoTerminalHelpers::allocateCStringArray({});
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->data()[0], nullptr);
}

TEST(PseudoTerminalHelpers, ForkUsesArgumentsUnchangedAndWindowSizeApplies) {
  winsize size{33, 101, 0, 0};
  // The child waits for a line from us before it reads its size, so nothing more comes meanwhile.
  auto child =
      PseudoTerminalHelpers::fork("/bin/sh", {"shell", "-c", "stty -echo; printf '%s ' \"$0\"; read line; stty size"},
                                  {"PATH=/usr/bin:/bin"}, std::nullopt, size);
  ASSERT_TRUE(child);
  winsize resized{40, 120, 0, 0};
  EXPECT_EQ(PseudoTerminalHelpers::setWinSize(child->masterFd, resized), 0);
  // The child's one write arrives whole, so the first wake-up finds all of it.
  pollfd readable{child->masterFd, POLLIN, 0};
  EXPECT_EQ(poll(&readable, 1, 20'000), 1);
  auto available = PseudoTerminalHelpers::availableBytes(child->masterFd);
  EXPECT_EQ(available.status, 0);
  EXPECT_EQ(available.size, 6);  // "shell "
  ASSERT_EQ(write(child->masterFd, "\n", 1), 1);
  std::string output = readAll(child->masterFd);
  EXPECT_EQ(output, "shell 40 120\r\n");
  int status = 0;
  EXPECT_EQ(waitpid(child->pid, &status, 0), child->pid);
  EXPECT_EQ(status, 0);
  EXPECT_NE(fcntl(child->masterFd, F_GETFD) & FD_CLOEXEC, 0);
  close(child->masterFd);
}
