// Task notifications of the real application through a stand-in notification service that this
// test puts on the session bus: posted only while another window is active, and a click that
// opens the task in the page.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/e2e/OverlayHarness.h"

namespace notifications_e2e {

using nlohmann::json;
using namespace e2e;
using namespace std::chrono_literals;

constexpr const char* introspection = R"xml(
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/>
    </method>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  </interface>
</node>)xml";

// Owns org.freedesktop.Notifications on its own connection and main context, in a thread.
class FakeNotificationServer {
 public:
  struct Posted {
    std::uint32_t id = 0;
    std::string summary;
    std::string body;
    std::vector<std::string> actions;
    std::string identifier;
  };

  FakeNotificationServer() {
    thread = std::thread([this] { serve(); });
    std::unique_lock lock(mutex);
    changed.wait_for(lock, 10s, [this] { return started; });
  }

  ~FakeNotificationServer() {
    if (loop)
      g_main_context_invoke(
          context,
          [](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
          },
          loop);
    if (thread.joinable()) thread.join();
  }

  bool owned() {
    std::lock_guard lock(mutex);
    return nameOwned;
  }
  std::vector<Posted> posted() {
    std::lock_guard lock(mutex);
    return notifications;
  }
  bool waitForPosted(size_t count, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return notifications.size() >= count; });
  }
  void click(std::uint32_t id) {
    g_dbus_connection_emit_signal(connection, nullptr, "/org/freedesktop/Notifications",
                                  "org.freedesktop.Notifications", "ActionInvoked",
                                  g_variant_new("(us)", id, "default"), nullptr);
    g_dbus_connection_flush_sync(connection, nullptr, nullptr);
  }

 private:
  void serve() {
    context = g_main_context_new();
    g_main_context_push_thread_default(context);
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (address) {
      connection =
          g_dbus_connection_new_for_address_sync(address,
                                                 GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                      G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                                 nullptr, nullptr, nullptr);
      g_free(address);
    }
    bool owns = false;
    if (connection) {
      GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(introspection, nullptr);
      static const GDBusInterfaceVTable vtable = {&FakeNotificationServer::methodCall, nullptr, nullptr, {}};
      g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications", node->interfaces[0], &vtable,
                                        this, nullptr, nullptr);
      g_dbus_node_info_unref(node);
      GVariant* reply = g_dbus_connection_call_sync(
          connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
          g_variant_new("(su)", "org.freedesktop.Notifications", 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
          5000, nullptr, nullptr);
      if (reply) {
        std::uint32_t result = 0;
        g_variant_get(reply, "(u)", &result);
        owns = result == 1;
        g_variant_unref(reply);
      }
    }
    loop = g_main_loop_new(context, FALSE);
    {
      std::lock_guard lock(mutex);
      nameOwned = owns;
      started = true;
    }
    changed.notify_all();
    g_main_loop_run(loop);
    if (connection) g_object_unref(connection);
    g_main_loop_unref(loop);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  static void methodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakeNotificationServer*>(data);
    std::string name(method);
    if (name == "Notify") {
      const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
      std::uint32_t replaces = 0;
      GVariantIter* actions = nullptr;
      GVariant* hints = nullptr;
      gint32 timeout = 0;
      g_variant_get(parameters, "(&su&s&s&sas@a{sv}i)", &app, &replaces, &icon, &summary, &body, &actions, &hints,
                    &timeout);
      Posted posted;
      posted.summary = summary;
      posted.body = body;
      const char* action = nullptr;
      while (g_variant_iter_next(actions, "&s", &action)) posted.actions.push_back(action);
      g_variant_iter_free(actions);
      const char* identifier = nullptr;
      if (g_variant_lookup(hints, "x-zorvel-identifier", "&s", &identifier)) posted.identifier = identifier;
      g_variant_unref(hints);
      std::lock_guard lock(self->mutex);
      posted.id = ++self->lastID;
      self->notifications.push_back(posted);
      self->changed.notify_all();
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", posted.id));
    } else if (name == "GetServerInformation") {
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "fake", "zorvel-tests", "1", "1.2"));
    } else if (name == "GetCapabilities") {
      const char* capabilities[] = {"actions", "body", "sound", nullptr};
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
    } else {
      g_dbus_method_invocation_return_value(invocation, nullptr);
    }
  }

  std::thread thread;
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool nameOwned = false;
  std::uint32_t lastID = 0;
  std::vector<Posted> notifications;
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  GDBusConnection* connection = nullptr;
};

const std::string task = "3F2504E0-4F89-11D3-9A0C-0305E82C3301";

