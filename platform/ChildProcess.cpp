#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/InheritedDescriptors.h"
#include "platform/ProcessTree.h"

namespace platform {

struct ChildProcess::State {
  std::mutex mutex;
  std::condition_variable exited;
  std::optional<int> status;
  std::function<void()> handler;
  bool reaped = false;
  // For a child with a session of its own: what it had started when asked to terminate, and how
  // many processes were killed with it.
  ProcessTree started;
  std::size_t endedWithIt = 0;
};

namespace {
// How long the end of a session waits for what it killed to be gone.
constexpr auto sessionEndWait = std::chrono::seconds(2);
}  // namespace

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
};

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  result.reserve(strings.size() + 1);
  for (auto& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void execChild(int stdinFD, int stdoutFD, int stderrFD, bool newGroup, bool newSession, const char* path,
                            char* const* argv, char* const* envp, int reportFD) {
  if (newSession) {
    ::setsid();
  } else if (newGroup) {
    ::setpgid(0, 0);
  }
  // The parent ignores SIGPIPE; ignored signals survive exec, so give the child the default back.
  ::signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  if (stdinFD >= 0) ::dup2(stdinFD, 0);
  if (stdoutFD >= 0) ::dup2(stdoutFD, 1);
  if (stderrFD >= 0) ::dup2(stderrFD, 2);
  // The report pipe closes itself on exec; everything else the child was not given goes now.
  closeInheritedDescriptors(reportFD);
  ::execve(path, argv, envp);
  int error = errno;
  [[maybe_unused]] auto written = ::write(reportFD, &error, sizeof error);
  ::_exit(127);
}

int openNull(int flags) { return ::open("/dev/null", flags | O_CLOEXEC); }

}  // namespace

std::shared_ptr<ChildProcess> ChildProcess::launch(const Options& options, std::string* failure) {
  Pipe in, out, err, report;
  int nullIn = -1, nullOut = -1;
  auto cleanup = [&] {
    in.close();
    out.close();
    err.close();
    report.close();
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
  int childIn = options.input == Stream::pipe ? in.read : nullIn;
  int childOut = options.output == Stream::pipe ? out.write : nullOut;
  int childErr = options.error == Stream::pipe ? err.write : nullOut;
  if (options.error == Stream::inherit) childErr = -1;
  if (options.output == Stream::inherit) childOut = -1;
  if (options.input == Stream::inherit) childIn = -1;

  pid_t pid = ::fork();
  if (pid < 0) return fail("Could not start " + options.executable, errno);
  if (pid == 0) {
    execChild(childIn, childOut, childErr, options.newProcessGroup, options.ownSession, options.executable.c_str(),
              argv.data(), envp.data(), report.write);
  }
  // No race with the child's own call. A session the child makes itself, before its program runs:
  // the report below waits for that.
  if (options.newProcessGroup && !options.ownSession) ::setpgid(pid, pid);
  ::close(report.write);
  report.write = -1;
  int execError = 0;
  ssize_t got;
  do {
    got = ::read(report.read, &execError, sizeof execError);
  } while (got < 0 && errno == EINTR);

  std::shared_ptr<ChildProcess> child(new ChildProcess());
  child->pid = pid;
  child->ownGroup = options.newProcessGroup || options.ownSession;
  child->ownSession = options.ownSession;
  child->state = std::make_shared<State>();
  if (got == static_cast<ssize_t>(sizeof execError)) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    child->state->status = status;
    child->state->reaped = true;
    child->pid = -1;
    return fail("Could not start " + options.executable, execError);
  }
  child->inputFD = std::exchange(in.write, -1);
  child->outputFD = std::exchange(out.read, -1);
  child->errorFD = std::exchange(err.read, -1);
  cleanup();
  child->startWatcher();
  return child;
}

void ChildProcess::startWatcher() {
  std::thread([pid = pid, state = state, ownSession = ownSession] {
    // Wait without reaping first, then reap under the lock: a signal sent under the same lock
    // can never reach a process that has since taken over the id.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    if (ownSession) {
      // Unreaped, the child keeps its id, which is its session's, from passing to another process.
      ProcessTree tree;
      {
        std::lock_guard guard(state->mutex);
        tree = std::move(state->started);
      }
      const std::size_t ended = tree.endWithSession(pid, sessionEndWait);
      std::lock_guard guard(state->mutex);
      state->endedWithIt = ended;
    }
    int status = 0;
    std::function<void()> handler;
    {
      std::lock_guard guard(state->mutex);
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
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

void ChildProcess::terminate() {
  std::lock_guard guard(state->mutex);
  // Once reaped the id may belong to someone else.
  if (state->reaped) return;
  // Its children pass to another parent the moment it ends, and one that has left its session
  // could then no longer be told from any other process.
  if (ownSession) state->started.holdDescendantsOf(pid);
  ::kill(pid, SIGTERM);
}

void ChildProcess::kill() {
  std::lock_guard guard(state->mutex);
  if (!state->reaped) ::kill(pid, SIGKILL);
}

void ChildProcess::signalGroup(int signal) {
  std::lock_guard guard(state->mutex);
  if (!state->reaped) ::kill(ownGroup ? -pid : pid, signal);
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
