#include <webkit/webkit.h>

#include "app/ApplicationIcon.h"
#include "app/DialogWindows.h"
#include "app/TerminalFactory.h"
#include "app/WebBridge.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"
#include "platform/Dispatch.h"
#include "platform/UserDefaults.h"

namespace zorvel {

namespace {

// The size of the display's first screen in logical pixels, where the window opens when the
// window manager has no other place for it.
std::optional<std::pair<int, int>> firstScreenSize() {
  auto display = Gdk::Display::get_default();
  auto monitors = display ? display->get_monitors() : nullptr;
  auto monitor = monitors ? std::dynamic_pointer_cast<Gdk::Monitor>(monitors->get_object(0)) : nullptr;
  if (!monitor) return std::nullopt;
  Gdk::Rectangle area;
  monitor->get_geometry(area);
  return std::pair(area.get_width(), area.get_height());
}

constexpr const char* windowStyle = R"css(
window.zorvel-main, .zorvel-surface { background-color: rgb(19, 19, 19); }
window.zorvel-main.zorvel-light, window.zorvel-light .zorvel-surface {
  background-color: rgb(238, 241, 245);
}
.zorvel-terminal-container { background-color: @theme_base_color; }
/* The menu bar lies on the window's own surface: its titles take a colour that reads there, also
   when the desktop's theme is held to the other variant. */
window.zorvel-main menubar > item > label { color: rgba(255, 255, 255, 0.9); }
window.zorvel-main.zorvel-light menubar > item > label { color: rgba(0, 0, 0, 0.85); }
label.zorvel-error-label {
  background-color: rgb(32, 32, 32);
  color: rgb(255, 143, 133);
  border: 1px solid rgba(255, 255, 255, 0.15);
  border-radius: 8px;
  padding: 12px 16px;
}
window.zorvel-light label.zorvel-error-label {
  background-color: rgb(255, 255, 255);
  color: rgb(179, 38, 30);
  border-color: rgba(0, 0, 0, 0.15);
}
label.zorvel-error-label.zorvel-secondary { color: rgba(255, 255, 255, 0.75); }
window.zorvel-light label.zorvel-error-label.zorvel-secondary { color: rgba(0, 0, 0, 0.7); }
.zorvel-modal-host { border-radius: 8px; }
.zorvel-status-dot { background-color: #8e8e93; border-radius: 4px; }
)css";

void installStyle() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(windowStyle);
  Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), provider,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// The menu bar's items take the keyboard as the pointer lights them up: the user's next keys,
// meant for a task terminal or the page, went to the menus instead (where Return opens one). The
// bar takes the keyboard only when asked: a click or F10 opens a menu, whose popover holds the
// keyboard itself.
void keepKeysOffMenuBar(GtkWidget* parent) {
  for (GtkWidget* child = gtk_widget_get_first_child(parent); child; child = gtk_widget_get_next_sibling(child)) {
    if (!GTK_IS_POPOVER_MENU_BAR(child)) {
      keepKeysOffMenuBar(child);
      continue;
    }
    for (GtkWidget* item = gtk_widget_get_first_child(child); item; item = gtk_widget_get_next_sibling(item))
      gtk_widget_set_focusable(item, FALSE);
  }
}

}  // namespace

void ZorvelAppDelegate::makeMainWebView() {
  makeWebBridge();
  webView = webBridge->makeWebView();
  // The page can be inspected only in builds that profile its memory, where that is the point.
  webkit_settings_set_enable_developer_extras(webkit_web_view_get_settings(webView),
                                              webBridge->webMemoryProfiler().enabled());
  webBridge->setMainWebView(webView);
  webBridge->errorLabel().attach(&webErrorLabel);
}

void ZorvelAppDelegate::layOutWindowContent() {
  installStyle();
  webViewHost.add_css_class("zorvel-surface");
  rootContainer.add_css_class("zorvel-surface");

  // The label takes a band of its own above the page and the terminal area, which give it the
  // room it needs: a failure that stays until the core is back must leave every terminal row in
  // sight, and nothing drawn later (a terminal, a panel, the overlay) can cover it.
  webErrorLabel.set_visible(false);
  webErrorLabel.set_justify(Gtk::Justification::CENTER);
  webErrorLabel.set_wrap(true);
  webErrorLabel.add_css_class("zorvel-error-label");
  webErrorLabel.set_halign(Gtk::Align::FILL);
  webErrorLabel.set_margin_start(32);
  webErrorLabel.set_margin_end(32);
  webErrorLabel.set_margin_top(8);
  webErrorLabel.set_margin_bottom(8);

  auto width = storedSidebarWidth(platform::UserDefaults::standard().doubleForKey("zorvel.sidebarWidth"));
  terminalLeadingConstraint.emplace(terminalContainer);

  terminalContainer.add_css_class("zorvel-terminal-container");
  terminalContainer.set_visible(false);

  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  PlaceholderContent content;
  content.detail = "Select a task to inspect its work or start a terminal.";
  content.start.run = [weak] {
    if (auto self = weak.lock()) self->startTaskFromPlaceholder();
  };
  placeholder.setContent(content);
  placeholder.set_vexpand(true);
  terminalContainer.append(placeholder);
  triageProgress.set_visible(false);
  // Either panel takes the container's height to itself, so it sits in its middle.
  triageProgress.set_vexpand(true);
  terminalContainer.append(triageProgress);

  webViewHost.set_hexpand(true);
  webViewHost.set_vexpand(true);
  rootContainer.set_child(webViewHost);
  terminalContainer.set_halign(Gtk::Align::FILL);
  terminalContainer.set_valign(Gtk::Align::FILL);
  rootContainer.add_overlay(terminalContainer);
  terminalLeadingConstraint->setConstant(width);

  rootContainer.set_vexpand(true);
  windowContent.append(webErrorLabel);
  windowContent.append(rootContainer);
}

