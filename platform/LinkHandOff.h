#pragma once

#include <functional>
#include <string>

#include "platform/GLibPtr.h"

typedef struct _GDBusConnection GDBusConnection;

namespace platform {

// Hands a link opened by a second launch to the instance that is already running, as a signal
// on the D-Bus session bus. Without a session bus it quietly does nothing.
class LinkHandOff {
 public:
  static constexpr const char* objectPath = "/local/zorvel/LinkHandOff";
  static constexpr const char* interfaceName = "local.zorvel.LinkHandOff";
  static constexpr const char* signalName = "OpenURL";
  // Longer texts are no links of ours; they are neither sent nor taken.
  static constexpr std::size_t maximumLength = 8192;

  LinkHandOff();
  ~LinkHandOff();
  LinkHandOff(const LinkHandOff&) = delete;
  LinkHandOff& operator=(const LinkHandOff&) = delete;

  // The handler runs on the main context with each link handed over by another process.
  bool listen(std::function<void(const std::string&)> handler);
  // Sends the link and waits until it has left this process, so the caller may exit.
  bool post(const std::string& link);

 private:
  bool connect();
  GObjectPtr<GDBusConnection> connection;
  unsigned subscription = 0;
  std::function<void(const std::string&)>* receiver = nullptr;
};

}  // namespace platform
