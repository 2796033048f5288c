#include <webkit/webkit.h>

#include "app/ApplicationIcon.h"
#include "app/ZorvelAppDelegate.h"
#include "platform/Bundle.h"

namespace zorvel {

namespace {

struct EditNames {
  const char* widgetAction;
  const char* webCommand;
};

EditNames editNames(ZorvelAppDelegate::EditCommand command) {
  switch (command) {
    case ZorvelAppDelegate::EditCommand::copy:
      return {"clipboard.copy", WEBKIT_EDITING_COMMAND_COPY};
    case ZorvelAppDelegate::EditCommand::paste:
      return {"clipboard.paste", WEBKIT_EDITING_COMMAND_PASTE};
    case ZorvelAppDelegate::EditCommand::selectAll:
      break;
  }
  return {"selection.select-all", WEBKIT_EDITING_COMMAND_SELECT_ALL};
}

// A terminal view has no widget actions for these: it copies its own selection and pastes into
// its program.
void performTerminalEdit(vantrelle::TerminalView& terminal, ZorvelAppDelegate::EditCommand command) {
  switch (command) {
    case ZorvelAppDelegate::EditCommand::copy:
      terminal.copy();
      return;
    case ZorvelAppDelegate::EditCommand::paste:
      terminal.paste();
      return;
    case ZorvelAppDelegate::EditCommand::selectAll:
      terminal.selectAll();
      return;
  }
}

// Whether the widget is the menu bar or in one of its menus, which hold the keyboard while the
// user picks an item.
bool isInMenuBar(Gtk::Widget* widget) {
  for (; widget; widget = widget->get_parent()) {
    if (GTK_IS_POPOVER_MENU_BAR(widget->gobj())) return true;
  }
  return false;
}

// Whether a task terminal has the window's keyboard: there Ctrl alone belongs to the program.
bool terminalHasKeyboard(Gtk::Window& window) {
  for (Gtk::Widget* widget = window.get_focus(); widget; widget = widget->get_parent()) {
    if (dynamic_cast<vantrelle::TerminalView*>(widget)) return true;
  }
  return false;
}

// The items that act on the application rather than on what has the keyboard: their keys are heard
// before the focused view. A web view hands each key to its page's process and hears back only when
// that process answers, which a page running a script without end never does; and no page or field
// has a use of its own for these. The Edit items' keys are heard after the view instead: the page's
// fields and scripts take them first, and their commands run in the page's process anyway.
bool heardBeforeTheView(const std::string& action) { return action == "app.quit" || action == "app.settings"; }

// In a task terminal Ctrl alone belongs to the program and the view takes every key it is given,
// so there the application's keys are left to the program, and Quit is Ctrl+Shift+Q, as the view's
// own copy and paste are Ctrl+Shift chords. Ctrl+Shift+Q quits wherever the keyboard is.
Glib::RefPtr<Gtk::ShortcutController> applicationShortcuts(
    Gtk::Window& window, const std::vector<std::pair<std::string, std::string>>& menuShortcuts) {
  auto controller = Gtk::ShortcutController::create();
  controller->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  auto activate = [&window](const std::string& action, bool inTerminals) {
    return Gtk::CallbackAction::create([&window, action, inTerminals](Gtk::Widget&, const Glib::VariantBase&) {
      if (!inTerminals && terminalHasKeyboard(window)) return false;
      return window.activate_action(action);
    });
  };
  for (const auto& [accelerator, action] : menuShortcuts) {
    if (!heardBeforeTheView(action)) continue;
    controller->add_shortcut(
        Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string(accelerator), activate(action, false)));
  }
  controller->add_shortcut(
      Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string("<Control><Shift>q"), activate("app.quit", true)));
  return controller;
}

}  // namespace

void ZorvelAppDelegate::followEditTarget() {
  if (!window) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  window->property_focus_widget().signal_changed().connect([weak] {
    auto self = weak.lock();
    if (!self || !self->window) return;
    Gtk::Widget* focus = self->window->get_focus();
    if (focus && !isInMenuBar(focus)) self->editTarget = GWeak<GtkWidget>(focus->gobj());
  });
}

// The Edit items act on whatever has the keyboard, as a responder chain would: the page through
// its editing commands, a terminal through its own selection and paste, other widgets through
// their own clipboard and selection actions.
void ZorvelAppDelegate::performEdit(EditCommand command) {
  if (!window) return;
  auto names = editNames(command);
  Gtk::Widget* focus = window->get_focus();
  // An item picked from the menu bar has the keyboard itself; the command is for the widget that
  // had it before, while that is still in this window.
  auto remembered = editTarget.get();
  if (!focus || isInMenuBar(focus)) {
    focus = remembered ? Glib::wrap(remembered.get()) : nullptr;
    if (focus && focus->get_root() != window) focus = nullptr;
  }
  for (Gtk::Widget* widget = focus; widget; widget = widget->get_parent()) {
    if (webView && widget->gobj() == GTK_WIDGET(webView)) {
      webkit_web_view_execute_editing_command(webView, names.webCommand);
      return;
    }
    if (auto* terminal = dynamic_cast<vantrelle::TerminalView*>(widget)) {
      performTerminalEdit(*terminal, command);
      return;
    }
    if (gtk_widget_activate_action(widget->gobj(), names.widgetAction, nullptr)) return;
  }
}

void ZorvelAppDelegate::configureMenu() {
  if (!application) return;
  std::weak_ptr<ZorvelAppDelegate> weak = weak_from_this();
  auto act = [weak](void (ZorvelAppDelegate::*operation)()) {
    return [weak, operation] {
      if (auto self = weak.lock()) ((*self).*operation)();
    };
  };
  auto edit = [weak](EditCommand command) {
    return [weak, command] {
      if (auto self = weak.lock()) self->performEdit(command);
    };
  };
  application->add_action("about", act(&ZorvelAppDelegate::openAbout));
  application->add_action("settings", act(&ZorvelAppDelegate::openSettings));
  application->add_action("quit", [weak] {
    if (auto self = weak.lock(); self && self->terminateApplication) self->terminateApplication();
  });
  application->add_action("copy", edit(EditCommand::copy));
  application->add_action("paste", edit(EditCommand::paste));
  application->add_action("select-all", edit(EditCommand::selectAll));
  // Key equivalents are not application accelerators: those would run before the focused view
  // and take Ctrl+C and its kin from terminal programs. The window hears them itself after the
  // focused view, and Quit's and Settings' before it as well (installMenuShortcuts); the menu only
  // shows them.
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
  // All of them, also those heard before the view: a key that a terminal's own widget (its find
  // bar) leaves alone still reaches them here.
  for (const auto& [accelerator, action] : menuShortcuts) {
    controller->add_shortcut(
        Gtk::Shortcut::create(Gtk::ShortcutTrigger::parse_string(accelerator), Gtk::NamedAction::create(action)));
  }
  window->add_controller(controller);
  window->add_controller(applicationShortcuts(*window, menuShortcuts));
  followEditTarget();
}

}  // namespace zorvel
