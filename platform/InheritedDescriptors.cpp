#include "platform/InheritedDescriptors.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

namespace platform {

namespace {

// Closes [first, last]; one call where the kernel has close_range, else one by one up to the limit
// of open descriptors.
void closeRange(unsigned first, unsigned last) {
  if (first > last) return;
#ifdef SYS_close_range
  if (::syscall(SYS_close_range, first, last, 0U) == 0) return;
#endif
  rlimit limit{};
  long end = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY ? long(limit.rlim_cur) : 65536;
  if (last < static_cast<unsigned long>(end)) end = long(last) + 1;
  for (long fd = first; fd < end; fd++) ::close(int(fd));
}

constexpr unsigned firstAfterStandardStreams = 3;

void markCloseOnExec(int fd) {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0 && !(flags & FD_CLOEXEC)) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

// The open descriptors as the kernel lists them; false when /proc is not there to ask.
bool markListedCloseOnExec() {
  DIR* folder = ::opendir("/proc/self/fd");
  if (!folder) return false;
  const int own = ::dirfd(folder);
  while (const dirent* entry = ::readdir(folder)) {
    char* end = nullptr;
    long fd = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0' || fd < long(firstAfterStandardStreams) || fd == own) continue;
    markCloseOnExec(int(fd));
  }
  ::closedir(folder);
  return true;
}

}  // namespace

void keepInheritedDescriptorsFromChildren() {
#ifdef SYS_close_range
  // Linux 5.11 and later mark the whole range in one call.
  if (::syscall(SYS_close_range, firstAfterStandardStreams, ~0U, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
  if (markListedCloseOnExec()) return;
  rlimit limit{};
  const long end =
      ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY ? long(limit.rlim_cur) : 65536;
  for (long fd = firstAfterStandardStreams; fd < end; fd++) markCloseOnExec(int(fd));
}

void closeInheritedDescriptors(int keep, int alsoKeep) {
  unsigned first = firstAfterStandardStreams;
  const int low = keep < alsoKeep ? keep : alsoKeep;
  const int high = keep < alsoKeep ? alsoKeep : keep;
  const int kept[] = {low, high};
  for (int fd : kept) {
    if (fd < int(first)) continue;
    closeRange(first, unsigned(fd) - 1);
    first = unsigned(fd) + 1;
  }
  closeRange(first, ~0U);
}

}  // namespace platform
