#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/GLibPtr.h"

typedef struct _GDBusConnection GDBusConnection;

namespace platform {

// Notifications between processes of the same user, carried as a signal on the D-Bus session bus
// with the notification's name as its argument. Without a session bus it quietly does nothing.
class DistributedNotificationCenter {
 public:
  static constexpr const char* objectPath = "/local/zorvel/DistributedNotificationCenter";
  static constexpr const char* interfaceName = "local.zorvel.DistributedNotificationCenter";
  static constexpr const char* signalName = "Notification";

  DistributedNotificationCenter();
  ~DistributedNotificationCenter();
  DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
  DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

  // The handler runs on the main context (the thread that added the observer must be the main
  // thread). Returns false when there is no bus to listen on.
  bool addObserver(const std::string& name, std::function<void()> handler);
  // Sends the notification and waits until it has left this process, so the caller may exit.
  bool post(const std::string& name);

 private:
  struct Observer;
  static void deliver(GDBusConnection*, const char*, const char*, const char*, const char*, void* parameters,
                      void* observer);
  bool connect();

  GObjectPtr<GDBusConnection> connection;
  std::vector<std::pair<unsigned, Observer*>> observers;
};

}  // namespace platform
