#include "app/ProfileLoginController.h"

#include "app/TerminalLaunchClient.h"
#include "app/URL.h"
#include "platform/Dispatch.h"
#include "platform/URLSession.h"

namespace zorvel {

ProfileLoginController::ProfileLoginController(std::string profileID, std::string runner, ChildEnvironment environment,
                                               std::function<void()> onClose)
    : profileID(std::move(profileID)),
      onClose(std::move(onClose)),
      runner(std::move(runner)),
      environment(std::move(environment)) {}

ProfileLoginController::~ProfileLoginController() {
  if (request) request->cancel();
  if (terminal) terminal->processDelegate = nullptr;
}

std::shared_ptr<ProfileLoginController> ProfileLoginController::make(const std::string& baseURL, const CoreAccess& core,
                                                                     const std::string& profileID,
                                                                     const std::string& runner,
                                                                     const ChildEnvironment& environment,
                                                                     std::function<void()> onClose) {
  std::shared_ptr<ProfileLoginController> controller(
      new ProfileLoginController(profileID, runner, environment, std::move(onClose)));
  auto& window = controller->window;
  window.set_default_size(800, 500);
  window.set_resizable(true);
  window.set_title("Connect agent profile");
  window.set_hide_on_close(true);
  std::weak_ptr<ProfileLoginController> weak = controller;
  window.signal_close_request().connect(
      [weak] {
        if (auto self = weak.lock()) self->windowWillClose();
        return false;
      },
      false);
  controller->terminal = TerminalFactory::make(*controller);
  window.set_child(*controller->terminal);
  controller->sendRequest(baseURL, core);
  return controller;
}

void ProfileLoginController::sendRequest(const std::string& baseURL, const CoreAccess& core) {
  std::string url = baseURL;
  if (url.empty() || url.back() != '/') url += '/';
  url += "agent-profiles/" + percentEncodePathSegment(profileID) + "/login-plan";
  platform::URLRequest http;
  http.url = url;
  http.method = "POST";
  http.timeout = std::chrono::seconds(10);
  core.authorize(http);
  auto pending = std::make_shared<PendingLaunch>();
  request = pending;
  std::weak_ptr<ProfileLoginController> weak = weak_from_this();
  std::string expected = profileID;
  platform::URLSession::shared().dataTask(std::move(http), [weak, pending, expected](platform::URLResponse response) {
    auto plan = acceptedPlan(response, expected);
    platform::DispatchQueue::main().async([weak, pending, plan] {
      auto self = weak.lock();
      if (!self || pending->isCancelled() || !self->onClose) return;
      self->planArrived(plan);
    });
  });
}

std::optional<TerminalLaunchPlan> ProfileLoginController::acceptedPlan(const platform::URLResponse& response,
                                                                       const std::string& profileID) {
  if (response.error || response.status != 200 || response.body.empty()) return std::nullopt;
  auto plan = TerminalLaunchPlan::decodeText(response.body);
  if (!plan || plan->arguments != std::vector<std::string>{"profile-login", profileID}) return std::nullopt;
  return plan;
}

void ProfileLoginController::planArrived(std::optional<TerminalLaunchPlan> plan) {
  request.reset();
  if (!plan) {
    terminal->feed(std::string("Could not prepare login. Close this window and retry from the project.\r\n"));
    return;
  }
  terminal->startProcess(runner, plan->arguments, TerminalEnvironment::list(environment), std::nullopt, plan->cwd);
  terminal->grab_focus();
}

void ProfileLoginController::showWindow() { window.present(); }

void ProfileLoginController::close() {
  if (onClose) windowWillClose();
  window.set_visible(false);
}

void ProfileLoginController::windowWillClose() {
  if (request) request->cancel();
  request.reset();
  if (terminal) terminal->terminate();
  if (auto action = std::move(onClose)) {
    onClose = nullptr;
    action();
  }
}

void ProfileLoginController::processTerminated(vantrelle::TerminalView& source, std::optional<int32_t> exitCode) {
  if (exitCode == 0) {
    // Closing may release this controller; do it after the view's callback has returned.
    std::weak_ptr<ProfileLoginController> weak = weak_from_this();
    platform::DispatchQueue::main().async([weak] {
      if (auto self = weak.lock()) self->close();
    });
    return;
  }
  source.feed(std::string("\r\nLogin did not complete. Close this window and retry; your profile is unchanged.\r\n"));
}

}  // namespace zorvel
