#include "app/DialogWindows.h"

#include "Vantrelle/View/TerminalView.h"
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

// A window is listed as soon as it is made, before it is shown: a group of its own from then on
// keeps its modal hold (taken when it is shown) off the main window.
void adopt(GtkWindow* window) {
  if (window == watch().main.get().get()) return;
  GObjectPtr<GtkWindowGroup> group(gtk_window_group_new());
  gtk_window_group_add_window(group.get(), window);
  addQuitKeys(window);
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

}  // namespace zorvel::DialogWindows
