#include "app/PageActivation.h"

#include <webkit/webkit.h>

#include "platform/Log.h"

namespace zorvel::PageActivation {

namespace {

constexpr const char* dataKey = "zorvel-user-activation";

struct Watch {
  UserActivation activation;
  std::optional<UserActivation::Clock::time_point> lastPress;
  // A key held down repeats its press until it is let go: that is still one press.
  guint heldKey = 0;
  // A button or touch went down on the page and is not let go yet.
  bool pointerHeld = false;
};

Watch* watchOf(WebKitWebView* view) {
  return view ? static_cast<Watch*>(g_object_get_data(G_OBJECT(view), dataKey)) : nullptr;
}

// Only what a person does to the page counts: no modifier alone, and no Escape, which closes rather
// than asks for anything.
bool isKeyPress(Watch& watch, GdkEvent* event) {
  if (gdk_key_event_is_modifier(event) || gdk_key_event_get_keyval(event) == GDK_KEY_Escape) return false;
  const guint key = gdk_key_event_get_keycode(event);
  if (key == watch.heldKey) return false;
  watch.heldKey = key;
  return true;
}

// Whether the pointer is on the page itself. The view also holds widgets of its own, such as the
// web inspector docked in it: what the user does there is not done to the page. Nor is a press on a
// surface other than the window's (a popup of the view's), whose position means nothing here.
bool pointsAtThePage(GtkWidget* view, GdkEvent* event) {
  double x = 0, y = 0;
  GtkNative* native = gtk_widget_get_native(view);
  if (!native || gdk_event_get_surface(event) != gtk_native_get_surface(native) ||
      !gdk_event_get_position(event, &x, &y))
    return false;
  double left = 0, top = 0;
  gtk_native_get_surface_transform(native, &left, &top);
  const graphene_point_t inNative = GRAPHENE_POINT_INIT(static_cast<float>(x - left), static_cast<float>(y - top));
  graphene_point_t inView;
  if (!gtk_widget_compute_point(GTK_WIDGET(native), view, &inNative, &inView)) return false;
  return gtk_widget_pick(view, inView.x, inView.y, GTK_PICK_DEFAULT) == view;
}

gboolean observe(GtkEventControllerLegacy* controller, GdkEvent* event, gpointer data) {
  auto& watch = *static_cast<Watch*>(data);
  const auto now = UserActivation::Clock::now();
  GtkWidget* view = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
  switch (gdk_event_get_event_type(event)) {
    case GDK_BUTTON_PRESS:
    case GDK_TOUCH_BEGIN:
      if (!pointsAtThePage(view, event)) break;
      watch.pointerHeld = true;
      watch.activation.press(now);
      watch.lastPress = now;
      break;
    case GDK_KEY_PRESS:
      // A key goes to the page only while no widget within the view has the focus. Whether it
      // grants an opening is for the page's side to tell (keyLanded).
      if (gtk_widget_get_focus_child(view) || !isKeyPress(watch, event)) break;
      watch.activation.keyPressed(now);
      watch.lastPress = now;
      break;
    case GDK_KEY_RELEASE:
      if (gdk_key_event_get_keycode(event) != watch.heldKey) break;
      watch.heldKey = 0;
      watch.activation.release(now);
      break;
    case GDK_BUTTON_RELEASE:
    case GDK_TOUCH_END:
      if (!watch.pointerHeld) break;
      watch.pointerHeld = false;
      watch.activation.release(now);
      break;
    default:
      break;
  }
  return GDK_EVENT_PROPAGATE;
}

}  // namespace

void watch(WebKitWebView* view) {
  if (!view || watchOf(view)) return;
  auto* watch = new Watch;
  g_object_set_data_full(G_OBJECT(view), dataKey, watch, [](gpointer data) { delete static_cast<Watch*>(data); });
  // The capture phase sees each event before the view hands it to the page, so the opening is there
  // by the time the page asks.
  GtkEventController* controller = gtk_event_controller_legacy_new();
  gtk_event_controller_set_propagation_phase(controller, GTK_PHASE_CAPTURE);
  g_signal_connect(controller, "event", G_CALLBACK(observe), watch);
  gtk_widget_add_controller(GTK_WIDGET(view), controller);
  // A key let go elsewhere is no longer held here: its next press is a new one.
  GtkEventController* focus = gtk_event_controller_focus_new();
  g_signal_connect(focus, "leave", G_CALLBACK(+[](GtkEventControllerFocus*, Watch* watch) { watch->heldKey = 0; }),
                   watch);
  gtk_widget_add_controller(GTK_WIDGET(view), focus);
  // The context menu is a surface of its own, whose presses the view does not see. Closing it ends
  // the press that opened it: an item chosen there (a link opened, a file downloaded) takes that
  // press's opening, however long the choice took.
  g_signal_connect(view, "context-menu-dismissed", G_CALLBACK(+[](WebKitWebView*, Watch* watch) {
                     watch->pointerHeld = false;
                     watch->activation.release(UserActivation::Clock::now());
                   }),
                   watch);
}

bool consume(WebKitWebView* view) {
  auto* watch = watchOf(view);
  return watch && watch->activation.consume(UserActivation::Clock::now());
}

bool consumeOrRefuse(WebKitWebView* view, const char* refusal) {
  if (consume(view)) return true;
  static const platform::Logger log("local.zorvel.desktop", "dialogs");
  log.error("%{public}s: %{public}s", refusal, noPressBehind);
  return false;
}

void pressLanded(WebKitWebView* view) {
  if (auto* watch = watchOf(view)) watch->activation.landed(UserActivation::Clock::now());
}

void keyLanded(WebKitWebView* view, bool intoText) {
  if (auto* watch = watchOf(view)) watch->activation.keyLanded(intoText, UserActivation::Clock::now());
}

void keySettled(WebKitWebView* view, bool taken) {
  if (auto* watch = watchOf(view)) watch->activation.keySettled(taken);
}

std::optional<UserActivation::Clock::time_point> lastPress(WebKitWebView* view) {
  auto* watch = watchOf(view);
  return watch ? watch->lastPress : std::nullopt;
}

}  // namespace zorvel::PageActivation
