#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/TerminalEnvironment.h"
#include "app/TerminalFactory.h"
#include "app/TerminalLaunchClient.h"

namespace platform {
struct URLResponse;
}

namespace zorvel {

class PendingLaunch;

// The "Connect agent profile" window: runs the core's login plan for one agent profile in a
// terminal of its own, closes itself when the login succeeds and tells its creator when it closes.
class ProfileLoginController : public vantrelle::LocalProcessTerminalViewDelegate,
                               public std::enable_shared_from_this<ProfileLoginController> {
 public:
  static std::shared_ptr<ProfileLoginController> make(const std::string& baseURL, const CoreAccess& core,
                                                      const std::string& profileID, const std::string& runner,
                                                      const ChildEnvironment& environment,
                                                      std::function<void()> onClose);
  ~ProfileLoginController() override;

  // Whether a login-plan reply is the plan this window may run: status 200 and exactly
  // "profile-login" with this profile.
  static std::optional<TerminalLaunchPlan> acceptedPlan(const platform::URLResponse& response,
                                                        const std::string& profileID);

  void showWindow();
  void close();
  void windowWillClose();
  void planArrived(std::optional<TerminalLaunchPlan> plan);

  void sizeChanged(vantrelle::LocalProcessTerminalView&, int, int) override {}
  void setTerminalTitle(vantrelle::LocalProcessTerminalView&, const std::string&) override {}
  void hostCurrentDirectoryUpdate(vantrelle::TerminalView&, const std::optional<std::string>&) override {}
  void processTerminated(vantrelle::TerminalView& source, std::optional<int32_t> exitCode) override;

  const std::string profileID;
  std::shared_ptr<TaskTerminalView> terminal;
  std::shared_ptr<PendingLaunch> request;
  std::function<void()> onClose;
  Gtk::Window window;

 private:
  ProfileLoginController(std::string profileID, std::string runner, ChildEnvironment environment,
                         std::function<void()> onClose);
  void sendRequest(const std::string& baseURL, const CoreAccess& core);

  std::string runner;
  ChildEnvironment environment;
};

}  // namespace zorvel
