#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>

#include "app/ControlMessages.h"
#include "platform/ProcessWatcher.h"

namespace platform {
class ChildProcess;
}

namespace zorvel {

class DesktopRuntimeAuthority;

// The application's side of the control channel to the core: the serialised writer, one reader
// per core, the sync handshake and the watchers of bound processes.
class ControlChannel : public std::enable_shared_from_this<ControlChannel> {
 public:
  using Handle = std::shared_ptr<platform::ChildProcess>;

  // How long one line may wait for a core that is slow to read its input.
  static constexpr std::chrono::milliseconds stalledWriteLimit{5000};

  explicit ControlChannel(DesktopRuntimeAuthority& authority);

  // Writes one line to the core's input (which must be in non-blocking mode) within
  // `stalledWriteLimit`, then gives up.
  void writeControl(const nlohmann::json& message, const Handle& handle);
  // Reads the core's output until it closes; replies to this core go to its own input.
  void startControlReader(Handle process);
  void handleControlMessage(const ControlMessage& message, const Handle& process);
  bool syncAuthorization(double timeout, const Handle& coreControlInput);
  void monitorAuthorizedProcess(pid_t pid, const std::string& tokenID);

  // Told, on the watcher's thread, that a bound process is gone; the owner revokes and syncs.
  std::function<void(const std::string& tokenID)> onAuthorizedProcessExit;

  // How many "synced" replies are held for waiters (only while someone waits for them).
  size_t pendingSyncCount();

 private:
  void acceptSynced(const std::string& requestID);

  DesktopRuntimeAuthority& runtimeAuthority;
  std::mutex controlWriteLock;
  // How the last write to the current core ended; guarded by the write lock.
  struct WriteState {
    std::weak_ptr<platform::ChildProcess> core;
    bool stalled = false;  // a line waited past the limit and the core has taken none whole since
    bool midLine = false;  // the core's input ends inside a line
  };
  WriteState writeState;
  std::mutex controlSyncLock;
  std::condition_variable controlSyncCondition;
  std::set<std::string> completedControlSyncs;
  std::set<std::string> awaitedControlSyncs;
  // One thread watches every bound process, however many the core binds.
  platform::ProcessWatcher processWatcher;
};

}  // namespace zorvel
