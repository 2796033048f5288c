#include <gio/gio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/DistributedNotificationCenter.h"
#include "platform/GLibPtr.h"
#include "platform/LinkHandOff.h"
#include "platform/UserNotificationCenter.h"
#include "tests/MainLoop.h"
#include "tests/TemporaryFolder.h"

using namespace platform;

namespace {

// Each test gets a session bus of its own, so tests running side by side never see each other's
// signals or services. Starting one clears the variables that lead to the desktop's bus; they
// are put back for the tests that follow in the same process.
class SessionBus : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : cleared) {
      const char* value = g_getenv(name);
      saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    // GLib's test bus listens in /tmp whatever TMPDIR says, where one that does not end cleanly
    // leaves its socket: its daemon is started through a script that has it listen in the test's
    // own folder instead.
    const auto daemon = folder.path() / "dbus-daemon";
    platform::GCharPtr address(g_dbus_address_escape_value(folder.path().c_str()));
    std::ofstream(daemon) << "#!/bin/sh\nexec dbus-daemon \"$@\" '--address=unix:dir=" << address.get() << "'\n";
    std::filesystem::permissions(daemon, std::filesystem::perms::owner_all);
    g_setenv("G_TEST_DBUS_DAEMON", daemon.c_str(), TRUE);
    g_test_dbus_up(bus.get());
    ASSERT_EQ(
        std::string(g_test_dbus_get_bus_address(bus.get())).rfind(std::string("unix:path=") + address.get() + "/", 0),
        0u)
        << g_test_dbus_get_bus_address(bus.get());
  }
  void TearDown() override {
    g_test_dbus_down(bus.get());
    for (const auto& [name, value] : saved) {
      if (value)
        g_setenv(name, value->c_str(), TRUE);
      else
        g_unsetenv(name);
    }
  }

  testing::TemporaryFolder folder{"zorvel-session-bus"};
  GObjectPtr<GTestDBus> bus{g_test_dbus_new(G_TEST_DBUS_NONE)};

 private:
  static constexpr const char* cleared[] = {
      "DISPLAY",         "DBUS_SESSION_BUS_ADDRESS", "DBUS_STARTER_ADDRESS", "DBUS_STARTER_BUS_TYPE",
      "XDG_RUNTIME_DIR", "G_TEST_DBUS_DAEMON"};
  std::vector<std::pair<const char*, std::optional<std::string>>> saved;
};

constexpr const char* notificationsInterface = R"xml(
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
    <method name="GetCapabilities">
      <arg type="as" direction="out"/>
    </method>
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
  </interface>
</node>)xml";

// A desktop notification service on its own connection: it numbers the notifications it is
// given, keeps their titles, bodies and desktop entries, and clicks or closes them on request.
class NotificationService {
 public:
  explicit NotificationService(GTestDBus* bus) {
    connection.reset(g_dbus_connection_new_for_address_sync(
        g_test_dbus_get_bus_address(bus),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr));
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(notificationsInterface, nullptr);
    static const GDBusInterfaceVTable table = {&NotificationService::call, nullptr, nullptr, {}};
    g_dbus_connection_register_object(connection.get(), UserNotificationCenter::objectPath, node->interfaces[0], &table,
                                      this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    GVariantPtr reply(g_dbus_connection_call_sync(connection.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "RequestName",
                                                  g_variant_new("(su)", UserNotificationCenter::serviceName, 0u),
                                                  nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  }

  void emit(const char* signal, GVariant* parameters) {
    g_dbus_connection_emit_signal(connection.get(), nullptr, UserNotificationCenter::objectPath,
                                  UserNotificationCenter::serviceName, signal, parameters, nullptr);
  }
  void click(std::uint32_t id, const char* action = "default") {
    emit("ActionInvoked", g_variant_new("(us)", id, action));
  }
  void token(std::uint32_t id, const char* token) { emit("ActivationToken", g_variant_new("(us)", id, token)); }
  void close(std::uint32_t id) { emit("NotificationClosed", g_variant_new("(uu)", id, 2u)); }

  std::vector<std::string> titles, bodies, desktopEntries;
  std::vector<const char*> capabilities{"actions", "body", "sound"};

 private:
  static void call(GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant* parameters,
                   GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<NotificationService*>(data);
    if (std::string(method) == "GetServerInformation") {
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "test", "test", "1", "1.2"));
      return;
    }
    if (std::string(method) == "GetCapabilities") {
      g_dbus_method_invocation_return_value(
          invocation, g_variant_new("(^as)", const_cast<char**>(self->capabilitiesList().data())));
      return;
    }
    const char *title = nullptr, *body = nullptr, *entry = "";
    g_variant_get_child(parameters, 3, "&s", &title);
    g_variant_get_child(parameters, 4, "&s", &body);
    GVariantPtr hints(g_variant_get_child_value(parameters, 6));
    g_variant_lookup(hints.get(), "desktop-entry", "&s", &entry);
    self->titles.emplace_back(title);
    self->bodies.emplace_back(body);
    self->desktopEntries.emplace_back(entry);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", static_cast<guint>(self->titles.size())));
  }

  std::vector<const char*> capabilitiesList() const {
    auto list = capabilities;
    list.push_back(nullptr);
    return list;
  }

  GObjectPtr<GDBusConnection> connection;
};

struct Outcome {
  bool done = false;
  std::optional<std::string> error;
  UserNotificationCenter::Completion completion() {
    return [this](const std::optional<std::string>& failure) {
      done = true;
      error = failure;
    };
  }
};

}  // namespace

