#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/InheritedDescriptors.h"
#include "platform/ProcessKeeper.h"

namespace platform {

struct ChildProcess::State {
  std::mutex mutex;
  std::condition_variable exited;
  std::optional<int> status;
  std::function<void()> handler;
  bool reaped = false;
  // For a child under a keeper: a pidfd of the child, the keeper's status pipe, and how many
  // processes the keeper ended with the child.
  int processFD = -1;
  int statusFD = -1;
  std::size_t endedWithIt = 0;

  ~State() {
    if (processFD >= 0) ::close(processFD);
    if (statusFD >= 0) ::close(statusFD);
  }
};

int openProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  errno = ENOSYS;
  return -1;
#endif
}

namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  bool open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read = fds[0];
    write = fds[1];
    return true;
  }
  void close() {
    if (read >= 0) ::close(read);
    if (write >= 0) ::close(write);
    read = write = -1;
  }
  void closeWrite() {
    if (write >= 0) ::close(write);
    write = -1;
  }
  void closeRead() {
    if (read >= 0) ::close(read);
    read = -1;
  }
};

// Reads exactly `size` bytes; false at an end or error before that.
bool readFull(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  result.reserve(strings.size() + 1);
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// What the forked child needs to become the program, all prepared before the fork.
struct Exec {
  int stdinFD = -1;
  int stdoutFD = -1;
  int stderrFD = -1;
  bool newGroup = false;
  const char* path = nullptr;
  char* const* argv = nullptr;
  char* const* envp = nullptr;
  int reportFD = -1;
};

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void execChild(const Exec& exec) {
  if (exec.newGroup) ::setpgid(0, 0);
  // The parent ignores SIGPIPE; ignored signals survive exec, so give the child the default back.
  ::signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (exec.stdinFD >= 0) ::dup2(exec.stdinFD, 0);
  if (exec.stdoutFD >= 0) ::dup2(exec.stdoutFD, 1);
  if (exec.stderrFD >= 0) ::dup2(exec.stderrFD, 2);
  // The report pipe closes itself on exec; everything else the child was not given goes now.
  closeInheritedDescriptors(exec.reportFD);
  ::execve(exec.path, exec.argv, exec.envp);
  int error = errno;
  [[maybe_unused]] auto written = ::write(exec.reportFD, &error, sizeof error);
  ::_exit(127);
}

void startKept(void* exec) { execChild(*static_cast<const Exec*>(exec)); }

int openNull(int flags) { return ::open("/dev/null", flags | O_CLOEXEC); }

}  // namespace

std::shared_ptr<ChildProcess> ChildProcess::launch(const Options& options, std::string* failure) {
  Pipe in, out, err, report, status, answer;
  int nullIn = -1, nullOut = -1;
  auto cleanup = [&] {
    for (Pipe* pipe : {&in, &out, &err, &report, &status, &answer}) pipe->close();
    if (nullIn >= 0) ::close(nullIn);
    if (nullOut >= 0) ::close(nullOut);
  };
  auto fail = [&](const std::string& what, int error) -> std::shared_ptr<ChildProcess> {
    cleanup();
    if (failure) *failure = what + ": " + std::strerror(error);
    return nullptr;
  };
  bool ok = report.open();
  ok = ok && (options.input != Stream::pipe || in.open());
  ok = ok && (options.output != Stream::pipe || out.open());
  ok = ok && (options.error != Stream::pipe || err.open());
  ok = ok && (!options.ownSession || (status.open() && answer.open()));
  if (!ok) return fail("Could not create pipes", errno);
  if (options.input == Stream::null) nullIn = openNull(O_RDONLY);
  if (options.output == Stream::null || options.error == Stream::null) nullOut = openNull(O_WRONLY);

  std::vector<std::string> argvStrings{options.executable};
  argvStrings.insert(argvStrings.end(), options.arguments.begin(), options.arguments.end());
  std::vector<std::string> envStrings;
  if (options.environment) {
    envStrings = *options.environment;
  } else {
    for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  }
  auto argv = pointers(argvStrings);
  auto envp = pointers(envStrings);
  Exec exec;
  exec.stdinFD = options.input == Stream::inherit ? -1 : options.input == Stream::pipe ? in.read : nullIn;
  exec.stdoutFD = options.output == Stream::inherit ? -1 : options.output == Stream::pipe ? out.write : nullOut;
  exec.stderrFD = options.error == Stream::inherit ? -1 : options.error == Stream::pipe ? err.write : nullOut;
  // Under a keeper, the keeper leads the session.
  exec.newGroup = options.newProcessGroup && !options.ownSession;
  exec.path = options.executable.c_str();
  exec.argv = argv.data();
  exec.envp = envp.data();
  exec.reportFD = report.write;

  // No handler of ours may run in the child before it execs or blocks what it waits for.
  sigset_t all, previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (options.ownSession) runProcessKeeper(status.write, answer.read, report.write, &startKept, &exec);
    execChild(exec);
  }
  const int forkError = errno;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid < 0) return fail("Could not start " + options.executable, forkError);
  // No race with the child's own call.
  if (exec.newGroup) ::setpgid(pid, pid);
  report.closeWrite();

  const pid_t waited = pid;
  int processFD = -1;
  int startError = 0;
  if (options.ownSession) {
    status.closeWrite();
    answer.closeRead();
    // The keeper reaps nothing until it has its answer, so until then the id is the child's.
    if (readFull(status.read, &pid, sizeof pid) && pid > 0) {
      processFD = openProcessDescriptor(pid);
      if (processFD < 0) {
        startError = errno;
        ::kill(pid, SIGKILL);
      }
    } else {
      pid = -1;
    }
    // Closing our end is the answer (a write could meet a keeper that has gone, and SIGPIPE).
    answer.closeWrite();
  }
  int execError = 0;
  if (readFull(report.read, &execError, sizeof execError)) startError = execError;
  if (options.ownSession && pid <= 0 && !startError) startError = EIO;

  std::shared_ptr<ChildProcess> child(new ChildProcess());
  child->pid = pid;
  child->keeper = waited;
  child->ownGroup = options.newProcessGroup || options.ownSession;
  child->state = std::make_shared<State>();
  child->state->processFD = processFD;
  if (startError) {
    int exitStatus = 0;
    while (::waitpid(waited, &exitStatus, 0) < 0 && errno == EINTR) {
    }
    child->state->status = exitStatus;
    child->state->reaped = true;
    child->pid = -1;
    return fail("Could not start " + options.executable, startError);
  }
  child->state->statusFD = std::exchange(status.read, -1);
  child->inputFD = std::exchange(in.write, -1);
  child->outputFD = std::exchange(out.read, -1);
  child->errorFD = std::exchange(err.read, -1);
  cleanup();
  child->startWatcher();
  return child;
}

