#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace platform {

// The desktop's notification service (org.freedesktop.Notifications on the session bus): posts
// notifications with a click action and reports clicks with the user info the notification was
// posted with. Answers arrive on the main context. Title and body are plain text: a service that
// reads markup in the body gets the text escaped.
class UserNotificationCenter {
 public:
  using UserInfo = std::map<std::string, std::string>;
  struct Request {
    std::string identifier;
    std::string title;
    std::string body;
    UserInfo userInfo;
  };
  // Nothing on success, else why the service refused or could not be reached.
  using Completion = std::function<void(const std::optional<std::string>& error)>;

  static constexpr const char* serviceName = "org.freedesktop.Notifications";
  static constexpr const char* objectPath = "/org/freedesktop/Notifications";
  static constexpr const char* applicationName = "Zorvel";

  // The desktop entry (its file name without ".desktop") names the application that posts, so the
  // desktop shows its name and icon and groups its notifications.
  explicit UserNotificationCenter(std::string desktopEntry = {});
  ~UserNotificationCenter();
  UserNotificationCenter(const UserNotificationCenter&) = delete;
  UserNotificationCenter& operator=(const UserNotificationCenter&) = delete;

  // The service has no permission to grant; asking means finding out whether one is there. Until
  // asked, the centre posts nothing and reports each request as refused.
  void requestAuthorization(Completion completion);
  void add(const Request& request, Completion completion);
  // A click on a notification posted here, with its user info and the token the desktop gave the
  // click (empty when the service gives none), without which a window shown for it may stay behind.
  std::function<void(const UserInfo& userInfo, const std::string& activationToken)> onResponse;

 private:
  struct State;
  static void notify(const std::shared_ptr<State>& state, const Request& request, Completion completion);
  std::shared_ptr<State> state;
};

}  // namespace platform
