#include "platform/UserNotificationCenter.h"

#include <gio/gio.h>

#include <cstring>
#include <deque>

#include "platform/GLibPtr.h"

namespace platform {

namespace {

// Clicks can only come for notifications still on screen; older entries are forgotten first.
constexpr std::size_t maximumRemembered = 256;

std::string describe(const GErrorPtr& error) {
  std::string text = error && error->message ? error->message : "The notification service did not answer";
  return text;
}

bool hasCapability(GVariant* reply, const char* wanted) {
  GVariantPtr capabilities(g_variant_get_child_value(reply, 0));
  for (gsize i = 0, count = g_variant_n_children(capabilities.get()); i < count; ++i) {
    const char* capability = nullptr;
    g_variant_get_child(capabilities.get(), i, "&s", &capability);
    if (std::strcmp(capability, wanted) == 0) return true;
  }
  return false;
}

}  // namespace

struct UserNotificationCenter::State {
  GObjectPtr<GDBusConnection> connection;
  unsigned actionSubscription = 0;
  unsigned closedSubscription = 0;
  unsigned tokenSubscription = 0;
  std::map<std::uint32_t, UserInfo> posted;
  std::deque<std::uint32_t> order;
  std::function<void(const UserInfo&, const std::string&)>* responder = nullptr;
  // The service sends a click's token just before the click itself.
  std::pair<std::uint32_t, std::string> lastToken;
  std::string desktopEntry;
  // As on a desktop that asks the user, a centre that never asked may not post.
  bool authorizationRequested = false;
  // Whether the service reads the body as markup; unknown until it has been asked.
  std::optional<bool> bodyMarkup;

  ~State() {
    if (!connection) return;
    if (actionSubscription) g_dbus_connection_signal_unsubscribe(connection.get(), actionSubscription);
    if (closedSubscription) g_dbus_connection_signal_unsubscribe(connection.get(), closedSubscription);
    if (tokenSubscription) g_dbus_connection_signal_unsubscribe(connection.get(), tokenSubscription);
  }

  bool connect(std::string& failure) {
    if (connection) return true;
    GErrorPtr error;
    connection.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, out(error)));
    if (!connection) {
      failure = describe(error);
      return false;
    }
    actionSubscription = g_dbus_connection_signal_subscribe(
        connection.get(), serviceName, serviceName, "ActionInvoked", objectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
          static_cast<State*>(data)->actionInvoked(parameters);
        },
        this, nullptr);
    closedSubscription = g_dbus_connection_signal_subscribe(
        connection.get(), serviceName, serviceName, "NotificationClosed", objectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
          if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(uu)"))) return;
          std::uint32_t id = 0, reason = 0;
          g_variant_get(parameters, "(uu)", &id, &reason);
          static_cast<State*>(data)->posted.erase(id);
        },
        this, nullptr);
    tokenSubscription = g_dbus_connection_signal_subscribe(
        connection.get(), serviceName, serviceName, "ActivationToken", objectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer data) {
          if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
          std::uint32_t id = 0;
          const char* token = nullptr;
          g_variant_get(parameters, "(u&s)", &id, &token);
          static_cast<State*>(data)->lastToken = {id, token};
        },
        this, nullptr);
    return true;
  }

  void remember(std::uint32_t id, UserInfo userInfo) {
    if (posted.emplace(id, std::move(userInfo)).second) order.push_back(id);
    while (order.size() > maximumRemembered) {
      posted.erase(order.front());
      order.pop_front();
    }
  }

  void actionInvoked(GVariant* parameters) {
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
    std::uint32_t id = 0;
    const char* action = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &action);
    if (!action || std::string(action) != "default") return;
    auto found = posted.find(id);
    if (found == posted.end()) return;
    auto userInfo = found->second;
    auto token = lastToken.first == id ? std::move(lastToken.second) : std::string();
    lastToken = {};
    if (responder && *responder) (*responder)(userInfo, token);
  }
};

UserNotificationCenter::UserNotificationCenter(std::string desktopEntry) : state(std::make_shared<State>()) {
  state->responder = &onResponse;
  state->desktopEntry = std::move(desktopEntry);
}

