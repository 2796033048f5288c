#include "platform/LinkHandOff.h"

#include <gio/gio.h>

namespace platform {

LinkHandOff::LinkHandOff() = default;

LinkHandOff::~LinkHandOff() {
  if (connection && subscription) g_dbus_connection_signal_unsubscribe(connection.get(), subscription);
  delete receiver;
}

bool LinkHandOff::connect() {
  if (connection) return true;
  GErrorPtr error;
  connection.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, out(error)));
  return connection != nullptr;
}

bool LinkHandOff::listen(std::function<void(const std::string&)> handler) {
  if (subscription || !connect()) return false;
  receiver = new std::function<void(const std::string&)>(std::move(handler));
  subscription = g_dbus_connection_signal_subscribe(
      connection.get(), nullptr, interfaceName, signalName, objectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) return;
        const char* link = nullptr;
        g_variant_get(parameters, "(&s)", &link);
        std::string text(link ? link : "");
        if (text.empty() || text.size() > maximumLength) return;
        auto* target = static_cast<std::function<void(const std::string&)>*>(data);
        if (*target) (*target)(text);
      },
      receiver, nullptr);
  return subscription != 0;
}

bool LinkHandOff::post(const std::string& link) {
  if (link.empty() || link.size() > maximumLength || !g_utf8_validate(link.data(), -1, nullptr)) return false;
  if (!connect()) return false;
  GErrorPtr error;
  bool sent = g_dbus_connection_emit_signal(connection.get(), nullptr, objectPath, interfaceName, signalName,
                                            g_variant_new("(s)", link.c_str()), out(error));
  if (error) return false;
  g_dbus_connection_flush_sync(connection.get(), nullptr, nullptr);
  return sent;
}

}  // namespace platform