TEST_F(SessionBus, NotificationsReportAMissingServiceAndBringBackTheClickedOnesUserInfo) {
  UserNotificationCenter center;

  Outcome nobody;
  center.requestAuthorization(nobody.completion());
  ASSERT_TRUE(runMainUntil([&] { return nobody.done; }));
  EXPECT_TRUE(nobody.error);

  NotificationService service(bus.get());
  // A centre that never asked posts nothing, and says so.
  UserNotificationCenter unasked;
  Outcome refused;
  unasked.add({"z", "Unasked", "body", {}}, refused.completion());
  ASSERT_TRUE(runMainUntil([&] { return refused.done; }));
  EXPECT_TRUE(refused.error);
  Outcome asked;
  center.requestAuthorization(asked.completion());
  ASSERT_TRUE(runMainUntil([&] { return asked.done; }));
  EXPECT_FALSE(asked.error) << *asked.error;

  std::vector<UserNotificationCenter::UserInfo> clicked;
  std::vector<std::string> tokens;
  center.onResponse = [&](const UserNotificationCenter::UserInfo& info, const std::string& token) {
    clicked.push_back(info);
    tokens.push_back(token);
  };
  // Text that is not UTF-8 is mended on the way, not refused.
  Outcome first, second;
  center.add({"a", "Build \xff done", "body", {{"task", "1"}}}, first.completion());
  center.add({"b", "Second", "body", {{"task", "2"}}}, second.completion());
  ASSERT_TRUE(runMainUntil([&] { return first.done && second.done; }));
  EXPECT_FALSE(first.error);
  EXPECT_EQ(service.titles, (std::vector<std::string>{"Build \xef\xbf\xbd done", "Second"}));

  // Closed notifications, unknown ids and other actions bring nothing; signals keep their order,
  // so the last clicks show the others have been seen.
  service.close(1);
  service.click(1);
  service.click(7);
  service.click(2, "dismiss");
  // A click brings the token sent just before it for its own notification, and no other.
  service.token(1, "stale");
  service.click(2);
  service.token(2, "token-2");
  service.click(2);
  ASSERT_TRUE(runMainUntil([&] { return clicked.size() == 2; }));
  EXPECT_EQ(clicked, (std::vector<UserNotificationCenter::UserInfo>(2, {{"task", "2"}})));
  EXPECT_EQ(tokens, (std::vector<std::string>{"", "token-2"}));
}

// A service that reads markup in the body would drop text after a '<' or '&', or make a link of
// it; it gets the text escaped, and one that shows the body as it is gets it unchanged. Either
// way the notification names the application's desktop entry.
TEST_F(SessionBus, NotificationBodiesStayPlainTextAndNameTheDesktopEntry) {
  NotificationService service(bus.get());
  const std::string body = "a < b && <a href='https://x.example'>c</a>";
  service.capabilities.push_back("body-markup");
  UserNotificationCenter markup("local.zorvel.desktop");
  markup.requestAuthorization(nullptr);
  Outcome first, again;
  markup.add({"a", "First", body, {}}, first.completion());
  ASSERT_TRUE(runMainUntil([&] { return first.done; }));
  service.capabilities.pop_back();
  markup.add({"b", "Again", body, {}}, again.completion());
  ASSERT_TRUE(runMainUntil([&] { return again.done; }));
  UserNotificationCenter plain("local.zorvel.desktop");
  plain.requestAuthorization(nullptr);
  Outcome third;
  plain.add({"c", "Plain", body, {}}, third.completion());
  ASSERT_TRUE(runMainUntil([&] { return third.done; }));

  const std::string escaped = "a &lt; b &amp;&amp; &lt;a href=&apos;https://x.example&apos;&gt;c&lt;/a&gt;";
  EXPECT_EQ(service.bodies, (std::vector<std::string>{escaped, escaped, body}));
  EXPECT_EQ(service.desktopEntries, std::vector<std::string>(3, "local.zorvel.desktop"));
}

TEST_F(SessionBus, LinksAndNotificationsReachTheOtherInstance) {
  LinkHandOff receiver, sender;
  std::vector<std::string> links;
  ASSERT_TRUE(receiver.listen([&](const std::string& link) { links.push_back(link); }));
  EXPECT_FALSE(sender.post("zorvel://\xff"));
  ASSERT_TRUE(sender.post("zorvel://tasks/1/open"));
  ASSERT_TRUE(runMainUntil([&] { return !links.empty(); }));
  EXPECT_EQ(links, std::vector<std::string>{"zorvel://tasks/1/open"});

  DistributedNotificationCenter listening, posting;
  std::vector<std::string> seen;
  {
    // An observer whose center is gone is not called.
    DistributedNotificationCenter gone;
    ASSERT_TRUE(gone.addObserver("changed", [&] { seen.push_back("gone"); }));
  }
  ASSERT_TRUE(listening.addObserver("changed", [&] { seen.push_back("changed"); }));
  ASSERT_TRUE(listening.addObserver("other", [&] { seen.push_back("other"); }));
  ASSERT_TRUE(posting.post("changed"));
  ASSERT_TRUE(runMainUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, std::vector<std::string>{"changed"});
}
