#pragma once

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

namespace platform {
class ChildProcess;
}

namespace zorvel {

class ControlChannel;
class DesktopRuntimeAuthority;

using CoreProcess = std::shared_ptr<platform::ChildProcess>;

// Everything one start of the core needs, taken on the main thread. The start runs in the
// background and reads nothing else but the thread-safe control channel and the quit flag.
struct CoreLaunchRequest {
  std::string executable;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;  // NAME=value
  int port = 0;
  std::string desktopToken;
  nlohmann::json bootstrapMessage;
  std::shared_ptr<ControlChannel> controlChannel;
  std::shared_ptr<const std::atomic<bool>> quitting;
};

// What a start tells its owner. Every one runs on the main thread; the start waits for the two
// whose answer decides its next step.
struct CoreLaunchEvents {
  // Whether the started core becomes the current one: not once it has exited or the application quits.
  std::function<bool(const CoreProcess&)> install;
  // The core answered the readiness probe; whether it is still the current one, now counted ready.
  std::function<bool(const CoreProcess&)> answered;
  std::function<void(const CoreProcess&)> becameReady;
  // The core answered and exited before it was counted ready; its exit was taken for a failed start.
  std::function<void()> exitedAfterAnswer;
  std::function<void(const CoreProcess&)> terminated;
  std::function<void(const std::string& reason)> failed;
};

// Starts one core and follows it until it is ready or has failed. Runs on a background thread.
void launchCore(const CoreLaunchRequest& request, const CoreLaunchEvents& events);
// Asks the core's readiness address until a fitting answer comes, the core exits, the time is up
// or the application quits; whether a fitting answer came. Runs on a background thread.
bool waitForCoreReadiness(const CoreLaunchRequest& request, const CoreProcess& process);
// Ends every core started and not yet seen to exit, also one still starting, and starts no more.
void terminateLiveCores();

// The core as the main thread knows it: the current process and the one control lines go to,
// the cores that answered as ready, and whether the application is quitting.
class CoreSupervisor {
 public:
  explicit CoreSupervisor(DesktopRuntimeAuthority& authority);

  // A request to start a core with the given program, arguments and environment.
  CoreLaunchRequest request(const std::string& executable, std::vector<std::string> arguments,
                            std::vector<std::string> environment, int port) const;

  bool install(const CoreProcess& process);
  bool markReady(const CoreProcess& process);
  // Whether the process is the current core and still runs.
  bool isCurrent(const CoreProcess& process) const;
  // The core has exited and its tokens are revoked; whether it was the current, ready core, which
  // is then restarted.
  bool didTerminate(const CoreProcess& process);
  bool hasReadyCore() const { return !readyCorePIDs.empty(); }
  // The current core's process once it has answered as ready, else 0; for any thread. The
  // application's requests that carry the desktop token go to this process only.
  std::function<pid_t()> readyCoreProcess() const;
  // No core runs and the application is not quitting.
  bool mayStart() const { return !terminationInProgress() && !coreProcess; }
  // From now on no core is installed and no probe waits on.
  void beginTermination() { *quitting = true; }
  void terminateCurrentCore();
  bool terminationInProgress() const { return *quitting; }

  const std::shared_ptr<ControlChannel>& channel() const { return controlChannel; }
  const CoreProcess& controlInput() const { return coreControlInput; }

 private:
  DesktopRuntimeAuthority& runtimeAuthority;
  std::shared_ptr<ControlChannel> controlChannel;
  CoreProcess coreProcess;
  // The application's end of the current core's input; the process object owns the descriptor.
  CoreProcess coreControlInput;
  std::set<pid_t> readyCorePIDs;
  std::shared_ptr<std::atomic<pid_t>> readyCore = std::make_shared<std::atomic<pid_t>>(0);
  std::shared_ptr<std::atomic<bool>> quitting = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace zorvel
