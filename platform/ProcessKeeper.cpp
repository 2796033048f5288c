#include "platform/ProcessKeeper.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "platform/InheritedDescriptors.h"

// Everything here runs in a process forked from a multi-threaded one: no allocation, no stdio, no
// C++ library, only system calls and the plain code around them.

namespace platform {

namespace {

bool writeAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

[[noreturn]] void failStart(int reportFD) {
  const int error = errno;
  writeAll(reportFD, &error, sizeof error);
  ::_exit(127);
}

// Writes the decimal digits of `value` at `out`; returns the end.
char* appendDecimal(char* out, unsigned long value) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value > 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

// The ids of this process's children, as the kernel lists them; how many were stored. The list is
// read once: a process not in it (started meanwhile, or past what fits) is found by the next look.
std::size_t ownChildren(pid_t* children, std::size_t capacity) {
  char path[64] = "/proc/self/task/";
  char* end = appendDecimal(path + 16, static_cast<unsigned long>(::getpid()));
  const char tail[] = "/children";
  for (std::size_t i = 0; i < sizeof tail; ++i) *end++ = tail[i];

  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  static char text[16384];
  std::size_t length = 0;
  for (;;) {
    const ssize_t got = ::read(fd, text + length, sizeof text - length);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    length += static_cast<std::size_t>(got);
    if (length == sizeof text) break;
  }
  ::close(fd);
  // A full buffer may end inside a number: that one waits for the next look.
  if (length == sizeof text) {
    while (length > 0 && text[length - 1] != ' ') --length;
  }
  std::size_t count = 0;
  unsigned long value = 0;
  bool inNumber = false;
  for (std::size_t i = 0; i <= length && count < capacity; ++i) {
    const char c = i < length ? text[i] : ' ';
    if (c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned long>(c - '0');
      inNumber = true;
    } else if (inNumber) {
      children[count++] = static_cast<pid_t>(value);
      value = 0;
      inNumber = false;
    }
  }
  return count;
}

bool hasExited(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

void reap(pid_t pid, siginfo_t* info) {
  while (::waitid(P_PID, static_cast<id_t>(pid), info, WEXITED) < 0 && errno == EINTR) {
  }
}

// Until the kept child has exited: what passed to the keeper and ended is reaped, the kept child's
// exit is only noted, and the signals the keeper is asked to pass on go to it.
void waitForExit(pid_t kept, const sigset_t& awaited) {
  for (;;) {
    for (;;) {
      siginfo_t info{};
      if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0) {
        if (errno == EINTR) continue;
        return;  // no child at all: the kept one is gone too
      }
      if (info.si_pid == 0) break;
      if (info.si_pid == kept) return;
      reap(info.si_pid, &info);
    }
    // A SIGCHLD that came after the look above is still pending, so it is not missed.
    siginfo_t received{};
    const int signal = ::sigwaitinfo(&awaited, &received);
    if (signal == SIGTERM || signal == SIGINT || signal == SIGHUP) ::kill(kept, signal);
  }
}

// How long the keeper waits, all told, for what it killed to be gone. A process stuck in the
// kernel can take long to die; the keeper and the application's restart do not wait on it.
constexpr long patienceSeconds = 5;

timespec later(const timespec& from, long seconds) { return timespec{from.tv_sec + seconds, from.tv_nsec}; }

// Reaps the child once it has gone; false when the deadline came first.
bool reapBy(pid_t pid, const timespec& deadline) {
  sigset_t childSignal;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  for (;;) {
    siginfo_t info{};
    const int result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG);
    if ((result == 0 && info.si_pid == pid) || (result < 0 && errno == ECHILD)) return true;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    long long left = (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * 1000000000LL +
                     (static_cast<long long>(deadline.tv_nsec) - now.tv_nsec);
    if (left <= 0) return false;
    const timespec wait{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
    // SIGCHLD is blocked, so one that came before this call is still pending and ends it at once.
    ::sigtimedwait(&childSignal, nullptr, &wait);
  }
}

// Kills every child but the kept one, and what passes to the keeper as those end, until none is
// left; how many were killed.
std::uint64_t endTheRest(pid_t kept) {
  std::uint64_t ended = 0;
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const timespec deadline = later(now, patienceSeconds);
  static pid_t children[4096];
  for (;;) {
    const std::size_t count = ownChildren(children, sizeof children / sizeof children[0]);
    std::size_t going = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const pid_t child = children[i];
      if (child == kept) continue;
      // Unreaped, each id is still this child's, so signalling it by id is safe. One that may not
      // be signalled (it runs as another user) is left to run.
      if (hasExited(child)) {
        children[going++] = child;
      } else if (::kill(child, SIGKILL) == 0) {
        ++ended;
        children[going++] = child;
      }
    }
    if (going == 0) return ended;
    // Once each has gone, what it had started is the keeper's, for the next look.
    for (std::size_t i = 0; i < going; ++i) {
      if (!reapBy(children[i], deadline)) return ended;
    }
  }
}

// Ends the keeper as the kept child ended.
[[noreturn]] void exitAs(const siginfo_t& info) {
  if (info.si_pid == 0) ::_exit(127);
  if (info.si_code == CLD_EXITED) ::_exit(info.si_status);
  const int signal = info.si_status;
  // The keeper's own ending is no crash worth a core dump.
  rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  ::sigaction(signal, &byDefault, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::kill(::getpid(), signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::_exit(128 + signal);
}

}  // namespace

void runProcessKeeper(int statusFD, int answerFD, int reportFD, StartKept start, void* context) {
  ::setsid();
  // The keeper reaps for itself: a SIGCHLD ignored as the application may have it would have the
  // kernel reap the kept child before its id is safe to give up.
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  ::sigaction(SIGCHLD, &byDefault, nullptr);
  if (::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0) failStart(reportFD);
  const pid_t kept = ::fork();
  if (kept < 0) failStart(reportFD);
  if (kept == 0) {
    start(context);
    ::_exit(127);
  }
  // The keeper holds none of the child's descriptors: its streams and the start report end when
  // the child's do. Its own two pipes first move clear of the standard streams it replaces.
  if (statusFD <= 2) statusFD = ::fcntl(statusFD, F_DUPFD, 3);
  if (answerFD <= 2) answerFD = ::fcntl(answerFD, F_DUPFD, 3);
  const int null = ::open("/dev/null", O_RDWR);
  for (int stream = 0; stream <= 2; ++stream) {
    if (null >= 0) {
      ::dup2(null, stream);
    } else {
      ::close(stream);
    }
  }
  closeInheritedDescriptors(statusFD, answerFD);

  writeAll(statusFD, &kept, sizeof kept);
  // Nothing is reaped before the application holds the child by a descriptor (or has gone).
  char answer;
  while (::read(answerFD, &answer, 1) < 0 && errno == EINTR) {
  }
  ::close(answerFD);

  sigset_t awaited;
  sigemptyset(&awaited);
  const int signals[] = {SIGCHLD, SIGTERM, SIGINT, SIGHUP};
  for (int signal : signals) sigaddset(&awaited, signal);
  waitForExit(kept, awaited);
  const std::uint64_t ended = endTheRest(kept);
  writeAll(statusFD, &ended, sizeof ended);
  ::close(statusFD);
  siginfo_t info{};
  reap(kept, &info);
  exitAs(info);
}

}  // namespace platform
