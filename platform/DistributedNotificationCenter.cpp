#include "platform/DistributedNotificationCenter.h"

#include <gio/gio.h>

#include <vector>

namespace platform {

struct DistributedNotificationCenter::Observer {
  std::function<void()> handler;
};

DistributedNotificationCenter::DistributedNotificationCenter() = default;

DistributedNotificationCenter::~DistributedNotificationCenter() {
  for (auto& [id, observer] : observers) {
    if (connection) g_dbus_connection_signal_unsubscribe(connection.get(), id);
    delete observer;
  }
}

bool DistributedNotificationCenter::connect() {
  if (connection) return true;
  GErrorPtr error;
  connection.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, out(error)));
  return connection != nullptr;
}

void DistributedNotificationCenter::deliver(GDBusConnection*, const char*, const char*, const char*, const char*, void*,
                                            void* observer) {
  auto* target = static_cast<Observer*>(observer);
  if (target->handler) target->handler();
}

bool DistributedNotificationCenter::addObserver(const std::string& name, std::function<void()> handler) {
  if (!connect()) return false;
  auto* observer = new Observer{std::move(handler)};
  unsigned id = g_dbus_connection_signal_subscribe(
      connection.get(), nullptr, interfaceName, signalName, objectPath, name.c_str(), G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection* c, const char* sender, const char* path, const char* iface, const char* signal,
         GVariant* parameters, gpointer data) { deliver(c, sender, path, iface, signal, parameters, data); },
      observer, nullptr);
  observers.emplace_back(id, observer);
  return true;
}

bool DistributedNotificationCenter::post(const std::string& name) {
  if (!connect()) return false;
  GErrorPtr error;
  bool sent = g_dbus_connection_emit_signal(connection.get(), nullptr, objectPath, interfaceName, signalName,
                                            g_variant_new("(s)", name.c_str()), out(error));
  if (error) return false;
  g_dbus_connection_flush_sync(connection.get(), nullptr, nullptr);
  return sent;
}

}  // namespace platform