void ZorvelAppDelegate::configureWindow() {
  makeMainWebView();
  if (webView) {
    GtkWidget* view = GTK_WIDGET(webView);
    gtk_widget_set_hexpand(view, TRUE);
    gtk_widget_set_vexpand(view, TRUE);
    GdkRGBA surface{0.075f, 0.075f, 0.075f, 1.0f};
    webkit_web_view_set_background_color(webView, &surface);
    webViewHost.set_child(*Glib::wrap(view));
  }
  layOutWindowContent();

  installApplicationIcon(platform::Bundle::main());
  window = new ZorvelWindow();
  window->set_title("Zorvel");
  window->set_icon_name(applicationIconName(platform::Bundle::main()));
  auto sizes = windowSizesFor(firstScreenSize());
  window->set_default_size(sizes.width, sizes.height);
  // GTK windows have no minimum size of their own; the content's request stands in for it. The
  // error label's band comes out of that size rather than adding to it.
  windowContent.set_size_request(sizes.minimumWidth, sizes.minimumHeight);
  window->add_css_class("zorvel-main");
  window->set_child(windowContent);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  window->signal_close_request().connect(
      [weak] {
        auto self = weak.lock();
        if (self && self->applicationShouldTerminateAfterLastWindowClosed() && self->terminateApplication) {
          self->terminateApplication();
        }
        return true;
      },
      false);
  if (application) {
    application->add_window(*window);
    DialogWindows::adoptEveryOtherWindow(*window, *application);
  }
  window->set_show_menubar(true);
  // The window builds its menu bar as it is shown.
  g_signal_connect(window->gobj(), "map", G_CALLBACK(+[](GtkWidget* shown, gpointer) { keepKeysOffMenuBar(shown); }),
                   nullptr);
  installMenuShortcuts();
  applyTheme(true);
  if (activatesOnLaunch()) {
    window->present();
  } else {
    window->set_focus_on_click(false);
    window->set_visible(true);
  }
  installTerminalPointerMonitor();
  connectWindowLayoutNotifications();
  // Logged once the first layout has given the window its geometry.
  platform::DispatchQueue::main().async([weak] {
    if (auto self = weak.lock()) self->logWindowLayout("launch");
  });
}

void ZorvelAppDelegate::applyTheme(bool dark) {
  darkTheme = dark;
  if (auto settings = Gtk::Settings::get_default()) {
    settings->property_gtk_application_prefer_dark_theme() = dark;
  }
  if (!window) return;
  if (dark) {
    window->remove_css_class("zorvel-light");
  } else {
    window->add_css_class("zorvel-light");
  }
  for (const auto& [taskID, view] : terminals()) TerminalFactory::applyAppearance(*view, dark);
  if (webView) {
    GdkRGBA surface = dark ? GdkRGBA{0.075f, 0.075f, 0.075f, 1.0f} : GdkRGBA{0.933f, 0.945f, 0.961f, 1.0f};
    webkit_web_view_set_background_color(webView, &surface);
  }
}

void ZorvelAppDelegate::removeTerminalPointerMonitor() {
  if (!terminalPointerMonitor) return;
  terminalContainer.remove_controller(terminalPointerMonitor);
  terminalPointerMonitor.reset();
}

void ZorvelAppDelegate::installTerminalPointerMonitor() {
  if (terminalPointerMonitor) return;
  terminalPointerMonitor = Gtk::GestureClick::create();
  terminalPointerMonitor->set_button(0);
  terminalPointerMonitor->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  terminalPointerMonitor->signal_pressed().connect([weak](int, double x, double y) {
    auto self = weak.lock();
    if (!self || !self->terminalContainer.get_visible() || !self->terminalPointerMonitor) return;
    unsigned button = self->terminalPointerMonitor->get_current_button();
    // The page counts from its own top-left corner, which is the web view's.
    double pageX = x, pageY = y;
    if (self->webView) {
      self->terminalContainer.translate_coordinates(*Glib::wrap(GTK_WIDGET(self->webView)), x, y, pageX, pageY);
    }
    self->dispatchTerminalPointerDown(pageX, pageY, button);
  });
  terminalContainer.add_controller(terminalPointerMonitor);
}

}  // namespace zorvel
