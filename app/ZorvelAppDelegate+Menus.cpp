#include <webkit/webkit.h>

#include "app/ApplicationIcon.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"

namespace zorvel {

namespace {

// The Edit items act on whatever has the keyboard, as a responder chain would: the page through
// its editing commands, other widgets through their own clipboard and selection actions.
void performEdit(ZorvelAppDelegate& delegate, const char* widgetAction, const char* webCommand) {
  if (!delegate.window) return;
  Gtk::Widget* focus = delegate.window->get_focus();
  for (Gtk::Widget* widget = focus; widget; widget = widget->get_parent()) {
    if (delegate.webView && widget->gobj() == GTK_WIDGET(delegate.webView)) {
      webkit_web_view_execute_editing_command(delegate.webView, webCommand);
      return;
    }
    if (gtk_widget_activate_action(widget->gobj(), widgetAction, nullptr)) return;
  }
}

}  // namespace

void ZorvelAppDelegate::configureMenu() {
  if (!application) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  auto act = [weak](void (ZorvelAppDelegate::*operation)()) {
    return [weak, operation] {
      if (auto self = weak.lock()) ((*self).*operation)();
    };
  };
  auto edit = [weak](const char* widgetAction, const char* webCommand) {
    return [weak, widgetAction, webCommand] {
      if (auto self = weak.lock()) performEdit(*self, widgetAction, webCommand);
    };
  };
  application->add_action("about", act(&ZorvelAppDelegate::openAbout));
  application->add_action("settings", act(&ZorvelAppDelegate::openSettings));
  application->add_action("quit", [weak] {
    if (auto self = weak.lock(); self && self->terminateApplication) self->terminateApplication();
  });
  application->add_action("copy", edit("clipboard.copy", WEBKIT_EDITING_COMMAND_COPY));
  application->add_action("paste", edit("clipboard.paste", WEBKIT_EDITING_COMMAND_PASTE));
  application->add_action("select-all", edit("selection.select-all", WEBKIT_EDITING_COMMAND_SELECT_ALL));
  // Key equivalents are not application accelerators: those would run before the focused view
  // and take Ctrl+C and its kin from terminal programs. They are handled on the way back up from
  // the focused view instead (configureWindow), and the menu only shows them.
  menuShortcuts = {{"<Control>comma", "app.settings"},
                   {"<Control>q", "app.quit"},
                   {"<Control>c", "app.copy"},
                   {"<Control>v", "app.paste"},
                   {"<Control>a", "app.select-all"}};
  auto item = [this](const char* title, const char* action) {
    auto entry = Gio::MenuItem::create(title, action);
    for (const auto& [accelerator, shortcutAction] : menuShortcuts) {
      if (shortcutAction == action) {
        entry->set_attribute_value("accel", Glib::Variant<Glib::ustring>::create(accelerator));
      }
    }
    return entry;
  };
  auto menu = Gio::Menu::create();
  auto applicationMenu = Gio::Menu::create();
  auto aboutSection = Gio::Menu::create();
  aboutSection->append_item(item("About Zorvel", "app.about"));
  auto settingsSection = Gio::Menu::create();
  settingsSection->append_item(item("Settings\u2026", "app.settings"));
  auto quitSection = Gio::Menu::create();
  quitSection->append_item(item("Quit Zorvel", "app.quit"));
  applicationMenu->append_section(aboutSection);
  applicationMenu->append_section(settingsSection);
  applicationMenu->append_section(quitSection);
  menu->append_submenu("Zorvel", applicationMenu);
  auto editMenu = Gio::Menu::create();
  editMenu->append_item(item("Copy", "app.copy"));
  editMenu->append_item(item("Paste", "app.paste"));
  editMenu->append_item(item("Select All", "app.select-all"));
  menu->append_submenu("Edit", editMenu);
  application->set_menubar(menu);
}

void ZorvelAppDelegate::openAbout() {
  auto& bundle = platform::Bundle::main();
  auto* about = new Gtk::AboutDialog();
  about->set_program_name(bundle.infoString("CFBundleName").value_or("Zorvel"));
  std::string version = bundle.infoString("CFBundleShortVersionString").value_or("");
  std::string build = bundle.infoString("ZorvelBuildCommit").value_or("unknown");
  about->set_version(version.empty() ? build : version + " (" + build + ")");
  about->set_logo_icon_name(applicationIconName(bundle));
  if (window) about->set_transient_for(*window);
  about->set_hide_on_close(true);
  about->signal_hide().connect([about] { Glib::signal_idle().connect_once([about] { delete about; }); }, true);
  about->present();
}

void ZorvelAppDelegate::openSettings() {
  evaluatePageScript("window.dispatchEvent(new CustomEvent('zorvel:open-settings'));");
}

}  // namespace zorvel

namespace zorvel {

void ZorvelAppDelegate::installMenuShortcuts() {
  if (!window) return;
  auto controller = Gtk::ShortcutController::create();
  controller->set_propagation_phase(Gtk::PropagationPhase::BUBBLE);
  for (const auto& [accelerator, action] : menuShortcuts) {
    controller->add_shortcut(
        Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string(accelerator), Gtk::NamedAction::create(action)));
  }
  window->add_controller(controller);
}

}  // namespace zorvel
