#include "app/DialogWindows.h"

#include <vector>

#include "Vantrelle/View/TerminalView.h"
#include "app/KeyGuard.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"

namespace zorvel::DialogWindows {

namespace {

// What the adopted windows' keys act on: the latest application and main window to ask.
struct Watch {
  GWeak<GtkWindow> main;
  GWeak<GApplication> application;
};

Watch& watch() {
  static Watch current;
  return current;
}

// How an adopted window came up: its keyboard's first moment, and what waits for that to pass.
struct Arrival {
  KeyGuard guard;
  bool settled = false;
  std::vector<std::function<void()>> whenSettled;
};

constexpr const char* arrivalKey = "zorvel-window-arrival";

Arrival* arrivalOf(GtkWindow* window) { return static_cast<Arrival*>(g_object_get_data(G_OBJECT(window), arrivalKey)); }

void settle(Arrival& arrival) {
  if (arrival.settled) return;
  arrival.settled = true;
  auto waiting = std::move(arrival.whenSettled);
  for (auto& run : waiting) run();
}

// Counted from when the window first has the keyboard, which may be some while after it is shown.
void noteActive(GtkWindow* window) {
  auto* arrival = arrivalOf(window);
  if (!arrival || !gtk_window_is_active(window) || arrival->settled) return;
  const auto now = KeyGuard::Clock::now();
  if (arrival->guard.settled(now)) return settle(*arrival);
  arrival->guard.appeared(now);
  GWeak<GtkWindow> weak(window);
  platform::DispatchQueue::main().asyncAfter(KeyGuard::settleTime, [weak] {
    auto live = weak.get();
    if (auto* arrival = live ? arrivalOf(live.get()) : nullptr) settle(*arrival);
  });
}

// Whether a key goes through in the window's first moment: Escape says no to whatever it asks, and
// the Quit keys are the application's (a Return or a space with Ctrl still answers the window).
bool passesEarly(GdkEvent* event) {
  const guint key = gdk_key_event_get_keyval(event);
  if (key == GDK_KEY_Escape) return true;
  const bool withControl = gdk_event_get_modifier_state(event) & GDK_CONTROL_MASK;
  return withControl && key != GDK_KEY_Return && key != GDK_KEY_KP_Enter && key != GDK_KEY_ISO_Enter &&
         key != GDK_KEY_space && key != GDK_KEY_KP_Space;
}

gboolean guardKey(KeyGuard& guard, GdkEvent* event) {
  switch (gdk_event_get_event_type(event)) {
    case GDK_KEY_PRESS:
      return !guard.press(gdk_key_event_get_keycode(event), passesEarly(event), KeyGuard::Clock::now());
    case GDK_KEY_RELEASE:
      return !guard.release(gdk_key_event_get_keycode(event));
    default:
      return GDK_EVENT_PROPAGATE;
  }
}

gboolean guardKeys(GtkEventControllerLegacy*, GdkEvent* event, gpointer data) {
  return guardKey(static_cast<Arrival*>(data)->guard, event);
}

constexpr const char* heldKeysKey = "zorvel-held-keys";

void guardArrival(GtkWindow* window) {
  auto* arrival = new Arrival;
  g_object_set_data_full(G_OBJECT(window), arrivalKey, arrival,
                         [](gpointer data) { delete static_cast<Arrival*>(data); });
  GtkEventController* keys = gtk_event_controller_legacy_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "event", G_CALLBACK(guardKeys), arrival);
  gtk_widget_add_controller(GTK_WIDGET(window), keys);
  g_signal_connect(window, "notify::is-active", G_CALLBACK(+[](GtkWindow* w, GParamSpec*, gpointer) { noteActive(w); }),
                   nullptr);
}

// Whether a terminal has the window's keyboard: there Ctrl+Q belongs to its program, as in the
// main window. Only widgets that already are objects of this program are looked at.
bool terminalHasKeyboard(GtkWindow* window) {
  for (GtkWidget* widget = gtk_window_get_focus(window); widget; widget = gtk_widget_get_parent(widget)) {
    auto* known = Glib::ObjectBase::_get_current_wrapper(G_OBJECT(widget));
    if (dynamic_cast<vantrelle::TerminalView*>(known)) return true;
  }
  return false;
}

void addQuitKeys(GtkWindow* window) {
  auto controller = Gtk::ShortcutController::create();
  // Before the window's own widgets: a file chooser's or a terminal's would take the keys.
  controller->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  auto quit = [window](bool inTerminals) {
    return Gtk::CallbackAction::create([window, inTerminals](Gtk::Widget&, const Glib::VariantBase&) {
      auto application = watch().application.get();
      if (!application || (!inTerminals && terminalHasKeyboard(window))) return false;
      g_action_group_activate_action(G_ACTION_GROUP(application.get()), "quit", nullptr);
      return true;
    });
  };
  controller->add_shortcut(Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string("<Control>q"), quit(false)));
  controller->add_shortcut(Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string("<Control><Shift>q"), quit(true)));
  gtk_widget_add_controller(GTK_WIDGET(window), GTK_EVENT_CONTROLLER(controller->gobj_copy()));
}

