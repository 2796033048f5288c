#include "app/ApplicationIcon.h"
#include "app/ApplicationLinks.h"
#include "app/UserNotifications.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/UserNotificationCenter.h"

namespace zorvel {

namespace N = UserNotifications;

namespace {

// Named after the desktop entry, which carries the application's id as its name.
std::shared_ptr<platform::UserNotificationCenter> makeCenter() {
  return std::make_shared<platform::UserNotificationCenter>(applicationIconName(platform::Bundle::main()));
}

void becomeDelegate(platform::UserNotificationCenter& center, const std::weak_ptr<ZorvelAppDelegate>& weak) {
  center.onResponse = [weak](const platform::UserNotificationCenter::UserInfo& info, const std::string& token) {
    nlohmann::json userInfo = nlohmann::json::object();
    for (const auto& [key, value] : info) userInfo[key] = value;
    auto self = weak.lock();
    if (!self) return;
    // The desktop raises the window that the click brings forward only with the click's token.
    if (!token.empty() && self->window) self->window->set_startup_id(token);
    self->userNotificationDidReceiveResponse(userInfo);
  };
}

}  // namespace

bool ZorvelAppDelegate::applicationIsActive() const {
  if (!application) return false;
  for (auto* each : application->get_windows()) {
    if (each && each->is_active()) return true;
  }
  return false;
}

void ZorvelAppDelegate::requestNotificationAuthorization() {
  if (!userNotificationCenter) userNotificationCenter = makeCenter();
  becomeDelegate(*userNotificationCenter, weak_from_this());
  userNotificationCenter->requestAuthorization([](const std::optional<std::string>& error) {
    if (error) {
      notificationLog().error("Notification authorization failed: %{public}s", error->c_str());
    } else {
      notificationLog().notice("Notification authorization granted: %{bool}d", 1);
    }
  });
}

void ZorvelAppDelegate::scheduleNativeNotification(const PageMessages::NativeNotification& request) {
  const auto& log = notificationLog();
  if (applicationIsActive()) {
    log.notice(N::skippingFormat);
    return;
  }
  log.notice(N::schedulingFormat, request.taskID.c_str(), request.title.c_str());
  // Without authorization (notifications switched off at launch) the centre refuses the request,
  // and the refusal is logged.
  if (!userNotificationCenter) userNotificationCenter = makeCenter();
  platform::UserNotificationCenter::Request posted{
      N::identifier(request.taskID), request.title, request.body, {{"task_id", request.taskID}}};
  userNotificationCenter->add(posted, [taskID = request.taskID](const std::optional<std::string>& error) {
    if (error) {
      notificationLog().error(N::failedFormat, error->c_str());
    } else {
      notificationLog().notice(N::queuedFormat, taskID.c_str());
    }
  });
}

void ZorvelAppDelegate::userNotificationDidReceiveResponse(const nlohmann::json& userInfo) {
  auto taskID = N::taskID(userInfo);
  if (!taskID) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  platform::DispatchQueue::main().async([weak, link = ApplicationLinks::taskLink(*taskID)] {
    if (auto self = weak.lock()) self->receiveOpenLink(link);
  });
}

}  // namespace zorvel
