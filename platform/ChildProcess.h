#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A child process started with fork and exec, with optional pipes on its standard streams.
// Its exit is watched on a thread of its own, which also reaps it, so no zombie is left behind;
// the child is signalled only while it is known not to have been reaped (or through a pidfd), so a
// recycled process id is never mistaken for it.
class ChildProcess {
 public:
  enum class Stream { inherit, null, pipe };

  struct Options {
    std::string executable;
    std::vector<std::string> arguments;                   // without the program name
    std::optional<std::vector<std::string>> environment;  // "NAME=value"; none inherits ours
    Stream input = Stream::inherit;
    Stream output = Stream::inherit;
    Stream error = Stream::inherit;
    bool newProcessGroup = false;
    // Runs under a keeper (ProcessKeeper.h) in a session of its own: whatever it starts, however
    // it leaves, ends when the child does, also when this process is killed. The process
    // identifier stays the child's own; signals reach it through a pidfd; the exit status, the
    // running state and the termination handler follow the keeper, which exits as the child did.
    bool ownSession = false;
  };

  // Starts the child; on failure returns null and describes why in `failure`.
  static std::shared_ptr<ChildProcess> launch(const Options& options, std::string* failure);

  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t processIdentifier() const { return pid; }
  // Our ends of the pipes (close-on-exec), -1 when the stream is not a pipe. The object owns them.
  int inputDescriptor() const { return inputFD; }
  int outputDescriptor() const { return outputFD; }
  int errorDescriptor() const { return errorFD; }
  void closeInput();

  bool isRunning() const;
  // The wait status once the child has exited.
  std::optional<int> terminationStatus() const;
  // Called once on the watcher thread after the child exited and was reaped; if the child has
  // exited already it is called at once on the calling thread.
  void setTerminationHandler(std::function<void()> handler);

  void terminate();              // SIGTERM
  void kill();                   // SIGKILL
  void signalGroup(int signal);  // the whole process group, when it has one of its own (the keeper's)
  // Waits up to the timeout; true when the child has exited.
  bool waitUntilExit(std::chrono::milliseconds timeout) const;
  // Asks the child to end, then kills it if it does not within the grace period.
  void terminateAndReap(std::chrono::milliseconds grace);
  // For a child with a session of its own, once it has been reaped: how many processes it left
  // running that its keeper killed.
  std::size_t processesEndedWithIt() const;

 private:
  struct State;
  ChildProcess() = default;
  void startWatcher();

  void send(int signal);  // under the lock, unless reaped

  pid_t pid = -1;
  pid_t keeper = -1;  // the process reaped and waited for; the child itself when it has no keeper
  int inputFD = -1;
  int outputFD = -1;
  int errorFD = -1;
  bool ownGroup = false;
  std::shared_ptr<State> state;
};

// Opens a pidfd for any process; -1 when the process does not exist or pidfds are unavailable.
int openProcessDescriptor(pid_t pid);

}  // namespace platform