// A dialog that goes while it has the keyboard hands it back to the window it stood over, where the
// user was before it came up. Window managers do so themselves; without one the keyboard would be
// left to no window at all.
void handBackKeyboard(GtkWindow* window) {
  g_signal_connect(
      window, "hide", G_CALLBACK(+[](GtkWidget* widget, gpointer) {
        auto* parent = gtk_window_get_transient_for(GTK_WINDOW(widget));
        if (parent && gtk_window_is_active(GTK_WINDOW(widget)) && gtk_widget_get_visible(GTK_WIDGET(parent)))
          gtk_window_present(parent);
      }),
      nullptr);
}

// Whoever made the window may ask for modality later (a file chooser as it shows its dialog).
void keepModeless(GtkWindow* window) {
  gtk_window_set_modal(window, FALSE);
  g_signal_connect(window, "notify::modal",
                   G_CALLBACK(+[](GtkWindow* w, GParamSpec*, gpointer) { gtk_window_set_modal(w, FALSE); }), nullptr);
}

// A window is listed as soon as it is made, before it is shown: a group of its own from then on
// keeps its modal hold (taken when it is shown) off the main window.
void adopt(GtkWindow* window) {
  if (window == watch().main.get().get() || arrivalOf(window)) return;
  GObjectPtr<GtkWindowGroup> group(gtk_window_group_new());
  gtk_window_group_add_window(group.get(), window);
  // The guard's controller comes before the Quit keys', which it lets through.
  guardArrival(window);
  addQuitKeys(window);
  keepModeless(window);
  handBackKeyboard(window);
}

void windowsChanged(GListModel* windows, guint position, guint, guint added, gpointer) {
  for (guint index = position; index < position + added; ++index) {
    GObjectPtr<GObject> item(static_cast<GObject*>(g_list_model_get_item(windows, index)));
    if (item && GTK_IS_WINDOW(item.get())) adopt(GTK_WINDOW(item.get()));
  }
}

}  // namespace

void adoptEveryOtherWindow(Gtk::Window& main, Gtk::Application& application) {
  watch() = {GWeak<GtkWindow>(main.gobj()), GWeak<GApplication>(G_APPLICATION(application.gobj()))};
  static bool watching = false;
  if (watching) return;
  watching = true;
  GListModel* windows = gtk_window_get_toplevels();
  windowsChanged(windows, 0, 0, g_list_model_get_n_items(windows), nullptr);
  g_signal_connect(windows, "items-changed", G_CALLBACK(windowsChanged), nullptr);
}

void holdAnswer(GtkWindow* window, GtkWidget* button, std::function<void()> answerable) {
  auto* arrival = window ? arrivalOf(window) : nullptr;
  if (!button || !arrival || arrival->settled) {
    if (answerable) answerable();
    return;
  }
  gtk_widget_set_sensitive(button, FALSE);
  GWeak<GtkWidget> weak(button);
  arrival->whenSettled.push_back([weak, answerable = std::move(answerable)] {
    auto live = weak.get();
    if (!live) return;
    gtk_widget_set_sensitive(live.get(), TRUE);
    if (answerable) answerable();
  });
}

void holdKeys(GtkWidget* widget) {
  if (!widget || g_object_get_data(G_OBJECT(widget), heldKeysKey)) return;
  auto* guard = new KeyGuard;
  guard->hold();
  g_object_set_data_full(G_OBJECT(widget), heldKeysKey, guard,
                         [](gpointer data) { delete static_cast<KeyGuard*>(data); });
  GtkEventController* keys = gtk_event_controller_legacy_new();
  gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
  g_signal_connect(keys, "event", G_CALLBACK(+[](GtkEventControllerLegacy*, GdkEvent* event, gpointer data) {
                     return guardKey(*static_cast<KeyGuard*>(data), event);
                   }),
                   guard);
  gtk_widget_add_controller(widget, keys);
}

void shownWithKeys(GtkWidget* widget) {
  if (auto* guard = widget ? static_cast<KeyGuard*>(g_object_get_data(G_OBJECT(widget), heldKeysKey)) : nullptr)
    guard->appeared(KeyGuard::Clock::now());
}

}  // namespace zorvel::DialogWindows
