#include "app/ZorvelAppDelegate.h"
#include "platform/ChildProcess.h"
#include "platform/Dispatch.h"

namespace zorvel {

void ZorvelAppDelegate::writeControl(const nlohmann::json& message, const ControlChannel::Handle& handle) {
  controlChannel->writeControl(message, handle);
}

void ZorvelAppDelegate::startControlReader(const std::shared_ptr<platform::ChildProcess>& process) {
  if (!controlChannel->onAuthorizedProcessExit) {
    std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
    controlChannel->onAuthorizedProcessExit = [weak](const std::string& tokenID) {
      platform::DispatchQueue::main().async([weak, tokenID] {
        auto self = weak.lock();
        if (!self) return;
        self->runtimeAuthority.revokeToken(tokenID);
        self->syncAuthorization(2.0);
      });
    };
  }
  controlChannel->startControlReader(process);
}

bool ZorvelAppDelegate::syncAuthorization(double timeout) {
  return controlChannel->syncAuthorization(timeout, coreControlInput);
}

void ZorvelAppDelegate::monitorAuthorizedProcess(pid_t pid, const std::string& tokenID) {
  controlChannel->monitorAuthorizedProcess(pid, tokenID);
}

}  // namespace zorvel
