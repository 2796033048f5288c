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
// Its exit is watched on a thread of its own through a pidfd, which also reaps it, so no zombie
// is left behind and a recycled process id is never mistaken for it.
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
    // Leads a session (and process group) of its own, which ends with it: what it leaves running
    // there when it ends, and what those started, is killed before it is reaped, as is what it had
    // started by the time it was asked to terminate.
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

  // SIGTERM. A child with a session of its own has what it started taken note of first, so that
  // ends with it even where it has left the session.
  void terminate();
  void kill();                   // SIGKILL
  void signalGroup(int signal);  // the whole process group, when it has one of its own
  // Waits up to the timeout; true when the child has exited.
  bool waitUntilExit(std::chrono::milliseconds timeout) const;
  // Asks the child to end, then kills it if it does not within the grace period.
  void terminateAndReap(std::chrono::milliseconds grace);
  // For a child with a session of its own, once it has been reaped: how many processes it left
  // running that were killed with it.
  std::size_t processesEndedWithIt() const;

 private:
  struct State;
  ChildProcess() = default;
  void startWatcher();

  pid_t pid = -1;
  int inputFD = -1;
  int outputFD = -1;
  int errorFD = -1;
  bool ownGroup = false;
  bool ownSession = false;
  std::shared_ptr<State> state;
};

// Opens a pidfd for any process; -1 when the process does not exist or pidfds are unavailable.
int openProcessDescriptor(pid_t pid);

}  // namespace platform
