#include "Vantrelle/Process/PseudoTerminalHelpers.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/InheritedDescriptors.h"

namespace vantrelle {

CStringArray::CStringArray(CStringArray&& other) noexcept : strings(other.strings), count(other.count) {
  other.strings = nullptr;
  other.count = 0;
}

CStringArray& CStringArray::operator=(CStringArray&& other) noexcept {
  if (this != &other) {
    release();
    strings = other.strings;
    count = other.count;
    other.strings = nullptr;
    other.count = 0;
  }
  return *this;
}

CStringArray::~CStringArray() { release(); }

void CStringArray::release() {
  if (!strings) return;
  for (size_t i = 0; i < count; i++) free(strings[i]);
  free(strings);
  strings = nullptr;
  count = 0;
}

std::optional<CStringArray> PseudoTerminalHelpers::allocateCStringArray(const std::vector<std::string>& source) {
  auto** strings = static_cast<char**>(calloc(source.size() + 1, sizeof(char*)));
  if (!strings) return std::nullopt;
  for (size_t i = 0; i < source.size(); i++) {
    strings[i] = strdup(source[i].c_str());
    if (!strings[i]) {
      CStringArray partial(strings, i);  // frees the copies made so far and the array
      return std::nullopt;
    }
  }
  return CStringArray(strings, source.size());
}

namespace {

// Everything below runs in the forked child of a possibly multi-threaded parent, so it may only
// use async-signal-safe calls.

// The parent may ignore or block signals (SIGPIPE is commonly ignored by GUI toolkits); execve
// keeps ignored dispositions and the mask, which would leak into every shell we start.
void resetSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int sig = 1; sig < NSIG; sig++) sigaction(sig, &action, nullptr);
  sigset_t empty;
  sigemptyset(&empty);
  sigprocmask(SIG_SETMASK, &empty, nullptr);
}

[[noreturn]] void execInChild(const char* path, char* const* argv, char* const* envp, const char* directory) {
  resetSignals();
  platform::closeInheritedDescriptors();
  if (directory) {
    [[maybe_unused]] int ignored = chdir(directory);
  }
  execve(path, argv, envp);
  _exit(127);
}

}  // namespace

std::optional<ForkedChild> PseudoTerminalHelpers::fork(const std::string& andExec, const std::vector<std::string>& args,
                                                       const std::vector<std::string>& env,
                                                       const std::optional<std::string>& currentDirectory,
                                                       winsize& desiredWindowSize) {
  auto argv = allocateCStringArray(args);
  auto envp = allocateCStringArray(env);
  if (!argv || !envp) return std::nullopt;
  // Copies made before fork: the child may not allocate.
  std::string path = andExec;
  std::optional<std::string> directory = currentDirectory;

  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, &desiredWindowSize);
  if (pid < 0) return std::nullopt;
  if (pid == 0) execInChild(path.c_str(), argv->data(), envp->data(), directory ? directory->c_str() : nullptr);
  // Other children this process starts must not hold our pty open.
  fcntl(master, F_SETFD, fcntl(master, F_GETFD) | FD_CLOEXEC);
  return ForkedChild{pid, master};
}

int32_t PseudoTerminalHelpers::setWinSize(int32_t masterPtyDescriptor, winsize& windowSize) {
  return ioctl(masterPtyDescriptor, TIOCSWINSZ, &windowSize);
}

AvailableBytes PseudoTerminalHelpers::availableBytes(int32_t fd) {
  int size = 0;
  int status = ioctl(fd, FIONREAD, &size);
  return {status, size};
}

}  // namespace vantrelle