json notification(const std::string& taskID, const std::string& title) {
  return {{"kind", "native-notification"}, {"task_id", taskID}, {"title", title}, {"body", "Needs your answer"}};
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

// Posts the notification until the application, which says for each whether it skipped it as
// active or scheduled it, has scheduled it: another window took the keyboard, and when the
// application learns of that is its own affair.
bool postOnceInactive(DesktopRun& desktop, const json& message) {
  const std::string skipped = "Skipping native notification while Zorvel is active";
  const std::string scheduled = "Scheduling native notification for task ";
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (std::chrono::steady_clock::now() < deadline) {
    const auto answers = [&] { return occurrences(desktop.log(), skipped) + occurrences(desktop.log(), scheduled); };
    const size_t before = answers();
    const size_t scheduledBefore = occurrences(desktop.log(), scheduled);
    postFromMainPage(desktop, message);
    if (!desktop.waitUntil([&] { return answers() > before; }, 10s)) return false;
    if (occurrences(desktop.log(), scheduled) > scheduledBefore) return true;
  }
  return false;
}

TEST(UserNotificationsWindow, PostedOnlyWhileInactiveAndAClickOpensTheTask) {
  FakeNotificationServer server;
  ASSERT_TRUE(server.owned()) << "could not own the notification service name on the session bus";
  DesktopRun desktop(std::map<std::string, std::string>{{"ZORVEL_DESKTOP_DISABLE_NOTIFICATIONS", "0"}});
  desktop.start();
  ASSERT_TRUE(waitForMainPage(desktop, 40s)) << desktop.log();
  auto appWindows = visibleWindows(desktop.app->processIdentifier());
  ASSERT_FALSE(appWindows.empty());
  focusWindow(appWindows.front());

  // Active: nothing is posted.
  postFromMainPage(desktop, notification(task, "While active"));
  EXPECT_TRUE(desktop.waitUntil(
      [&] { return desktop.log().find("Skipping native notification while Zorvel is active") != std::string::npos; },
      10s))
      << desktop.log();
  EXPECT_TRUE(server.posted().empty());

  // Another window takes the keyboard: the application is no longer active.
  platform::ChildProcess::Options options;
  options.executable = "/usr/bin/display";
  options.arguments = {"-title", "elsewhere", "-size", "200x120", "xc:gray"};
  options.input = options.output = options.error = platform::ChildProcess::Stream::null;
  auto other = platform::ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(other);
  std::vector<std::string> otherWindows;
  ASSERT_TRUE(waitUntil([&] { return !(otherWindows = windowList("--name '^elsewhere$'")).empty(); }, 15s));
  focusWindow(otherWindows.front());

  ASSERT_TRUE(postOnceInactive(desktop, notification(task, "First"))) << desktop.log();
  postFromMainPage(desktop, notification(task, "Second"));
  postFromMainPage(desktop, notification("task-1", "Not a task"));
  // Messages are taken in order: once the one after it is posted, one for a task that is not one
  // would have been too.
  postFromMainPage(desktop, notification(task, "Third"));
  ASSERT_TRUE(server.waitForPosted(3, 15s)) << desktop.log();
  auto posted = server.posted();
  ASSERT_EQ(posted.size(), 3u);
  EXPECT_EQ(posted[0].summary, "First");
  EXPECT_EQ(posted[0].body, "Needs your answer");
  EXPECT_EQ(posted[1].summary, "Second");
  EXPECT_EQ(posted[2].summary, "Third");
  EXPECT_NE(posted[0].identifier, posted[1].identifier);
  EXPECT_EQ(posted[0].identifier.rfind("zorvel-task-" + task + "-", 0), 0u);
  EXPECT_EQ(posted[0].actions, (std::vector<std::string>{"default", "Open"}));
  EXPECT_TRUE(desktop.waitUntil(
      [&] { return desktop.log().find("Native notification queued for task " + task) != std::string::npos; }, 5s));

  server.click(posted[0].id);
  EXPECT_TRUE(waitForPageEvent(desktop, "main", "zorvel:open-link", [](const json& d) {
    return d == json{{"resource", "tasks"}, {"identifier", "3f2504e0-4f89-11d3-9a0c-0305e82c3301"}};
  })) << "the click did not open the task";
  other->terminateAndReap(5s);
}

TEST(UserNotificationsWindow, WithoutAServiceTheFailureIsLogged) {
  DesktopRun desktop;
  desktop.start();
  ASSERT_TRUE(waitForMainPage(desktop, 40s)) << desktop.log();
  // Nobody owns the service name on this bus unless a test put it there; no window is active
  // after the application's own is hidden behind nothing, so take the keyboard away explicitly.
  platform::ChildProcess::Options options;
  options.executable = "/usr/bin/display";
  options.arguments = {"-title", "elsewhere", "-size", "200x120", "xc:gray"};
  options.input = options.output = options.error = platform::ChildProcess::Stream::null;
  auto other = platform::ChildProcess::launch(options, nullptr);
  ASSERT_TRUE(other);
  std::vector<std::string> otherWindows;
  ASSERT_TRUE(waitUntil([&] { return !(otherWindows = windowList("--name '^elsewhere$'")).empty(); }, 15s));
  focusWindow(otherWindows.front());
  ASSERT_TRUE(postOnceInactive(desktop, notification(task, "Nobody listens"))) << desktop.log();
  EXPECT_TRUE(
      desktop.waitUntil([&] { return desktop.log().find("Native notification failed: ") != std::string::npos; }, 20s))
      << desktop.log();
  other->terminateAndReap(5s);
}

}  // namespace notifications_e2e