UserNotificationCenter::~UserNotificationCenter() { state->responder = nullptr; }

namespace {

struct CallContext {
  std::weak_ptr<void> owner;
  UserNotificationCenter::Completion completion;
  UserNotificationCenter::UserInfo userInfo;
};

}  // namespace

void UserNotificationCenter::requestAuthorization(Completion completion) {
  state->authorizationRequested = true;
  std::string failure;
  if (!state->connect(failure)) {
    if (completion) completion(failure);
    return;
  }
  auto* context = new CallContext{state, std::move(completion), {}};
  g_dbus_connection_call(
      state->connection.get(), serviceName, objectPath, serviceName, "GetServerInformation", nullptr, nullptr,
      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
        GErrorPtr error;
        GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, out(error)));
        std::optional<std::string> failure;
        if (error) failure = describe(error);
        if (context->completion) context->completion(failure);
      },
      context);
}

void UserNotificationCenter::add(const Request& request, Completion completion) {
  if (!state->authorizationRequested) {
    if (completion) completion(std::string("Notifications are not allowed: the application never asked for them"));
    return;
  }
  std::string failure;
  if (!state->connect(failure)) {
    if (completion) completion(failure);
    return;
  }
  if (state->bodyMarkup) {
    notify(state, request, std::move(completion));
    return;
  }
  // A body read as markup would lose text after a '<' or an '&', or show a link or fetch an image
  // the text names; what the service reads is asked once, before the first notification.
  struct Pending {
    std::weak_ptr<State> owner;
    Request request;
    Completion completion;
  };
  g_dbus_connection_call(
      state->connection.get(), serviceName, objectPath, serviceName, "GetCapabilities", nullptr, G_VARIANT_TYPE("(as)"),
      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Pending> pending(static_cast<Pending*>(data));
        GErrorPtr error;
        GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, out(error)));
        auto owner = pending->owner.lock();
        if (!owner) return;
        if (!owner->bodyMarkup) owner->bodyMarkup = reply && hasCapability(reply.get(), "body-markup");
        notify(owner, pending->request, std::move(pending->completion));
      },
      new Pending{state, request, std::move(completion)});
}

void UserNotificationCenter::notify(const std::shared_ptr<State>& state, const Request& request,
                                    Completion completion) {
  GVariantBuilder actions;
  g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
  g_variant_builder_add(&actions, "s", "default");
  g_variant_builder_add(&actions, "s", "Open");
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "sound-name", g_variant_new_string("message-new-instant"));
  if (!state->desktopEntry.empty()) {
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(state->desktopEntry.c_str()));
  }
  g_variant_builder_add(&hints, "{sv}", "x-zorvel-identifier", g_variant_new_string(request.identifier.c_str()));
  // Text that is not UTF-8 cannot travel on the bus; it is replaced rather than failing the call.
  auto valid = [](const std::string& text) {
    GCharPtr made(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
    return std::string(made.get());
  };
  std::string body = valid(request.body);
  if (*state->bodyMarkup) {
    GCharPtr escaped(g_markup_escape_text(body.c_str(), -1));
    body = escaped.get();
  }
  auto* parameters = g_variant_new("(susssasa{sv}i)", applicationName, 0u, "", valid(request.title).c_str(),
                                   body.c_str(), &actions, &hints, -1);
  auto* context = new CallContext{state, std::move(completion), request.userInfo};
  g_dbus_connection_call(
      state->connection.get(), serviceName, objectPath, serviceName, "Notify", parameters, G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<CallContext> context(static_cast<CallContext*>(data));
        GErrorPtr error;
        GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, out(error)));
        std::optional<std::string> failure;
        if (reply) {
          std::uint32_t id = 0;
          g_variant_get(reply.get(), "(u)", &id);
          if (auto owner = std::static_pointer_cast<State>(context->owner.lock()))
            owner->remember(id, std::move(context->userInfo));
        } else {
          failure = describe(error);
        }
        if (context->completion) context->completion(failure);
      },
      context);
}

}  // namespace platform
