#include "app/ControlChannel.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/ChildProcess.h"
#include "platform/Dispatch.h"

namespace zorvel {

void ZorvelAppDelegate::writeControl(const nlohmann::json& message, const ControlChannel::Handle& handle) {
  coreSupervisor.channel()->writeControl(message, handle);
}

void ZorvelAppDelegate::watchAuthorizedProcessExits() {
  auto& channel = *coreSupervisor.channel();
  if (channel.onAuthorizedProcessExit) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  channel.onAuthorizedProcessExit = [weak](const std::string& tokenID) {
    platform::DispatchQueue::main().async([weak, tokenID] {
      auto self = weak.lock();
      if (!self) return;
      self->runtimeAuthority.revokeToken(tokenID);
      self->syncAuthorization(2.0);
    });
  };
}

void ZorvelAppDelegate::startControlReader(const std::shared_ptr<platform::ChildProcess>& process) {
  watchAuthorizedProcessExits();
  coreSupervisor.channel()->startControlReader(process);
}

bool ZorvelAppDelegate::syncAuthorization(double timeout) {
  return coreSupervisor.channel()->syncAuthorization(timeout, coreSupervisor.controlInput());
}

void ZorvelAppDelegate::monitorAuthorizedProcess(pid_t pid, const std::string& tokenID) {
  coreSupervisor.channel()->monitorAuthorizedProcess(pid, tokenID);
}

}  // namespace zorvel
