#include "platform/InheritedDescriptors.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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

}  // namespace

void closeInheritedDescriptors(int keep) {
  constexpr unsigned firstAfterStandardStreams = 3;
  if (keep < int(firstAfterStandardStreams)) {
    closeRange(firstAfterStandardStreams, ~0U);
    return;
  }
  closeRange(firstAfterStandardStreams, unsigned(keep) - 1);
  closeRange(unsigned(keep) + 1, ~0U);
}

}  // namespace platform