void ChildProcess::startWatcher() {
  std::thread([waited = keeper, state = state] {
    if (state->statusFD >= 0) {
      // The keeper says how many it ended once the child and all it started have gone.
      std::uint64_t ended = 0;
      if (!readFull(state->statusFD, &ended, sizeof ended)) ended = 0;
      std::lock_guard guard(state->mutex);
      state->endedWithIt = static_cast<std::size_t>(ended);
    }
    // Wait without reaping first, then reap under the lock: a signal sent under the same lock
    // can never reach a process that has since taken over the id.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(waited), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    int status = 0;
    std::function<void()> handler;
    {
      std::lock_guard guard(state->mutex);
      while (::waitpid(waited, &status, 0) < 0 && errno == EINTR) {
      }
      state->status = status;
      state->reaped = true;
      handler = std::move(state->handler);
    }
    state->exited.notify_all();
    if (handler) handler();
  }).detach();
}

ChildProcess::~ChildProcess() {
  for (int fd : {inputFD, outputFD, errorFD}) {
    if (fd >= 0) ::close(fd);
  }
}

void ChildProcess::closeInput() {
  if (inputFD >= 0) ::close(inputFD);
  inputFD = -1;
}

bool ChildProcess::isRunning() const {
  std::lock_guard guard(state->mutex);
  return !state->reaped;
}

std::optional<int> ChildProcess::terminationStatus() const {
  std::lock_guard guard(state->mutex);
  return state->status;
}

void ChildProcess::setTerminationHandler(std::function<void()> handler) {
  {
    std::lock_guard guard(state->mutex);
    if (!state->reaped) {
      state->handler = std::move(handler);
      return;
    }
  }
  if (handler) handler();
}

void ChildProcess::send(int signal) {
  std::lock_guard guard(state->mutex);
  // Once reaped the id may belong to someone else.
  if (state->reaped) return;
  if (state->processFD >= 0) {
    ::syscall(SYS_pidfd_send_signal, state->processFD, signal, nullptr, 0);
  } else {
    ::kill(pid, signal);
  }
}

void ChildProcess::terminate() { send(SIGTERM); }

void ChildProcess::kill() { send(SIGKILL); }

void ChildProcess::signalGroup(int signal) {
  std::lock_guard guard(state->mutex);
  // A keeper leads the group; unreaped, it keeps the group's id from passing to another.
  if (!state->reaped) ::kill(ownGroup ? -keeper : pid, signal);
}

bool ChildProcess::waitUntilExit(std::chrono::milliseconds timeout) const {
  std::unique_lock guard(state->mutex);
  return state->exited.wait_for(guard, timeout, [&] { return state->reaped; });
}

std::size_t ChildProcess::processesEndedWithIt() const {
  std::lock_guard guard(state->mutex);
  return state->endedWithIt;
}

void ChildProcess::terminateAndReap(std::chrono::milliseconds grace) {
  terminate();
  if (waitUntilExit(grace)) return;
  kill();
  waitUntilExit(std::chrono::seconds(5));
}

}  // namespace platform
